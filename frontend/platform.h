// What the platforms do not give the same way: opening a playlist without
// waiting on a pipe, file identity, locks, creating a file exclusively,
// ownership and permission bits, syncing to disk, renaming without
// replacing, and interrupts.
#ifndef TANDREL_FRONTEND_PLATFORM_H
#define TANDREL_FRONTEND_PLATFORM_H

#include <cstddef>
#include <cstdio>

// Who a file is, and what its replacement keeps of it.
struct FileFacts {
	unsigned long long volume;	// identity: device or volume serial,
	unsigned long long index;	// and inode or file index
	unsigned long mode;	// permission, set-id and sticky bits
	unsigned long owner;
	unsigned long group;
};

// Opens a regular file, or what a link leads to, for reading in text
// mode, without waiting on a pipe or device: those are refused.
FILE *OpenRegularFile(const char *name, FileFacts *facts);

// Creates name for writing in text mode, with at most the permission bits
// of facts. Fails if anything bears the name, a link included, which is
// not followed. Fills created with the new file's identity.
FILE *CreateExclusive(const char *name, const FileFacts *facts,
                      FileFacts *created);

// Gives the file of stream the owner (where permitted) and the permission
// bits of facts. Where the file system has none, bits that already match
// are enough.
bool KeepOwnership(FILE *stream, const FileFacts *facts);

// An exclusive advisory lock, taken without waiting. False only when
// somebody else holds one; a file system without locks gives true.
bool LockExclusive(FILE *stream);

// Flushes stream and puts its bytes on disk, then closes it.
bool CloseSynced(FILE *stream);

// Closes a stream opened by OpenRegularFile or CreateExclusive whose bytes
// no longer matter: the input, or a new file given up.
void CloseRunFile(FILE *stream);

// name, itself and not what a link leads to, is the file of facts.
bool NameIsFile(const char *name, const FileFacts *facts);

// The same file: same volume, same index.
bool SameFile(const FileFacts *one, const FileFacts *other);

// Copies name into size bytes of storage. False, with a cut copy, when the
// name does not fit.
bool CopyName(char *storage, const char *name, size_t size);

// Copies into resolved (size bytes) the path of the file name leads to,
// through any symbolic link. False when there is none, or it does not fit.
bool ResolveLink(const char *name, char *resolved, size_t size);

// Something, even a dangling link, bears this name.
bool PathExists(const char *name);

// name is the very file stream reads, by whatever path or link.
bool IsSameFile(FILE *stream, const char *name);

// Fails, rather than replace it, when something bears the name to.
bool RenameNoReplace(const char *from, const char *to);

// Renames over whatever bears the name to.
bool RenameReplacing(const char *from, const char *to);

// A closed pipe on standard output and the file size limit no longer end
// the process: the writes fail instead. On an interrupt (Ctrl-C, a closed
// terminal or console, kill) undo runs, then the process ends as the
// interrupt would have ended it. undo may only rename, stat and remove.
void CatchInterrupts(void (*undo)());

// Between these two, undo does not run: a step and the record of it go
// together.
void HoldInterrupts();
void ReleaseInterrupts();

#endif
