// Reading a playlist line by line and rewriting its entries for UNIX players.
#ifndef TANDREL_PLAYLIST_LINES_H
#define TANDREL_PLAYLIST_LINES_H

#include <cstddef>
#include <cstdio>

// Size of a line buffer. A build for the tests may make it tiny, so that
// short inputs reach the paths of lines longer than the buffer.
#ifndef TANDREL_LINE_SIZE
#define TANDREL_LINE_SIZE 4096
#endif
constexpr size_t kLineSize = TANDREL_LINE_SIZE;

// The longest line read is kLineCapacity - 1 bytes. Rewriting puts "./" in
// front, and a zero, or the line feed written in its place, goes after it:
// kLineCapacity + 2 bytes, two short of the buffer's size.
constexpr size_t kLineCapacity = kLineSize - 4;
static_assert(kLineCapacity >= 8, "a line buffer holds a UTF-8 mark and more");

// Reads the next line of stream into line: at most capacity - 1 bytes, then
// a zero. The line feed is consumed and not stored; trailing white space is
// removed. Returns false when reading stopped at end of file or on a read
// error, true when it stopped at a line feed or at the capacity bound.
//
// At the bound the byte just read is given back to the stream, so nothing
// is lost: *cut (when given) is then true and the caller knows the same
// line goes on, and trailing white space is left, since the line's real end
// is further on. *stored (when given) gets the number of bytes kept, zero
// bytes included. A capacity below 2 leaves no room to advance: the call is
// refused, reads nothing, stores an empty line where it can, sets errno to
// EINVAL and returns false.
bool ReadLine(FILE *stream, char *line, size_t capacity, bool *cut = nullptr,
              size_t *stored = nullptr);

// Where the line loop's bytes come from: first the bytes of a head it read
// ahead to look at (used of length so far), then the stream. Where
// end_mark is set, as Windows' text mode has it, a byte 0x1A ends the
// input: a run of them up to the end is dropped, and one followed by
// anything else sets marked, for the caller to refuse the input.
struct LineSource {
	const char *head;
	size_t used;
	size_t length;
	FILE *stream;
	bool end_mark;
	bool marked;
	bool from_head;	// the last byte came from the head
};

constexpr char kEndMark = '\x1A';

// ReadLine, from source.
bool ReadLineFrom(LineSource *source, char *line, size_t capacity, bool *cut = nullptr,
                  size_t *stored = nullptr);

// Makes an entry line followable by a UNIX player: "./" in front unless it
// begins with a dot, every back-slash turned into a slash. Comment lines
// ("#...") and the empty line stay as they are. line must hold kLineSize
// bytes and at most kLineCapacity - 1 characters.
void RewriteLine(char *line);

// Stores to at every byte of text that equals from.
void ReplaceChar(char *text, char from, char to);

// The rules of a line, which lines of any length share.

// What a line's first byte makes of it.
enum LineKind {
	kKeptLine,	// a comment, or the empty line: as it is
	kDotEntry,	// an entry that begins with a dot: slashes only
	kEntry,	// any other entry: "./" in front, then slashes
};

constexpr char kEntryPrefix[] = "./";
constexpr size_t kEntryPrefixLength = 2;

LineKind KindOf(char first);

// Turns every back-slash of length bytes of an entry into a slash.
void ReplaceBackSlashes(char *text, size_t length);

// White space as the line reader trims it; no byte of 0x80 or above is.
bool IsWhiteSpace(char byte);

// The length of text once its trailing white space is gone.
size_t TrimmedLength(const char *text, size_t length);

// RewriteLine on a line of known length, followed by its zero and two
// bytes of room; returns the new length.
size_t RewriteText(char *line, size_t length);

#endif
