// Locks, moves and removal on Windows. A file the run opened is moved and
// removed through its own handle (SetFileInformationByHandle), never by a
// name looked up again.
#include "frontend/files_windows.h"

#include <cerrno>
#include <cstring>
#include <cwchar>

// A named mutex stands for a folder's lock: Windows cannot lock a folder.
// It is one per folder identity, in the logon session, and Windows gives it
// up when the process that holds it ends.
LockResult LockFolder(Folder *folder, int seconds)
{
	FileStatus status;
	char name[64];

	if (!StatFolder(folder, &status))
		return kLockUnavailable;
	(void)snprintf(name, sizeof name, "Local\\tandrel-%llx-%llx", status.volume, status.index);
	HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
	if (mutex == nullptr)
		return kLockUnavailable;
	DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(seconds) * 1000);
	if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
		folder->lock = mutex;
		return kLockHeld;
	}
	CloseHandle(mutex);
	return kLockBusy;
}

void UnlockFolder(Folder *folder)
{
	if (folder->lock == nullptr)
		return;
	ReleaseMutex(folder->lock);
	CloseHandle(folder->lock);
	folder->lock = nullptr;
}

NameState LookAt(const Folder *folder, const char *leaf, const FileStatus *file)
{
	static wchar_t path[kWideSize];
	FileStatus found;

	if (!PathIn(folder, leaf, path))
		return kNameUnknown;
	HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
	                            nullptr, OPEN_EXISTING,
	                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (handle == INVALID_HANDLE_VALUE) {
		const DWORD error = GetLastError();
		if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
			return kNameFree;
		errno = ErrnoOf(error);
		// A file another program holds unshared is somebody's.
		return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? kNameTaken
		                                                                        : kNameUnknown;
	}
	NameState state = kNameTaken;
	if (!StatusOfHandle(handle, &found))
		state = kNameUnknown;
	else if (file != nullptr && SameFile(&found, file))
		state = kNameIsFile;
	else if (!LockFarByte(handle, false))
		state = kNameHeld;
	CloseHandle(handle);
	return state;
}

HANDLE OpenAgain(HANDLE handle, const Folder *folder, const char *leaf, DWORD access)
{
	static wchar_t path[kWideSize];
	FileStatus mine, found;

	if (!PathIn(folder, leaf, path) || !StatusOfHandle(handle, &mine))
		return INVALID_HANDLE_VALUE;
	HANDLE again = OpenPath(path, access | SYNCHRONIZE,
	                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
	                        FILE_FLAG_OPEN_REPARSE_POINT);
	if (again == INVALID_HANDLE_VALUE) {
		SetErrno();
		return INVALID_HANDLE_VALUE;
	}
	if (StatusOfHandle(again, &found) && SameFile(&found, &mine))
		return again;
	CloseHandle(again);
	errno = kNotThatFile;
	return INVALID_HANDLE_VALUE;
}

int RenameHandle(HANDLE handle, const wchar_t *target, bool replace)
{
	static unsigned char buffer[sizeof(FILE_RENAME_INFO) + kWideSize * sizeof(wchar_t)];
	FILE_RENAME_INFO *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer);
	const size_t length = wcslen(target);

	memset(buffer, 0, sizeof(FILE_RENAME_INFO));
	info->ReplaceIfExists = replace;
	info->RootDirectory = nullptr;
	info->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
	memcpy(info->FileName, target, (length + 1) * sizeof(wchar_t));
	int tries = 0;
	while (SetFileInformationByHandle(handle, FileRenameInfo, info,
	                                  static_cast<DWORD>(sizeof(FILE_RENAME_INFO) +
	                                                     length * sizeof(wchar_t))) == 0) {
		if (!TryAgain(GetLastError(), &tries))
			return ErrnoOf(GetLastError());
	}
	return 0;
}

// Moves the file open as stream, which has the name from_leaf in from,
// through a handle opened for it, which must be that very file: so that
// Windows weighs what every other program holding the file lets others do.
// The playlist is read with every sharing, so that players go on, and asks
// for moving only now.
static int Move(FILE *stream, const Folder *from, const char *from_leaf, const Folder *to,
                const char *to_leaf, bool replace)
{
	static wchar_t target[kWideSize];

	if (!PathIn(to, to_leaf, target))
		return errno;
	HANDLE handle = OpenAgain(HandleOf(stream), from, from_leaf, DELETE);
	if (handle == INVALID_HANDLE_VALUE)
		return errno;
	int error = RenameHandle(handle, target, replace);
	CloseHandle(handle);
	return error;
}

