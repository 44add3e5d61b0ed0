// The platform interface on POSIX systems.
#include "frontend/platform.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// As many links in a row as Linux follows before it calls it a loop.
static const int kMostLinks = 40;

// How many hidden names beside a playlist a run may try for its new file,
// where the system has no anonymous files: runs at once in one folder,
// and files that killed runs left, each hold one.
static const int kHiddenNames = 10;

static void (*undo_run)();
static sigset_t interrupts;

// Every signal whose default ends the process and that can be caught, but
// SIGPIPE and SIGXFSZ, which are ignored. The real-time signals, which end
// it too, are added where the system has them.
static const int kInterrupts[] = {
	SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE,
	SIGUSR1, SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM,
	SIGPROF, SIGSYS,
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

static void GetFacts(const struct stat *status, FileFacts *facts)
{
	facts->volume = status->st_dev;
	facts->index = status->st_ino;
	facts->mode = status->st_mode & 07777;
	facts->owner = status->st_uid;
	facts->group = status->st_gid;
}

// Links made by the runner, by root or by the owner of the file they lead
// to are followed; root's links are as trusted as root.
static bool Trusted(const struct stat *link, const struct stat *file, bool file_found)
{
	return link->st_uid == geteuid() || link->st_uid == 0 ||
	       (file_found && link->st_uid == file->st_uid);
}

// The next name in a chain of links: the target, relative to the folder
// of the link when it does not begin at the root.
static bool FollowLink(char *path, size_t size)
{
	char target[kNameSize];
	char next[kNameSize];
	ssize_t length = readlink(path, target, sizeof target - 1);

	if (length < 0)
		return false;
	target[length] = '\0';
	if (target[0] == '/')
		return CopyName(path, target, size);
	return NameInFolderOf(next, sizeof next, path, target, "/") &&
	       CopyName(path, next, size);
}

LinkResult ResolveLink(const char *name, char *resolved, size_t size)
{
	struct stat link, file;
	bool file_found = stat(name, &file) == 0;

	if (!CopyName(resolved, name, size))
		return kLinkUnresolved;
	for (int links = 0; lstat(resolved, &link) == 0 && S_ISLNK(link.st_mode); links++) {
		if (!Trusted(&link, &file, file_found))
			return kLinkUntrusted;
		if (links == kMostLinks || !FollowLink(resolved, size))
			return kLinkUnresolved;
	}
	return kLinkResolved;
}

FILE *OpenRegularFile(const char *name, FileFacts *facts)
{
	// Without O_NONBLOCK, opening a FIFO would wait for a writer.
	int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
	struct stat status;

	FILE *stream = nullptr;

	if (descriptor < 0)
		return nullptr;
	// O_NONBLOCK means nothing to a regular file: it may stay.
	if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
		GetFacts(&status, facts);
		stream = fdopen(descriptor, "r");
	}
	if (stream == nullptr)
		(void)close(descriptor);
	return stream;
}

// A file in the folder of beside that no name leads to, where the system
// makes such files and /proc can give them a name later. Returns its
// descriptor, or a negative error number.
static int CreateAnonymous(const char *beside, mode_t mode)
{
#if defined(O_TMPFILE)
	char folder[kNameSize];

	if (access("/proc/self/fd", X_OK) != 0)
		return -ENOENT;
	// The folder's path is shorter than the playlist's: it fits.
	(void)NameInFolderOf(folder, sizeof folder, beside, ".", "/");
	return open(folder, O_TMPFILE | O_WRONLY | O_NOCTTY | O_CLOEXEC, mode);
#else
	(void)beside;
	(void)mode;
	return -EOPNOTSUPP;
#endif
}

// A file beside the playlist under the first of the hidden names that no
// file bears; its name goes to hidden. Returns its descriptor, or a
// negative error number.
static int CreateHidden(const char *beside, mode_t mode, char *hidden)
{
	int descriptor = -EEXIST;

	for (int slot = 0; slot < kHiddenNames && descriptor == -EEXIST; slot++) {
		char leaf[kNameSize];
		(void)snprintf(leaf, sizeof leaf, ".~tandrel-new-%d.m3u", slot);
		if (!NameInFolderOf(hidden, kNameSize, beside, leaf, "/"))
			return -ENAMETOOLONG;
		descriptor = open(hidden, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY |
		                          O_CLOEXEC, mode);
		if (descriptor == -1)
			descriptor = -errno;
	}
	return descriptor;
}

