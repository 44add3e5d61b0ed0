// The in-place run. The original playlist keeps its own name while the new
// one is written as an unnamed file (O_TMPFILE), or where the system has
// none as a hidden ".~tandrel-new-N.m3u" file beside the playlist,
// locked from the start. Only once the new playlist is whole and on disk
// does the run commit: the original moves to "~tandrel-temp.m3u" in the
// current folder, the new playlist takes the playlist's name without
// replacing anything, and the original is removed. So at every instant the
// playlist's name is the whole original, nothing, or the whole new
// playlist: a second run meets a locked playlist or a finished one, and
// no reader meets half of one.
//
// The playlist's folder and the current folder are opened once, and every
// step names its files relative to them: a folder of the path swapped for
// a link meanwhile redirects nothing. The commit runs with signals blocked
// and the current folder locked, so that runs in one folder take turns
// and never meet each other's temporary file.
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
//    which the next run in that folder removes.
// ** with its owner's bits alone where the current folder is not the
//    playlist's; a kill in the instant between lowering them and the move
//    leaves the playlist whole under its name with those bits.
//
// A signal before the commit gives up the new file and ends the run as the
// signal would; one that arrives during the commit waits for it, and then
// the run, finished, ends with status 0. The original is put back only
// while the temporary name is still that file, and over the new playlist
// only while the playlist's name is still that; anything else somebody put
// there stays, and the message says where the original is.
#include "frontend/in_place.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "frontend/messages.h"
#include "frontend/platform.h"
#include "frontend/report.h"
#include "playlist/convert.h"

enum Stage {
	kNothingDone,
	kOriginalAside,
	kNewFileNamed,
	kFinished,
};

// What a signal handler needs to undo the run, and what the commit works
// on. A stage changes only while signals are blocked, and with the step
// it records.
static struct {
	volatile sig_atomic_t stage;
	Folder folder;	// the playlist's, past any link
	char leaf[kNameSize];	// the playlist's own name in it
	Folder here;	// the current folder
	FileStatus original;
	bool lowered;	// the original has its owner's bits alone
	NewFile replacement;
} run;

bool UndoInPlace()
{
	if (run.stage == kFinished)
		return true;
	DiscardNewFile(&run.replacement);
	return false;
}

// The original, while it lies in another folder than its own, readable by
// its owner alone: nobody reads it there who could not before. Where the
// runner may not change its bits, that holds only if every user could
// reach it in its own folder already.
static bool LowerBits(FILE *in)
{
	FileStatus folder, here;

	if ((run.original.mode & 077) == 0 || !StatFolder(&run.folder, &folder) ||
	    !StatFolder(&run.here, &here) || SameFile(&folder, &here))
		return true;
	run.lowered = SetFileMode(in, &run.original, run.original.mode & 07700);
	return run.lowered || ReachableByAll(&run.folder);
}

static void RestoreBits(FILE *in)
{
	if (run.lowered)
		(void)SetFileMode(in, &run.original, run.original.mode);
	run.lowered = false;
}

// Gives the original its own name again: over the new playlist while that
// name is still the new playlist, and never over anything else.
static void PutOriginalBack(FILE *in)
{
	if (!IsFileAt(&run.here, kTempName, &run.original))
		return;
	if (run.stage == kNewFileNamed && IsFileAt(&run.folder, run.leaf, &run.replacement.status))
		MoveReplacing(&run.here, kTempName, &run.folder, run.leaf);
	else
		(void)MoveNoReplace(&run.here, kTempName, &run.folder, run.leaf);
	if (!IsFileAt(&run.folder, run.leaf, &run.original))
		return;
	RestoreBits(in);
	run.stage = kNothingDone;
}

// The failure line's ending: where the original is, when it is not back
// under its own name.
static const char *WhereOriginalIs()
{
	return IsFileAt(&run.here, kTempName, &run.original) ? kKeptAsTemp : "";
}

// Closes the new file, if open, and removes it: Windows can neither rename
// over nor remove an open file.
static void GiveUpNewFile(FILE **out)
{
	BlockSignals();
	if (*out != nullptr)
		(void)CloseRunFile(*out);
	*out = nullptr;
	DiscardNewFile(&run.replacement);
	run.replacement.hidden_leaf[0] = '\0';
	UnblockSignals();
}

