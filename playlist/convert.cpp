#include "playlist/convert.h"

#include <cstring>

#include "playlist/scratch.h"
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

// Among the 2-byte units of count bytes, those whose byte at zero alone is
// zero outnumber those whose other byte alone is, and there are two of them
// or one is a line feed.
static bool LeansToZeroAt(const unsigned char *bytes, size_t count, size_t zero)
{
	const size_t other = 1 - zero;
	size_t leaning = 0, against = 0;
	bool line_feed = false;

	for (size_t at = 0; at + 1 < count; at += 2) {
		const unsigned char *unit = bytes + at;
		if (unit[zero] == 0 && unit[other] != 0) {
			leaning++;
			line_feed = line_feed || unit[other] == '\n';
		}
		against += unit[other] == 0 && unit[zero] != 0;
	}
	return leaning > against && (leaning >= 2 || line_feed);
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
	    LeansToZeroAt(bytes, count, 1) || LeansToZeroAt(bytes, count, 0))
		return kInputIsUtf16;
	return kConverted;
}

static bool WriteBytes(FILE *out, const char *bytes, size_t count)
{
	return count == 0 || WriteBlock(bytes, count, out) == count;
}

// The next piece of a line into the buffer. A read error stops reading as
// the end of the input does, and so does a 0x1A followed by text: told
// apart here. Past the head, and where 0x1A is data, the plain reader is
// the quicker.
static bool ReadPiece(Conversion *conversion)
{
	LineSource *source = &conversion->source;

	if (source->used < source->length || source->end_mark)
		conversion->more = ReadLineFrom(source, conversion->buffer, kLineCapacity,
		                                &conversion->cut, &conversion->stored);
	else
		conversion->more = ReadLine(source->stream, conversion->buffer, kLineCapacity,
		                            &conversion->cut, &conversion->stored);
	conversion->text = conversion->buffer;
	return (conversion->more || !ferror(source->stream)) && !source->marked;
}

// Why ReadPiece failed.
static ConvertResult ReadFailure(const Conversion *conversion)
{
	return conversion->source.marked ? kInputEndMark : kReadFailed;
}

// The rest of a physical line whose text ended at a zero byte.
static bool SkipRestOfLine(Conversion *conversion)
{
	while (conversion->cut) {
		if (!ReadPiece(conversion))
			return false;
	}
	return true;
}

// Moves what the scratch file holds to a new one at the next place that
// takes it, or opens the first: a full or unusable $TMPDIR is no reason to
// fail while another place has room. Unbuffered, a scratch file says at
// once how much of a write it took.
static bool MoveSpill(Conversion *conversion)
{
	FILE *old = conversion->spill;

	if (old != nullptr && fseek(old, 0, SEEK_SET) != 0)
		return false;
	for (;;) {
		FILE *next = OpenScratchFile(&conversion->spill_place);
		if (next == nullptr)
			return false;
		(void)setvbuf(next, nullptr, _IONBF, 0);
		bool taken = true;
		for (unsigned long long left = conversion->spilled; taken && left > 0;) {
			char chunk[4096];
			size_t size = left < sizeof chunk ? static_cast<size_t>(left) : sizeof chunk;
			if (fread(chunk, 1, size, old) != size) {
				(void)fclose(next);
				return false;
			}
			taken = WriteBytes(next, chunk, size) && !ferror(next);
			left -= size;
		}
		if (!taken) {
			(void)fclose(next);
			if (fseek(old, 0, SEEK_SET) != 0)
				return false;
			continue;
		}
		if (old != nullptr)
			(void)fclose(old);
		conversion->spill = next;
		return true;
	}
}

// Adds length bytes of white space to the scratch file. A failed write may
// have left part of them there: the next place takes what was held before
// it, then all of them.
static bool Spill(Conversion *conversion, const char *text, size_t length)
{
	if (conversion->spill == nullptr && !MoveSpill(conversion))
		return false;
	while (WriteBlock(text, length, conversion->spill) != length || ferror(conversion->spill)) {
		if (!MoveSpill(conversion))
			return false;
	}
	conversion->spilled += length;
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
	return Spill(conversion, text + room, length - room);
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
static ConvertResult WriteLongLine(FILE *out, Conversion *conversion)
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
			if (!SkipRestOfLine(conversion))
				return ReadFailure(conversion);
			return WriteBytes(out, "\n", 1) ? kConverted : kWriteFailed;
		}
		size_t body = TrimmedLength(text, length);
		if (body > 0 && !WriteText(out, conversion, &line, text, body))
			return kWriteFailed;
		if (!HoldWhiteSpace(conversion, text + body, length - body))
			return kWriteFailed;
		if (!ReadPiece(conversion))
			return ReadFailure(conversion);
	}
}

// A line whose text fits the buffer, rewritten, then a line feed, in one
// write; past a zero byte the rest of its physical line is skipped.
static ConvertResult WriteShortLine(FILE *out, Conversion *conversion, size_t length)
{
	char *text = conversion->text;

	length = RewriteText(text, length);
	text[length] = '\n';
	if (!WriteBytes(out, text, length + 1))
		return kWriteFailed;
	return SkipRestOfLine(conversion) ? kConverted : ReadFailure(conversion);
}

static ConvertResult WriteLines(FILE *out, Conversion *conversion)
{
	if (conversion->utf8_mark &&
	    !WriteBytes(out, kUtf8Mark, kUtf8MarkLength))
		return kWriteFailed;
	for (;;) {
		size_t length = strlen(conversion->text);
		ConvertResult result =
		    conversion->cut && length == conversion->stored
		        ? WriteLongLine(out, conversion)
		        : WriteShortLine(out, conversion, length);
		if (result != kConverted || !conversion->more)
			return result;
		if (!ReadPiece(conversion))
			return ReadFailure(conversion);
	}
}

ConvertResult StartConversion(FILE *in, Conversion *conversion, bool end_mark)
{
	conversion->held_length = 0;
	conversion->spilled = 0;
	conversion->spill = nullptr;
	conversion->spill_place = 0;
	const size_t length = fread(conversion->head, 1, kHeadSize, in);
	conversion->source = {conversion->head, 0, length, in, end_mark, false, false};
	if (ferror(in))
		return kReadFailed;
	ConvertResult wide = WideText(conversion->head, length);
	if (wide != kConverted)
		return wide;
	if (!ReadPiece(conversion))
		return ReadFailure(conversion);
	conversion->utf8_mark =
	    strncmp(conversion->buffer, kUtf8Mark, kUtf8MarkLength) == 0;
	if (conversion->utf8_mark) {
		conversion->text += kUtf8MarkLength;
		conversion->stored -= kUtf8MarkLength;
	}
	return kConverted;
}

ConvertResult FinishConversion(FILE *out, Conversion *conversion)
{
	ConvertResult result = WriteLines(out, conversion);

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

ConvertResult ConvertPlaylist(FILE *in, FILE *out, bool end_mark)
{
	Conversion conversion;
	ConvertResult result = StartConversion(in, &conversion, end_mark);

	if (result != kConverted)
		return result;
	return FinishConversion(out, &conversion);
}
