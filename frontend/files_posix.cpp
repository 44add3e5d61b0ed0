// Files on POSIX systems: every step after the first open names its file
// relative to a folder descriptor, with the *at calls, and never follows a
// link it did not check.
#include "frontend/platform.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

// As many links in a row as Linux follows before it calls it a loop.
static const int kMostLinks = 40;

// The extended attribute that holds a file's access ACL.
static const char kAccessAcl[] = "system.posix_acl_access";

static void GetStatus(const struct stat *found, FileStatus *status)
{
	status->volume = found->st_dev;
	status->index = found->st_ino;
	status->mode = found->st_mode & 07777;
	status->owner = found->st_uid;
	status->group = found->st_gid;
	status->read_only = false;
	status->size = static_cast<unsigned long long>(found->st_size);
	status->modified = static_cast<long long>(found->st_mtim.tv_sec) * 1000000000LL +
	                   found->st_mtim.tv_nsec;
}

static bool LockDescriptor(int descriptor)
{
	return flock(descriptor, LOCK_EX | LOCK_NB) != -1 || errno != EWOULDBLOCK;
}

// A folder, relative to at, opened for reading so that it can be locked;
// where the runner may search it but not read it, opened as a path alone.
static int OpenFolderAt(int at, const char *path)
{
	const char *name = path[0] != '\0' ? path : ".";
	int descriptor = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);

	if (descriptor < 0 && errno == EACCES)
		descriptor = openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
	return descriptor;
}

// Moves to the folder that holds the target of a link: relative to the
// link's own folder, or from the root.
static bool EnterTarget(Folder *folder, const char *target, char *leaf)
{
	char path[kNameSize];

	if (!SplitPath(target, "/", path, leaf, kNameSize) || leaf[0] == '\0')
		return false;
	int next = OpenFolderAt(folder->descriptor, path);
	if (next < 0)
		return false;
	(void)close(folder->descriptor);
	folder->descriptor = next;
	return true;
}

// The link's owners, in a chain of links, to check once the file they
// point to is open.
struct Owners {
	uid_t owner[kMostLinks];
	int count;
};

// Links made by the runner, by root or by the owner of the file they lead
// to are followed; root's links are as trusted as root.
static bool Trusted(const Owners *owners, uid_t file_owner)
{
	for (int i = 0; i < owners->count; i++) {
		uid_t owner = owners->owner[i];
		if (owner != geteuid() && owner != 0 && owner != file_owner)
			return false;
	}
	return true;
}

// Follows the link leaf in folder one step, its owner taken from the very
// link that is read, which a neighbour cannot swap in between.
static bool FollowLink(Folder *folder, char *leaf, Owners *owners)
{
	int link = openat(folder->descriptor, leaf, O_PATH | O_NOFOLLOW | O_CLOEXEC);
	char target[kNameSize];
	struct stat found;
	ssize_t length = -1;

	if (link < 0)
		return false;
	if (owners->count < kMostLinks && fstat(link, &found) == 0 && S_ISLNK(found.st_mode))
		length = readlinkat(link, "", target, sizeof target - 1);
	(void)close(link);
	if (length < 0)
		return false;
	target[length] = '\0';
	owners->owner[owners->count++] = found.st_uid;
	return EnterTarget(folder, target, leaf);
}

// Opens leaf in folder, link by link. Without O_NONBLOCK, opening a FIFO
// would wait for a writer; it means nothing to a regular file.
static OpenResult OpenLeaf(Folder *folder, char *leaf, FILE **in, FileStatus *status,
                           bool *locked)
{
	const int flags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
	Owners owners = {{}, 0};
	int descriptor;
	struct stat found;

	while ((descriptor = openat(folder->descriptor, leaf, flags)) < 0) {
		if (errno != ELOOP || !FollowLink(folder, leaf, &owners))
			return errno == ENOENT ? kMissing : kNotOpened;
	}
	OpenResult result = kNotOpened;
	if (fstat(descriptor, &found) == 0 && S_ISREG(found.st_mode))
		result = Trusted(&owners, found.st_uid) ? kOpened : kUntrusted;
	if (result == kOpened) {
		GetStatus(&found, status);
		*locked = LockDescriptor(descriptor);
		*in = fdopen(descriptor, "r");
		if (*in != nullptr)
			return kOpened;
		result = kNotOpened;
	}
	(void)close(descriptor);
	return result;
}

