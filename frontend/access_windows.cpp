// The new file on Windows: always under a hidden name unique to the run,
// shared for reading and for the run's own moves, locked, and hidden; it
// takes the playlist's attributes once named. A run that takes it for a
// leftover finds it locked.
// Windows has no owners or permission bits to keep: the new playlist takes
// the folder's access rules, as Windows users expect.
#include "frontend/files_windows.h"

#include <fcntl.h>

#include <cerrno>
#include <cwchar>

FILE *CreateAnonymousFile(const Folder *, unsigned long, FileStatus *)
{
	errno = EOPNOTSUPP;
	return nullptr;
}

int NameAnonymousFile(FILE *, const Folder *, const char *)
{
	return EOPNOTSUPP;
}

FILE *CreateHiddenFile(const Folder *folder, unsigned long, char *leaf, size_t size,
                       FileStatus *status)
{
	static wchar_t path[kWideSize];
	HANDLE handle = INVALID_HANDLE_VALUE;
	char name[64];

	// The name and the file are recorded together, so that a console
	// event removes what this run made and nothing else.
	BlockSignals();
	for (unsigned attempt = GetTickCount() % 1000000; handle == INVALID_HANDLE_VALUE;
	     attempt++) {
		HiddenLeaf("new", GetCurrentProcessId(), attempt, name, sizeof name);
		if (!PathIn(folder, name, path))
			break;
		handle = OpenPath(path, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
		                  FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
		if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
			break;
	}
	if (handle == INVALID_HANDLE_VALUE) {
		SetErrno();
		UnblockSignals();
		return nullptr;
	}
	FILE *stream = nullptr;
	if (StatusOfHandle(handle, status) && LockFarByte(handle, true)) {
		(void)CopyName(leaf, name, size);
		stream = StreamOver(handle, _O_WRONLY | _O_TEXT, "wt");
		if (stream == nullptr)
			leaf[0] = '\0';
	}
	if (stream == nullptr) {
		(void)RemoveHandle(handle, folder);
		CloseHandle(handle);
		errno = EIO;
	}
	UnblockSignals();
	return stream;
}

void RemoveLeftovers(const Folder *folder)
{
	static wchar_t pattern[kWideSize], path[kWideSize];
	static char leaf[kNameSize];
	WIN32_FIND_DATAW found;

	if (!PathIn(folder, ".~tandrel-*.m3u", pattern))
		return;
	HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch,
	                                 nullptr, 0);
	if (search == INVALID_HANDLE_VALUE)
		return;
	do {
		if (!Narrow(found.cFileName, leaf, sizeof leaf) || !IsHiddenLeaf(leaf) ||
		    !PathIn(folder, leaf, path))
			continue;
		HANDLE handle = CreateFileW(path, GENERIC_READ | DELETE | FILE_READ_ATTRIBUTES |
		                                      FILE_WRITE_ATTRIBUTES,
		                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
		                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
		if (handle == INVALID_HANDLE_VALUE)
			continue;
		// A live run holds its new file locked from the moment it exists.
		if (LockFarByte(handle, true))
			(void)RemoveHandle(handle, folder);
		CloseHandle(handle);
	} while (FindNextFileW(search, &found) != 0);
	FindClose(search);
}

bool KeepAccess(FILE *, FILE *, const FileStatus *, bool *set_id_dropped)
{
	*set_id_dropped = false;
	return true;
}

void TakeAttributes(FILE *stream, unsigned long attributes)
{
	FILE_BASIC_INFO basic = {};

	basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
	(void)SetFileInformationByHandle(HandleOf(stream), FileBasicInfo, &basic, sizeof basic);
}

bool SyncFile(FILE *stream)
{
	return fflush(stream) == 0 && FlushFileBuffers(HandleOf(stream)) != 0;
}

bool CloseRunFile(FILE *stream)
{
	// Not while a console event closes the run's handles.
	BlockSignals();
	ForgetRunFile(HandleOf(stream));
	bool closed = fclose(stream) == 0;
	UnblockSignals();
	return closed;
}
