// The platform interface on Windows.
#include "frontend/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
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

FILE *CreateExclusive(const char *name, const FileFacts *, FileFacts *created)
{
	HANDLE handle = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ,
	    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);

	if (handle == INVALID_HANDLE_VALUE)
		return nullptr;
	if (!GetFacts(handle, created)) {
		CloseHandle(handle);
		return nullptr;
	}
	return StreamOver(handle, _O_WRONLY, "wt");
}

// A new file takes the folder's access rules, as Windows users expect.
bool KeepOwnership(FILE *, const FileFacts *)
{
	return true;
}

bool LockExclusive(FILE *stream)
{
	OVERLAPPED start = {};

	if (LockFileEx(HandleOf(stream),
	               LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
	               MAXDWORD, MAXDWORD, &start) != 0)
		return true;
	return GetLastError() != ERROR_LOCK_VIOLATION;
}

bool CloseSynced(FILE *stream)
{
	bool synced = fflush(stream) == 0 &&
	              FlushFileBuffers(HandleOf(stream)) != 0;

	Forget(HandleOf(stream));
	return fclose(stream) == 0 && synced;
}

void CloseRunFile(FILE *stream)
{
	// Not while an interrupt closes the run's handles.
	EnterCriticalSection(&held);
	Forget(HandleOf(stream));
	(void)fclose(stream);
	LeaveCriticalSection(&held);
}

bool NameIsFile(const char *name, const FileFacts *facts)
{
	FileFacts found;

	return GetNameFacts(name, &found) && SameFile(&found, facts);
}

// Links are rare on Windows, and renaming one renames the link.
bool ResolveLink(const char *name, char *resolved, size_t size)
{
	return CopyName(resolved, name, size);
}

bool PathExists(const char *name)
{
	return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

bool IsSameFile(FILE *stream, const char *name)
{
	FileFacts ours, theirs;

	return GetFacts(HandleOf(stream), &ours) &&
	       GetNameFacts(name, &theirs) && SameFile(&ours, &theirs);
}

bool RenameNoReplace(const char *from, const char *to)
{
	// Without MOVEFILE_COPY_ALLOWED this neither copies across volumes
	// nor replaces an existing file.
	return MoveFileExA(from, to, 0) != 0;
}

bool RenameReplacing(const char *from, const char *to)
{
	return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

// Runs on a thread of its own: waits for the run's current step, closes
// its files so that they can be renamed, undoes, and ends the process as
// the interrupt would.
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
