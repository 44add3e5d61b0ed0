// What the platforms do not give the same way: following links, opening a
// playlist without waiting on a pipe, file identity, locks, a new file no
// other run can open, ownership and permission bits, syncing to disk,
// renaming without replacing, and interrupts. Each platform implements it
// in a file of its own; platform.cpp holds what they share.
#ifndef TANDREL_FRONTEND_PLATFORM_H
#define TANDREL_FRONTEND_PLATFORM_H

#include <cstddef>
#include <cstdio>

// Room for any path the file system takes (PATH_MAX on Linux) with its zero.
constexpr size_t kNameSize = 4096;

// Who a file is, and what its replacement keeps of it.
struct FileFacts {
	unsigned long long volume;	// identity: device or volume serial,
	unsigned long long index;	// and inode or file index
	unsigned long mode;	// permission, set-id and sticky bits
	unsigned long owner;
	unsigned long group;
};

// The new playlist while it is written. It has no name at all where the
// system can make such a file, and otherwise a hidden one beside the
// playlist, ".~tandrel-new-N.m3u", that no other file bore.
struct NewFile {
	FileFacts facts;
	char hidden_name[kNameSize];	// "" while it has none
};

enum LinkResult {
	kLinkResolved,
	kLinkUnresolved,	// a loop, or a path too long
	kLinkUntrusted,	// a link neither the runner nor the file's owner made
};

// Copies name into resolved (size bytes), or, when name is a symbolic
// link, the path of the file it leads to, link by link, so that the path
// found ends in that file's own name. A link is followed only when its
// owner runs tandrel or owns the file it leads to.
LinkResult ResolveLink(const char *name, char *resolved, size_t size);

// Opens a regular file for reading in text mode, without following a
// link or waiting on a pipe or device: those are refused. Fills facts.
FILE *OpenRegularFile(const char *name, FileFacts *facts);

// Creates the new playlist for writing in text mode, in the folder of
// beside, where no other run can open it, locked, with the owner (where
// permitted) and the permission bits of facts. Fills created, which must
// hold no name yet. Returns nullptr, leaving nothing behind, when it
// cannot.
FILE *CreateNewFile(const char *beside, const FileFacts *facts, NewFile *created);

// Flushes stream and puts its bytes on disk. The stream stays open.
bool SyncStream(FILE *stream);

// Gives the new file of stream the name, unless something bears it.
// Returns false, with errno, when it did not.
bool NameNewFile(FILE *stream, const NewFile *file, const char *name);

// Removes the hidden name of a new file given up, while it still leads to
// that file. Interrupts call it too.
void DiscardNewFile(const NewFile *file);

// Closes a stream opened by OpenRegularFile or CreateNewFile. Returns false
// when the close failed.
bool CloseRunFile(FILE *stream);

// An exclusive advisory lock, taken without waiting. False only when
// somebody else holds one; a file system without locks gives true.
bool LockExclusive(FILE *stream);

// Something bears name, a link itself rather than what it leads to, that
// another process holds locked.
bool LockedByAnother(const char *name);

// name itself, not what a link leads to, is the file of facts.
bool NameLeadsTo(const char *name, const FileFacts *facts);

// name, through any link, is the very file stream reads.
bool NameReaches(FILE *stream, const char *name);

// Something, even a dangling link, bears this name.
bool PathExists(const char *name);

// Renames from to to unless something bears to. Returns false, with
// errno, when it did not.
bool RenameNoReplace(const char *from, const char *to);

// Renames from to to, over whatever bears to. Whether it did, the names
// tell.
void RenameReplacing(const char *from, const char *to);

// Removes the name. Returns false, with errno, when it did not.
bool RemoveName(const char *name);

// A closed pipe on standard output and the file size limit no longer end
// the process: the writes fail instead. On an interrupt (any signal that
// would end the process and can be caught, a closed terminal or console)
// undo runs, then the process ends as the interrupt would have ended it.
// undo may only look at names, rename and remove.
void CatchInterrupts(void (*undo)());

// Between these two, undo does not run: a step and the record of it go
// together. Nothing may wait in between, printing included.
void HoldInterrupts();
void ReleaseInterrupts();

// Shared by the implementations.

// Copies name into size bytes of storage. False, with a cut copy, when the
// name does not fit.
bool CopyName(char *storage, const char *name, size_t size);

// Copies into storage the path of leaf in the folder of path: path up to
// its last separator (any byte of separators), then leaf.
bool NameInFolderOf(char *storage, size_t size, const char *path,
                    const char *leaf, const char *separators);

// The same file: same volume, same index.
bool SameFile(const FileFacts *one, const FileFacts *other);

#endif
