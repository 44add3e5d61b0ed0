// Real streams holding chosen bytes, for the unit tests.
#ifndef TANDREL_TESTS_STREAM_UTIL_H
#define TANDREL_TESTS_STREAM_UTIL_H

#include <cstdio>
#include <string>

// A temporary file holding bytes, open for reading from its start.
inline FILE *StreamOf(const std::string &bytes)
{
	FILE *stream = tmpfile();
	if (stream == nullptr)
		return nullptr;
	fwrite(bytes.data(), 1, bytes.size(), stream);
	rewind(stream);
	return stream;
}

// Everything in stream from its start.
inline std::string ContentsOf(FILE *stream)
{
	std::string bytes;
	int c;

	fflush(stream);
	rewind(stream);
	while ((c = getc(stream)) != EOF)
		bytes += static_cast<char>(c);
	return bytes;
}

#endif
