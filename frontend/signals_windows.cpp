// Console events on Windows, which stand for signals there.
#include "frontend/files_windows.h"

static CRITICAL_SECTION blocked;
static int (*end_run)();

// Runs on a thread of its own: waits for the run's current step, closes
// its files so that their names can be removed, ends the run, and ends the
// process as the interrupt would, or with the status the run ended with.
static BOOL WINAPI OnConsoleEvent(DWORD)
{
	EnterCriticalSection(&blocked);
	CloseRunFiles();
	const int status = end_run();
	TerminateProcess(GetCurrentProcess(), status >= 0 ? static_cast<UINT>(status)
	                                                  : STATUS_CONTROL_C_EXIT);
	return TRUE;
}

void CatchSignals(int (*end)())
{
	end_run = end;
	InitializeCriticalSection(&blocked);
	SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// A critical section may be entered again by its holder: steps that block
// nest within the commit.
void BlockSignals()
{
	EnterCriticalSection(&blocked);
}

void UnblockSignals()
{
	LeaveCriticalSection(&blocked);
}
