// The new file on Linux, and what it carries of the original: an anonymous
// file (O_TMPFILE) where the file system makes them, a hidden one under a
// name unique to the run elsewhere; owner, group, bits and access ACL
// (libacl) given once, after the last write.
#include "frontend/files_linux.h"

#include <acl/libacl.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/file.h>
#include <unistd.h>

// /proc names an open file, for a link to give it a name: the anonymous
// file is used only where it does.
static bool ProcNames(int descriptor, struct stat *found)
{
	char proc[64];
	struct stat named;

	(void)snprintf(proc, sizeof proc, "/proc/self/fd/%d", descriptor);
	return stat(proc, &named) == 0 && fstat(descriptor, found) == 0 &&
	       named.st_dev == found->st_dev && named.st_ino == found->st_ino;
}

FILE *CreateAnonymousFile(const Folder *folder, unsigned long mode, FileStatus *status)
{
	int descriptor = openat(folder->descriptor, ".", O_TMPFILE | O_WRONLY | O_NOCTTY | O_CLOEXEC,
	                        static_cast<mode_t>(mode));
	struct stat found;

	if (descriptor < 0)
		return nullptr;
	// Locked as a hidden file is, for when it takes a hidden name.
	FILE *stream = ProcNames(descriptor, &found) && flock(descriptor, LOCK_EX | LOCK_NB) == 0
	                   ? fdopen(descriptor, "w")
	                   : nullptr;
	if (stream == nullptr) {
		(void)close(descriptor);
		errno = EOPNOTSUPP;
		return nullptr;
	}
	StatusOf(&found, status);
	return stream;
}

// Made at a name no other file had, and locked. A run that took the new
// file for a leftover and locked it first removes it, so only a file still
// at its name once locked is the run's; given up otherwise, it goes while
// the name is still it.
static int TakeHiddenName(const Folder *folder, mode_t mode, const char *leaf, FileStatus *status)
{
	struct stat found, named;
	int descriptor = openat(folder->descriptor, leaf,
	                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);

	if (descriptor < 0)
		return -1;
	// A name taken or emptied meanwhile is passed over (EEXIST), as a name
	// found taken is; errno left by an earlier call says nothing of it.
	int error = EEXIST;
	if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
		if (errno != EWOULDBLOCK)
			error = errno;
	} else if (fstat(descriptor, &found) != 0) {
		error = errno;
	} else if (fstatat(folder->descriptor, leaf, &named, AT_SYMLINK_NOFOLLOW) != 0) {
		if (errno != ENOENT)
			error = errno;
	} else if (named.st_dev == found.st_dev && named.st_ino == found.st_ino) {
		StatusOf(&found, status);
		return descriptor;
	}
	if (fstat(descriptor, &found) == 0) {
		StatusOf(&found, status);
		RemoveHiddenFile(nullptr, folder, leaf, status);
	}
	(void)close(descriptor);
	errno = error;
	return -1;
}

FILE *CreateHiddenFile(const Folder *folder, unsigned long mode, char *leaf, size_t size,
                       FileStatus *status)
{
	struct timespec now;
	(void)clock_gettime(CLOCK_REALTIME, &now);
	// Runs of other machines on a shared folder may have the same process
	// number: the clock sets them apart, and a taken name is passed over.
	unsigned attempt = static_cast<unsigned>(now.tv_nsec / 1000);
	int descriptor = -1;

	for (int tries = 0; descriptor < 0 && tries < 100; tries++) {
		char name[64];
		HiddenLeaf("new", static_cast<unsigned long>(getpid()), attempt++, name, sizeof name);
		// The name and the file are recorded together, so that a signal's
		// handler removes what this run made and nothing else.
		BlockSignals();
		descriptor = TakeHiddenName(folder, static_cast<mode_t>(mode), name, status);
		if (descriptor >= 0)
			(void)CopyName(leaf, name, size);
		UnblockSignals();
		if (descriptor < 0 && errno != EEXIST)
			return nullptr;
	}
	FILE *stream = descriptor >= 0 ? fdopen(descriptor, "w") : nullptr;
	if (stream == nullptr && descriptor >= 0) {
		int error = errno;
		RemoveHiddenFile(nullptr, folder, leaf, status);
		leaf[0] = '\0';
		(void)close(descriptor);
		errno = error;
	}
	return stream;
}

// A run's hidden name carries its process number. Through a second FUSE
// view of the folder a live run's lock is not seen, but its process here
// is.
static bool MakerIsLive(const char *leaf)
{
	const unsigned long process = HiddenLeafProcess(leaf);

	if (process == 0 || process > INT_MAX)
		return false;
	return kill(static_cast<pid_t>(process), 0) == 0 || errno == EPERM;
}

