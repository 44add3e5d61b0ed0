// What the runs need of the system and the platforms do not give the same
// way: folders opened once and files named relative to them, the trust
// rule for links, identity and status, locks, the new file and its access,
// moves and removal, signals, and the console. Linux implements it in
// open_linux.cpp (finding and opening files, links), access_linux.cpp (the
// new file and what it carries) and moves_linux.cpp (locks, moves and
// removal); Windows in the *_windows.cpp files of the same topics; both in
// signals_* and console_*. files.cpp holds what they share.
#ifndef TANDREL_FRONTEND_PLATFORM_H
#define TANDREL_FRONTEND_PLATFORM_H

#include <cstddef>
#include <cstdio>

// Room for any path either system takes with its zero: Windows' 32,767
// UTF-16 units, in UTF-8.
constexpr size_t kNameSize = size_t{3} * 32768;

// A folder the run opened once. Every later step names its files relative
// to it, so that a folder of the path swapped for a link meanwhile
// redirects nothing. Linux keeps a descriptor; Windows, which has no *at
// calls, the folder's full path with its separator and a handle to its
// lock.
struct Folder {
	int descriptor;
	void *lock;
	char path[kNameSize];
};

// A file's identity and what the run compares or keeps of it.
struct FileStatus {
	unsigned long long volume;	// identity: device or volume serial,
	unsigned long long index;	// and inode or file index
	unsigned long mode;	// permission, set-id and sticky bits
	unsigned long owner;
	unsigned long group;
	unsigned long links;	// hard links
	unsigned long attributes;	// Windows' read-only, hidden and system
	unsigned long long size;
	long long modified;	// modification time, in nanoseconds
	long long changed;	// status change time, likewise
};

// How a file was found or opened. Anything but kOpened leaves nothing
// open, with errno saying why where it can.
enum OpenResult {
	kOpened,
	kMissing,	// nothing has the name, or a link points nowhere
	kNotFile,	// a folder, a pipe or a device where a regular file must be
	kNotOpened,
	kUntrusted,	// a link neither the runner, root nor the owner of
	        	// what it points to made
	kHeldOpen,	// another program holds it, and lets nobody move it
};

// Finds the file name refers to and opens it for reading, in binary mode.
// The folders of name are the system's to follow, as for any program; from
// its last part on, a link is followed, and a link in its target, only
// where the runner, root or the owner of what it points to made it. The
// folder that lists the file found goes to folder (closed with CloseFolder),
// the file's own name there as that folder lists it (its case, its long
// name) to leaf (kNameSize bytes), what the system says of it to status.
// regular_only: a pipe or a device is kNotFile, otherwise read as it comes.
// lock: the file is locked against other in-place runs, and *locked says
// whether it could be (false when another run holds it).
OpenResult OpenPlaylist(const char *name, bool regular_only, bool lock, Folder *folder,
                        char *leaf, FILE **in, FileStatus *status, bool *locked);

// The error of a step on a name that, looked at again, no longer is the
// file the run holds: it was moved or replaced meanwhile.
constexpr int kNotThatFile = 0x7FFF;

// What the output name of a two-file run refers to, found as the input is.
enum OutputKind {
	kOutputNew,	// nothing yet: a new file takes the name
	kOutputFile,	// a regular file: a new file replaces it
	kOutputDevice,	// a device, a pipe, standard output by name: written as it is
};

// Finds the output: for kOutputNew and kOutputFile its folder and name
// there (closed with CloseFolder); for kOutputFile its status, and *held
// the file opened for writing and locked, never written, for as long as
// the run lasts; for kOutputDevice, *held opened for writing, a regular
// file among them emptied. *busy, with nothing held, where another run
// holds the file. in is the input, which the output must not be
// (kNotOpened, errno EEXIST).
OpenResult FindOutput(const char *name, FILE *in, Folder *folder, char *leaf,
                      FileStatus *status, OutputKind *kind, bool *busy, FILE **held);

// Opens the current folder. False, with errno, when it cannot.
bool OpenCurrentFolder(Folder *folder);

