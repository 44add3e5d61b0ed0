// The new playlist, from its making to its naming, as one module that owns
// its states, as git's tempfile.c owns a temporary file's:
//
//   State       The file is                          Given up by     A kill leaves
//   kNoFile     -                                    -               -
//   kMade       open for writing and locked; with    Discard         the hidden file,
//               no name, or a hidden one unique                      which a later run
//               to the run                                           removes
//   kSynced     with its access, on disk             Discard         likewise
//   kNamed      at its name, still open              -               the new playlist
//   kClosed     at its name, closed                  -               likewise
//   kDiscarded  closed, its hidden name removed      -               -
//
// Only Make, Sync, Name, Close and Discard change the state, each with the
// step it records, so that a signal's handler finds a hidden name only
// while it is the run's.
#ifndef TANDREL_FRONTEND_NEW_FILE_H
#define TANDREL_FRONTEND_NEW_FILE_H

#include <csignal>
#include <cstdio>

#include "frontend/platform.h"

enum NewFileState {
	kNoFile,
	kMade,
	kSynced,
	kNamed,
	kClosed,
	kDiscarded,
};

struct NewFile {
	volatile sig_atomic_t state;
	FILE *stream;	// while kMade to kNamed
	const Folder *folder;
	FileStatus status;
	char hidden_leaf[64];	// "" while it has none
	unsigned long attributes;	// what it takes once named (Windows')
	bool set_id_dropped;	// a set-id bit of the original was not kept
};

// Makes a new file in folder, with mode (see CreateAnonymousFile), to be
// written through file->stream. False, with errno, when it cannot.
bool MakeNewFile(NewFile *file, Folder *folder, unsigned long mode);

// Gives the written file the access of original, as status says of it,
// where original is given, and puts it on disk. False when it cannot.
bool SyncNewFile(NewFile *file, FILE *original, const FileStatus *status);

// Gives the synced file the name leaf in folder: never over anything, or,
// with replaced, over that file while the name is still it. to_locked: the
// caller holds folder's lock. Returns 0 or why not (see MoveOpenFile).
int NameNewFile(NewFile *file, const Folder *folder, const char *leaf,
                const FileStatus *replaced, bool to_locked);

// Closes the named file. False when the close failed.
bool CloseNewFile(NewFile *file);

// Gives up a file not named: closes it and removes its hidden name.
void DiscardNewFile(NewFile *file);

// What a signal's handler may do: remove the hidden name of the new file
// being made, if any. The process ends next.
void DiscardLiveNewFile();

#endif
