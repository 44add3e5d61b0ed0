#include "frontend/platform.h"

#if defined(_WIN32)

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

bool PathExists(const char *name)
{
	if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES)
		return true;
	DWORD error = GetLastError();
	return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool IsRegularFile(const char *name)
{
	// The 64-bit sizes: plain _stat fails on a file past 2 GiB.
	struct _stati64 status;

	return _stati64(name, &status) == 0 &&
	       (status.st_mode & _S_IFMT) == _S_IFREG;
}

static bool GetIdentity(HANDLE handle, BY_HANDLE_FILE_INFORMATION *info)
{
	return handle != INVALID_HANDLE_VALUE &&
	       GetFileInformationByHandle(handle, info) != 0;
}

bool IsSameFile(FILE *stream, const char *name)
{
	BY_HANDLE_FILE_INFORMATION ours, theirs;
	HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));

	if (!GetIdentity(handle, &ours))
		return false;
	HANDLE other = CreateFileA(name, 0,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	bool known = GetIdentity(other, &theirs);
	if (other != INVALID_HANDLE_VALUE)
		CloseHandle(other);
	return known &&
	       ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
	       ours.nFileIndexHigh == theirs.nFileIndexHigh &&
	       ours.nFileIndexLow == theirs.nFileIndexLow;
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

bool GetPermissions(const char *, unsigned *mode)
{
	*mode = 0;
	return true;
}

bool SetPermissions(FILE *, unsigned)
{
	return true;
}

#else

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool PathExists(const char *name)
{
	struct stat status;

	return lstat(name, &status) == 0 || errno != ENOENT;
}

bool IsRegularFile(const char *name)
{
	struct stat status;

	return stat(name, &status) == 0 && S_ISREG(status.st_mode);
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
		unlink(to);
		return false;
	}
	return true;
}

bool RenameReplacing(const char *from, const char *to)
{
	return rename(from, to) == 0;
}

bool GetPermissions(const char *name, unsigned *mode)
{
	struct stat status;

	if (stat(name, &status) != 0)
		return false;
	*mode = status.st_mode & 0777;
	return true;
}

bool SetPermissions(FILE *stream, unsigned mode)
{
	struct stat status;

	if (fchmod(fileno(stream), static_cast<mode_t>(mode)) == 0)
		return true;
	// File systems without UNIX permissions (FAT) refuse the change but
	// give every file the same bits: nothing is lost then.
	return fstat(fileno(stream), &status) == 0 &&
	       (status.st_mode & 0777) == mode;
}

#endif
