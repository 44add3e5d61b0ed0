// The command line and standard output on POSIX systems: bytes as they are.
#include "frontend/platform.h"

void TakeArguments(int *, char ***)
{
}

void WriteOut(const char *text)
{
	// Standard output is all tandrel has to report on, and the exit status
	// still tells what happened when it fails.
	(void)fputs(text, stdout);
	(void)fflush(stdout);
}

bool EndMarkEndsText()
{
	return false;
}
