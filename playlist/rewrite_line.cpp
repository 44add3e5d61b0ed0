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

void RewriteLine(char *line)
{
	if (line[0] == '#' || line[0] == '\0')
		return;
	size_t length = strlen(line);
	if (line[0] != '.') {
		memmove(line + 2, line, length + 1);
		line[0] = '.';
		line[1] = '/';
		length += 2;
	}
	ReplaceBytes(line, length, '\\', '/');
}
