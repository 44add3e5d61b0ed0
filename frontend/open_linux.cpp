// Finding and opening files on Linux. The folders of a name the user typed
// are the system's to follow; from the name's last part on, every part is
// opened as it is (O_PATH | O_NOFOLLOW) relative to the folder before it,
// and a link is read from the very link opened and followed only where its
// owner may be trusted with what it points to.
#include "frontend/files_linux.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/vfs.h>
#include <unistd.h>

// As many links in a row as Linux follows before it calls it a loop.
static const int kMostLinks = 40;

// /proc's own file system, whose links for the process itself (such as
// /proc/self/fd/1, /dev/stdout's target) are no paths to walk.
static const long kProcMagic = 0x9fa0;

void StatusOf(const struct stat *found, FileStatus *status)
{
	status->volume = found->st_dev;
	status->index = found->st_ino;
	status->mode = found->st_mode & 07777;
	status->owner = found->st_uid;
	status->group = found->st_gid;
	status->links = found->st_nlink;
	status->attributes = 0;
	status->size = static_cast<unsigned long long>(found->st_size);
	status->modified = static_cast<long long>(found->st_mtim.tv_sec) * 1000000000LL +
	                   found->st_mtim.tv_nsec;
	status->changed = static_cast<long long>(found->st_ctim.tv_sec) * 1000000000LL +
	                  found->st_ctim.tv_nsec;
}

