// The platform interface on POSIX systems.
#include "frontend/platform.h"

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
