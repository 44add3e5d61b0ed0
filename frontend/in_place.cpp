// The in-place run. The original playlist keeps its own name while the new
// one is written, unnamed or under a hidden name unique to the run (see
// new_file.h). Only once the new playlist is whole and on disk does the run
// commit: the original moves to "~tandrel-temp.m3u" in the current folder,
// the new playlist takes the playlist's name without replacing anything,
// and the original is removed. So at every instant the playlist's name is
// the whole original, nothing, or the whole new playlist: a second run
// meets a locked playlist or a finished one, and no reader meets half of
// one.
//
// The playlist's folder and the current folder are opened once, and every
// step names its files relative to them and moves or removes a name only
// while it is the file the run holds open. The commit takes both folders'
// locks, so that runs in one folder take turns and a file system that can
// rename only by replacing is checked and renamed under them; then it runs
// with signals blocked to its last message.
//
//   Stage           The name is    Temporary name   On a failure          A kill leaves
//   kNothingDone    original       -                new file given up     all as it was *
//   kOriginalAside  nothing        original **      original back, new    the original as
//                                                   file given up         the temporary *
//   kNewFileNamed   new playlist   original **      original back over    both
//                                                   the new one
//   kFinished       new playlist   -                -                     the new playlist
//
// *  and, where the system has no anonymous files, the hidden new file,
//    which the next run in that folder removes; where it has hard links but
//    no rename that never replaces (NTFS through FUSE), a kill within the
//    move leaves the original under both names.
// ** with its owner's bits alone where the current folder is not the
//    playlist's; a kill in the instant between lowering them and the move
//    leaves the playlist whole under its name with those bits.
//
// A signal before the commit gives up the new file and ends the run as the
// signal would; one that arrives later waits for the commit and its
// messages, and the run ends with the status they call for. The original is
// put back only while the temporary name is still that file, and over the
// new playlist only while the playlist's name is still that; anything else
// somebody put there stays, and the message says where the original is.
#include "frontend/in_place.h"

#include <cerrno>
#include <cstdio>

#include "frontend/messages.h"
#include "frontend/new_file.h"
#include "frontend/platform.h"
#include "frontend/report.h"
#include "playlist/convert.h"
#include "playlist/scratch.h"

enum Stage {
	kNothingDone,
	kOriginalAside,
	kNewFileNamed,
	kFinished,
};

// What the commit works on.
static struct {
	Stage stage;
	Folder folder;	// the playlist's, past any link
	char leaf[kNameSize];	// the playlist's own name in it
	Folder here;	// the current folder
	bool elsewhere;	// the current folder is not the playlist's
	FileStatus original;
	unsigned long long digest;	// of the original, where its times are coarse
	bool lowered;	// the original has its owner's bits alone
	NewFile replacement;
} run;

// What the temporary name is to this run, said once.
static const char *WhyTempTaken(NameState state)
{
	switch (state) {
	case kNameFree:
	case kNameUnknown:	// a folder that cannot be searched: the move fails
		return nullptr;
	case kNameHeld:
		return kBusyHere;
	case kNameIsFile:
	case kNameTaken:
		break;
	}
	return kTempExists;
}

// Opens and locks the playlist. Missing while another run's original has
// the temporary name here, it may be in that run's moves: the playlist is
// opened again once they are done.
static int OpenLocked(const char *name, FILE **in)
{
	bool locked = false;
	OpenResult opened = OpenPlaylist(name, true, true, &run.folder, run.leaf, in, &run.original,
	                                 &locked);

	if (opened == kMissing && LookAt(&run.here, kTempName, nullptr) == kNameHeld) {
		if (LockFolder(&run.here, kFolderWaitSeconds) == kLockHeld)
			UnlockFolder(&run.here);
		opened = OpenPlaylist(name, true, true, &run.folder, run.leaf, in, &run.original,
		                      &locked);
	}
	if (opened == kOpened)
		return locked ? kExitDone : Fail(kBusy, kExitInput);
	if (opened == kUntrusted) {
		SayFormatted(kUntrustedFormat, name);
		return kExitInput;
	}
	if (opened != kMissing)
		return FailToOpen(kUnableInput, name, opened, kExitInput);
	const NameState temp = LookAt(&run.here, kTempName, nullptr);
	if (temp == kNameHeld)
		return Fail(kBusyHere, kExitInput);
	if (temp != kNameTaken)
		return FailToOpen(kUnableInput, name, opened, kExitInput);
	Say(kUnableInput);
	SayFormatted(kReasonFormat, name, kMaybeAsTemp);
	return kExitInput;
}

