// Signals on POSIX systems.
#include "frontend/platform.h"

#include <csignal>
#include <unistd.h>

static int (*end_run)();
static sigset_t caught;

// Every signal whose default ends the process and that can be caught, but
// SIGPIPE and SIGXFSZ, which are ignored, and the program's own faults
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS), which end it as they
// would: a handler has no business in a process that has just faulted, and
// a run killed at any instant leaves the playlist whole. The real-time
// signals, which end it too, are added where the system has them.
static const int kCaught[] = {
	SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
	SIGXCPU, SIGVTALRM, SIGPROF,
#if defined(SIGPOLL)
	SIGPOLL,
#endif
#if defined(SIGPWR)
	SIGPWR,
#endif
#if defined(SIGSTKFLT)
	SIGSTKFLT,
#endif
};

static void OnSignal(int signal_number)
{
	const int status = end_run();

	if (status >= 0)
		_exit(status);
	// End as the signal would have: the caller and the shell see it.
	(void)signal(signal_number, SIG_DFL);
	(void)raise(signal_number);
}

// Catches signal_number, unless it was ignored from the start (nohup, a
// background job): then it stays ignored. Either way it is blocked with
// the others.
static void Catch(int signal_number, const struct sigaction *action)
{
	struct sigaction old;

	(void)sigaddset(&caught, signal_number);
	if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
		(void)sigaction(signal_number, action, nullptr);
}

void CatchSignals(int (*end)())
{
	struct sigaction action = {};

	(void)signal(SIGPIPE, SIG_IGN);
	(void)signal(SIGXFSZ, SIG_IGN);
	end_run = end;
	(void)sigemptyset(&caught);
	action.sa_handler = OnSignal;
	// Nothing else comes in while the run is undone: the process ends next.
	(void)sigfillset(&action.sa_mask);
	for (int signal_number : kCaught)
		Catch(signal_number, &action);
	// glibc keeps the first real-time signals for its threads: SIGRTMIN is
	// past them.
#if defined(SIGRTMIN)
	for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; signal_number++)
		Catch(signal_number, &action);
#endif
}

// Steps that block signals nest within the commit, which blocks them to
// its end: only the outermost unblocks them.
static int blocked;

void BlockSignals()
{
	if (blocked++ == 0)
		(void)sigprocmask(SIG_BLOCK, &caught, nullptr);
}

void UnblockSignals()
{
	if (--blocked == 0)
		(void)sigprocmask(SIG_UNBLOCK, &caught, nullptr);
}
