// Holds a file open as another program would, a player or a virus scanner:
//   hold FILE SHARING SECONDS
// SHARING holds r, w and d for letting others read, write and delete it.
// Says "held" once it holds the file, and lets it go after SECONDS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[])
{
	if (argc != 4)
		return 2;
	DWORD sharing = 0;
	for (const char *letter = argv[2]; *letter != '\0'; letter++)
		sharing |= *letter == 'r' ? FILE_SHARE_READ : *letter == 'w' ? FILE_SHARE_WRITE
		                                            : *letter == 'd' ? FILE_SHARE_DELETE : 0;
	HANDLE file = CreateFileA(argv[1], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return 1;
	printf("held\n");
	fflush(stdout);
	Sleep(static_cast<DWORD>(atoi(argv[3])) * 1000);
	CloseHandle(file);
	return 0;
}
