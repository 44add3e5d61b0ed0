#include "playlist/lines.h"

#include <cstring>

void ReplaceChar(char *text, char from, char to)
{
	for (; *text != '\0'; text++) {
		if (*text == from)
			*text = to;
	}
}

void RewriteLine(char *line)
{
	if (line[0] == '#' || line[0] == '\0')
		return;
	if (line[0] != '.') {
		memmove(line + 2, line, strlen(line) + 1);
		line[0] = '.';
		line[1] = '/';
	}
	ReplaceChar(line, '\\', '/');
}