// The folder's own status.
bool StatFolder(const Folder *folder, FileStatus *status);

void CloseFolder(Folder *folder);

// What the system says of the open stream's file now.
bool StatStream(FILE *stream, FileStatus *status);

// A digest of all the bytes of the stream's file, read apart from the
// stream: where the file system keeps times too coarse to show a write,
// two digests do.
bool DigestFile(FILE *stream, unsigned long long *digest);

// The runner may rename or remove a file of status's owner in folder: a
// sticky folder (as /tmp) lets only the file's owner, the folder's and root.
bool MayRemoveFrom(const Folder *folder, const FileStatus *status);

// The runner may give the file of status its owner's bits alone and then
// every bit back: it is the runner's or the runner is root, a set-group-ID
// bit would hold, and no other hard link would carry the lowered bits.
bool MayLowerBits(const FileStatus *status);

// Sets the permission bits of the open file. True where the file system
// keeps no such bits, so that there is nothing to lower.
bool SetFileMode(FILE *stream, unsigned long mode);

// A lock on a folder, which leaves no file behind: runs that name files
// in one folder take it in turn.
enum LockResult {
	kLockHeld,
	kLockBusy,	// another run held it all the time waited
	kLockUnavailable,	// the folder cannot be locked here: no exclusion
};

// Waits at most seconds for the folder's lock.
LockResult LockFolder(Folder *folder, int seconds);

// Gives up a lock held.
void UnlockFolder(Folder *folder);

// How long a run waits for another run's moves: far longer than any moves
// take, short enough that a stopped run holds up the others only for a
// moment.
constexpr int kFolderWaitSeconds = 5;

// What has a name in a folder.
enum NameState {
	kNameFree,	// nothing
	kNameIsFile,	// the very file asked about
	kNameHeld,	// another run's playlist, locked
	kNameTaken,	// something else
	kNameUnknown,	// it cannot be looked at, errno says why
};

NameState LookAt(const Folder *folder, const char *leaf, const FileStatus *file);

// Moves the file open as stream, of status, from from_leaf in from to
// to_leaf in to, never over anything, and checks that what moved is that
// file. Where the file system renames only by replacing and has no hard
// links, a check then a rename does it, which needs to_locked: the lock of
// to, which every run that names files there takes. aside: the file goes
// out of the way of a name others use, to a name no reader looks at; then
// where what moved was not the file, only a file swapped in at from_leaf
// just before can have moved, and it goes back; and where a check and a
// rename do it, an empty file takes the name first, so that runs whose
// locks do not reach each other cannot both take it.
// Returns 0, or why not: EEXIST, kNotThatFile (the name was not that file),
// ENOLCK (no lock for the check and rename), EBUSY (another program holds
// it), or the system's error.
int MoveOpenFile(FILE *stream, const FileStatus *status, const Folder *from,
                 const char *from_leaf, const Folder *to, const char *to_leaf, bool to_locked,
                 bool aside = false);

// Moves it likewise over what has to_leaf, while that is the file of
// replaced (kNotThatFile otherwise).
int ReplaceWithOpenFile(FILE *stream, const FileStatus *status, const Folder *from,
                        const char *from_leaf, const Folder *to, const char *to_leaf,
                        const FileStatus *replaced);

// Removes the name leaf in folder of the file open as stream, of status.
// Returns 0, or ENOENT where nothing has it, kNotThatFile where another file
// does, or the system's error.
int RemoveOpenFile(FILE *stream, const FileStatus *status, const Folder *folder, const char *leaf);

// A new file in folder, unnamed where the system makes such files and a
// rename can later name it; created with mode (the owner's bits alone for
// a copy of another file's access, the user's defaults for a new output).
// Returns nullptr, with errno EOPNOTSUPP, where there are none.
FILE *CreateAnonymousFile(const Folder *folder, unsigned long mode, FileStatus *status);

