#include "frontend/convert.h"

#include <cstring>

#include "playlist/lines.h"
#include "playlist/stream_bytes.h"

static const char kUtf8Mark[] = "\xEF\xBB\xBF";
static const size_t kUtf8MarkLength = 3;

static bool IsUtf16Mark(const char *bytes)
{
	// Test the first byte alone first: an empty line has no second.
	if (bytes[0] == '\xFF')
		return bytes[1] == '\xFE';
	if (bytes[0] == '\xFE')
		return bytes[1] == '\xFF';
	return false;
}

static bool WriteBytes(FILE *out, const char *bytes, size_t count)
{
	return count == 0 || WriteBlock(bytes, count, out) == count;
}

// Holds what is known of a line too long for the buffer while it is
// written piece by piece.
struct LongLine {
	bool started;	// class known and prefix written
	bool entry;
	char pending[4 * kLineSize];	// white space that may yet be trailing
	size_t pending_length;
};

// The line's first byte decides its class, as in RewriteLine.
static bool StartLongLine(FILE *out, LongLine *line, char first)
{
	line->started = true;
	line->entry = first != '#';
	if (first == '#' || first == '.')
		return true;
	return WriteBytes(out, "./", 2);
}

static bool WritePending(FILE *out, LongLine *line)
{
	if (line->pending_length == 0)
		return true;
	if (!line->started && !StartLongLine(out, line, line->pending[0]))
		return false;
	if (!WriteBytes(out, line->pending, line->pending_length))
		return false;
	line->pending_length = 0;
	return true;
}

// Writes text that is certainly part of the line: white space held back
// before it was not trailing after all.
static bool WriteContent(FILE *out, LongLine *line, char *text, size_t length)
{
	if (length == 0)
		return true;
	if (!WritePending(out, line))
		return false;
	if (!line->started && !StartLongLine(out, line, text[0]))
		return false;
	if (line->entry)
		ReplaceChar(text, '\\', '/');
	return WriteBytes(out, text, length);
}

static bool HoldWhiteSpace(FILE *out, LongLine *line, const char *text,
                           size_t length)
{
	// White space that outgrows the store (16 KiB) is written out, and so
	// kept even if the line ends after it: never dropping a byte matters
	// more than trimming.
	if (line->pending_length + length > sizeof line->pending &&
	    !WritePending(out, line))
		return false;
	memcpy(line->pending + line->pending_length, text, length);
	line->pending_length += length;
	return true;
}

// The rest of a physical line whose text ended at a zero byte.
static bool SkipLine(FILE *in, char *buffer, bool *more)
{
	bool cut = true;

	while (cut && *more)
		*more = ReadLine(in, buffer, kLineCapacity, &cut);
	return !ferror(in);
}

// A physical line longer than the buffer: the buffer holds its first piece
// at text, with stored bytes (none trimmed). The line comes out whole and
// rewritten once; white space goes only at its real end.
static ConvertResult ConvertLongLine(FILE *in, FILE *out, char *buffer,
                                     char *text, size_t stored, bool *more)
{
	LongLine line;
	bool cut = true;

	line.started = false;
	line.entry = false;
	line.pending_length = 0;
	for (;;) {
		size_t length = strlen(text);
		bool has_zero = length < stored;

		if (!cut || has_zero) {
			// The text ends in this piece: ReadLine has trimmed a
			// last piece, and nothing before a zero byte is trailing.
			if (stored > 0 && !WritePending(out, &line))
				return kWriteFailed;
			if (!WriteContent(out, &line, text, length))
				return kWriteFailed;
			if (cut && !SkipLine(in, buffer, more))
				return kReadFailed;
			return WriteBytes(out, "\n", 1) ? kConverted : kWriteFailed;
		}
		size_t body = length;
		while (body > 0 && IsWhiteSpace(text[body - 1]))
			body--;
		if (!WriteContent(out, &line, text, body) ||
		    !HoldWhiteSpace(out, &line, text + body, length - body))
			return kWriteFailed;

		*more = ReadLine(in, buffer, kLineCapacity, &cut, &stored);
		if (!*more && ferror(in))
			return kReadFailed;
		text = buffer;
	}
}

// The line as ReadLine left it at text, rewritten, then a line feed, in one
// write. There is room for the line feed: a line never fills the buffer.
static bool WriteLine(FILE *out, char *text)
{
	size_t length = strlen(text);

	// Rewriting adds the two-byte prefix or nothing: where the line ended
	// still holds its zero unless the prefix went in.
	RewriteLine(text);
	if (text[length] != '\0')
		length += 2;
	text[length] = '\n';
	return WriteBytes(out, text, length + 1);
}

static bool ReadPiece(FILE *in, Conversion *conversion)
{
	conversion->more = ReadLine(in, conversion->buffer, kLineCapacity,
	                            &conversion->cut, &conversion->stored);
	conversion->text = conversion->buffer;
	// A read error stops reading as the end of the input does.
	return conversion->more || !ferror(in);
}

ConvertResult StartConversion(FILE *in, Conversion *conversion)
{
	if (!ReadPiece(in, conversion))
		return kReadFailed;
	if (IsUtf16Mark(conversion->buffer))
		return kInputIsUtf16;
	conversion->utf8_mark =
	    strncmp(conversion->buffer, kUtf8Mark, kUtf8MarkLength) == 0;
	if (conversion->utf8_mark) {
		conversion->text += kUtf8MarkLength;
		conversion->stored -= kUtf8MarkLength;
	}
	return kConverted;
}

ConvertResult FinishConversion(FILE *in, FILE *out, Conversion *conversion)
{
	if (conversion->utf8_mark &&
	    !WriteBytes(out, kUtf8Mark, kUtf8MarkLength))
		return kWriteFailed;
	for (;;) {
		if (conversion->cut) {
			ConvertResult result = ConvertLongLine(in, out,
			    conversion->buffer, conversion->text,
			    conversion->stored, &conversion->more);
			if (result != kConverted)
				return result;
		} else if (!WriteLine(out, conversion->text)) {
			return kWriteFailed;
		}
		if (!conversion->more)
			break;
		if (!ReadPiece(in, conversion))
			return kReadFailed;
	}
	// glibc's fwrite can report a failed write as done once the bytes are
	// in the buffer; the stream's error flag keeps the truth.
	return fflush(out) == 0 && !ferror(out) ? kConverted : kWriteFailed;
}

ConvertResult ConvertPlaylist(FILE *in, FILE *out)
{
	Conversion conversion;
	ConvertResult result = StartConversion(in, &conversion);

	if (result != kConverted)
		return result;
	return FinishConversion(in, out, &conversion);
}
