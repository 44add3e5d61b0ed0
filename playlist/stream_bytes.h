// Bytes to and from a stream, as cheaply as the C library allows: reading
// runs once per byte of the playlist, writing once per line.
#ifndef TANDREL_PLAYLIST_STREAM_BYTES_H
#define TANDREL_PLAYLIST_STREAM_BYTES_H

#include <cstdio>

#if defined(_WIN32)
#define ReadByte(stream) getc(stream)
#define WriteBlock(bytes, count, stream) fwrite((bytes), 1, (count), (stream))
#else
// One thread owns each stream: no need to lock it for every byte.
#define ReadByte(stream) getc_unlocked(stream)
#define WriteBlock(bytes, count, stream) \
	fwrite_unlocked((bytes), 1, (count), (stream))
#endif

#endif
