// What both platforms' file code shares.
#include "frontend/platform.h"

#include <cerrno>
#include <cstring>

// Stream buffers far larger than the C library's few kilobytes: a playlist
// then takes a few dozen system calls a megabyte instead of hundreds.
static const size_t kStreamBufferSize = 1 << 17;
static char input_buffer[kStreamBufferSize];
static char output_buffer[kStreamBufferSize];

// Without the larger buffer the stream only runs slower.
static FILE *WithBuffer(FILE *stream, char *buffer)
{
	if (stream != nullptr)
		(void)setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
	return stream;
}

FILE *WithInputBuffer(FILE *stream)
{
	return WithBuffer(stream, input_buffer);
}

FILE *WithOutputBuffer(FILE *stream)
{
	return WithBuffer(stream, output_buffer);
}

bool CopyName(char *storage, const char *name, size_t size)
{
	// snprintf stops at the storage's end and tells the name's length; a
	// failure's -1 is no length that fits.
	return static_cast<size_t>(snprintf(storage, size, "%s", name)) < size;
}

bool SplitPath(const char *path, const char *separators, char *folder, char *leaf, size_t size)
{
	size_t length = strlen(path);

	while (length > 0 && strchr(separators, path[length - 1]) == nullptr)
		length--;
	// As in CopyName, a failure's -1 is no length that fits.
	return static_cast<size_t>(snprintf(folder, size, "%.*s", static_cast<int>(length),
	                                    path)) < size &&
	       CopyName(leaf, path + length, size);
}

bool SameFile(const FileStatus *one, const FileStatus *other)
{
	return one->volume == other->volume && one->index == other->index;
}

bool IsFileAt(const Folder *folder, const char *leaf, const FileStatus *identity)
{
	FileStatus found;

	return leaf[0] != '\0' && StatAt(folder, leaf, &found) == 0 && SameFile(&found, identity);
}

void HiddenLeaf(int slot, char *leaf, size_t size)
{
	(void)snprintf(leaf, size, ".~tandrel-new-%d.m3u", slot);
}

FILE *CreateNewFile(const Folder *folder, FILE *in, const FileStatus *original,
                    NewFile *created)
{
	created->folder = folder;
	created->hidden_leaf[0] = '\0';
	created->set_id_dropped = false;
	FILE *stream = CreateAnonymousFile(folder, in, original, created);
	if (stream != nullptr)
		return stream;
	// Under the folder's lock no other run is between creating its hidden
	// file and locking it, so a file found unlocked is a killed run's.
	const bool locked = LockFolder(folder, kFolderWaitSeconds);
	for (int slot = 0; slot < kHiddenNames && stream == nullptr; slot++) {
		char leaf[sizeof created->hidden_leaf];
		HiddenLeaf(slot, leaf, sizeof leaf);
		if (locked)
			RemoveStaleFile(folder, leaf);
		stream = CreateHiddenFile(folder, leaf, in, original, created);
		if (stream == nullptr && errno != EEXIST)
			break;
	}
	int error = errno;
	if (locked)
		UnlockFolder(folder);
	errno = error;
	return stream;
}
