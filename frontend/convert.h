// The line loop: a whole playlist from one open stream to another.
#ifndef TANDREL_FRONTEND_CONVERT_H
#define TANDREL_FRONTEND_CONVERT_H

#include <cstdio>

#include "playlist/lines.h"

enum ConvertResult {
	kConverted,
	kInputIsUtf16,	// refused before anything was written
	kReadFailed,
	kWriteFailed,
};

// A conversion under way. Its first line is read before the output is
// opened, so that an input refused for what it is leaves the output alone.
struct Conversion {
	char buffer[kLineSize];
	char *text;	// the line in buffer, past a UTF-8 byte-order mark
	size_t stored;
	bool cut;
	bool more;
	bool utf8_mark;
};

// Reads the first line of in; refuses a UTF-16 playlist and a stream that
// cannot be read. Writes nothing.
ConvertResult StartConversion(FILE *in, Conversion *conversion);

// Writes the first line and converts the rest of in to out, one line of
// output for every line read. A UTF-8 byte-order mark stays in front of
// the first line, which is rewritten as if it were not there. out is
// flushed but not closed.
ConvertResult FinishConversion(FILE *in, FILE *out, Conversion *conversion);

// Both steps at once.
ConvertResult ConvertPlaylist(FILE *in, FILE *out);

#endif
