#include "playlist/convert.h"

#include <cstring>

#include "frontend/scratch.h"
#include "playlist/stream_bytes.h"

static const char kUtf8Mark[] = "\xEF\xBB\xBF";
static const size_t kUtf8MarkLength = 3;

static bool StartsWith(const unsigned char *bytes, size_t count, const char *mark, size_t length)
{
	return count >= length && memcmp(bytes, mark, length) == 0;
}

// The count bytes hold at least least units of size bytes, and more than
// half of those have zero bytes at both offsets.
static bool MostlyZeroAt(const unsigned char *bytes, size_t count, size_t size, size_t least,
                         size_t one, size_t other)
{
	size_t units = count / size, zero = 0;

	for (size_t unit = 0; unit < units; unit++) {
		const unsigned char *at = bytes + unit * size;
		zero += at[one] == 0 && at[other] == 0;
	}
	return units >= least && 2 * zero > units;
}

// What the first bytes say the input is; kConverted for text of single
// bytes.
static ConvertResult WideText(const char *head, size_t count)
{
	const unsigned char *bytes = reinterpret_cast<const unsigned char *>(head);

	if (StartsWith(bytes, count, "\xFF\xFE\0\0", 4) || StartsWith(bytes, count, "\0\0\xFE\xFF", 4) ||
	    MostlyZeroAt(bytes, count, 4, 1, 2, 3) || MostlyZeroAt(bytes, count, 4, 1, 0, 1))
		return kInputIsUtf32;
	if (StartsWith(bytes, count, "\xFF\xFE", 2) || StartsWith(bytes, count, "\xFE\xFF", 2) ||
	    MostlyZeroAt(bytes, count, 2, 2, 1, 1) || MostlyZeroAt(bytes, count, 2, 2, 0, 0))
		return kInputIsUtf16;
	return kConverted;
}

static bool WriteBytes(FILE *out, const char *bytes, size_t count)
{
	return count == 0 || WriteBlock(bytes, count, out) == count;
}

// The next piece of a line into the buffer. A read error stops reading as
// the end of the input does: told apart here.
static bool ReadPiece(FILE *in, Conversion *conversion)
{
	if (conversion->head_used < conversion->head_length)
		conversion->more = ReadLineAfter(conversion->head, &conversion->head_used,
		                                 conversion->head_length, in, conversion->buffer,
		                                 kLineCapacity, &conversion->cut, &conversion->stored);
	else
		conversion->more = ReadLine(in, conversion->buffer, kLineCapacity,
		                            &conversion->cut, &conversion->stored);
	conversion->text = conversion->buffer;
	return conversion->more || !ferror(in);
}

// The rest of a physical line whose text ended at a zero byte.
static bool SkipRestOfLine(FILE *in, Conversion *conversion)
{
	while (conversion->cut) {
		if (!ReadPiece(in, conversion))
			return false;
	}
	return true;
}

// White space held back inside a long line: dropped if the line ends after
// it, written if anything else follows. Past the memory store it goes to a
// scratch file, so that memory stays flat however long the run.
static bool HoldWhiteSpace(Conversion *conversion, const char *text,
                           size_t length)
{
	size_t room = kHoldSize - conversion->held_length;

	if (length <= room) {
		memcpy(conversion->held + conversion->held_length, text, length);
		conversion->held_length += length;
		return true;
	}
	memcpy(conversion->held + conversion->held_length, text, room);
	conversion->held_length = kHoldSize;
	if (conversion->spill == nullptr) {
		conversion->spill = OpenScratchFile();
		if (conversion->spill == nullptr)
			return false;
	}
	// As with the output, a failed write may only show in the error flag.
	if (!WriteBytes(conversion->spill, text + room, length - room) ||
	    ferror(conversion->spill))
		return false;
	conversion->spilled += length - room;
	return true;
}

static bool DropHeld(Conversion *conversion)
{
	conversion->held_length = 0;
	conversion->spilled = 0;
	return conversion->spill == nullptr ||
	       fseek(conversion->spill, 0, SEEK_SET) == 0;
}

