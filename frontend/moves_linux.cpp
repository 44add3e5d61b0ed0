// Locks, moves and removal on Linux, each named relative to a folder
// descriptor and checked by identity: a run moves or removes a name only
// while it is the file the run holds open.
#include "frontend/files_linux.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

LockResult LockFolder(Folder *folder, int seconds)
{
	const struct timespec pause = {0, 10000000};

	for (int waits = 0; flock(folder->descriptor, LOCK_EX | LOCK_NB) != 0; waits++) {
		// A folder opened as a path alone (one the runner may search but
		// not read) takes no lock.
		if (errno != EWOULDBLOCK && errno != EINTR)
			return kLockUnavailable;
		if (waits == seconds * 100)
			return kLockBusy;
		(void)nanosleep(&pause, nullptr);
	}
	return kLockHeld;
}

void UnlockFolder(Folder *folder)
{
	(void)flock(folder->descriptor, LOCK_UN);
}

NameState LookAt(const Folder *folder, const char *leaf, const FileStatus *file)
{
	struct stat found;

	if (fstatat(folder->descriptor, leaf, &found, AT_SYMLINK_NOFOLLOW) != 0)
		return errno == ENOENT ? kNameFree : kNameUnknown;
	if (file != nullptr && found.st_dev == file->volume && found.st_ino == file->index)
		return kNameIsFile;
	int descriptor = S_ISREG(found.st_mode)
	                     ? openat(folder->descriptor, leaf,
	                              O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC)
	                     : -1;
	bool held = descriptor >= 0 && !LockDescriptor(descriptor, LOCK_SH);
	if (descriptor >= 0)
		(void)close(descriptor);
	return held ? kNameHeld : kNameTaken;
}

// Renames from_leaf in from to to_leaf in to unless something has that
// name: with renameat2's no-replace rename, else a hard link and the old
// name's removal (NTFS through FUSE), else, where the file system has
// neither (FAT, exFAT through FUSE, many phones and network mounts), a check
// and a rename, which only the lock of to makes safe. With reserve, the name
// is taken first by an empty file made only where no file is, and the
// rename replaces that: two views of one folder through FUSE do not share
// their locks, and their runs then cannot both take the name. Returns 0 or
// errno.
static int RenameNoReplace(int from, const char *from_leaf, int to, const char *to_leaf,
                           bool to_locked, bool reserve)
{
	if (renameat2(from, from_leaf, to, to_leaf, RENAME_NOREPLACE) == 0)
		return 0;
	if (errno != EINVAL && errno != ENOSYS)
		return errno;
	// A hard link cannot replace anything; the file system checks that.
	if (linkat(from, from_leaf, to, to_leaf, 0) == 0) {
		if (unlinkat(from, from_leaf, 0) == 0)
			return 0;
		int error = errno;
		(void)unlinkat(to, to_leaf, 0);
		return error;
	}
	// No hard links either, or none to another's file.
	if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
		return errno;
	if (!to_locked)
		return ENOLCK;
	struct stat found, reserved;
	// The empty file is made without being opened: a FUSE daemon replaces a
	// file that is open in two steps, hiding it and then renaming, and a run
	// in another view could take the name between the two.
	if (reserve && (mknodat(to, to_leaf, S_IFREG | 0600, 0) != 0 ||
	                fstatat(to, to_leaf, &reserved, AT_SYMLINK_NOFOLLOW) != 0))
		return errno;
	if (!reserve && fstatat(to, to_leaf, &found, AT_SYMLINK_NOFOLLOW) == 0)
		return EEXIST;
	if (!reserve && errno != ENOENT)
		return errno;
	if (renameat(from, from_leaf, to, to_leaf) == 0)
		return 0;
	int error = errno;
	if (reserve && fstatat(to, to_leaf, &found, AT_SYMLINK_NOFOLLOW) == 0 &&
	    found.st_dev == reserved.st_dev && found.st_ino == reserved.st_ino)
		(void)unlinkat(to, to_leaf, 0);
	return error;
}

// The name is the file of status: what a move or a removal may act on.
static int CheckName(const Folder *folder, const char *leaf, const FileStatus *status)
{
	switch (LookAt(folder, leaf, status)) {
	case kNameIsFile:
		return 0;
	case kNameFree:
		return ENOENT;
	case kNameUnknown:
		return errno;
	default:
		return kNotThatFile;
	}
}

// What a move put at to_leaf must be the file moved. Where it is not, a
// file was swapped in at from_leaf in the instant before and moved, or
// another was put over to_leaf in the instant after; no name tells which.
// Moving aside from a name others use (the playlist's), it is taken for
// the first: what moved goes back, never over anything.
static int CheckMoved(const Folder *from, const char *from_leaf, const Folder *to,
                      const char *to_leaf, const FileStatus *status, bool aside)
{
	if (CheckName(to, to_leaf, status) == 0)
		return 0;
	if (aside)
		(void)RenameNoReplace(to->descriptor, to_leaf, from->descriptor, from_leaf, true, false);
	return kNotThatFile;
}

int MoveOpenFile(FILE *, const FileStatus *status, const Folder *from, const char *from_leaf,
                 const Folder *to, const char *to_leaf, bool to_locked, bool aside)
{
	int error = CheckName(from, from_leaf, status);

	if (error == 0)
		error = RenameNoReplace(from->descriptor, from_leaf, to->descriptor, to_leaf, to_locked,
		                        aside);
	return error == 0 ? CheckMoved(from, from_leaf, to, to_leaf, status, aside) : error;
}

int ReplaceWithOpenFile(FILE *, const FileStatus *status, const Folder *from,
                        const char *from_leaf, const Folder *to, const char *to_leaf,
                        const FileStatus *replaced)
{
	int error = CheckName(from, from_leaf, status);

	if (error == 0)
		error = CheckName(to, to_leaf, replaced) == 0 ? 0 : kNotThatFile;
	if (error == 0 && renameat(from->descriptor, from_leaf, to->descriptor, to_leaf) != 0)
		error = errno;
	return error == 0 ? CheckMoved(from, from_leaf, to, to_leaf, status, false) : error;
}

int RemoveOpenFile(FILE *, const FileStatus *status, const Folder *folder, const char *leaf)
{
	int error = CheckName(folder, leaf, status);

	if (error == 0 && unlinkat(folder->descriptor, leaf, 0) != 0)
		error = errno;
	return error;
}

void RemoveHiddenFile(FILE *, const Folder *folder, const char *leaf, const FileStatus *status)
{
	struct stat found;

	if (leaf[0] != '\0' && fstatat(folder->descriptor, leaf, &found, AT_SYMLINK_NOFOLLOW) == 0 &&
	    found.st_dev == status->volume && found.st_ino == status->index)
		(void)unlinkat(folder->descriptor, leaf, 0);
}

bool DigestFile(FILE *stream, unsigned long long *digest)
{
	static unsigned char block[1 << 16];
	const int descriptor = fileno(stream);
	off_t at = 0;
	ssize_t got;

	*digest = kDigestStart;
	while ((got = pread(descriptor, block, sizeof block, at)) > 0) {
		*digest = Digest(*digest, block, static_cast<size_t>(got));
		at += got;
	}
	return got == 0;
}