OpenResult OpenPlaylist(const char *name, Folder *folder, char *leaf, FILE **in,
                        FileStatus *status, bool *locked)
{
	char path[kNameSize];

	folder->path[0] = '\0';
	folder->descriptor = -1;
	if (!SplitPath(name, "/", path, leaf, kNameSize) || leaf[0] == '\0')
		return kNotOpened;
	folder->descriptor = OpenFolderAt(AT_FDCWD, path);
	OpenResult result = errno == ENOENT ? kMissing : kNotOpened;
	if (folder->descriptor >= 0)
		result = OpenLeaf(folder, leaf, in, status, locked);
	if (result != kOpened)
		CloseFolder(folder);
	return result;
}

bool OpenCurrentFolder(Folder *folder)
{
	folder->path[0] = '\0';
	folder->descriptor = OpenFolderAt(AT_FDCWD, "");
	return folder->descriptor >= 0;
}

bool StatFolder(const Folder *folder, FileStatus *status)
{
	struct stat found;

	if (fstat(folder->descriptor, &found) != 0)
		return false;
	GetStatus(&found, status);
	return true;
}

void CloseFolder(Folder *folder)
{
	if (folder->descriptor >= 0)
		(void)close(folder->descriptor);
	folder->descriptor = -1;
}

bool LockFolder(const Folder *folder, int seconds)
{
	const struct timespec pause = {0, 10000000};

	for (int waits = 0; flock(folder->descriptor, LOCK_EX | LOCK_NB) != 0; waits++) {
		// A folder opened as a path alone, or on a file system without
		// locks, cannot be locked: the run goes on as before locks.
		if (errno != EWOULDBLOCK && errno != EINTR)
			return true;
		if (waits == seconds * 100)
			return false;
		(void)nanosleep(&pause, nullptr);
	}
	return true;
}

void UnlockFolder(const Folder *folder)
{
	(void)flock(folder->descriptor, LOCK_UN);
}

bool StatStream(FILE *stream, FileStatus *status)
{
	struct stat found;

	if (fstat(fileno(stream), &found) != 0)
		return false;
	GetStatus(&found, status);
	return true;
}

int StatAt(const Folder *folder, const char *leaf, FileStatus *status)
{
	struct stat found;

	if (fstatat(folder->descriptor, leaf, &found, AT_SYMLINK_NOFOLLOW) != 0)
		return errno;
	GetStatus(&found, status);
	return 0;
}

bool LockedByAnother(const Folder *folder, const char *leaf)
{
	int descriptor = openat(folder->descriptor, leaf,
	                        O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);

	if (descriptor < 0)
		return false;
	bool locked = flock(descriptor, LOCK_SH | LOCK_NB) == -1 && errno == EWOULDBLOCK;
	(void)close(descriptor);
	return locked;
}

bool ReachableByAll(const Folder *folder)
{
	struct stat found, parent;
	int at = folder->descriptor;
	bool open_to_all = fstat(at, &found) == 0 && (found.st_mode & S_IXOTH) != 0;

	// Up through "..", to the root, which is its own parent.
	while (open_to_all) {
		int up = openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
		open_to_all = up >= 0 && fstat(up, &parent) == 0 && (parent.st_mode & S_IXOTH) != 0;
		if (at != folder->descriptor)
			(void)close(at);
		at = up;
		if (open_to_all && parent.st_dev == found.st_dev && parent.st_ino == found.st_ino)
			break;
		found = parent;
	}
	if (at >= 0 && at != folder->descriptor)
		(void)close(at);
	return open_to_all;
}

bool MayRemoveFrom(const Folder *folder, const FileStatus *status)
{
	struct stat found;

	if (fstat(folder->descriptor, &found) != 0 || (found.st_mode & S_ISVTX) == 0)
		return true;
	return geteuid() == 0 || geteuid() == found.st_uid || geteuid() == status->owner;
}

// Only root may give a file away; anyone else may still give it the
// original's group, if it is one of theirs, and otherwise keeps it as
// their own, as sed -i does.
static bool GiveOwnership(int descriptor, const FileStatus *original)
{
	gid_t group = static_cast<gid_t>(original->group);

	return fchown(descriptor, static_cast<uid_t>(original->owner), group) == 0 ||
	       fchown(descriptor, static_cast<uid_t>(-1), group) == 0;
}

// The original's ACL, where it has one. A group not kept loses what the
// ACL grants the file's group, as it loses the group's bits.
static bool CopyAccessList(int from, int to, bool group_kept)
{
	unsigned char acl[4096];
	ssize_t length = fgetxattr(from, kAccessAcl, acl, sizeof acl);

	if (length < 0)
		return errno == ENODATA || errno == ENOTSUP;
	// A header of four bytes, then entries of a 16-bit tag, 16-bit
	// permissions and a 32-bit id; tag 4 is the file's group.
	for (ssize_t at = 4; !group_kept && at + 8 <= length; at += 8) {
		if (acl[at] == 4 && acl[at + 1] == 0)
			acl[at + 2] = acl[at + 3] = 0;
	}
	return fsetxattr(to, kAccessAcl, acl, static_cast<size_t>(length), 0) == 0;
}

