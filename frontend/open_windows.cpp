// Finding and opening files on Windows. Names are UTF-8 in the run and
// UTF-16 for the W calls, with the long-path prefix, as SQLite's os_win.c
// and libuv do: a name is the file it names, at any length. A file is
// opened through any link the system follows, and the folder and name it
// really has, as the folder lists it (its case, its long name), come from
// the open handle.
#include "frontend/files_windows.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

bool Widen(const char *text, wchar_t *wide, size_t size)
{
	const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide,
	                                       static_cast<int>(size));
	return length > 0;
}

bool Narrow(const wchar_t *wide, char *text, size_t size)
{
	return WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, static_cast<int>(size), nullptr,
	                           nullptr) > 0;
}

bool LongPath(const char *path, wchar_t *wide)
{
	static wchar_t typed[kWideSize], full[kWideSize];

	if (!Widen(path, typed, kWideSize)) {
		errno = ENAMETOOLONG;
		return false;
	}
	// Already in the long form: as it is.
	if (wcsncmp(typed, L"\\\\?\\", 4) == 0)
		return wcscpy(wide, typed), true;
	DWORD length = GetFullPathNameW(typed, kWideSize, full, nullptr);
	if (length == 0 || length >= kWideSize - 8) {
		errno = length == 0 ? ENOENT : ENAMETOOLONG;
		return false;
	}
	const bool share = wcsncmp(full, L"\\\\", 2) == 0;
	wcscpy(wide, share ? L"\\\\?\\UNC\\" : L"\\\\?\\");
	wcscat(wide, share ? full + 2 : full);
	return true;
}

bool PathIn(const Folder *folder, const char *leaf, wchar_t *wide)
{
	static char path[2 * kNameSize];

	if (static_cast<size_t>(snprintf(path, sizeof path, "%s%s", folder->path, leaf)) >= sizeof path) {
		errno = ENAMETOOLONG;
		return false;
	}
	return LongPath(path, wide);
}

int ErrnoOf(DWORD error)
{
	switch (error) {
	case ERROR_NOT_SAME_DEVICE:
		return EXDEV;
	case ERROR_ACCESS_DENIED:
		return EACCES;
	case ERROR_WRITE_PROTECT:
		return EROFS;
	case ERROR_SHARING_VIOLATION:
	case ERROR_LOCK_VIOLATION:
		return EBUSY;
	case ERROR_FILE_EXISTS:
	case ERROR_ALREADY_EXISTS:
		return EEXIST;
	case ERROR_FILE_NOT_FOUND:
	case ERROR_PATH_NOT_FOUND:
		return ENOENT;
	case ERROR_FILENAME_EXCED_RANGE:
		return ENAMETOOLONG;
	case ERROR_DIRECTORY:
		return ENOTDIR;
	case ERROR_DISK_FULL:
	case ERROR_HANDLE_DISK_FULL:
		return ENOSPC;
	case ERROR_INVALID_NAME:
	case ERROR_INVALID_PARAMETER:
		return EINVAL;
	case ERROR_NOT_SUPPORTED:
		return EOPNOTSUPP;
	default:
		return EIO;
	}
}

void SetErrno()
{
	errno = ErrnoOf(GetLastError());
}

bool TryAgain(DWORD error, int *tries)
{
	if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || *tries >= 10)
		return false;
	Sleep(static_cast<DWORD>(25 * ++*tries));
	return true;
}

