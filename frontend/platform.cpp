// What both platforms' implementations share.
#include "frontend/platform.h"

bool CopyName(char *storage, const char *name, size_t size)
{
	// snprintf stops at the storage's end and tells the name's length; a
	// failure's -1 is no length that fits.
	return static_cast<size_t>(snprintf(storage, size, "%s", name)) < size;
}

bool SameFile(const FileFacts *one, const FileFacts *other)
{
	return one->volume == other->volume && one->index == other->index;
}
