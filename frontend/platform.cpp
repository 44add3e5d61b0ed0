#include "frontend/platform.h"

bool CopyName(char *storage, const char *name, size_t size)
{
	// snprintf stops at the storage's end and tells the name's length; a
	// failure's -1 is no length that fits.
	return static_cast<size_t>(snprintf(storage, size, "%s", name)) < size;
}

#if defined(_WIN32)

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

static bool SameFile(const FileFacts *one, const FileFacts *other)
{
	return one->volume == other->volume && one->index == other->index;
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

#else

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static void (*undo_run)();

static const int kInterrupts[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
static sigset_t interrupts;

static void GetFacts(const struct stat *status, FileFacts *facts)
{
	facts->volume = status->st_dev;
	facts->index = status->st_ino;
	facts->mode = status->st_mode & 07777;
	facts->owner = status->st_uid;
	facts->group = status->st_gid;
}

static bool SameFile(const FileFacts *one, const FileFacts *other)
{
	return one->volume == other->volume && one->index == other->index;
}

// Takes descriptor into a stream, or closes it.
static FILE *StreamOver(int descriptor, const char *mode)
{
	FILE *stream = fdopen(descriptor, mode);

	if (stream == nullptr)
		(void)close(descriptor);
	return stream;
}

FILE *OpenRegularFile(const char *name, FileFacts *facts)
{
	// Without O_NONBLOCK, opening a FIFO would wait for a writer.
	int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	struct stat status;

	if (descriptor < 0)
		return nullptr;
	// O_NONBLOCK means nothing to a regular file: it may stay.
	if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
		(void)close(descriptor);
		return nullptr;
	}
	GetFacts(&status, facts);
	return StreamOver(descriptor, "r");
}

FILE *CreateExclusive(const char *name, const FileFacts *facts,
                      FileFacts *created)
{
	// Never wider than the original's bits, even for a moment.
	int descriptor = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
	                      static_cast<mode_t>(facts->mode & 0777));
	struct stat status;

	if (descriptor < 0)
		return nullptr;
	if (fstat(descriptor, &status) != 0) {
		(void)close(descriptor);
		return nullptr;
	}
	GetFacts(&status, created);
	return StreamOver(descriptor, "w");
}

// Only root may give a file away; anyone else may still give it the
// original's group, if it is one of theirs, and otherwise keeps it as
// their own, as sed -i does.
static bool GiveOwnership(int descriptor, const FileFacts *facts)
{
	gid_t group = static_cast<gid_t>(facts->group);

	return fchown(descriptor, static_cast<uid_t>(facts->owner), group) == 0 ||
	       fchown(descriptor, static_cast<uid_t>(-1), group) == 0;
}

bool KeepOwnership(FILE *stream, const FileFacts *facts)
{
	int descriptor = fileno(stream);
	struct stat status;

	// Ownership goes first: changing it clears the set-id bits.
	(void)GiveOwnership(descriptor, facts);
	if (fchmod(descriptor, static_cast<mode_t>(facts->mode)) == 0)
		return true;
	// File systems without UNIX permissions (FAT) refuse the change but
	// give every file the same bits: nothing is lost then.
	return fstat(descriptor, &status) == 0 &&
	       (status.st_mode & 07777) == facts->mode;
}

bool LockExclusive(FILE *stream)
{
	return flock(fileno(stream), LOCK_EX | LOCK_NB) == 0 ||
	       errno != EWOULDBLOCK;
}

bool CloseSynced(FILE *stream)
{
	bool synced = fflush(stream) == 0 && fsync(fileno(stream)) == 0;

	return fclose(stream) == 0 && synced;
}

void CloseRunFile(FILE *stream)
{
	(void)fclose(stream);
}

bool NameIsFile(const char *name, const FileFacts *facts)
{
	struct stat status;
	FileFacts found;

	if (lstat(name, &status) != 0)
		return false;
	GetFacts(&status, &found);
	return SameFile(&found, facts);
}

bool ResolveLink(const char *name, char *resolved, size_t size)
{
	char target[PATH_MAX];

	// The real path of a file that is no link names that same file.
	return realpath(name, target) != nullptr && CopyName(resolved, target, size);
}

bool PathExists(const char *name)
{
	struct stat status;

	// A folder that cannot be searched says EACCES: that is no file.
	return lstat(name, &status) == 0;
}

bool IsSameFile(FILE *stream, const char *name)
{
	struct stat ours, theirs;

	if (fstat(fileno(stream), &ours) != 0 || stat(name, &theirs) != 0)
		return false;
	return ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino;
}

bool RenameNoReplace(const char *from, const char *to)
{
#if defined(RENAME_NOREPLACE)
	if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
		return true;
	if (errno != EINVAL && errno != ENOSYS)
		return false;
#endif
	// A hard link cannot replace anything; the file system checks that.
	if (link(from, to) != 0)
		return false;
	if (unlink(from) != 0) {
		(void)unlink(to);
		return false;
	}
	return true;
}

bool RenameReplacing(const char *from, const char *to)
{
	return rename(from, to) == 0;
}

static void OnInterrupt(int signal_number)
{
	undo_run();
	// End as the signal would have: the caller and the shell see it.
	(void)signal(signal_number, SIG_DFL);
	(void)raise(signal_number);
}

void CatchInterrupts(void (*undo)())
{
	struct sigaction action = {};

	(void)signal(SIGPIPE, SIG_IGN);
	(void)signal(SIGXFSZ, SIG_IGN);
	undo_run = undo;
	(void)sigemptyset(&interrupts);
	for (int signal_number : kInterrupts)
		(void)sigaddset(&interrupts, signal_number);
	action.sa_handler = OnInterrupt;
	action.sa_mask = interrupts;
	for (int signal_number : kInterrupts) {
		struct sigaction old;
		// A signal ignored from the start (nohup, a background job)
		// stays ignored.
		if (sigaction(signal_number, nullptr, &old) == 0 &&
		    old.sa_handler != SIG_IGN)
			(void)sigaction(signal_number, &action, nullptr);
	}
}

void HoldInterrupts()
{
	(void)sigprocmask(SIG_BLOCK, &interrupts, nullptr);
}

void ReleaseInterrupts()
{
	(void)sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
}

#endif
