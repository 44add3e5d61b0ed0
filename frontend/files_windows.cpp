// The platform interface on Windows.
#include "frontend/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

// The files of an in-place run, by handle: a console interrupt arrives on
// a thread of its own and must close them before it can rename over them.
static HANDLE run_files[2];
static CRITICAL_SECTION held;
static void (*undo_run)();

static HANDLE HandleOf(FILE *stream)
{
	return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

static bool GetFacts(HANDLE handle, FileFacts *facts)
{
	BY_HANDLE_FILE_INFORMATION info;

	if (GetFileInformationByHandle(handle, &info) == 0)
		return false;
	facts->volume = info.dwVolumeSerialNumber;
	facts->index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
	               info.nFileIndexLow;
	facts->mode = 0;
	facts->owner = 0;
	facts->group = 0;
	return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Facts of what bears name, a link itself rather than what it leads to.
static bool GetNameFacts(const char *name, FileFacts *facts)
{
	HANDLE handle = CreateFileA(name, 0,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING,
	    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

	if (handle == INVALID_HANDLE_VALUE)
		return false;
	bool known = GetFacts(handle, facts);
	CloseHandle(handle);
	return known;
}

static void Remember(HANDLE handle)
{
	HANDLE *slot = std::find(std::begin(run_files), std::end(run_files), nullptr);

	if (slot != std::end(run_files))
		*slot = handle;
}

static void Forget(HANDLE handle)
{
	std::replace(std::begin(run_files), std::end(run_files), handle,
	             static_cast<HANDLE>(nullptr));
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
	Remember(handle);
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
// player reading the playlist meanwhile must not be stopped by one.
static bool LockHandle(HANDLE handle, DWORD flags)
{
	OVERLAPPED far_byte = {};

	far_byte.Offset = MAXDWORD - 1;
	far_byte.OffsetHigh = MAXLONG;
	if (LockFileEx(handle, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &far_byte) != 0)
		return true;
	return GetLastError() != ERROR_LOCK_VIOLATION;
}

// Links are rare on Windows, and renaming one renames the link.
LinkResult ResolveLink(const char *name, char *resolved, size_t size)
{
	return CopyName(resolved, name, size) ? kLinkResolved : kLinkUnresolved;
}

FILE *OpenRegularFile(const char *name, FileFacts *facts)
{
	HANDLE handle = CreateFileA(name, GENERIC_READ,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

	if (handle == INVALID_HANDLE_VALUE)
		return nullptr;
	if (GetFileType(handle) != FILE_TYPE_DISK || !GetFacts(handle, facts)) {
		CloseHandle(handle);
		return nullptr;
	}
	return StreamOver(handle, _O_RDONLY, "rt");
}

// How many hidden names beside a playlist a run may try for its new file:
// runs at once in one folder, and files that killed runs left, each hold
// one.
static const int kHiddenNames = 10;

// A new file beside the playlist under the first of the hidden names that
// no file bears, which others may read once it is named but not write or
// delete; its name goes to hidden.
static HANDLE CreateHidden(const char *beside, char *hidden)
{
	for (int slot = 0; slot < kHiddenNames; slot++) {
		char leaf[kNameSize];
		(void)snprintf(leaf, sizeof leaf, ".~tandrel-new-%d.m3u", slot);
		if (!NameInFolderOf(hidden, kNameSize, beside, leaf, "\\/:"))
			break;
		HANDLE handle = CreateFileA(hidden, GENERIC_WRITE,
		    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
		    FILE_ATTRIBUTE_NORMAL, nullptr);
		if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
			return handle;
	}
	return INVALID_HANDLE_VALUE;
}

// A new file takes the folder's access rules, as Windows users expect.
FILE *CreateNewFile(const char *beside, const FileFacts *, NewFile *created)
{
	char hidden[kNameSize];
	HANDLE handle = CreateHidden(beside, hidden);

	if (handle == INVALID_HANDLE_VALUE)
		return nullptr;
	if (GetFacts(handle, &created->facts) && LockHandle(handle, LOCKFILE_EXCLUSIVE_LOCK)) {
		FILE *stream = StreamOver(handle, _O_WRONLY, "wt");
		if (stream != nullptr) {
			(void)CopyName(created->hidden_name, hidden, sizeof created->hidden_name);
			return stream;
		}
	} else {
		CloseHandle(handle);
	}
	// Made a moment ago under a name no other file bore.
	(void)DeleteFileA(hidden);
	return nullptr;
}

bool SyncStream(FILE *stream)
{
	return fflush(stream) == 0 && FlushFileBuffers(HandleOf(stream)) != 0;
}

bool NameNewFile(FILE *, const NewFile *file, const char *name)
{
	return RenameNoReplace(file->hidden_name, name);
}

void DiscardNewFile(const NewFile *file)
{
	// "" while the file has no name, which leads nowhere.
	if (NameLeadsTo(file->hidden_name, &file->facts))
		(void)DeleteFileA(file->hidden_name);
}

bool CloseRunFile(FILE *stream)
{
	// Not while an interrupt closes the run's handles.
	EnterCriticalSection(&held);
	Forget(HandleOf(stream));
	bool closed = fclose(stream) == 0;
	LeaveCriticalSection(&held);
	return closed;
}

bool LockExclusive(FILE *stream)
{
	return LockHandle(HandleOf(stream), LOCKFILE_EXCLUSIVE_LOCK);
}

bool LockedByAnother(const char *name)
{
	HANDLE handle = CreateFileA(name, GENERIC_READ,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

	if (handle == INVALID_HANDLE_VALUE)
		return false;
	bool locked = !LockHandle(handle, 0);
	CloseHandle(handle);
	return locked;
}

bool NameLeadsTo(const char *name, const FileFacts *facts)
{
	FileFacts found;

	return GetNameFacts(name, &found) && SameFile(&found, facts);
}

bool NameReaches(FILE *stream, const char *name)
{
	FileFacts ours, theirs;

	return GetFacts(HandleOf(stream), &ours) &&
	       GetNameFacts(name, &theirs) && SameFile(&ours, &theirs);
}

bool PathExists(const char *name)
{
	return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

bool RenameNoReplace(const char *from, const char *to)
{
	// Without MOVEFILE_COPY_ALLOWED this neither copies across volumes
	// nor replaces an existing file.
	if (MoveFileExA(from, to, 0) != 0)
		return true;
	SetErrno();
	return false;
}

void RenameReplacing(const char *from, const char *to)
{
	(void)MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING);
}

// A file open elsewhere, as the original is here, goes only when it is
// closed: its name shows till then.
bool RemoveName(const char *name)
{
	return DeleteFileA(name) != 0;
}

// Runs on a thread of its own: waits for the run's current step, closes
// its files so that they can be renamed or removed, undoes, and ends the
// process as the interrupt would.
static BOOL WINAPI OnConsoleEvent(DWORD)
{
	EnterCriticalSection(&held);
	for (HANDLE &slot : run_files) {
		if (slot != nullptr)
			CloseHandle(slot);
		slot = nullptr;
	}
	undo_run();
	TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
	return TRUE;
}

void CatchInterrupts(void (*undo)())
{
	undo_run = undo;
	InitializeCriticalSection(&held);
	SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void HoldInterrupts()
{
	EnterCriticalSection(&held);
}

void ReleaseInterrupts()
{
	LeaveCriticalSection(&held);
}
