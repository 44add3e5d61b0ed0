// What both platforms' file code shares.
#include "frontend/platform.h"

#include <cstdlib>
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

bool SameContent(const FileStatus *before, const FileStatus *after, bool *coarse)
{
	const long long millisecond = 1000000;

	*coarse = before->modified % millisecond == 0 && before->changed % millisecond == 0;
	return before->size == after->size && before->modified == after->modified &&
	       before->changed == after->changed;
}

unsigned long long Digest(unsigned long long digest, const unsigned char *bytes, size_t count)
{
	const unsigned long long prime = 1099511628211ULL;
	size_t at = 0;

	for (; at + 8 <= count; at += 8) {
		unsigned long long word;
		memcpy(&word, bytes + at, sizeof word);
		digest = (digest ^ word) * prime;
	}
	for (; at < count; at++)
		digest = (digest ^ bytes[at]) * prime;
	return digest;
}

static const char kHiddenPrefix[] = ".~tandrel-";
static const char kHiddenSuffix[] = ".m3u";

void HiddenLeaf(const char *kind, unsigned long process, unsigned attempt, char *leaf,
                size_t size)
{
	(void)snprintf(leaf, size, "%s%s-%lu-%u%s", kHiddenPrefix, kind, process, attempt,
	               kHiddenSuffix);
}

bool IsHiddenLeaf(const char *leaf)
{
	const size_t length = strlen(leaf), prefix = sizeof kHiddenPrefix - 1,
	             suffix = sizeof kHiddenSuffix - 1;

	return length > prefix + suffix && strncmp(leaf, kHiddenPrefix, prefix) == 0 &&
	       strcmp(leaf + length - suffix, kHiddenSuffix) == 0;
}

static bool IsDigit(char c)
{
	return c >= '0' && c <= '9';
}

unsigned long HiddenLeafProcess(const char *leaf)
{
	static const char kNewPrefix[] = ".~tandrel-new-";
	const char *number = leaf + sizeof kNewPrefix - 1;
	char *end = nullptr;

	if (strncmp(leaf, kNewPrefix, sizeof kNewPrefix - 1) != 0 || !IsDigit(*number))
		return 0;
	const unsigned long process = strtoul(number, &end, 10);
	if (end[0] != '-' || !IsDigit(end[1]))
		return 0;
	(void)strtoul(end + 1, &end, 10);
	return strcmp(end, kHiddenSuffix) == 0 ? process : 0;
}
