// Console events on Windows, which stand for signals there.
#include "frontend/handles_windows.h"
#include "frontend/platform.h"

#include <algorithm>
#include <iterator>

static HANDLE run_files[2];
static CRITICAL_SECTION blocked;
static bool (*undo_run)();

void RememberRunFile(HANDLE handle)
{
	HANDLE *slot = std::find(std::begin(run_files), std::end(run_files), nullptr);

	if (slot != std::end(run_files))
		*slot = handle;
}

void ForgetRunFile(HANDLE handle)
{
	std::replace(std::begin(run_files), std::end(run_files), handle,
	             static_cast<HANDLE>(nullptr));
}

// Runs on a thread of its own: waits for the run's current step, closes
// its files so that they can be renamed or removed, undoes, and ends the
// process as the interrupt would, or with status 0 once the run finished.
static BOOL WINAPI OnConsoleEvent(DWORD)
{
	EnterCriticalSection(&blocked);
	for (HANDLE &slot : run_files) {
		if (slot != nullptr)
			CloseHandle(slot);
		slot = nullptr;
	}
	TerminateProcess(GetCurrentProcess(), undo_run() ? 0 : STATUS_CONTROL_C_EXIT);
	return TRUE;
}

void CatchSignals(bool (*undo)())
{
	undo_run = undo;
	InitializeCriticalSection(&blocked);
	SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void BlockSignals()
{
	EnterCriticalSection(&blocked);
}

void UnblockSignals()
{
	LeaveCriticalSection(&blocked);
}