static bool LockDescriptor(int descriptor)
{
	return flock(descriptor, LOCK_EX | LOCK_NB) != -1 || errno != EWOULDBLOCK;
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

static bool KeepOwnership(int descriptor, const FileFacts *facts)
{
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

// The new file, once created: its facts, its lock and the original's
// ownership, or false.
static bool PrepareNewFile(int descriptor, const FileFacts *facts, NewFile *created)
{
	struct stat status;

	if (fstat(descriptor, &status) != 0)
		return false;
	GetFacts(&status, &created->facts);
	return LockDescriptor(descriptor) && KeepOwnership(descriptor, facts);
}

FILE *CreateNewFile(const char *beside, const FileFacts *facts, NewFile *created)
{
	// Never wider than the original's bits, even for a moment.
	mode_t mode = static_cast<mode_t>(facts->mode & 0777);
	char hidden[kNameSize] = "";
	int descriptor = CreateAnonymous(beside, mode);

	if (descriptor < 0)
		descriptor = CreateHidden(beside, mode, hidden);
	if (descriptor < 0)
		return nullptr;
	FILE *stream = PrepareNewFile(descriptor, facts, created) ? fdopen(descriptor, "w") : nullptr;
	if (stream != nullptr) {
		(void)CopyName(created->hidden_name, hidden, sizeof created->hidden_name);
		return stream;
	}
	// Made a moment ago under a name no other file bore; "" names none.
	(void)unlink(hidden);
	(void)close(descriptor);
	return nullptr;
}

bool SyncStream(FILE *stream)
{
	return fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool NameNewFile(FILE *stream, const NewFile *file, const char *name)
{
	// A file with a hidden name is renamed; one with none is given one.
	if (NameLeadsTo(file->hidden_name, &file->facts))
		return RenameNoReplace(file->hidden_name, name);
	char descriptor_path[kNameSize];
	(void)snprintf(descriptor_path, sizeof descriptor_path, "/proc/self/fd/%d",
	               fileno(stream));
	// A link cannot replace anything; the file system checks that.
	return linkat(AT_FDCWD, descriptor_path, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
}

void DiscardNewFile(const NewFile *file)
{
	// "" while the file has no name, which leads nowhere.
	if (NameLeadsTo(file->hidden_name, &file->facts))
		(void)unlink(file->hidden_name);
}

bool CloseRunFile(FILE *stream)
{
	return fclose(stream) == 0;
}

bool LockExclusive(FILE *stream)
{
	return LockDescriptor(fileno(stream));
}

bool LockedByAnother(const char *name)
{
	int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);

	if (descriptor < 0)
		return false;
	bool locked = flock(descriptor, LOCK_SH | LOCK_NB) == -1 && errno == EWOULDBLOCK;
	(void)close(descriptor);
	return locked;
}

bool NameLeadsTo(const char *name, const FileFacts *facts)
{
	struct stat status;
	FileFacts found;

	if (lstat(name, &status) != 0)
		return false;
	GetFacts(&status, &found);
	return SameFile(&found, facts);
}

bool NameReaches(FILE *stream, const char *name)
{
	struct stat ours, theirs;

	if (fstat(fileno(stream), &ours) != 0 || stat(name, &theirs) != 0)
		return false;
	return ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino;
}

bool PathExists(const char *name)
{
	struct stat status;

	// A folder that cannot be searched says EACCES: that is no file.
	return lstat(name, &status) == 0;
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
		int error = errno;
		(void)unlink(to);
		errno = error;
		return false;
	}
	return true;
}

void RenameReplacing(const char *from, const char *to)
{
	(void)rename(from, to);
}

bool RemoveName(const char *name)
{
	return unlink(name) == 0;
}

static void OnInterrupt(int signal_number)
{
	undo_run();
	// End as the signal would have: the caller and the shell see it.
	(void)signal(signal_number, SIG_DFL);
	(void)raise(signal_number);
}

// Catches signal_number, unless it was ignored from the start (nohup, a
// background job): then it stays ignored. Either way it is held with the
// interrupts.
static void Catch(int signal_number, const struct sigaction *action)
{
	struct sigaction old;

	(void)sigaddset(&interrupts, signal_number);
	if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
		(void)sigaction(signal_number, action, nullptr);
}

void CatchInterrupts(void (*undo)())
{
	struct sigaction action = {};

	(void)signal(SIGPIPE, SIG_IGN);
	(void)signal(SIGXFSZ, SIG_IGN);
	undo_run = undo;
	(void)sigemptyset(&interrupts);
	action.sa_handler = OnInterrupt;
	// Nothing else comes in while the run is undone: the process ends next.
	(void)sigfillset(&action.sa_mask);
	for (int signal_number : kInterrupts)
		Catch(signal_number, &action);
#if defined(SIGRTMIN)
	for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; signal_number++)
		Catch(signal_number, &action);
#endif
}

void HoldInterrupts()
{
	(void)sigprocmask(SIG_BLOCK, &interrupts, nullptr);
}

void ReleaseInterrupts()
{
	(void)sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
}
