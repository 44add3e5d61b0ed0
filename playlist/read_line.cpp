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

static int NextByte(FILE *stream)
{
	return ReadByte(stream);
}

// One byte of push-back after a read cannot fail.
static void GiveBack(FILE *stream, int c)
{
	(void)ungetc(c, stream);
}

static int ByteOf(LineSource *source)
{
	source->from_head = source->used < source->length;
	if (source->from_head)
		return static_cast<unsigned char>(source->head[source->used++]);
	return ReadByte(source->stream);
}

// At a 0x1A where it ends the input: what follows must be more of them up
// to the end, as a DOS end-of-file mark is padded; anything else is text
// the mark would hide.
static int PastEndMark(LineSource *source)
{
	int c;

	while ((c = ByteOf(source)) == static_cast<unsigned char>(kEndMark))
		;
	source->marked = c != EOF;
	return EOF;
}

static int NextByte(LineSource *source)
{
	int c = ByteOf(source);

	if (c == static_cast<unsigned char>(kEndMark) && source->end_mark)
		return PastEndMark(source);
	return c;
}

static void GiveBack(LineSource *source, int c)
{
	if (source->from_head)
		source->used--;
	else
		(void)ungetc(c, source->stream);
}

template <typename Bytes>
static bool ReadLineOf(Bytes bytes, char *line, size_t capacity, bool *cut, size_t *stored)
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

	while ((c = NextByte(bytes)) != '\n' && c != EOF) {
		if (count == limit) {
			// Give the byte back: the rest of the line is read by
			// the next call instead of being dropped.
			GiveBack(bytes, c);
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
	return ReadLineOf(stream, line, capacity, cut, stored);
}

bool ReadLineFrom(LineSource *source, char *line, size_t capacity, bool *cut, size_t *stored)
{
	return ReadLineOf(source, line, capacity, cut, stored);
}
