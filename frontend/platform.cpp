// What both platforms' implementations share.
#include "frontend/platform.h"

#include <cstring>

bool CopyName(char *storage, const char *name, size_t size)
{
	// snprintf stops at the storage's end and tells the name's length; a
	// failure's -1 is no length that fits.
	return static_cast<size_t>(snprintf(storage, size, "%s", name)) < size;
}

bool NameInFolderOf(char *storage, size_t size, const char *path,
                    const char *leaf, const char *separators)
{
	size_t folder = strlen(path);

	while (folder > 0 && strchr(separators, path[folder - 1]) == nullptr)
		folder--;
	// As in CopyName, a failure's -1 is no length that fits.
	return static_cast<size_t>(snprintf(storage, size, "%.*s%s", static_cast<int>(folder),
	                                    path, leaf)) < size;
}

bool SameFile(const FileFacts *one, const FileFacts *other)
{
	return one->volume == other->volume && one->index == other->index;
}