// Whatever has the temporary name is somebody's: never used. Looked at
// under the folder's lock, so that another run's moves are over.
static const char *CheckTempFree()
{
	const LockResult lock = LockFolder(&run.here, kFolderWaitSeconds);
	const char *why = WhyTempTaken(LookAt(&run.here, kTempName, &run.original));

	if (lock == kLockHeld)
		UnlockFolder(&run.here);
	return why;
}

// Opens and locks the playlist, and reads its first bytes; or refuses,
// touching nothing. Returns 0 or the status of the refusal.
static int OpenPlaylistHere(const char *name, FILE **in, Conversion *conversion)
{
	// A current folder that cannot be searched takes no temporary file; one
	// that cannot be opened for another reason (no descriptor left) is as
	// an input that cannot be opened.
	if (!OpenCurrentFolder(&run.here)) {
		if (errno == EACCES)
			return Fail(kUnableMove, kExitInput, kNoPermission);
		return FailToOpen(kUnableInput, name, kNotOpened, kExitInput);
	}
	int status = OpenLocked(name, in);
	if (status != kExitDone)
		return status;
	FileStatus folder, here;
	run.elsewhere = !StatFolder(&run.folder, &folder) || !StatFolder(&run.here, &here) ||
	                !SameFile(&folder, &here);
	bool coarse = false;
	(void)SameContent(&run.original, &run.original, &coarse);
	if (coarse && !DigestFile(*in, &run.digest))
		return Fail(kUnableRead, kExitInput);
	*in = WithInputBuffer(*in);
	ConvertResult result = StartConversion(*in, conversion, EndMarkEndsText());
	if (result != kConverted)
		return EndWith(result);
	const char *why = CheckTempFree();
	if (why != nullptr)
		return Fail(why, kExitInput);
	if (!MayRemoveFrom(&run.here, &run.original))
		return Fail(kStrandedHere, kExitInput);
	if (run.elsewhere && (run.original.mode & 077) != 0 && !MayLowerBits(&run.original))
		return Fail(kUnableMove, kExitInput, kCannotLower);
	return kExitDone;
}

// Writes the new playlist whole, still unnamed, and puts it on disk.
// Returns 0, or the status of a run it has ended.
static int WriteNewPlaylist(FILE *in, Conversion *conversion)
{
	NewFile *out = &run.replacement;

	if (!MakeNewFile(out, &run.folder, 0600)) {
		const bool read_only = errno == EACCES || errno == EROFS;
		return Fail(kUnableOutput, kExitOutput, read_only ? kReadOnlyFolder : "");
	}
	SetScratchFolder(run.folder.path[0] != '\0' ? run.folder.path : nullptr);
	ConvertResult result = FinishConversion(WithOutputBuffer(out->stream), conversion);
	if (result == kConverted && !SyncNewFile(out, in, &run.original))
		result = kWriteFailed;
	if (result == kConverted)
		return kExitDone;
	DiscardNewFile(out);
	return EndWith(result);
}

// What the commit came to: its message, its ending and its status.
struct Commit {
	const char *message;
	const char *more;
	ExitStatus status;
};

// Why the original did not move, after error: nothing was changed.
static Commit NotMoved(int error)
{
	switch (error) {
	case EEXIST:
		// Gone already: another run's original, for the instant of its
		// moves.
		return {WhyTempTaken(LookAt(&run.here, kTempName, nullptr) == kNameFree ? kNameHeld
		                                                                        : kNameTaken),
		        "", kExitInput};
	case kNotThatFile:
	case ENOENT:
		return {kPlaylistChanged, "", kExitInput};
	case EBUSY:
		return {kHeldByAnother, "", kExitInput};
	case EXDEV:
		return {kUnableMove, kOtherFileSystem, kExitInput};
	case EACCES:
	case EPERM:
	case EROFS:
		return {kUnableMove, kNoPermission, kExitInput};
	case EINVAL:
	case ENOSYS:
	case EOPNOTSUPP:
	case ENOLCK:
		return {kUnableMove, kCannotRename, kExitInput};
	default:
		return {kUnableMove, kNoReason, kExitInput};
	}
}

