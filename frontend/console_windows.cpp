// The command line and standard output on Windows. The command line is
// taken as UTF-16 and given to the run in UTF-8: the ANSI arguments would
// put look-alike letters for those outside the code page, and name
// another file. A console shows every name as UTF-16; standard output
// redirected gets the ANSI code page, a character outside it as "?".
#include "frontend/files_windows.h"

#include <shellapi.h>

#include <cstring>

// The program's name and the first names given: a run takes two at most,
// and a third only says there are more.
static char arguments[4][kNameSize];
static char *pointers[5];

void TakeArguments(int *argc, char ***argv)
{
	int count = 0;
	wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);

	if (wide == nullptr)
		return;
	size_t kept = 0;
	for (; kept < 4 && kept < static_cast<size_t>(count); kept++) {
		if (!Narrow(wide[kept], arguments[kept], kNameSize))
			arguments[kept][0] = '\0';
		pointers[kept] = arguments[kept];
	}
	pointers[kept] = nullptr;
	*argc = static_cast<int>(kept);
	*argv = pointers;
	LocalFree(wide);
}

void WriteOut(const char *text)
{
	static wchar_t wide[2 * kNameSize];
	static char ansi[6 * kNameSize];
	HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
	DWORD mode, written;
	const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 2 * kNameSize);

	if (length <= 0)
		return;
	if (GetConsoleMode(out, &mode) != 0) {
		(void)WriteConsoleW(out, wide, static_cast<DWORD>(length - 1), &written, nullptr);
		return;
	}
	if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, sizeof ansi, "?",
	                        nullptr) > 0)
		(void)fputs(ansi, stdout);
	(void)fflush(stdout);
}

bool EndMarkEndsText()
{
	return true;
}
