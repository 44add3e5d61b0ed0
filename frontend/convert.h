// The line loop: a whole playlist from one open stream to another.
#ifndef TANDREL_FRONTEND_CONVERT_H
#define TANDREL_FRONTEND_CONVERT_H

#include <cstdio>

enum ConvertResult {
	kConverted,
	kInputIsUtf16,	// refused before anything was written
	kReadFailed,
	kWriteFailed,
};

// Reads in line by line, rewrites each line and writes it to out, one line
// of output for every line read. A UTF-8 byte-order mark stays in front of
// the first line, which is rewritten as if it were not there. out is
// flushed but not closed.
ConvertResult ConvertPlaylist(FILE *in, FILE *out);

// The file name begins with a UTF-16 byte-order mark. Looks before the
// file is renamed or its output created; a file that cannot be read has
// no mark.
bool HasUtf16Mark(const char *name);

#endif