// The playlist is the very file the run read, and nothing wrote it since:
// its size and times say so, and where those are too coarse to show a
// write, its bytes.
static bool Unchanged(FILE *in, Commit *commit)
{
	FileStatus now;
	bool coarse = false;
	unsigned long long digest = 0;

	if (LookAt(&run.folder, run.leaf, &run.original) != kNameIsFile)
		*commit = {kPlaylistChanged, "", kExitInput};
	else if (!StatStream(in, &now) || !SameContent(&run.original, &now, &coarse) ||
	         (coarse && (!DigestFile(in, &digest) || digest != run.digest)))
		*commit = {kPlaylistWritten, "", kExitInput};
	else
		return true;
	return false;
}

// The original, while it lies in another folder than its own, readable by
// its owner alone: nobody reads it there who could not before. Where the
// file system keeps no bits, every file has the same and there is nothing
// to lower.
static bool LowerBits(FILE *in)
{
	FileStatus now;

	if (!run.elsewhere || (run.original.mode & 077) == 0)
		return true;
	if (!SetFileMode(in, run.original.mode & 07700))
		return false;
	run.lowered = StatStream(in, &now) && (now.mode & 077) == 0;
	return true;
}

static void RestoreBits(FILE *in)
{
	if (run.lowered && SetFileMode(in, run.original.mode))
		run.lowered = false;
}

// Moves the original to the temporary name, if what moves is the very file
// the run read.
static bool MoveAside(FILE *in, bool here_locked, Commit *commit)
{
	if (!Unchanged(in, commit))
		return false;
	if (!LowerBits(in)) {
		*commit = {kUnableMove, kCannotLower, kExitInput};
		return false;
	}
	int error = MoveOpenFile(in, &run.original, &run.folder, run.leaf, &run.here, kTempName,
	                         here_locked, true);
	if (error != 0) {
		RestoreBits(in);
		*commit = NotMoved(error);
		return false;
	}
	run.stage = kOriginalAside;
	return true;
}

// Gives the original its own name again: over the new playlist while that
// name is still the new playlist, and never over anything else.
static void PutOriginalBack(FILE *in, bool folder_locked)
{
	const bool over_new = run.stage == kNewFileNamed;
	int error = over_new ? ReplaceWithOpenFile(in, &run.original, &run.here, kTempName,
	                                           &run.folder, run.leaf, &run.replacement.status)
	                     : MoveOpenFile(in, &run.original, &run.here, kTempName, &run.folder,
	                                    run.leaf, folder_locked);
	if (error != 0)
		return;
	RestoreBits(in);
	run.stage = kNothingDone;
}

// The failure line's ending: where the original is, when it is not back
// under its own name.
static const char *WhereOriginalIs(char *ending, size_t size)
{
	if (run.stage == kNothingDone || LookAt(&run.here, kTempName, &run.original) != kNameIsFile)
		return "";
	if (!run.lowered)
		return kKeptAsTemp;
	(void)snprintf(ending, size, kKeptAsTempLoweredFormat, run.original.mode & 07777);
	return ending;
}

// Gives the new playlist the name that frees, never over what another put
// there, and closes it: where the last bytes fail only now, the original
// goes back.
static bool NameNewPlaylist(FILE *in, bool folder_locked, Commit *commit)
{
	if (NameNewFile(&run.replacement, &run.folder, run.leaf, nullptr, folder_locked) != 0) {
		PutOriginalBack(in, folder_locked);
		*commit = {kUnableOutput, "", kExitOutput};
		return false;
	}
	run.stage = kNewFileNamed;
	if (CloseNewFile(&run.replacement))
		return true;
	PutOriginalBack(in, folder_locked);
	*commit = {kUnableWrite, "", kExitOutput};
	return false;
}

