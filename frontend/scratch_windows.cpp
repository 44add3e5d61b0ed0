#include "frontend/scratch.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

FILE *OpenScratchFile()
{
	char folder[MAX_PATH + 1];
	char name[MAX_PATH];
	DWORD length = GetTempPathA(sizeof folder, folder);

	if (length == 0 || length > sizeof folder ||
	    GetTempFileNameA(folder, "tdl", 0, name) == 0)
		return nullptr;
	// Removed by Windows when closed, whatever ends the run.
	HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
	    CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
	if (handle == INVALID_HANDLE_VALUE) {
		(void)DeleteFileA(name);
		return nullptr;
	}
	int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
	if (descriptor == -1) {
		CloseHandle(handle);
		return nullptr;
	}
	FILE *stream = _fdopen(descriptor, "w+b");
	if (stream == nullptr)
		_close(descriptor);
	return stream;
}