// Owner, group, bits and ACL of the original, as far as the runner may
// give them. Ownership goes first: changing it clears the set-id bits.
static bool KeepAccess(int descriptor, int original_descriptor, const FileStatus *original,
                       NewFile *created)
{
	struct stat found;

	// What was not given shows in the new file's status.
	(void)GiveOwnership(descriptor, original);
	if (fstat(descriptor, &found) != 0)
		return false;
	const bool group_kept = found.st_gid == original->group;
	mode_t mode = static_cast<mode_t>(original->mode);
	if (!group_kept)
		mode &= static_cast<mode_t>(~(S_ISGID | S_IRWXG));
	if (found.st_uid != original->owner)
		mode &= static_cast<mode_t>(~S_ISUID);
	// File systems without UNIX permissions (FAT) refuse the change but
	// give every file the same bits: nothing is lost then.
	if (fchmod(descriptor, mode) != 0 &&
	    (fstat(descriptor, &found) != 0 || (found.st_mode & 07777) != mode))
		return false;
	created->mode = mode;
	created->set_id_dropped = (mode & 06000) != (original->mode & 06000);
	return CopyAccessList(original_descriptor, descriptor, group_kept);
}

// The new file, once created: its lock and the original's access, then
// its stream.
static FILE *PrepareNewFile(int descriptor, FILE *in, const FileStatus *original,
                            NewFile *created)
{
	if (!LockDescriptor(descriptor) || !KeepAccess(descriptor, fileno(in), original, created))
		return nullptr;
	return fdopen(descriptor, "w");
}

// Created with the owner's bits alone: the rest come once the group is
// known to be kept.
static mode_t CreationMode(const FileStatus *original)
{
	return static_cast<mode_t>(original->mode & S_IRWXU);
}

// An unnamed file in folder, where the system makes such files and /proc
// can give it a name later.
FILE *CreateAnonymousFile(const Folder *folder, FILE *in, const FileStatus *original,
                          NewFile *created)
{
#if defined(O_TMPFILE)
	int descriptor = openat(folder->descriptor, ".", O_TMPFILE | O_WRONLY | O_NOCTTY | O_CLOEXEC,
	                        CreationMode(original));
	if (descriptor < 0)
		return nullptr;
	char proc[64];
	struct stat named, found;
	(void)snprintf(proc, sizeof proc, "/proc/self/fd/%d", descriptor);
	FILE *stream = nullptr;
	if (stat(proc, &named) == 0 && fstat(descriptor, &found) == 0 &&
	    named.st_dev == found.st_dev && named.st_ino == found.st_ino) {
		GetStatus(&found, &created->status);
		stream = PrepareNewFile(descriptor, in, original, created);
	}
	if (stream == nullptr)
		(void)close(descriptor);
	return stream;
#else
	(void)folder, (void)in, (void)original, (void)created;
	errno = EOPNOTSUPP;
	return nullptr;
#endif
}

