#include "playlist/lines.h"

#include <cerrno>

#include "playlist/stream_bytes.h"

bool IsWhiteSpace(char byte)
{
	switch (byte) {
	case ' ':
	case '\t':
	case '\n':
	case '\v':
	case '\f':
	case '\r':
		return true;
	default:
		return false;
	}
}

size_t TrimmedLength(const char *text, size_t length)
{
	while (length > 0 && IsWhiteSpace(text[length - 1]))
		length--;
	return length;
}

bool ReadLine(FILE *stream, char *line, size_t capacity, bool *cut,
              size_t *stored)
{
	if (capacity < 2) {
		if (capacity == 1)
			line[0] = '\0';
		errno = EINVAL;
		return false;
	}
	const size_t limit = capacity - 1;
	size_t count = 0;
	bool at_bound = false;
	int c;

	while ((c = ReadByte(stream)) != '\n' && c != EOF) {
		if (count == limit) {
			// Give the byte back: the rest of the line is read by
			// the next call instead of being dropped. One byte of
			// push-back after a read cannot fail.
			(void)ungetc(c, stream);
			at_bound = true;
			break;
		}
		line[count++] = static_cast<char>(c);
	}
	if (!at_bound)
		count = TrimmedLength(line, count);
	line[count] = '\0';
	if (cut != nullptr)
		*cut = at_bound;
	if (stored != nullptr)
		*stored = count;
	return c != EOF;
}
