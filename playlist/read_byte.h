// One byte from a stream, as cheaply as the C library allows: the loop in
// ReadLine runs once per byte of the playlist.
#ifndef TANDREL_PLAYLIST_READ_BYTE_H
#define TANDREL_PLAYLIST_READ_BYTE_H

#include <cstdio>

#if defined(_WIN32)
#define ReadByte(stream) getc(stream)
#else
#define ReadByte(stream) getc_unlocked(stream)
#endif

#endif
