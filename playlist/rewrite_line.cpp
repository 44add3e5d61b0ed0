#include "playlist/lines.h"

#include <cstring>

// Stores every byte, changed or not: without a branch per byte the
// compiler turns the loop into vector instructions.
static void ReplaceBytes(char *text, size_t length, char from, char to)
{
	for (size_t i = 0; i < length; i++)
		text[i] = text[i] == from ? to : text[i];
}

void ReplaceChar(char *text, char from, char to)
{
	ReplaceBytes(text, strlen(text), from, to);
}

void ReplaceBackSlashes(char *text, size_t length)
{
	ReplaceBytes(text, length, '\\', '/');
}

LineKind KindOf(char first)
{
	if (first == '#' || first == '\0')
		return kKeptLine;
	return first == '.' ? kDotEntry : kEntry;
}

size_t RewriteText(char *line, size_t length)
{
	LineKind kind = KindOf(line[0]);

	if (kind == kKeptLine)
		return length;
	if (kind == kEntry) {
		memmove(line + kEntryPrefixLength, line, length + 1);
		memcpy(line, kEntryPrefix, kEntryPrefixLength);
		length += kEntryPrefixLength;
	}
	ReplaceBackSlashes(line, length);
	return length;
}

void RewriteLine(char *line)
{
	(void)RewriteText(line, strlen(line));
}