int MoveOpenFile(FILE *stream, const FileStatus *, const Folder *from, const char *from_leaf,
                 const Folder *to, const char *to_leaf, bool, bool)
{
	return Move(stream, from, from_leaf, to, to_leaf, false);
}

int ReplaceWithOpenFile(FILE *stream, const FileStatus *, const Folder *from, const char *from_leaf,
                        const Folder *to, const char *to_leaf, const FileStatus *replaced)
{
	// Replaced only while the name is still that file; a rename checks no
	// identity.
	if (LookAt(to, to_leaf, replaced) != kNameIsFile)
		return kNotThatFile;
	return Move(stream, from, from_leaf, to, to_leaf, true);
}

// The removal that frees the name at once, of Windows 10 from 1607 on,
// and its flag for a read-only file, from 1809 on: the headers name them
// only for builds of those versions.
static const FILE_INFO_BY_HANDLE_CLASS kDispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
static const DWORD kIgnoreReadOnly = 0x10;

int RemoveHandle(HANDLE handle, const Folder *folder)
{
	FILE_BASIC_INFO basic = {};
	FILE_DISPOSITION_INFO_EX now = {FILE_DISPOSITION_FLAG_DELETE |
	                                FILE_DISPOSITION_FLAG_POSIX_SEMANTICS | kIgnoreReadOnly};
	FILE_DISPOSITION_INFO later = {TRUE};

	if (SetFileInformationByHandle(handle, kDispositionEx, &now, sizeof now) != 0)
		return 0;
	// Older Windows, FAT and Wine remove a file only once it is closed:
	// under a hidden name of its own meanwhile, and without its read-only
	// attribute, which would keep it.
	static wchar_t aside[kWideSize];
	char leaf[64];
	int error = EEXIST;
	for (unsigned attempt = 0; error == EEXIST && attempt < 100; attempt++) {
		HiddenLeaf("old", GetCurrentProcessId(), attempt, leaf, sizeof leaf);
		error = PathIn(folder, leaf, aside) ? RenameHandle(handle, aside, false) : errno;
	}
	if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) != 0 &&
	    (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
		basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
		(void)SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
	}
	if (SetFileInformationByHandle(handle, FileDispositionInfo, &later, sizeof later) != 0)
		return error;
	return ErrnoOf(GetLastError());
}

int RemoveOpenFile(FILE *stream, const FileStatus *, const Folder *folder, const char *leaf)
{
	HANDLE handle = OpenAgain(HandleOf(stream), folder, leaf,
	                          DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
	if (handle == INVALID_HANDLE_VALUE)
		return errno;
	int error = RemoveHandle(handle, folder);
	CloseHandle(handle);
	return error;
}

void RemoveHiddenFile(FILE *stream, const Folder *folder, const char *leaf,
                      const FileStatus *status)
{
	static wchar_t path[kWideSize];

	if (leaf[0] == '\0')
		return;
	if (stream != nullptr) {
		(void)RemoveHandle(HandleOf(stream), folder);
		return;
	}
	// A console event closed the run's files: the name is looked at and,
	// while it is the new file, removed through a handle of its own.
	if (!PathIn(folder, leaf, path))
		return;
	HANDLE handle = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
	                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	FileStatus found;
	if (handle == INVALID_HANDLE_VALUE)
		return;
	if (StatusOfHandle(handle, &found) && SameFile(&found, status))
		(void)RemoveHandle(handle, folder);
	CloseHandle(handle);
}

bool DigestFile(FILE *stream, unsigned long long *digest)
{
	static unsigned char block[1 << 16];
	const HANDLE handle = HandleOf(stream);
	LARGE_INTEGER zero = {}, position;
	OVERLAPPED at = {};
	DWORD got = 0;
	BOOL read = TRUE;

	// Read from the start, then back where the stream's reads were.
	if (SetFilePointerEx(handle, zero, &position, FILE_CURRENT) == 0)
		return false;
	*digest = kDigestStart;
	for (unsigned long long offset = 0;
	     (read = ReadFile(handle, block, sizeof block, &got, &at)) != 0 && got > 0; offset += got) {
		*digest = Digest(*digest, block, got);
		at.Offset = static_cast<DWORD>(offset + got);
		at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
	}
	const bool ended = read != 0 || GetLastError() == ERROR_HANDLE_EOF;
	return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) != 0 && ended;
}
