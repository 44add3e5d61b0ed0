#include "frontend/new_file.h"

#include <cerrno>

// The one new file a signal's handler gives up.
static NewFile *volatile live;

bool MakeNewFile(NewFile *file, Folder *folder, unsigned long mode)
{
	file->state = kNoFile;
	file->folder = folder;
	file->hidden_leaf[0] = '\0';
	file->set_id_dropped = false;
	live = file;
	// Leftovers are removed only under the folder's lock, which runs in the
	// folder take to make their files one at a time: FAT through FUSE
	// fails files made at once.
	const LockResult lock = LockFolder(folder, kFolderWaitSeconds);
	if (lock == kLockHeld)
		RemoveLeftovers(folder);
	file->stream = CreateAnonymousFile(folder, mode, &file->status);
	if (file->stream == nullptr && errno == EOPNOTSUPP)
		file->stream = CreateHiddenFile(folder, mode, file->hidden_leaf,
		                                sizeof file->hidden_leaf, &file->status);
	const int error = errno;
	if (lock == kLockHeld)
		UnlockFolder(folder);
	errno = error;
	if (file->stream == nullptr)
		return false;
	file->state = kMade;
	return true;
}

bool SyncNewFile(NewFile *file, FILE *original, const FileStatus *status)
{
	// Access comes once the last byte is written: writing would clear the
	// set-id bits again.
	file->attributes = original != nullptr ? status->attributes : 0;
	if (fflush(file->stream) != 0 ||
	    (original != nullptr && !KeepAccess(file->stream, original, status, &file->set_id_dropped)) ||
	    !SyncFile(file->stream))
		return false;
	file->state = kSynced;
	return true;
}

// An anonymous file that is to replace a file takes a hidden name first:
// a link cannot replace anything. Its index, unique on its volume while it
// exists, makes the name unique to the run.
static int GiveHiddenName(NewFile *file)
{
	char leaf[sizeof file->hidden_leaf];
	int error = EEXIST;

	for (unsigned attempt = 0; error == EEXIST && attempt < 100; attempt++) {
		HiddenLeaf("new", static_cast<unsigned long>(file->status.index), attempt, leaf, sizeof leaf);
		BlockSignals();
		error = NameAnonymousFile(file->stream, file->folder, leaf);
		if (error == 0)
			(void)CopyName(file->hidden_leaf, leaf, sizeof file->hidden_leaf);
		UnblockSignals();
	}
	return error;
}

int NameNewFile(NewFile *file, const Folder *folder, const char *leaf,
                const FileStatus *replaced, bool to_locked)
{
	int error = 0;

	if (file->hidden_leaf[0] == '\0' && replaced == nullptr)
		error = NameAnonymousFile(file->stream, folder, leaf);
	else if (file->hidden_leaf[0] == '\0')
		error = GiveHiddenName(file);
	if (error == 0 && file->hidden_leaf[0] != '\0')
		error = replaced != nullptr
		            ? ReplaceWithOpenFile(file->stream, &file->status, file->folder,
		                                  file->hidden_leaf, folder, leaf, replaced)
		            : MoveOpenFile(file->stream, &file->status, file->folder, file->hidden_leaf,
		                           folder, leaf, to_locked);
	if (error != 0)
		return error;
	BlockSignals();
	file->hidden_leaf[0] = '\0';
	file->state = kNamed;
	UnblockSignals();
	TakeAttributes(file->stream, file->attributes);
	return 0;
}

bool CloseNewFile(NewFile *file)
{
	bool closed = CloseRunFile(file->stream);

	file->stream = nullptr;
	file->state = kClosed;
	return closed;
}

void DiscardNewFile(NewFile *file)
{
	if (file->state != kMade && file->state != kSynced)
		return;
	// Windows can remove an open file only through its own handle.
	BlockSignals();
	RemoveHiddenFile(file->stream, file->folder, file->hidden_leaf, &file->status);
	file->hidden_leaf[0] = '\0';
	UnblockSignals();
	(void)CloseRunFile(file->stream);
	file->stream = nullptr;
	file->state = kDiscarded;
}

void DiscardLiveNewFile()
{
	NewFile *file = live;

	// Its name is recorded with its status, and goes once it is named.
	if (file != nullptr)
		RemoveHiddenFile(nullptr, file->folder, file->hidden_leaf, &file->status);
}