// A new file in folder under a hidden name unique to the run, locked so
// that no other run takes it for a leftover: its name goes to leaf and its
// status to status together, with signals blocked. Returns nullptr, with
// errno, when it cannot.
FILE *CreateHiddenFile(const Folder *folder, unsigned long mode, char *leaf, size_t size,
                       FileStatus *status);

// Removes the hidden files in folder that killed runs left: those no live
// run holds.
void RemoveLeftovers(const Folder *folder);

// Gives the anonymous new file of stream the name leaf in folder, never
// over anything; or, with leaf the hidden name to take, that name.
int NameAnonymousFile(FILE *stream, const Folder *folder, const char *leaf);

// Gives the new file of stream the owner (where permitted), group,
// permission bits, access list and attributes of the file of original, as
// status says of it. A group that cannot be kept loses its bits, and a
// set-id bit that cannot be kept sets *set_id_dropped.
bool KeepAccess(FILE *stream, FILE *original, const FileStatus *status, bool *set_id_dropped);

// What the new file of stream takes once named: Windows' attributes (see
// FileStatus), which keep it hidden until then.
void TakeAttributes(FILE *stream, unsigned long attributes);

// Flushes the stream and puts its file's bytes on disk.
bool SyncFile(FILE *stream);

// Removes the hidden name of a new file given up, while it is that file's.
// Signal handlers call it too.
void RemoveHiddenFile(FILE *stream, const Folder *folder, const char *leaf,
                      const FileStatus *status);

// Closes a stream the run opened. False when the close failed.
bool CloseRunFile(FILE *stream);

// A closed pipe on standard output and the file size limit no longer end
// the process: the writes fail instead. A signal that would end the
// process and can be caught, but for the program's own faults (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS), a closed terminal or console
// runs end_run, then the process ends as the signal would have ended it;
// or, when end_run returns a status, with that status. end_run may only
// look at names, rename and remove.
void CatchSignals(int (*end_run)());

// Between these two, the handler does not run: a step and the record of
// it go together.
void BlockSignals();
void UnblockSignals();

// The command-line arguments as byte strings: on Windows, taken as UTF-16
// and given in UTF-8, so that every name is the file it names.
void TakeArguments(int *argc, char ***argv);

// Writes text to standard output and flushes it: on a Windows console as
// UTF-16, so that every name shows; redirected there, in the ANSI code page.
void WriteOut(const char *text);

// Windows' text mode ends its input at a byte 0x1A.
bool EndMarkEndsText();

// Gives stream, if any, the run's large buffer for its input or its output,
// and returns it.
FILE *WithInputBuffer(FILE *stream);
FILE *WithOutputBuffer(FILE *stream);

// Shared by the implementations.

// Copies name into size bytes of storage. False, with a cut copy, when the
// name does not fit.
bool CopyName(char *storage, const char *name, size_t size);

// Splits path at its last separator (any byte of separators) into its
// folder, with the separator ("" where there is none), and its leaf. False
// when either does not fit size bytes.
bool SplitPath(const char *path, const char *separators, char *folder, char *leaf, size_t size);

// The same file: same volume, same index.
bool SameFile(const FileStatus *one, const FileStatus *other);

// Nothing wrote the file between the two statuses, as far as they can
// show: the same size and times. Times of whole milliseconds, as FAT and
// exFAT keep them, may hide a write: coarse says so.
bool SameContent(const FileStatus *before, const FileStatus *after, bool *coarse);

// Folds count bytes into a digest (FNV-1a, eight bytes at a time).
unsigned long long Digest(unsigned long long digest, const unsigned char *bytes, size_t count);
constexpr unsigned long long kDigestStart = 14695981039346656037ULL;

// A hidden name of the run's, ".~tandrel-KIND-P-N.m3u" for process P and
// attempt N, into leaf: kind "new" for a new file, "old" for an original
// that Windows removes once closed. Leftovers are the files of such names.
void HiddenLeaf(const char *kind, unsigned long process, unsigned attempt, char *leaf,
                size_t size);
bool IsHiddenLeaf(const char *leaf);
// P of a new file's hidden name, or 0 for another name.
unsigned long HiddenLeafProcess(const char *leaf);

#endif
