// What the platforms do not give the same way: folders opened once and
// files named relative to them, following links, file identity and status,
// locks, a new file no other run can open, ownership and access rules,
// syncing to disk, renaming without replacing, and signals. Each platform
// implements it in a file of its own per topic (files_*.cpp, signals_*.cpp,
// and scratch_*.cpp for scratch.h); files.cpp holds what they share.
#ifndef TANDREL_FRONTEND_PLATFORM_H
#define TANDREL_FRONTEND_PLATFORM_H

#include <cstddef>
#include <cstdio>

// Room for any path the file system takes (PATH_MAX on Linux) with its zero.
constexpr size_t kNameSize = 4096;

// A folder the run opened once. Every later step names its files relative
// to it, so that a folder of the path swapped for a link meanwhile
// redirects nothing. POSIX keeps a descriptor; Windows, which has no *at
// calls, the folder's path with its separator ("" for the current folder).
struct Folder {
	int descriptor;
	char path[kNameSize];
};

// A file's identity and what the run compares or keeps of it.
struct FileStatus {
	unsigned long long volume;	// identity: device or volume serial,
	unsigned long long index;	// and inode or file index
	unsigned long mode;	// permission, set-id and sticky bits
	unsigned long owner;
	unsigned long group;
	bool read_only;	// Windows' attribute
	unsigned long long size;
	long long modified;	// modification time, in nanoseconds
};

// The new playlist while it is written. It has no name at all where the
// system can make such a file, and otherwise a hidden one beside the
// playlist, ".~tandrel-new-N.m3u", that no other file had.
struct NewFile {
	FileStatus status;
	const Folder *folder;
	char hidden_leaf[32];	// "" while it has none
	unsigned long mode;	// the bits it is to have
	bool set_id_dropped;	// a set-id bit of the original could not be kept
};

enum OpenResult {
	kOpened,
	kMissing,	// no file has the name, or a link leads nowhere
	kNotOpened,	// no regular file, a loop, a path too long
	kUntrusted,	// a link neither the runner nor the file's owner made
};

// Opens the playlist name for reading in text mode, without waiting on a
// pipe or device (those are refused), and locks it: a symbolic link is
// followed link by link, each through the folder that holds it, and only
// when its owner runs tandrel, is root, or owns the file it points to. The
// folder of the file found goes to folder, its own name to leaf (kNameSize
// bytes), what fstat says of it to status. *locked is false when another
// run holds the playlist. Anything but kOpened leaves nothing open.
OpenResult OpenPlaylist(const char *name, Folder *folder, char *leaf, FILE **in,
                        FileStatus *status, bool *locked);

// Opens the current folder. False when it cannot.
bool OpenCurrentFolder(Folder *folder);

// The folder's own status.
bool StatFolder(const Folder *folder, FileStatus *status);

void CloseFolder(Folder *folder);

// An exclusive lock on the folder itself, which leaves no file behind:
// runs that move files in one folder take it in turn. Waits for it at most
// seconds; false when another run had it all that time. A folder that
// cannot be locked counts as locked.
bool LockFolder(const Folder *folder, int seconds);

// How long a run waits for another run's moves in the same folder: far
// longer than any moves take, short enough that a stopped run holds up
// the others only for a moment.
constexpr int kFolderWaitSeconds = 5;
void UnlockFolder(const Folder *folder);

// What fstat says of the open stream.
bool StatStream(FILE *stream, FileStatus *status);

// What has the name leaf in folder, a link itself rather than what it
// points to.
// Returns 0, or the error: ENOENT when nothing does.
int StatAt(const Folder *folder, const char *leaf, FileStatus *status);

// leaf in folder is the file of identity, not a link to it.
bool IsFileAt(const Folder *folder, const char *leaf, const FileStatus *identity);

// A file named leaf in folder is locked by another process.
bool LockedByAnother(const Folder *folder, const char *leaf);

// Every user may search the folder and every folder above it: whoever may
// read one of its files by the file's bits may reach it.
bool ReachableByAll(const Folder *folder);