// What has the temporary name is in the way: another run's playlist, or
// one an interrupted run left.
static const char *WhyTempInTheWay()
{
	FileStatus found;

	// Gone already: another run's, for the instant of its moves.
	if (StatAt(&run.here, kTempName, &found) != 0)
		return kBusyHere;
	// The playlist may have the temporary name itself.
	if (SameFile(&found, &run.original))
		return kTempExists;
	return LockedByAnother(&run.here, kTempName) ? kBusyHere : kTempExists;
}

// Why the playlist is missing: its name may be gone because an interrupted
// run left it under the temporary name here.
static const char *WhyMissing()
{
	FileStatus found;

	if (StatAt(&run.here, kTempName, &found) != 0)
		return kUnableInput;
	return LockedByAnother(&run.here, kTempName) ? kBusyHere : kMaybeAsTemp;
}

// Opens and locks the playlist. Missing while another run's original has
// the temporary name here, it may be in that run's moves: the playlist is
// opened again once they are done.
static int OpenLocked(const char *name, FILE **in)
{
	bool locked = false;
	OpenResult opened = OpenPlaylist(name, &run.folder, run.leaf, in, &run.original, &locked);

	if (opened == kMissing && LockedByAnother(&run.here, kTempName)) {
		if (LockFolder(&run.here, kFolderWaitSeconds))
			UnlockFolder(&run.here);
		opened = OpenPlaylist(name, &run.folder, run.leaf, in, &run.original, &locked);
	}
	switch (opened) {
	case kOpened:
		return locked ? kExitDone : Fail(kBusy, kExitInput);
	case kMissing:
		return Fail(WhyMissing(), kExitInput);
	case kNotOpened:
		return Fail(kUnableInput, kExitInput);
	case kUntrusted:
		return Fail(kUntrustedLink, kExitInput);
	}
	return kExitInput;
}

// Whatever has the temporary name is somebody's: never use it. Checked
// under the folder's lock, so that another run's moves are over.
static const char *CheckTempFree()
{
	FileStatus found;
	const bool locked = LockFolder(&run.here, kFolderWaitSeconds);
	// A current folder that cannot be searched hides no file: the move
	// is what fails then.
	const char *why = StatAt(&run.here, kTempName, &found) == 0 ? WhyTempInTheWay() : nullptr;

	if (locked)
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
		return Fail(kUnableInput, kExitInput);
	}
	int status = OpenLocked(name, in);
	if (status != kExitDone)
		return status;
	*in = WithInputBuffer(*in);
	ConvertResult result = StartConversion(*in, conversion);
	if (result != kConverted)
		return EndWith(result);
	const char *why = CheckTempFree();
	if (why != nullptr)
		return Fail(why, kExitInput);
	if (!MayRemoveFrom(&run.here, &run.original))
		return Fail(kStrandedHere, kExitInput);
	return kExitDone;
}

// Writes the new playlist whole, still unnamed, and puts it on disk.
// Returns 0, or the status of a run it has ended.
static int WriteNewPlaylist(FILE *in, Conversion *conversion, FILE **out)
{
	*out = CreateNewFile(&run.folder, in, &run.original, &run.replacement);
	if (*out == nullptr) {
		const bool read_only = errno == EACCES || errno == EROFS;
		return Fail(kUnableOutput, kExitOutput, read_only ? kReadOnlyFolder : "");
	}
	ConvertResult result = FinishConversion(in, WithOutputBuffer(*out), conversion);
	if (result == kConverted && !SyncNewFile(*out, &run.replacement))
		result = kWriteFailed;
	if (result == kConverted)
		return kExitDone;
	GiveUpNewFile(out);
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
		return {WhyTempInTheWay(), "", kExitInput};
	case EXDEV:
		return {kUnableMove, kOtherFileSystem, kExitInput};
	case EACCES:
	case EPERM:
	case EROFS:
		return {kUnableMove, kNoPermission, kExitInput};
	case EINVAL:
	case ENOSYS:
	case EOPNOTSUPP:
		return {kUnableMove, kCannotRename, kExitInput};
	default:
		return {kUnableMove, kNoReason, kExitInput};
	}
}

