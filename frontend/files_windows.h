// What the Windows file code shares between its topics: names in UTF-16 for
// the W calls, at any length, and the run's files by their handles.
#ifndef TANDREL_FRONTEND_FILES_WINDOWS_H
#define TANDREL_FRONTEND_FILES_WINDOWS_H

#include <windows.h>

#include "frontend/platform.h"

// Room for the longest path Windows takes, in UTF-16, with a prefix.
constexpr size_t kWideSize = 32768 + 8;

// text, UTF-8, as UTF-16 into size units. False where it does not fit.
bool Widen(const char *text, wchar_t *wide, size_t size);

// wide as UTF-8 into size bytes. False where it does not fit.
bool Narrow(const wchar_t *wide, char *text, size_t size);

// path (UTF-8), made absolute, with the prefix that lifts the old limit of
// 260 characters ("\\?\", or "\\?\UNC\" for a share). False, with errno,
// where it does not fit.
bool LongPath(const char *path, wchar_t *wide);

// The long path of leaf in folder.
bool PathIn(const Folder *folder, const char *leaf, wchar_t *wide);

// errno for what a Windows error means to a run.
int ErrnoOf(DWORD error);
void SetErrno();

// Whether to try again a call that another program's hold made fail, as
// SQLite does for virus scanners: after a pause that grows each time, for
// about a second and a half in all. *tries counts them.
bool TryAgain(DWORD error, int *tries);

HANDLE HandleOf(FILE *stream);
bool StatusOfHandle(HANDLE handle, FileStatus *status);

// Opens path with access and sharing, as CreateFileW, trying again while
// another program holds it.
HANDLE OpenPath(const wchar_t *path, DWORD access, DWORD sharing, DWORD creation, DWORD flags);

// The file of handle opened anew with access (DELETE to move or remove it)
// by its name leaf in folder, trying again while another program holds it:
// only where that name is still the very file. INVALID_HANDLE_VALUE, with
// errno (kNotThatFile for another file), where it cannot be. ReOpenFile is
// not it: Wine opens there the name the handle was opened by.
HANDLE OpenAgain(HANDLE handle, const Folder *folder, const char *leaf, DWORD access);

// Gives the file open as handle the path target, over what has it where
// replace. 0 or errno.
int RenameHandle(HANDLE handle, const wchar_t *target, bool replace);

// Removes the file open as handle: at once where the system can, else once
// its last handle is closed, under a hidden name of its own in folder so
// that its name is free now. 0 or errno.
int RemoveHandle(HANDLE handle, const Folder *folder);

// Locks one byte that no playlist reaches: Windows enforces locks, and a
// player reading the playlist meanwhile must not be stopped by one. False
// only when another holds it.
bool LockFarByte(HANDLE handle, bool exclusive);

// A stream over a handle the run opened itself, in binary or text mode;
// remembered so that a console event can close it.
FILE *StreamOver(HANDLE handle, int flags, const char *mode);

// The run's open files, which a console event closes before it removes.
void RememberRunFile(HANDLE handle);
void ForgetRunFile(HANDLE handle);
void CloseRunFiles();

#endif