void RemoveStaleFile(const Folder *folder, const char *leaf)
{
	int descriptor = openat(folder->descriptor, leaf,
	                        O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
	struct stat found;
	FileStatus status;

	if (descriptor < 0)
		return;
	// A live run holds its new file locked from the moment it exists.
	if (fstat(descriptor, &found) == 0 && S_ISREG(found.st_mode) &&
	    flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
		GetStatus(&found, &status);
		if (IsFileAt(folder, leaf, &status))
			(void)unlinkat(folder->descriptor, leaf, 0);
	}
	(void)close(descriptor);
}

FILE *CreateHiddenFile(const Folder *folder, const char *leaf, FILE *in,
                       const FileStatus *original, NewFile *created)
{
	struct stat found;

	// Signals wait until the name is recorded, so that a handler removes
	// what this run made and nothing else.
	BlockSignals();
	int descriptor = openat(folder->descriptor, leaf,
	                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
	                        CreationMode(original));
	if (descriptor >= 0 && fstat(descriptor, &found) == 0) {
		GetStatus(&found, &created->status);
		(void)CopyName(created->hidden_leaf, leaf, sizeof created->hidden_leaf);
	} else if (descriptor >= 0) {
		(void)unlinkat(folder->descriptor, leaf, 0);
		(void)close(descriptor);
		descriptor = -1;
	}
	int error = errno;
	UnblockSignals();
	if (descriptor < 0) {
		errno = error;
		return nullptr;
	}
	FILE *stream = PrepareNewFile(descriptor, in, original, created);
	if (stream != nullptr)
		return stream;
	error = errno;
	BlockSignals();
	DiscardNewFile(created);
	created->hidden_leaf[0] = '\0';
	UnblockSignals();
	(void)close(descriptor);
	errno = error;
	return nullptr;
}

bool SyncNewFile(FILE *stream, NewFile *file)
{
	const int descriptor = fileno(stream);
	const mode_t set_id = static_cast<mode_t>(file->mode) & (S_ISUID | S_ISGID);
	struct stat found;

	if (fflush(stream) != 0)
		return false;
	// Writing clears the set-id bits of a file, but for root's; Linux also
	// drops a set-group-ID bit for a group not the runner's.
	if (set_id != 0) {
		(void)fchmod(descriptor, static_cast<mode_t>(file->mode));
		if (fstat(descriptor, &found) != 0 || (found.st_mode & set_id) != set_id)
			file->set_id_dropped = true;
	}
	return fsync(descriptor) == 0;
}

bool NameNewFile(FILE *stream, const NewFile *file, const Folder *folder, const char *leaf)
{
	// A file with a hidden name is renamed; one with none is given one.
	if (file->hidden_leaf[0] != '\0')
		return MoveNoReplace(file->folder, file->hidden_leaf, folder, leaf);
	char proc[64];
	(void)snprintf(proc, sizeof proc, "/proc/self/fd/%d", fileno(stream));
	// A link cannot replace anything; the file system checks that.
	return linkat(AT_FDCWD, proc, folder->descriptor, leaf, AT_SYMLINK_FOLLOW) == 0;
}

void DiscardNewFile(const NewFile *file)
{
	if (IsFileAt(file->folder, file->hidden_leaf, &file->status))
		(void)unlinkat(file->folder->descriptor, file->hidden_leaf, 0);
}

bool CloseRunFile(FILE *stream)
{
	return fclose(stream) == 0;
}

bool SetFileMode(FILE *stream, const FileStatus *, unsigned long mode)
{
	return fchmod(fileno(stream), static_cast<mode_t>(mode)) == 0;
}

bool MoveNoReplace(const Folder *from, const char *from_leaf, const Folder *to,
                   const char *to_leaf)
{
	const int source = from->descriptor, target = to->descriptor;

#if defined(RENAME_NOREPLACE)
	if (renameat2(source, from_leaf, target, to_leaf, RENAME_NOREPLACE) == 0)
		return true;
	if (errno != EINVAL && errno != ENOSYS)
		return false;
#endif
	// A hard link cannot replace anything; the file system checks that.
	if (linkat(source, from_leaf, target, to_leaf, 0) == 0) {
		if (unlinkat(source, from_leaf, 0) == 0)
			return true;
		int error = errno;
		(void)unlinkat(target, to_leaf, 0);
		errno = error;
		return false;
	}
	// No hard links either (FAT, exFAT, many FUSE file systems), or none
	// to another's file: check, then rename, under the folder's lock.
	if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
		return false;
	struct stat found;
	if (fstatat(target, to_leaf, &found, AT_SYMLINK_NOFOLLOW) == 0) {
		errno = EEXIST;
		return false;
	}
	return errno == ENOENT && renameat(source, from_leaf, target, to_leaf) == 0;
}

void MoveReplacing(const Folder *from, const char *from_leaf, const Folder *to,
                   const char *to_leaf)
{
	(void)renameat(from->descriptor, from_leaf, to->descriptor, to_leaf);
}

bool RemoveAt(const Folder *folder, const char *leaf)
{
	return unlinkat(folder->descriptor, leaf, 0) == 0;
}

// What keeps the output of a two-file run from being written: the input
// itself, or another run's lock. Only a regular file is locked and emptied.
static OutputResult PrepareOutput(int descriptor, FILE *in)
{
	struct stat ours, theirs;

	if (fstat(descriptor, &ours) != 0 || fstat(fileno(in), &theirs) != 0)
		return kOutputUnopened;
	if (ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino)
		return kOutputIsInput;
	if (!S_ISREG(ours.st_mode))
		return kOutputOpened;
	if (!LockDescriptor(descriptor))
		return kOutputBusy;
	return ftruncate(descriptor, 0) == 0 ? kOutputOpened : kOutputUnopened;
}

OutputResult OpenOutput(const char *name, FILE *in, FILE **out)
{
	int descriptor = open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);

	if (descriptor < 0)
		return kOutputUnopened;
	OutputResult result = PrepareOutput(descriptor, in);
	if (result == kOutputOpened) {
		*out = fdopen(descriptor, "w");
		if (*out != nullptr)
			return result;
		result = kOutputUnopened;
	}
	int error = errno;
	(void)close(descriptor);
	errno = error;
	return result;
}