// The playlist is the very file the run read, and nothing wrote it since.
static bool Unchanged(FILE *in, Commit *commit)
{
	FileStatus now;

	if (!IsFileAt(&run.folder, run.leaf, &run.original))
		*commit = {kPlaylistChanged, "", kExitInput};
	else if (!StatStream(in, &now) || now.size != run.original.size ||
	         now.modified != run.original.modified)
		*commit = {kPlaylistWritten, "", kExitInput};
	else
		return true;
	return false;
}

// Moves the original to the temporary name, if what moves is the very file
// the run read (anything else goes back where it was).
static bool MoveAside(FILE *in, Commit *commit)
{
	if (!Unchanged(in, commit))
		return false;
	if (!LowerBits(in)) {
		*commit = {kUnableMove, kWouldExpose, kExitInput};
		return false;
	}
	if (!MoveNoReplace(&run.folder, run.leaf, &run.here, kTempName)) {
		int error = errno;
		*commit = IsFileAt(&run.folder, run.leaf, &run.original)
		              ? NotMoved(error)
		              : Commit{kPlaylistChanged, "", kExitInput};
		RestoreBits(in);
		return false;
	}
	if (!IsFileAt(&run.here, kTempName, &run.original)) {
		(void)MoveNoReplace(&run.here, kTempName, &run.folder, run.leaf);
		RestoreBits(in);
		*commit = {kPlaylistChanged, "", kExitInput};
		return false;
	}
	run.stage = kOriginalAside;
	return true;
}

// Gives the new playlist the name that frees, never over what another put
// there, and closes it: where the last bytes fail only now, the original
// goes back.
static bool NameNewPlaylist(FILE *in, FILE **out, Commit *commit)
{
	if (!NameNewFile(*out, &run.replacement, &run.folder, run.leaf)) {
		PutOriginalBack(in);
		*commit = {kUnableOutput, WhereOriginalIs(), kExitOutput};
		return false;
	}
	run.stage = kNewFileNamed;
	run.replacement.hidden_leaf[0] = '\0';
	bool closed = CloseRunFile(*out);
	*out = nullptr;
	if (closed)
		return true;
	PutOriginalBack(in);
	*commit = {kUnableWrite, WhereOriginalIs(), kExitOutput};
	return false;
}

// Removes the original, only while the temporary name is still that file;
// says so when it stays. Once it is gone from here its bits come back, for
// the hard links it may have elsewhere.
static void RemoveOriginal(FILE *in, Commit *commit)
{
	FileStatus found;
	int error = StatAt(&run.here, kTempName, &found);

	if (error == 0 && SameFile(&found, &run.original) && !RemoveAt(&run.here, kTempName))
		*commit = {kTempLeft, "", kExitDone};
	else if (error != 0 && error != ENOENT)
		*commit = {kTempUnchecked, "", kExitDone};
	else
		RestoreBits(in);
	run.stage = kFinished;
}

// The commit, with signals blocked and the current folder locked, from the
// move to the removal. Then says what it came to.
static int CommitNewPlaylist(FILE *in, FILE **out)
{
	Commit commit = {"", "", kExitDone};

	if (!LockFolder(&run.here, kFolderWaitSeconds)) {
		GiveUpNewFile(out);
		return Fail(kBusyHere, kExitInput);
	}
	BlockSignals();
	if (MoveAside(in, &commit) && NameNewPlaylist(in, out, &commit))
		RemoveOriginal(in, &commit);
	UnblockSignals();
	UnlockFolder(&run.here);
	if (run.stage != kFinished)
		GiveUpNewFile(out);
	if (commit.message[0] != '\0')
		Say(commit.message, commit.more);
	if (run.stage == kFinished && run.replacement.set_id_dropped)
		Say(kSetIdDropped);
	return commit.status;
}

int RunInPlace(const char *name)
{
	Conversion conversion;
	FILE *in = nullptr;
	FILE *out = nullptr;

	run.replacement.folder = &run.folder;
	SayProgress(kTempName, name);
	int status = OpenPlaylistHere(name, &in, &conversion);
	if (status == kExitDone)
		status = WriteNewPlaylist(in, &conversion, &out);
	if (status == kExitDone)
		status = CommitNewPlaylist(in, &out);
	// Read to its end or given up: a failed close loses nothing.
	if (in != nullptr)
		(void)CloseRunFile(in);
	return status;
}
