#include "playlist/scratch.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>

static const char *near_folder;

void SetScratchFolder(const char *folder)
{
	near_folder = folder;
}

// A scratch file in folder (with its separator), which Windows removes
// when it is closed, whatever ends the run; or nullptr.
static FILE *OpenScratchIn(const wchar_t *folder)
{
	static wchar_t name[32768 + 64];
	HANDLE handle = INVALID_HANDLE_VALUE;

	for (unsigned attempt = GetTickCount(); handle == INVALID_HANDLE_VALUE; attempt++) {
		if (swprintf(name, sizeof name / sizeof name[0], L"%lstandrel-%lu-%u.tmp", folder,
		             GetCurrentProcessId(), attempt) < 0)
			return nullptr;
		handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
		                     FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN |
		                         FILE_FLAG_DELETE_ON_CLOSE,
		                     nullptr);
		if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
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

FILE *OpenScratchFile(int *place)
{
	static wchar_t folder[32768 + 8];

	while (*place < 2) {
		const int at = (*place)++;
		DWORD length = 0;
		if (at == 0)
			length = GetTempPathW(sizeof folder / sizeof folder[0], folder);
		else if (near_folder != nullptr &&
		         MultiByteToWideChar(CP_UTF8, 0, near_folder, -1, folder + 4,
		                             sizeof folder / sizeof folder[0] - 4) > 0)
			length = static_cast<DWORD>(wcslen(wmemcpy(folder, L"\\\\?\\", 4)));
		FILE *stream = length > 0 ? OpenScratchIn(folder) : nullptr;
		if (stream != nullptr)
			return stream;
	}
	return nullptr;
}
