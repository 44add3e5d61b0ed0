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

// Where a line's bytes come from: a stream, or first the bytes of a head
// read ahead from it. At the line's bound the byte just read goes back.
struct HeadThenStream {
	const char *head;
	size_t *used;
	size_t length;
	FILE *stream;
	bool from_head;	// the last byte came from the head
};

static int NextByte(FILE *stream)
{
	return ReadByte(stream);
}

// One byte of push-back after a read cannot fail.
static void GiveBack(FILE *stream, int c)
{
	(void)ungetc(c, stream);
}

static int NextByte(HeadThenStream *bytes)
{
	bytes->from_head = *bytes->used < bytes->length;
	if (bytes->from_head)
		return static_cast<unsigned char>(bytes->head[(*bytes->used)++]);
	return ReadByte(bytes->stream);
}

static void GiveBack(HeadThenStream *bytes, int c)
{
	if (bytes->from_head)
		(*bytes->used)--;
	else
		(void)ungetc(c, bytes->stream);
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

// *used changes through the HeadThenStream, where clang-tidy does not look.
// NOLINTNEXTLINE(readability-non-const-parameter)
bool ReadLineAfter(const char *head, size_t *used, size_t length, FILE *stream, char *line,
                   size_t capacity, bool *cut, size_t *stored)
{
	HeadThenStream bytes = {head, used, length, stream, false};

	return ReadLineOf(&bytes, line, capacity, cut, stored);
}
