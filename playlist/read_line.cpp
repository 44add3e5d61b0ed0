#include "playlist/lines.h"

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

bool ReadLine(FILE *stream, char *line, size_t capacity, bool *cut,
              size_t *stored)
{
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
	line[count] = '\0';

	if (!at_bound) {
		while (count > 0 && IsWhiteSpace(line[count - 1]))
			line[--count] = '\0';
	}
	if (cut != nullptr)
		*cut = at_bound;
	if (stored != nullptr)
		*stored = count;
	return c != EOF;
}