// Removes the original, only while the temporary name is still that file;
// says so when it stays.
static void RemoveOriginal(FILE *in, Commit *commit)
{
	switch (LookAt(&run.here, kTempName, &run.original)) {
	case kNameIsFile:
		if (RemoveOpenFile(in, &run.original, &run.here, kTempName) != 0)
			*commit = {kTempLeft, "", kExitDone};
		else
			run.lowered = false;
		break;
	case kNameUnknown:
		*commit = {kTempUnchecked, "", kExitDone};
		break;
	default:	// moved on by somebody: no longer the run's
		break;
	}
	run.stage = kFinished;
}

// Takes the locks of the current folder and of the playlist's, in the order
// of their identities so that two runs never wait on each other; a lock not
// held is released. Returns false when another run held one too long.
static bool LockFolders(LockResult *here, LockResult *folder)
{
	FileStatus here_status, folder_status;
	const bool here_first = !run.elsewhere || !StatFolder(&run.here, &here_status) ||
	                        !StatFolder(&run.folder, &folder_status) ||
	                        here_status.volume < folder_status.volume ||
	                        (here_status.volume == folder_status.volume &&
	                         here_status.index < folder_status.index);
	Folder *first = here_first ? &run.here : &run.folder;
	Folder *second = here_first ? &run.folder : &run.here;
	LockResult *first_lock = here_first ? here : folder;
	LockResult *second_lock = here_first ? folder : here;

	*first_lock = LockFolder(first, kFolderWaitSeconds);
	*second_lock = !run.elsewhere ? *first_lock
	               : *first_lock == kLockBusy ? kLockUnavailable
	                                          : LockFolder(second, kFolderWaitSeconds);
	if (*here != kLockBusy && *folder != kLockBusy)
		return true;
	if (*first_lock == kLockHeld)
		UnlockFolder(first);
	if (run.elsewhere && *second_lock == kLockHeld)
		UnlockFolder(second);
	return false;
}

static void UnlockFolders(LockResult here, LockResult folder)
{
	if (here == kLockHeld)
		UnlockFolder(&run.here);
	if (run.elsewhere && folder == kLockHeld)
		UnlockFolder(&run.folder);
}

// The commit, from the move to the removal, under the folders' locks and
// with signals blocked; then what it came to is said, and the run ends.
static int CommitNewPlaylist(FILE **in)
{
	Commit commit = {"", "", kExitDone};
	LockResult here_lock = kLockUnavailable, folder_lock = kLockUnavailable;
	char ending[256];

	if (!LockFolders(&here_lock, &folder_lock)) {
		DiscardNewFile(&run.replacement);
		return Fail(kBusyHere, kExitInput);
	}
	BlockSignals();
	if (MoveAside(*in, here_lock == kLockHeld, &commit) &&
	    NameNewPlaylist(*in, folder_lock == kLockHeld, &commit))
		RemoveOriginal(*in, &commit);
	if (run.stage != kFinished)
		DiscardNewFile(&run.replacement);
	const char *more = commit.more[0] != '\0' || commit.status == kExitDone
	                       ? commit.more
	                       : WhereOriginalIs(ending, sizeof ending);
	// Windows keeps a removed file's name while it is open: the input goes
	// before the next run in this folder may look.
	(void)CloseRunFile(*in);
	*in = nullptr;
	UnlockFolders(here_lock, folder_lock);
	EndRun(commit.status);
	if (commit.message[0] != '\0')
		Say(commit.message, more);
	if (run.stage == kFinished && run.replacement.set_id_dropped)
		Say(kSetIdDropped);
	UnblockSignals();
	return commit.status;
}

int RunInPlace(const char *name)
{
	Conversion conversion;
	FILE *in = nullptr;

	SayProgress(kTempName, name);
	int status = OpenPlaylistHere(name, &in, &conversion);
	if (status == kExitDone)
		status = WriteNewPlaylist(in, &conversion);
	if (status == kExitDone)
		status = CommitNewPlaylist(&in);
	// Read to its end or given up: a failed close loses nothing.
	if (in != nullptr)
		(void)CloseRunFile(in);
	return status;
}