// The held white space was no trailing white space after all.
static bool WriteHeld(FILE *out, Conversion *conversion)
{
	if (!WriteBytes(out, conversion->held, conversion->held_length))
		return false;
	conversion->held_length = 0;
	if (conversion->spilled == 0)
		return true;
	if (fflush(conversion->spill) != 0 ||
	    fseek(conversion->spill, 0, SEEK_SET) != 0)
		return false;
	while (conversion->spilled > 0) {
		size_t chunk = conversion->spilled < kHoldSize
		                   ? static_cast<size_t>(conversion->spilled)
		                   : kHoldSize;
		if (fread(conversion->held, 1, chunk, conversion->spill) != chunk ||
		    !WriteBytes(out, conversion->held, chunk))
			return false;
		conversion->spilled -= chunk;
	}
	return DropHeld(conversion);
}

// A line longer than the buffer, as it goes out piece by piece.
struct LongLine {
	LineKind kind;	// by the line's first byte
	bool started;	// the prefix, if any, is out
};

// Text that is certainly part of the line: whatever white space was held
// before it goes first.
static bool WriteText(FILE *out, Conversion *conversion, LongLine *line,
                      char *text, size_t length)
{
	if (!line->started) {
		line->started = true;
		if (line->kind == kEntry &&
		    !WriteBytes(out, kEntryPrefix, kEntryPrefixLength))
			return false;
	}
	if (!WriteHeld(out, conversion))
		return false;
	if (line->kind != kKeptLine)
		ReplaceBackSlashes(text, length);
	return WriteBytes(out, text, length);
}

// A line whose first piece fills the buffer with text: it comes out whole
// and rewritten once, and loses white space only at its real end.
static ConvertResult WriteLongLine(FILE *in, FILE *out, Conversion *conversion)
{
	LongLine line = {KindOf(conversion->text[0]), false};

	for (;;) {
		char *text = conversion->text;
		size_t length = strlen(text);
		bool ends_at_zero = length < conversion->stored;

		if (ends_at_zero || !conversion->cut) {
			// The text ends in this piece: at a zero byte, which
			// keeps all before it, or at the line's end, where
			// ReadLine trimmed it.
			if ((ends_at_zero || length > 0) &&
			    !WriteText(out, conversion, &line, text, length))
				return kWriteFailed;
			if (!DropHeld(conversion))
				return kWriteFailed;
			if (!SkipRestOfLine(in, conversion))
				return kReadFailed;
			return WriteBytes(out, "\n", 1) ? kConverted : kWriteFailed;
		}
		size_t body = TrimmedLength(text, length);
		if (body > 0 && !WriteText(out, conversion, &line, text, body))
			return kWriteFailed;
		if (!HoldWhiteSpace(conversion, text + body, length - body))
			return kWriteFailed;
		if (!ReadPiece(in, conversion))
			return kReadFailed;
	}
}

// A line whose text fits the buffer, rewritten, then a line feed, in one
// write; past a zero byte the rest of its physical line is skipped.
static ConvertResult WriteShortLine(FILE *in, FILE *out, Conversion *conversion,
                                    size_t length)
{
	char *text = conversion->text;

	length = RewriteText(text, length);
	text[length] = '\n';
	if (!WriteBytes(out, text, length + 1))
		return kWriteFailed;
	return SkipRestOfLine(in, conversion) ? kConverted : kReadFailed;
}

static ConvertResult WriteLines(FILE *in, FILE *out, Conversion *conversion)
{
	if (conversion->utf8_mark &&
	    !WriteBytes(out, kUtf8Mark, kUtf8MarkLength))
		return kWriteFailed;
	for (;;) {
		size_t length = strlen(conversion->text);
		ConvertResult result =
		    conversion->cut && length == conversion->stored
		        ? WriteLongLine(in, out, conversion)
		        : WriteShortLine(in, out, conversion, length);
		if (result != kConverted || !conversion->more)
			return result;
		if (!ReadPiece(in, conversion))
			return kReadFailed;
	}
}

ConvertResult StartConversion(FILE *in, Conversion *conversion)
{
	conversion->held_length = 0;
	conversion->spilled = 0;
	conversion->spill = nullptr;
	conversion->head_used = 0;
	conversion->head_length = fread(conversion->head, 1, kHeadSize, in);
	if (ferror(in))
		return kReadFailed;
	ConvertResult wide = WideText(conversion->head, conversion->head_length);
	if (wide != kConverted)
		return wide;
	if (!ReadPiece(in, conversion))
		return kReadFailed;
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
	ConvertResult result = WriteLines(in, out, conversion);

	// Scratch space, read back already: its close loses nothing.
	if (conversion->spill != nullptr)
		(void)fclose(conversion->spill);
	conversion->spill = nullptr;
	if (result != kConverted)
		return result;
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