HANDLE HandleOf(FILE *stream)
{
	return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

bool StatusOfHandle(HANDLE handle, FileStatus *status)
{
	BY_HANDLE_FILE_INFORMATION info;
	FILE_BASIC_INFO basic;

	if (GetFileInformationByHandle(handle, &info) == 0)
		return false;
	status->volume = info.dwVolumeSerialNumber;
	status->index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
	                info.nFileIndexLow;
	status->mode = 0;
	status->owner = 0;
	status->group = 0;
	status->links = info.nNumberOfLinks;
	status->attributes = info.dwFileAttributes &
	                     (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
	status->size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
	               info.nFileSizeLow;
	// In 100-nanosecond units, as nanoseconds.
	const auto nanoseconds = [](LARGE_INTEGER time) { return time.QuadPart * 100; };
	if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0)
		return false;
	status->modified = nanoseconds(basic.LastWriteTime);
	status->changed = nanoseconds(basic.ChangeTime);
	return true;
}

HANDLE OpenPath(const wchar_t *path, DWORD access, DWORD sharing, DWORD creation, DWORD flags)
{
	HANDLE handle;
	int tries = 0;

	do
		handle = CreateFileW(path, access, sharing, nullptr, creation, flags, nullptr);
	while (handle == INVALID_HANDLE_VALUE && TryAgain(GetLastError(), &tries));
	return handle;
}

static HANDLE run_files[4];

void RememberRunFile(HANDLE handle)
{
	for (HANDLE &slot : run_files) {
		if (slot == nullptr) {
			slot = handle;
			return;
		}
	}
}

void ForgetRunFile(HANDLE handle)
{
	for (HANDLE &slot : run_files) {
		if (slot == handle)
			slot = nullptr;
	}
}

// Called by the console event's handler alone, once the run waits.
void CloseRunFiles()
{
	for (HANDLE &slot : run_files) {
		if (slot != nullptr)
			CloseHandle(slot);
		slot = nullptr;
	}
}

FILE *StreamOver(HANDLE handle, int flags, const char *mode)
{
	int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
	if (descriptor == -1) {
		CloseHandle(handle);
		return nullptr;
	}
	FILE *stream = _fdopen(descriptor, mode);
	if (stream == nullptr) {
		_close(descriptor);
		return nullptr;
	}
	RememberRunFile(handle);
	return stream;
}

bool LockFarByte(HANDLE handle, bool exclusive)
{
	OVERLAPPED far_byte = {};

	far_byte.Offset = MAXDWORD - 1;
	far_byte.OffsetHigh = MAXLONG;
	const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
	return LockFileEx(handle, flags, 0, 1, 0, &far_byte) != 0 ||
	       GetLastError() != ERROR_LOCK_VIOLATION;
}

// The folder and name that the open handle's file has, past any link, as
// its folder lists it; where the system cannot say (Wine, past 260
// characters), typed, the full path of the name opened.
static bool RealName(HANDLE handle, const wchar_t *typed, Folder *folder, char *leaf)
{
	static wchar_t wide[kWideSize];
	static char path[kNameSize];
	DWORD length = GetFinalPathNameByHandleW(handle, wide, kWideSize, FILE_NAME_NORMALIZED);

	if (length == 0 || length >= kWideSize)
		wcscpy(wide, typed);
	// The run keeps paths without the long-path prefix: LongPath adds it.
	const wchar_t *plain = wide;
	if (wcsncmp(wide, L"\\\\?\\UNC\\", 8) == 0) {
		plain = wide + 6;
		wide[6] = L'\\';
	} else if (wcsncmp(wide, L"\\\\?\\", 4) == 0) {
		plain = wide + 4;
	}
	folder->descriptor = -1;
	folder->lock = nullptr;
	return Narrow(plain, path, sizeof path) && SplitPath(path, "\\", folder->path, leaf, kNameSize) &&
	       leaf[0] != '\0';
}

// Why a name could not be opened.
static OpenResult FailureOf(DWORD error)
{
	errno = ErrnoOf(error);
	if (error == ERROR_FILE_NOT_FOUND)
		return kMissing;
	return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? kHeldOpen
	                                                                         : kNotOpened;
}

static bool IsFolder(HANDLE handle)
{
	BY_HANDLE_FILE_INFORMATION info;

	return GetFileInformationByHandle(handle, &info) != 0 &&
	       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

OpenResult OpenPlaylist(const char *name, bool regular_only, bool lock, Folder *folder,
                        char *leaf, FILE **in, FileStatus *status, bool *locked)
{
	static wchar_t path[kWideSize];

	folder->descriptor = -1;
	folder->lock = nullptr;
	folder->path[0] = '\0';
	if (!LongPath(name, path))
		return kNotOpened;
	// Folders open too, to be told apart from files that are missing.
	HANDLE handle = OpenPath(path, GENERIC_READ,
	                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
	                         FILE_FLAG_BACKUP_SEMANTICS);
	if (handle == INVALID_HANDLE_VALUE)
		return FailureOf(GetLastError());
	const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
	OpenResult result = kOpened;
	if (disk && IsFolder(handle))
		errno = EISDIR, result = kNotFile;
	else if (!disk && regular_only)
		errno = EINVAL, result = kNotFile;
	else if (disk && (!RealName(handle, path, folder, leaf) || !StatusOfHandle(handle, status)))
		SetErrno(), result = kNotOpened;
	if (result != kOpened) {
		CloseHandle(handle);
		return result;
	}
	*locked = !lock || LockFarByte(handle, true);
	// Read as stored: the 0x1A that Windows' text mode would stop at is the
	// line loop's to judge.
	*in = StreamOver(handle, _O_RDONLY | _O_BINARY, "rb");
	return *in != nullptr ? kOpened : kNotOpened;
}

// The output is no file a new one may replace: opened for writing as it is.
static OpenResult OpenDevice(const wchar_t *path, FILE **held)
{
	HANDLE handle = OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
	                         OPEN_EXISTING, 0);

	if (handle == INVALID_HANDLE_VALUE)
		return FailureOf(GetLastError());
	*held = StreamOver(handle, _O_WRONLY | _O_TEXT, "wt");
	return *held != nullptr ? kOpened : kNotOpened;
}

OpenResult FindOutput(const char *name, FILE *in, Folder *folder, char *leaf,
                      FileStatus *status, OutputKind *kind, bool *busy, FILE **held)
{
	static wchar_t path[kWideSize];
	static char full[kNameSize];
	FileStatus input;

	folder->descriptor = -1;
	folder->lock = nullptr;
	*busy = false;
	*held = nullptr;
	if (!LongPath(name, path))
		return kNotOpened;
	// Held open for writing, locked, and shared for deleting, so that the
	// new file may replace it.
	HANDLE handle = OpenPath(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
	                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
	                         FILE_FLAG_BACKUP_SEMANTICS);
	if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
		*kind = kOutputNew;
		const wchar_t *plain = path + (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0 ? 6 : 4);
		if (!Narrow(plain, full, sizeof full) || !SplitPath(full, "\\", folder->path, leaf, kNameSize))
			return errno = ENAMETOOLONG, kNotOpened;
		if (plain != path + 4)
			folder->path[0] = '\\';
		return kOpened;
	}
	if (handle == INVALID_HANDLE_VALUE) {
		// A folder, which cannot be opened for writing.
		DWORD error = GetLastError();
		DWORD attributes = GetFileAttributesW(path);
		if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
			return errno = EISDIR, kNotFile;
		return FailureOf(error);
	}
	if (GetFileType(handle) != FILE_TYPE_DISK) {
		CloseHandle(handle);
		*kind = kOutputDevice;
		return OpenDevice(path, held);
	}
	*kind = kOutputFile;
	OpenResult result = kOpened;
	if (IsFolder(handle))
		errno = EISDIR, result = kNotFile;
	else if (!StatusOfHandle(handle, status) || !StatusOfHandle(HandleOf(in), &input) ||
	         !RealName(handle, path, folder, leaf))
		SetErrno(), result = kNotOpened;
	else if (SameFile(status, &input))
		errno = EEXIST, result = kNotOpened;
	else if (!LockFarByte(handle, true))
		*busy = true;
	if (result != kOpened || *busy) {
		CloseHandle(handle);
		return result;
	}
	*held = StreamOver(handle, _O_WRONLY | _O_BINARY, "wb");
	return *held != nullptr ? kOpened : kNotOpened;
}