bool LockDescriptor(int descriptor, int how)
{
	return flock(descriptor, how | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

int OpenFolderAt(int at, const char *path)
{
	const char *name = path[0] != '\0' ? path : ".";
	int descriptor = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);

	if (descriptor < 0 && errno == EACCES)
		descriptor = openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
	return descriptor;
}

int OpenForListing(const Folder *folder)
{
	return openat(folder->descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool OpenCurrentFolder(Folder *folder)
{
	folder->path[0] = '\0';
	folder->lock = nullptr;
	folder->descriptor = OpenFolderAt(AT_FDCWD, "");
	return folder->descriptor >= 0;
}

bool StatFolder(const Folder *folder, FileStatus *status)
{
	struct stat found;

	if (fstat(folder->descriptor, &found) != 0)
		return false;
	StatusOf(&found, status);
	return true;
}

void CloseFolder(Folder *folder)
{
	if (folder->descriptor >= 0)
		(void)close(folder->descriptor);
	folder->descriptor = -1;
}

bool StatStream(FILE *stream, FileStatus *status)
{
	struct stat found;

	if (fstat(fileno(stream), &found) != 0)
		return false;
	StatusOf(&found, status);
	return true;
}

// A link met on the way and not judged yet: its owner, and how much of the
// path was left after its target, so that it is judged by what that
// target turns out to be.
struct Link {
	uid_t owner;
	size_t after;
};

// The walk from a folder to the file a name refers to. What is left of the
// path lies at the end of left, so that a link's target goes in front.
struct Walk {
	char left[kNameSize];
	size_t start;	// left + start is what is left, zero-terminated
	Link pending[kMostLinks];	// the last met on top
	int pending_count;
	int followed;
	bool trusted;
	int at;	// the folder walked to so far
};

// What a walk ends at.
struct End {
	int folder;	// the folder that lists it, or -1 where /proc led to it
	int object;	// it, opened as a path; -1 where nothing has the name
	struct stat found;
};

static size_t LeftLength(const Walk *walk)
{
	return kNameSize - 1 - walk->start;
}

// Puts text (of length bytes) and a separator in front of what is left.
static bool PutInFront(Walk *walk, const char *text, size_t length)
{
	const size_t separate = LeftLength(walk) > 0 ? 1 : 0;
	if (length + separate > walk->start)
		return false;
	if (separate != 0)
		walk->left[--walk->start] = '/';
	walk->start -= length;
	memcpy(walk->left + walk->start, text, length);
	return true;
}

// Takes the next part of what is left into part, and the separators around
// it; an empty part is the folder walked to.
static void TakePart(Walk *walk, char *part)
{
	const char *at = walk->left + walk->start;
	at += strspn(at, "/");
	size_t length = strcspn(at, "/");
	if (length == 0)
		(void)CopyName(part, ".", kNameSize);
	else
		memcpy(part, at, length), part[length] = '\0';
	at += length;
	at += strspn(at, "/");
	walk->start = static_cast<size_t>(at - walk->left);
}

// Judges the links whose targets have just been walked, by what they lead
// to, of owner (-1 for nothing): a link made by the runner, by root or by
// that owner is followed.
static void JudgeLinks(Walk *walk, uid_t owner)
{
	while (walk->pending_count > 0 &&
	       walk->pending[walk->pending_count - 1].after >= LeftLength(walk)) {
		uid_t made_by = walk->pending[--walk->pending_count].owner;
		walk->trusted = walk->trusted &&
		                (made_by == geteuid() || made_by == 0 || made_by == owner);
	}
}

static void MoveTo(Walk *walk, int folder)
{
	(void)close(walk->at);
	walk->at = folder;
}

// Follows the link opened as link, of status found: its target, read from
// the very link opened, goes in front of what is left.
static bool FollowLink(Walk *walk, int link, const struct stat *found)
{
	static char target[kNameSize];
	ssize_t length = walk->followed < kMostLinks ? readlinkat(link, "", target, sizeof target) : -1;

	if (walk->followed == kMostLinks)
		errno = ELOOP;
	if (length >= 0 && (length == 0 || static_cast<size_t>(length) == sizeof target))
		errno = ENAMETOOLONG;
	if (length <= 0 || static_cast<size_t>(length) == sizeof target)
		return false;
	walk->pending[walk->pending_count++] = {found->st_uid, LeftLength(walk)};
	walk->followed++;
	if (!PutInFront(walk, target, static_cast<size_t>(length))) {
		errno = ENAMETOOLONG;
		return false;
	}
	if (target[0] != '/')
		return true;
	int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
	if (root < 0)
		return false;
	MoveTo(walk, root);
	return true;
}

// A link on /proc's file system, such as /proc/self or /proc/self/fd/1
// (standard output by name): the kernel's own, for what the process has
// open, which only the kernel can follow.
static bool IsKernelLink(int object, const struct stat *found)
{
	struct statfs system;

	return S_ISLNK(found->st_mode) && fstatfs(object, &system) == 0 &&
	       system.f_type == kProcMagic;
}

// Walks what is left from walk->at to its end, whose name goes to part
// (kNameSize bytes). Returns false, with errno, where a part cannot be
// opened, but for a last part that does not exist.
static bool WalkOn(Walk *walk, End *end, char *part)
{
	for (;;) {
		TakePart(walk, part);
		const bool last = LeftLength(walk) == 0;
		int object = openat(walk->at, part, O_PATH | O_NOFOLLOW | O_CLOEXEC);
		struct stat found;
		if (object < 0 && errno == ENOENT && last) {
			JudgeLinks(walk, static_cast<uid_t>(-1));
			*end = {walk->at, -1, {}};
			return true;
		}
		if (object < 0 || fstat(object, &found) != 0) {
			if (object >= 0)
				(void)close(object);
			return false;
		}
		bool by_kernel = IsKernelLink(object, &found);
		if (by_kernel) {
			(void)close(object);
			object = openat(walk->at, part, O_PATH | O_CLOEXEC);
			if (object < 0 || fstat(object, &found) != 0)
				return false;
		} else if (S_ISLNK(found.st_mode)) {
			bool followed = FollowLink(walk, object, &found);
			(void)close(object);
			if (!followed)
				return false;
			continue;
		}
		JudgeLinks(walk, found.st_uid);
		if (last) {
			*end = {by_kernel ? -1 : walk->at, object, found};
			return true;
		}
		if (!S_ISDIR(found.st_mode)) {
			(void)close(object);
			errno = ENOTDIR;
			return false;
		}
		MoveTo(walk, object);
	}
}

// Walks name to what it refers to, the folder of its last part opened by
// the system; the name of its end goes to leaf (kNameSize bytes). On
// success the caller closes the end.
static OpenResult Chase(const char *name, End *end, char *leaf)
{
	static Walk walking;
	static char path[kNameSize];
	Walk *walk = &walking;

	if (!SplitPath(name, "/", path, leaf, kNameSize)) {
		errno = ENAMETOOLONG;
		return kNotOpened;
	}
	if (leaf[0] == '\0') {
		errno = EISDIR;
		return kNotFile;
	}
	walk->at = openat(AT_FDCWD, path[0] != '\0' ? path : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
	if (walk->at < 0)
		return errno == ENOENT ? kMissing : kNotOpened;
	walk->start = kNameSize - 1;
	walk->left[walk->start] = '\0';
	walk->pending_count = walk->followed = 0;
	walk->trusted = true;
	(void)PutInFront(walk, leaf, strlen(leaf));
	bool ended = WalkOn(walk, end, leaf);
	int error = errno;
	if (ended && !walk->trusted) {
		if (end->object >= 0)
			(void)close(end->object);
		ended = false;
	}
	if (!ended || end->folder < 0)
		(void)close(walk->at);
	errno = error;
	if (!ended)
		return !walk->trusted ? kUntrusted : error == ENOENT ? kMissing : kNotOpened;
	return kOpened;
}

// The name of the file as folder lists it: on a file system that ignores
// case (FAT, exFAT) the name typed may be spelt otherwise. Where the
// folder lists no name as typed, the one name it lists that differs only
// in case is the file's, once the system shows it as the same: FAT through
// FUSE numbers a file anew for each spelling, so there the same size, time
// and kind do, and *file becomes what that spelling shows, by which the
// run knows the file from then on. leaf is left as it is where the folder
// cannot be listed.
static void TakeListedName(int folder, char *leaf, struct stat *file)
{
	static char listed[kNameSize];
	int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DIR *entries = listing >= 0 ? fdopendir(listing) : nullptr;
	struct dirent *entry;
	int spellings = 0;

	if (entries == nullptr) {
		if (listing >= 0)
			(void)close(listing);
		return;
	}
	while ((entry = readdir(entries)) != nullptr && strcmp(entry->d_name, leaf) != 0) {
		if (strcasecmp(entry->d_name, leaf) == 0 && spellings++ == 0)
			(void)CopyName(listed, entry->d_name, sizeof listed);
	}
	const bool typed_listed = entry != nullptr;
	(void)closedir(entries);
	struct stat found;
	if (typed_listed || spellings != 1 ||
	    fstatat(folder, listed, &found, AT_SYMLINK_NOFOLLOW) != 0 || found.st_dev != file->st_dev)
		return;
	if (found.st_ino == file->st_ino ||
	    (found.st_size == file->st_size && found.st_mtim.tv_sec == file->st_mtim.tv_sec &&
	     found.st_mtim.tv_nsec == file->st_mtim.tv_nsec && found.st_mode == file->st_mode)) {
		(void)CopyName(leaf, listed, kNameSize);
		*file = found;
	}
}

// Opens what end found, which the folder lists as leaf, with flags; where
// /proc led to it, by its descriptor there. It must still be what was found.
// Where the folder is known, the walk's descriptor of it goes first, so that
// a run needs no more descriptors than it keeps.
static int Reopen(End *end, const char *leaf, int flags)
{
	char proc[64];
	struct stat now;

	(void)snprintf(proc, sizeof proc, "/proc/self/fd/%d", end->object);
	if (end->folder >= 0 && end->object >= 0) {
		(void)close(end->object);
		end->object = -1;
	}
	int descriptor = end->folder >= 0 ? openat(end->folder, leaf, flags | O_NOFOLLOW)
	                                  : open(proc, flags);
	if (descriptor < 0)
		return -1;
	if (fstat(descriptor, &now) == 0 && now.st_dev == end->found.st_dev &&
	    now.st_ino == end->found.st_ino)
		return descriptor;
	(void)close(descriptor);
	errno = kNotThatFile;
	return -1;
}

// Where a walk ends in the folder, the folder becomes the run's, its path
// the one /proc gives its descriptor (for the scratch file).
static void TakeFolder(const End *end, Folder *folder)
{
	folder->lock = nullptr;
	folder->descriptor = end->folder;
	// The walk opened it as a path; a lock and a listing need it readable.
	int readable = OpenFolderAt(end->folder, "");
	if (readable >= 0) {
		(void)close(folder->descriptor);
		folder->descriptor = readable;
	}
	(void)snprintf(folder->path, sizeof folder->path, "/proc/self/fd/%d", folder->descriptor);
}

static void CloseEnd(End *end)
{
	if (end->object >= 0)
		(void)close(end->object);
	if (end->folder >= 0)
		(void)close(end->folder);
	end->object = end->folder = -1;
}

// Why a walk's end is no file to read or write: a folder, or no regular
// file.
static OpenResult NotAFile(End *end)
{
	errno = S_ISDIR(end->found.st_mode) ? EISDIR : EINVAL;
	CloseEnd(end);
	return kNotFile;
}

OpenResult OpenPlaylist(const char *name, bool regular_only, bool lock, Folder *folder,
                        char *leaf, FILE **in, FileStatus *status, bool *locked)
{
	End end;
	OpenResult result = Chase(name, &end, leaf);

	folder->descriptor = -1;
	if (result != kOpened)
		return result;
	if (end.object < 0) {
		CloseEnd(&end);
		errno = ENOENT;
		return kMissing;
	}
	const bool regular = S_ISREG(end.found.st_mode);
	// In place, a file that /proc led to has no folder to be renamed in.
	if (!(regular || (!regular_only && !S_ISDIR(end.found.st_mode))) ||
	    (regular_only && end.folder < 0))
		return NotAFile(&end);
	// Opened by the name the folder lists: exFAT through FUSE fails a file
	// open under one spelling and moved under another.
	if (end.folder >= 0 && regular)
		TakeListedName(end.folder, leaf, &end.found);
	// Without O_NONBLOCK, opening a FIFO waits for a writer, as a reader of
	// one expects; a regular file that was swapped for one must not wait.
	int descriptor = Reopen(&end, leaf, O_RDONLY | O_NOCTTY | O_CLOEXEC |
	                                        (regular ? O_NONBLOCK : 0));
	if (descriptor < 0) {
		int error = errno;
		CloseEnd(&end);
		errno = error;
		return kNotOpened;
	}
	*locked = !lock || LockDescriptor(descriptor, LOCK_EX);
	*in = fdopen(descriptor, "r");
	if (*in == nullptr) {
		(void)close(descriptor);
		CloseEnd(&end);
		return kNotOpened;
	}
	if (end.folder < 0)
		(void)close(end.object);
	else
		TakeFolder(&end, folder);
	StatusOf(&end.found, status);
	return kOpened;
}

// The output is no file that a new one may replace: opened for writing as
// it is, and where it is a regular file all the same (standard output by
// name), checked, locked and emptied as a file written in place.
static OpenResult OpenDevice(End *end, const char *leaf, FILE *in, bool *busy,
                             FILE **device)
{
	const bool regular = S_ISREG(end->found.st_mode);
	int descriptor = Reopen(end, leaf, O_WRONLY | O_NOCTTY | O_CLOEXEC);
	int error = errno;
	struct stat input;

	CloseEnd(end);
	if (descriptor < 0) {
		errno = error;
		return kNotOpened;
	}
	if (regular && fstat(fileno(in), &input) == 0 && input.st_dev == end->found.st_dev &&
	    input.st_ino == end->found.st_ino)
		error = EEXIST;
	else if (regular && !LockDescriptor(descriptor, LOCK_EX))
		*busy = true;
	else if ((!regular || ftruncate(descriptor, 0) == 0) &&
	         (*device = fdopen(descriptor, "w")) != nullptr)
		return kOpened;
	else
		error = errno;
	(void)close(descriptor);
	errno = error;
	return *busy ? kOpened : kNotOpened;
}

// The existing output may be written by the runner, as writing it in place
// would need; it is held open, locked, while the run lasts, so that no
// other run converts it meanwhile (*busy where one does).
static OpenResult HoldOutputFile(End *end, const char *leaf, bool *busy, FILE **held)
{
	int descriptor = Reopen(end, leaf, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);

	if (descriptor < 0)
		return kNotOpened;
	*busy = !LockDescriptor(descriptor, LOCK_EX);
	*held = *busy ? nullptr : fdopen(descriptor, "w");
	if (*held != nullptr)
		return kOpened;
	int error = errno;
	(void)close(descriptor);
	errno = error;
	return *busy ? kOpened : kNotOpened;
}

OpenResult FindOutput(const char *name, FILE *in, Folder *folder, char *leaf,
                      FileStatus *status, OutputKind *kind, bool *busy, FILE **held)
{
	End end;
	OpenResult result = Chase(name, &end, leaf);
	struct stat input;

	folder->descriptor = -1;
	*busy = false;
	*held = nullptr;
	if (result != kOpened)
		return result;
	if (end.object >= 0 && S_ISDIR(end.found.st_mode))
		return NotAFile(&end);
	if (end.object >= 0 && (end.folder < 0 || !S_ISREG(end.found.st_mode))) {
		*kind = kOutputDevice;
		return OpenDevice(&end, leaf, in, busy, held);
	}
	*kind = end.object < 0 ? kOutputNew : kOutputFile;
	if (*kind == kOutputFile) {
		TakeListedName(end.folder, leaf, &end.found);
		if (fstat(fileno(in), &input) == 0 && input.st_dev == end.found.st_dev &&
		    input.st_ino == end.found.st_ino) {
			CloseEnd(&end);
			errno = EEXIST;
			return kNotOpened;
		}
		result = HoldOutputFile(&end, leaf, busy, held);
		if (result != kOpened || *busy) {
			int error = errno;
			CloseEnd(&end);
			errno = error;
			return result;
		}
		StatusOf(&end.found, status);
	}
	TakeFolder(&end, folder);
	return kOpened;
}

bool MayRemoveFrom(const Folder *folder, const FileStatus *status)
{
	struct stat found;

	if (fstat(folder->descriptor, &found) != 0 || (found.st_mode & S_ISVTX) == 0)
		return true;
	return geteuid() == 0 || geteuid() == found.st_uid || geteuid() == status->owner;
}
