// Files on Windows. Windows has no *at calls: a folder is its path, and a
// file in it is named by that path and its leaf. A file the run opens is
// used through its handle from then on.
#include "frontend/handles_windows.h"
#include "frontend/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

static HANDLE HandleOf(FILE *stream)
{
	return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

static bool GetStatus(HANDLE handle, FileStatus *status)
{
	BY_HANDLE_FILE_INFORMATION info;

	if (GetFileInformationByHandle(handle, &info) == 0)
		return false;
	status->volume = info.dwVolumeSerialNumber;
	status->index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
	                info.nFileIndexLow;
	status->mode = 0;
	status->owner = 0;
	status->group = 0;
	status->read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
	status->size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
	               info.nFileSizeLow;
	// In 100-nanosecond units.
	status->modified = static_cast<long long>(
	    (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
	    info.ftLastWriteTime.dwLowDateTime);
	return true;
}

// The path of leaf in folder. False when it does not fit.
static bool PathOf(const Folder *folder, const char *leaf, char *path)
{
	// As in CopyName, a failure's -1 is no length that fits.
	return static_cast<size_t>(snprintf(path, kNameSize, "%s%s", folder->path, leaf)) <
	       kNameSize;
}

// What has the path, a link itself rather than what it points to, folders
// included.
static bool StatPath(const char *path, FileStatus *status)
{
	HANDLE handle = CreateFileA(path, 0,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING,
	    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

	if (handle == INVALID_HANDLE_VALUE)
		return false;
	bool known = GetStatus(handle, status);
	CloseHandle(handle);
	return known;
}

// A stream over a handle the run opened itself: msvcrt's own opening can
// neither create exclusively nor let the file be renamed while open.
static FILE *StreamOver(HANDLE handle, int flags, const char *mode)
{
	int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
	                                 flags | _O_TEXT);
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

// errno for what the last call's error means to a run.
static void SetErrno()
{
	switch (GetLastError()) {
	case ERROR_NOT_SAME_DEVICE:
		errno = EXDEV;
		break;
	case ERROR_ACCESS_DENIED:
	case ERROR_WRITE_PROTECT:
	case ERROR_SHARING_VIOLATION:
		errno = EACCES;
		break;
	case ERROR_FILE_EXISTS:
	case ERROR_ALREADY_EXISTS:
		errno = EEXIST;
		break;
	case ERROR_FILE_NOT_FOUND:
	case ERROR_PATH_NOT_FOUND:
		errno = ENOENT;
		break;
	default:
		errno = EIO;
		break;
	}
}

// Locks one byte that no playlist reaches: Windows enforces locks, and a
// player reading the playlist meanwhile must not be stopped by one. False
// only when another holds it; *taken tells whether this call holds it now.
static bool LockHandle(HANDLE handle, DWORD flags, bool *taken = nullptr)
{
	OVERLAPPED far_byte = {};

	far_byte.Offset = MAXDWORD - 1;
	far_byte.OffsetHigh = MAXLONG;
	bool locked = LockFileEx(handle, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &far_byte) != 0;
	if (taken != nullptr)
		*taken = locked;
	return locked || GetLastError() != ERROR_LOCK_VIOLATION;
}

// Links are rare on Windows, and renaming one renames the link: a name is
// taken as the system opens it.
OpenResult OpenPlaylist(const char *name, Folder *folder, char *leaf, FILE **in,
                        FileStatus *status, bool *locked)
{
	folder->descriptor = -1;
	if (!SplitPath(name, "\\/:", folder->path, leaf, kNameSize) || leaf[0] == '\0')
		return kNotOpened;
	HANDLE handle = CreateFileA(name, GENERIC_READ,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

	if (handle == INVALID_HANDLE_VALUE) {
		DWORD error = GetLastError();
		return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kMissing
		                                                                      : kNotOpened;
	}
	BY_HANDLE_FILE_INFORMATION info;
	if (GetFileType(handle) != FILE_TYPE_DISK || GetFileInformationByHandle(handle, &info) == 0 ||
	    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetStatus(handle, status)) {
		CloseHandle(handle);
		return kNotOpened;
	}
	*locked = LockHandle(handle, LOCKFILE_EXCLUSIVE_LOCK);
	*in = StreamOver(handle, _O_RDONLY, "rt");
	return *in != nullptr ? kOpened : kNotOpened;
}

bool OpenCurrentFolder(Folder *folder)
{
	folder->descriptor = -1;
	folder->path[0] = '\0';
	return true;
}

bool StatFolder(const Folder *folder, FileStatus *status)
{
	return StatPath(folder->path[0] != '\0' ? folder->path : ".", status);
}

void CloseFolder(Folder *)
{
}

// A named mutex stands for the folder's lock: Windows cannot lock a
// folder. It is one per folder identity, and Windows gives it up when the
// process that holds it ends.
static HANDLE folder_lock;

bool LockFolder(const Folder *folder, int seconds)
{
	FileStatus status;
	char name[64];

	if (!StatFolder(folder, &status))
		return true;
	(void)snprintf(name, sizeof name, "Local\\tandrel-%llx-%llx", status.volume, status.index);
	folder_lock = CreateMutexA(nullptr, FALSE, name);
	if (folder_lock == nullptr)
		return true;
	DWORD waited = WaitForSingleObject(folder_lock, static_cast<DWORD>(seconds) * 1000);
	if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
		return true;
	CloseHandle(folder_lock);
	folder_lock = nullptr;
	return false;
}

void UnlockFolder(const Folder *)
{
	if (folder_lock == nullptr)
		return;
	ReleaseMutex(folder_lock);
	CloseHandle(folder_lock);
	folder_lock = nullptr;
}

bool StatStream(FILE *stream, FileStatus *status)
{
	return GetStatus(HandleOf(stream), status);
}

int StatAt(const Folder *folder, const char *leaf, FileStatus *status)
{
	char path[kNameSize];

	if (!PathOf(folder, leaf, path))
		return ENAMETOOLONG;
	if (StatPath(path, status))
		return 0;
	SetErrno();
	return errno;
}

bool LockedByAnother(const Folder *folder, const char *leaf)
{
	char path[kNameSize];

	if (!PathOf(folder, leaf, path))
		return false;
	HANDLE handle = CreateFileA(path, GENERIC_READ,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

	if (handle == INVALID_HANDLE_VALUE)
		return false;
	bool locked = !LockHandle(handle, 0);
	CloseHandle(handle);
	return locked;
}

// Windows' folders have no sticky bit, and no bits to reach them by.
bool ReachableByAll(const Folder *)
{
	return true;
}

bool MayRemoveFrom(const Folder *, const FileStatus *)
{
	return true;
}

FILE *CreateAnonymousFile(const Folder *, FILE *, const FileStatus *, NewFile *)
{
	errno = EOPNOTSUPP;
	return nullptr;
}

void RemoveStaleFile(const Folder *folder, const char *leaf)
{
	char path[kNameSize];
	bool taken = false;

	if (!PathOf(folder, leaf, path))
		return;
	HANDLE handle = CreateFileA(path, GENERIC_READ,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (handle == INVALID_HANDLE_VALUE)
		return;
	// A live run holds its new file locked from the moment it exists.
	(void)LockHandle(handle, LOCKFILE_EXCLUSIVE_LOCK, &taken);
	CloseHandle(handle);
	if (taken)
		(void)RemoveAt(folder, leaf);
}

// A new file, which others may read once it is named but not write or
// delete; read-only where the original is, and otherwise with the folder's
// access rules, as Windows users expect.
FILE *CreateHiddenFile(const Folder *folder, const char *leaf, FILE *,
                       const FileStatus *original, NewFile *created)
{
	char path[kNameSize];

	if (!PathOf(folder, leaf, path)) {
		errno = ENAMETOOLONG;
		return nullptr;
	}
	BlockSignals();
	HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
	    nullptr, CREATE_NEW,
	    original->read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL, nullptr);
	if (handle == INVALID_HANDLE_VALUE)
		SetErrno();
	else if (GetStatus(handle, &created->status))
		(void)CopyName(created->hidden_leaf, leaf, sizeof created->hidden_leaf);
	UnblockSignals();
	if (handle == INVALID_HANDLE_VALUE)
		return nullptr;
	FILE *stream = nullptr;
	if (created->hidden_leaf[0] != '\0' && LockHandle(handle, LOCKFILE_EXCLUSIVE_LOCK))
		stream = StreamOver(handle, _O_WRONLY, "wt");
	else
		CloseHandle(handle);
	if (stream != nullptr)
		return stream;
	// Made a moment ago under a name no other file had.
	BlockSignals();
	(void)RemoveAt(folder, leaf);
	created->hidden_leaf[0] = '\0';
	UnblockSignals();
	errno = EIO;
	return nullptr;
}

bool SyncNewFile(FILE *stream, NewFile *)
{
	return fflush(stream) == 0 && FlushFileBuffers(HandleOf(stream)) != 0;
}

bool NameNewFile(FILE *, const NewFile *file, const Folder *folder, const char *leaf)
{
	return MoveNoReplace(file->folder, file->hidden_leaf, folder, leaf);
}

void DiscardNewFile(const NewFile *file)
{
	if (IsFileAt(file->folder, file->hidden_leaf, &file->status))
		(void)RemoveAt(file->folder, file->hidden_leaf);
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

// Windows has no permission bits: there is nothing to set.
bool SetFileMode(FILE *, const FileStatus *, unsigned long)
{
	return true;
}

bool MoveNoReplace(const Folder *from, const char *from_leaf, const Folder *to,
                   const char *to_leaf)
{
	char source[kNameSize], target[kNameSize];

	if (!PathOf(from, from_leaf, source) || !PathOf(to, to_leaf, target)) {
		errno = ENAMETOOLONG;
		return false;
	}
	// Without MOVEFILE_COPY_ALLOWED this neither copies across volumes
	// nor replaces an existing file.
	if (MoveFileExA(source, target, 0) != 0)
		return true;
	SetErrno();
	return false;
}

void MoveReplacing(const Folder *from, const char *from_leaf, const Folder *to,
                   const char *to_leaf)
{
	char source[kNameSize], target[kNameSize];

	if (PathOf(from, from_leaf, source) && PathOf(to, to_leaf, target))
		(void)MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING);
}

// A file open elsewhere, as the original is here, goes only when it is
// closed: its name shows till then. A read-only file cannot be removed
// until the attribute is cleared.
bool RemoveAt(const Folder *folder, const char *leaf)
{
	char path[kNameSize];

	if (!PathOf(folder, leaf, path)) {
		errno = ENAMETOOLONG;
		return false;
	}
	DWORD attributes = GetFileAttributesA(path);
	bool read_only = attributes != INVALID_FILE_ATTRIBUTES &&
	                 (attributes & FILE_ATTRIBUTE_READONLY) != 0;
	if (read_only)
		(void)SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
	if (DeleteFileA(path) != 0)
		return true;
	SetErrno();
	if (read_only)
		(void)SetFileAttributesA(path, attributes);
	return false;
}

OutputResult OpenOutput(const char *name, FILE *in, FILE **out)
{
	HANDLE handle = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
	    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
	FileStatus ours, theirs;

	if (handle == INVALID_HANDLE_VALUE)
		return kOutputUnopened;
	OutputResult result = kOutputOpened;
	if (GetFileType(handle) != FILE_TYPE_DISK)
		result = kOutputOpened;
	else if (!GetStatus(handle, &ours) || !GetStatus(HandleOf(in), &theirs))
		result = kOutputUnopened;
	else if (SameFile(&ours, &theirs))
		result = kOutputIsInput;
	else if (!LockHandle(handle, LOCKFILE_EXCLUSIVE_LOCK))
		result = kOutputBusy;
	else if (SetEndOfFile(handle) == 0)
		result = kOutputUnopened;
	if (result != kOutputOpened) {
		CloseHandle(handle);
		return result;
	}
	*out = StreamOver(handle, _O_WRONLY, "wt");
	if (*out == nullptr)
		return kOutputUnopened;
	// Nothing renames or removes it: a console event must leave it open,
	// or the run would go on to say that a write failed.
	ForgetRunFile(handle);
	return kOutputOpened;
}