bool OpenCurrentFolder(Folder *folder)
{
	static wchar_t wide[kWideSize];
	DWORD length = GetCurrentDirectoryW(kWideSize, wide);

	folder->descriptor = -1;
	folder->lock = nullptr;
	if (length == 0 || length >= kWideSize - 1 || !Narrow(wide, folder->path, kNameSize - 1)) {
		errno = ENAMETOOLONG;
		return false;
	}
	const char *plain = strncmp(folder->path, "\\\\?\\", 4) == 0 ? folder->path + 4 : folder->path;
	memmove(folder->path, plain, strlen(plain) + 1);
	const size_t end = strlen(folder->path);
	if (end > 0 && folder->path[end - 1] != '\\')
		strcat(folder->path, "\\");
	return true;
}

bool StatFolder(const Folder *folder, FileStatus *status)
{
	static wchar_t path[kWideSize];

	if (!PathIn(folder, ".", path))
		return false;
	HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
	                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (handle == INVALID_HANDLE_VALUE)
		return false;
	bool known = StatusOfHandle(handle, status);
	CloseHandle(handle);
	return known;
}

void CloseFolder(Folder *)
{
}

bool StatStream(FILE *stream, FileStatus *status)
{
	return StatusOfHandle(HandleOf(stream), status);
}

// Windows' folders have no sticky bit, and its files no permission bits.
bool MayRemoveFrom(const Folder *, const FileStatus *)
{
	return true;
}

bool MayLowerBits(const FileStatus *)
{
	return true;
}

bool SetFileMode(FILE *, unsigned long)
{
	return true;
}
