// The line loop: a whole playlist from one open stream to another.
#ifndef TANDREL_PLAYLIST_CONVERT_H
#define TANDREL_PLAYLIST_CONVERT_H

#include <cstdio>

#include "playlist/lines.h"

// White space that may turn out trailing is held in memory up to this many
// bytes, and past them in a scratch file. A build for the tests may make it
// tiny.
#ifndef TANDREL_HOLD_SIZE
#define TANDREL_HOLD_SIZE 16384
#endif
constexpr size_t kHoldSize = TANDREL_HOLD_SIZE;

// How many of the input's first bytes decide whether it is wide text.
constexpr size_t kHeadSize = 256;

enum ConvertResult {
	kConverted,
	kInputIsUtf16,	// refused before anything was written
	kInputIsUtf32,	// likewise
	kInputEndMark,	// a 0x1A with text after it, where it ends the input
	kReadFailed,
	kWriteFailed,	// the output, or the scratch file
};

// A conversion under way. Its first line is read before the output is
// opened, so that an input refused for what it is leaves the output alone.
struct Conversion {
	char head[kHeadSize];	// the first bytes, read ahead
	LineSource source;	// the head, then the stream
	char *text;	// the piece of a line in buffer, past a UTF-8 mark
	size_t stored;	// bytes of it, zero bytes included
	bool cut;	// the line goes on past the buffer
	bool more;
	bool utf8_mark;
	char held[kHoldSize];	// white space that may be trailing
	size_t held_length;
	unsigned long long spilled;	// more of it, in spill
	FILE *spill;	// a scratch file, opened when first needed
	int spill_place;	// the next place for one (OpenScratchFile)
	// Last, so that a write past its end leaves the object, where
	// AddressSanitizer sees it.
	char buffer[kLineSize];
};

// Reads the first bytes of in, and its first line; refuses a UTF-16 or
// UTF-32 playlist, with or without its byte-order mark, and a stream that
// cannot be read. Writes nothing. Wide text is told by the first kHeadSize
// bytes (all of a shorter input). UTF-32: the mark FF FE 00 00 or 00 00 FE
// FF, or, without one, more than half of its 4-byte units (at least one)
// end with two zero bytes, or more than half begin with two. Otherwise
// UTF-16: the mark FF FE or FE FF; or, without one, among its 2-byte units
// those with a zero second byte alone (ASCII in UTF-16LE) outnumber those
// with a zero first byte alone, and there are two of them or one is the
// line feed 0A 00; or the same the other way round (UTF-16BE, 00 0A).
// Text in any script has line ends, digits, dots or back-slashes, which
// UTF-16 writes with a zero byte on one side; single-byte text has none,
// or a stray one. end_mark: a 0x1A ends the input (see LineSource).
ConvertResult StartConversion(FILE *in, Conversion *conversion, bool end_mark = false);

// Writes the first line and converts the rest of the input to out, one line of
// output for every line read, however long. A UTF-8 byte-order mark stays
// in front of the first line, which is rewritten as if it were not there.
// out is flushed but not closed.
ConvertResult FinishConversion(FILE *out, Conversion *conversion);

// Both steps at once.
ConvertResult ConvertPlaylist(FILE *in, FILE *out, bool end_mark = false);

#endif
