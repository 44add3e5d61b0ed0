// Reading a playlist line by line and rewriting its entries for UNIX players.
#ifndef TANDREL_PLAYLIST_LINES_H
#define TANDREL_PLAYLIST_LINES_H

#include <cstddef>
#include <cstdio>

// Size of a line buffer. ReadLine is given one byte less than that minus
// three, so that an entry with the "./" prefix still fits with its zero.
constexpr size_t kLineSize = 4096;
constexpr size_t kLineCapacity = 4092;

// Reads the next line of stream into line: at most capacity - 1 bytes, then
// a zero. The line feed is consumed and not stored; trailing white space is
// removed. Returns false when reading stopped at end of file or on a read
// error, true when it stopped at a line feed or at the capacity bound.
//
// At the bound the byte just read is given back to the stream, so nothing
// is lost: *cut (when given) is then true and the caller knows the same
// line goes on, and trailing white space is left, since the line's real end
// is further on. *stored (when given) gets the number of bytes kept, zero
// bytes included. Capacity must be at least 2 for reading to advance.
bool ReadLine(FILE *stream, char *line, size_t capacity, bool *cut = nullptr,
              size_t *stored = nullptr);

// Makes an entry line followable by a UNIX player: "./" in front unless it
// begins with a dot, every back-slash turned into a slash. Comment lines
// ("#...") and the empty line stay as they are. line must hold kLineSize
// bytes and at most kLineCapacity - 1 characters.
void RewriteLine(char *line);

// Stores to at every byte of text that equals from.
void ReplaceChar(char *text, char from, char to);

// White space as the line reader trims it; no byte of 0x80 or above is.
bool IsWhiteSpace(char byte);

#endif
