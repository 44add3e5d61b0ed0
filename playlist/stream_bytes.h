// Bytes to and from a stream, as cheaply as the C library allows: reading
// runs once per byte of the playlist, writing once per line.
#ifndef TANDREL_PLAYLIST_STREAM_BYTES_H
#define TANDREL_PLAYLIST_STREAM_BYTES_H

#include <cstdio>

// One thread owns each stream, so where the C library has calls that skip
// the stream's lock (the build looks for them) they are used.
inline int ReadByte(FILE *stream)
{
#if defined(TANDREL_HAVE_GETC_UNLOCKED)
	return getc_unlocked(stream);
#else
	return getc(stream);
#endif
}

inline size_t WriteBlock(const char *bytes, size_t count, FILE *stream)
{
#if defined(TANDREL_HAVE_FWRITE_UNLOCKED)
	return fwrite_unlocked(bytes, 1, count, stream);
#else
	return fwrite(bytes, 1, count, stream);
#endif
}

#endif