// The runner may rename or remove a file of status's owner in folder: a
// sticky folder (as /tmp) lets only the file's owner, the folder's and root.
bool MayRemoveFrom(const Folder *folder, const FileStatus *status);

// Creates a new file for writing in text mode in folder, where no other run
// can open it, locked, with the owner (where permitted), the permission
// bits and the access list of the playlist in, whose status is original.
// A group that cannot be kept loses its bits. Fills created. Returns
// nullptr, leaving nothing behind, with errno, when it cannot.
FILE *CreateNewFile(const Folder *folder, FILE *in, const FileStatus *original,
                    NewFile *created);

// Flushes the new file's stream and puts its bytes on disk; gives back the
// set-id bits that writing cleared, and records those that did not hold.
// The stream stays open.
bool SyncNewFile(FILE *stream, NewFile *file);

// Gives the new file of stream the name leaf in folder, unless something
// has it. Returns false, with errno, when it did not.
bool NameNewFile(FILE *stream, const NewFile *file, const Folder *folder, const char *leaf);

// Removes the hidden name of a new file given up, while it is still that
// file's. Signal handlers call it too.
void DiscardNewFile(const NewFile *file);

// Closes a stream opened by the run. Returns false when the close failed.
bool CloseRunFile(FILE *stream);

// Sets the permission bits, or Windows' read-only attribute, of the open
// file. Signal handlers call it too.
bool SetFileMode(FILE *stream, const FileStatus *status, unsigned long mode);

// Renames from_leaf in from to to_leaf in to unless something has that
// name. Where the file system renames only by replacing and has no hard
// links, it checks first and renames then: the caller holds the lock of
// the folder the name is taken in. Returns false, with errno, when it did
// not. Signal handlers call it too.
bool MoveNoReplace(const Folder *from, const char *from_leaf, const Folder *to,
                   const char *to_leaf);

// Renames over whatever has the name. Whether it did, the names show.
void MoveReplacing(const Folder *from, const char *from_leaf, const Folder *to,
                   const char *to_leaf);

// Removes leaf in folder, clearing Windows' read-only attribute first.
// Returns false, with errno, when it did not.
bool RemoveAt(const Folder *folder, const char *leaf);

enum OutputResult {
	kOutputOpened,
	kOutputUnopened,	// with errno
	kOutputIsInput,
	kOutputBusy,	// an in-place run holds it
};

// Opens name for writing in text mode as the output of a two-file run:
// opened without emptying it, refused when it is the very file in reads or
// another run holds it locked, emptied only then.
OutputResult OpenOutput(const char *name, FILE *in, FILE **out);

// A closed pipe on standard output and the file size limit no longer end
// the process: the writes fail instead. A signal that would end the
// process and can be caught, but for the program's own faults (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS), a closed terminal or console
// runs undo, then the process ends as the signal would have ended it; or,
// when undo returns true, with status 0, as the run had finished. undo may
// only look at names, rename and remove.
void CatchSignals(bool (*undo)());

// Between these two, undo does not run: a step and the record of it go
// together. Nothing may wait in between, printing included.
void BlockSignals();
void UnblockSignals();

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

// The hidden name of slot, ".~tandrel-new-N.m3u", into leaf.
void HiddenLeaf(int slot, char *leaf, size_t size);

// What each platform gives CreateNewFile in files.cpp. An unnamed new
// file, where the system has such files; a new file under the
// hidden leaf, created exclusively, with errno EEXIST when that is taken;
// and the removal of a hidden file that a killed run left, which no live
// run holds locked.
FILE *CreateAnonymousFile(const Folder *folder, FILE *in, const FileStatus *original,
                          NewFile *created);
FILE *CreateHiddenFile(const Folder *folder, const char *leaf, FILE *in,
                       const FileStatus *original, NewFile *created);
void RemoveStaleFile(const Folder *folder, const char *leaf);

// How many hidden names beside a playlist a run may try for its new file,
// where the system has no anonymous files: runs at once in one folder each
// hold one; one a killed run left is removed before a name is chosen.
constexpr int kHiddenNames = 10;

#endif