void RemoveLeftovers(const Folder *folder)
{
	int listing = OpenForListing(folder);
	DIR *entries = listing >= 0 ? fdopendir(listing) : nullptr;
	struct dirent *entry;

	if (entries == nullptr) {
		if (listing >= 0)
			(void)close(listing);
		return;
	}
	while ((entry = readdir(entries)) != nullptr) {
		if (!IsHiddenLeaf(entry->d_name) || MakerIsLive(entry->d_name))
			continue;
		int descriptor = openat(folder->descriptor, entry->d_name,
		                        O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
		struct stat found;
		FileStatus status;
		// A live run holds its new file locked from the moment it knows
		// the file is its own.
		if (descriptor >= 0 && fstat(descriptor, &found) == 0 && S_ISREG(found.st_mode) &&
		    flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
			StatusOf(&found, &status);
			RemoveHiddenFile(nullptr, folder, entry->d_name, &status);
		}
		if (descriptor >= 0)
			(void)close(descriptor);
	}
	(void)closedir(entries);
}

int NameAnonymousFile(FILE *stream, const Folder *folder, const char *leaf)
{
	char proc[64];

	(void)snprintf(proc, sizeof proc, "/proc/self/fd/%d", fileno(stream));
	// A link cannot replace anything; the file system checks that.
	if (linkat(AT_FDCWD, proc, folder->descriptor, leaf, AT_SYMLINK_FOLLOW) == 0)
		return 0;
	return errno;
}

// Only root may give a file away; anyone else may still give it the
// original's group, if it is one of theirs, and otherwise keeps it as
// their own, as sed -i does.
static bool GiveOwnership(int descriptor, const FileStatus *original)
{
	const gid_t group = static_cast<gid_t>(original->group);

	return fchown(descriptor, static_cast<uid_t>(original->owner), group) == 0 ||
	       fchown(descriptor, static_cast<uid_t>(-1), group) == 0;
}

// The file has no access list beyond its bits.
static bool BitsAlone(int descriptor)
{
	acl_t acl = acl_get_fd(descriptor);

	if (acl == nullptr)
		return errno == ENOTSUP;
	const bool alone = acl_equiv_mode(acl, nullptr) == 0;
	(void)acl_free(acl);
	return alone;
}

// The original's access list, whole, and where it has none the minimal
// one of its bits, so that none the folder gave the new file stays; the
// list sets the permission bits too. A group not kept loses what the list
// grants the file's group. Returns 1, 0 where the file system keeps no
// lists, or -1 with errno.
static int CopyAccessList(int from, int to, bool group_kept)
{
	acl_t acl = acl_get_fd(from);

	if (acl == nullptr)
		return errno == ENOTSUP ? 0 : -1;
	acl_entry_t entry;
	bool copied = true;
	for (int which = ACL_FIRST_ENTRY; !group_kept && acl_get_entry(acl, which, &entry) == 1;
	     which = ACL_NEXT_ENTRY) {
		acl_tag_t tag;
		acl_permset_t permissions;
		if (acl_get_tag_type(entry, &tag) == 0 && tag == ACL_GROUP_OBJ)
			copied = acl_get_permset(entry, &permissions) == 0 &&
			         acl_clear_perms(permissions) == 0 && acl_set_permset(entry, permissions) == 0;
	}
	int result = copied ? 1 : -1;
	// A file system that keeps no lists (exFAT through FUSE) may still
	// give a list of the bits alone, and one that shows every file as
	// root's lets no other user set one; where both lists are of the bits
	// alone, the bits say it all.
	if (copied && acl_set_fd(to, acl) != 0)
		result = acl_equiv_mode(acl, nullptr) == 0 && BitsAlone(to) ? 0 : -1;
	int error = errno;
	(void)acl_free(acl);
	errno = error;
	return result;
}

bool KeepAccess(FILE *stream, FILE *original, const FileStatus *status, bool *set_id_dropped)
{
	const int descriptor = fileno(stream);
	struct stat found;

	// Ownership goes first: changing it clears the set-id bits. What was
	// not given shows in the new file's status.
	(void)GiveOwnership(descriptor, status);
	if (fstat(descriptor, &found) != 0)
		return false;
	const bool group_kept = found.st_gid == status->group;
	mode_t mode = static_cast<mode_t>(status->mode);
	if (!group_kept)
		mode &= static_cast<mode_t>(~(S_ISGID | S_IRWXG));
	if (found.st_uid != status->owner)
		mode &= static_cast<mode_t>(~S_ISUID);
	const int listed = CopyAccessList(fileno(original), descriptor, group_kept);
	if (listed < 0 || fstat(descriptor, &found) != 0)
		return false;
	// The set-id and sticky bits, and the permission bits where no list
	// gave them. File systems without UNIX permissions (FAT) refuse the
	// change but give every file the same bits: nothing is lost then.
	if (listed == 1)
		mode = static_cast<mode_t>((found.st_mode & 0777) | (mode & 07000));
	if (fchmod(descriptor, mode) != 0 &&
	    (fstat(descriptor, &found) != 0 || (found.st_mode & 07777) != mode))
		return false;
	// Linux drops a set-group-ID bit for a group not the runner's.
	*set_id_dropped = (mode & 06000) != (status->mode & 06000) ||
	                  fstat(descriptor, &found) != 0 || (found.st_mode & 06000) != (mode & 06000);
	return true;
}

void TakeAttributes(FILE *, unsigned long)
{
}

bool SyncFile(FILE *stream)
{
	return fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool MayLowerBits(const FileStatus *status)
{
	const uid_t runner = geteuid();

	if (runner != 0 && runner != status->owner)
		return false;
	if (status->links > 1)
		return false;
	// The C library searches the runner's groups, however many.
	const gid_t group = static_cast<gid_t>(status->group);
	return (status->mode & S_ISGID) == 0 || runner == 0 || getegid() == group ||
	       group_member(group) != 0;
}

bool SetFileMode(FILE *stream, unsigned long mode)
{
	struct stat found;

	if (fchmod(fileno(stream), static_cast<mode_t>(mode)) == 0)
		return true;
	// Where the file system keeps no bits (FAT through FUSE), every file
	// has the same: the original is no more open here than in its folder.
	return errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP
	           ? fstat(fileno(stream), &found) == 0
	           : false;
}

bool CloseRunFile(FILE *stream)
{
	return fclose(stream) == 0;
}
