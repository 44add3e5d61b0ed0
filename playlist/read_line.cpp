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

// The bytes of a stream, given back one at a time at the line's bound.
struct StreamBytes {
	FILE *stream;

	int Next() { return ReadByte(stream); }
	// One byte of push-back after a read cannot fail.
	void GiveBack(int c) { (void)ungetc(c, stream); }
};

// The bytes of a head already read from a stream, then the stream's.
struct HeadThenStream {
	const char *head;
	size_t *used;
	size_t length;
	FILE *stream;
	bool from_head;	// the last byte came from the head

	int Next()
	{
		from_head = *used < length;
		if (from_head)
			return static_cast<unsigned char>(head[(*used)++]);
		return ReadByte(stream);
	}
	void GiveBack(int c)
	{
		if (from_head)
			(*used)--;
		else
			(void)ungetc(c, stream);
	}
};

template <typename Bytes>
static bool ReadLineOf(Bytes &&bytes, char *line, size_t capacity, bool *cut, size_t *stored)
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

	while ((c = bytes.Next()) != '\n' && c != EOF) {
		if (count == limit) {
			// Give the byte back: the rest of the line is read by
			// the next call instead of being dropped.
			bytes.GiveBack(c);
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

bool ReadLine(FILE *stream, char *line, size_t capacity, bool *cut, size_t *stored)
{
	return ReadLineOf(StreamBytes{stream}, line, capacity, cut, stored);
}

bool ReadLineAfter(const char *head, size_t *used, size_t length, FILE *stream, char *line,
                   size_t capacity, bool *cut, size_t *stored)
{
	return ReadLineOf(HeadThenStream{head, used, length, stream, false}, line, capacity, cut, stored);
}
