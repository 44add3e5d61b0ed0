// The in-place run. The original playlist keeps its own name while the new
// one is written where no name leads to it: an anonymous file, or where the
// system has none a hidden ".~tandrel-new-*" file beside the playlist,
// locked from the start. Only once the new playlist is whole and on disk
// does the original move to "~tandrel-temp.m3u" in the current folder, and
// the new one take the playlist's name, in a step that never replaces
// anything. So at every instant the playlist's name leads to the whole
// original, to nothing, or to the whole new playlist: a second run meets a
// locked playlist or a finished one, and no reader meets half of one.
//
// The run goes through four stages. A step and the record of it are one,
// as an interrupt sees them: interrupts are held in between, and the two
// renames are one step.
//
//   Stage           Name leads to  Temporary name  Failure, interrupt     A kill leaves
//   kNothingDone    original       -               new file given up      all as it was *
//   kOriginalAside  nothing        original        original back, new     the original as
//                                                  file given up          the temporary alone
//   kNewFileNamed   new playlist   original        original back over     both
//                                                  the new one
//   kFinished       new playlist   -               -                      the new playlist
//
// * and, where the system has no anonymous files, the hidden new file.
//
// The original is put back only while the temporary name still leads to
// it, and over the new file only while the playlist's name still leads to
// that; anything else somebody put there stays, and the message says where
// the original is.
#include "frontend/in_place.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "frontend/messages.h"
#include "frontend/platform.h"
#include "frontend/run.h"
#include "playlist/convert.h"

enum Stage {
	kNothingDone,
	kOriginalAside,
	kNewFileNamed,
	kFinished,
};

// What an interrupt needs to undo the run. Changed only while interrupts
// are held.
static struct {
	volatile sig_atomic_t stage;
	char playlist[kNameSize];	// the playlist's own name, past any link
	FileFacts original;
	NewFile replacement;
} run;

// Gives the original its own name again: over the new playlist while that
// name still leads to it, and never over anything else. Where it is then,
// its name tells.
static void PutOriginalBack()
{
	if (!NameLeadsTo(kTempName, &run.original))
		return;
	if (run.stage == kNewFileNamed && NameLeadsTo(run.playlist, &run.replacement.facts))
		RenameReplacing(kTempName, run.playlist);
	else
		(void)RenameNoReplace(kTempName, run.playlist);
}

void UndoInPlace()
{
	if (run.stage == kFinished)
		return;
	if (run.stage != kNothingDone)
		PutOriginalBack();
	DiscardNewFile(&run.replacement);
}

// The failure line's ending: where the original is, when it is not back
// under its own name.
static const char *WhereOriginalIs()
{
	return NameLeadsTo(kTempName, &run.original) ? kKeptAsTemp : "";
}

// Closes the new file, if open, and undoes the run: Windows can neither
// rename over nor remove an open file.
static void CloseAndUndo(FILE **out)
{
	HoldInterrupts();
	if (*out != nullptr)
		(void)CloseRunFile(*out);
	*out = nullptr;
	UndoInPlace();
	ReleaseInterrupts();
}

// Undoes the run, then says message and where the original is. Returns
// status.
static int UndoAndSay(FILE **out, const char *message, int status)
{
	CloseAndUndo(out);
	Say(message, WhereOriginalIs());
	return status;
}

// What bears the temporary name is in the way: another run's playlist, or
// one an interrupted run left.
static const char *WhyTempInTheWay()
{
	// Gone already: another run's, for the instant of its moves.
	if (!PathExists(kTempName))
		return kBusyHere;
	// The playlist may bear the temporary name itself, locked by this run.
	if (NameLeadsTo(kTempName, &run.original))
		return kTempExists;
	return LockedByAnother(kTempName) ? kBusyHere : kTempExists;
}

// Why the playlist did not open. Its name may be gone because an
// interrupted run left it under the temporary name here.
static const char *WhyNoPlaylist(const char *name)
{
	if (PathExists(name) || !PathExists(kTempName))
		return kUnableInput;
	return LockedByAnother(kTempName) ? kBusyHere : kMaybeAsTemp;
}

// Opens and locks the playlist, and reads its first line; or refuses,
// touching nothing. Returns 0 or the status of the refusal.
static int OpenPlaylist(const char *name, FILE **in, Conversion *conversion)
{
	switch (ResolveLink(name, run.playlist, sizeof run.playlist)) {
	case kLinkResolved:
		break;
	case kLinkUnresolved:
		return Fail(kUnableInput, 1);
	case kLinkUntrusted:
		return Fail(kUntrustedLink, 1);
	}
	*in = WithInputBuffer(OpenRegularFile(run.playlist, &run.original));
	if (*in == nullptr)
		return Fail(WhyNoPlaylist(name), 1);
	if (!LockExclusive(*in))
		return Fail(kBusy, 1);
	ConvertResult result = StartConversion(*in, conversion);
	if (result != kConverted)
		return EndWith(result);
	// Whatever bears the temporary name is somebody's: never use it.
	if (PathExists(kTempName))
		return Fail(WhyTempInTheWay(), 1);
	return 0;
}

// Writes the new playlist whole and puts it on disk, where no name leads
// to it yet. Returns 0, or the status of a run it has ended.
static int WriteNewPlaylist(FILE *in, Conversion *conversion, FILE **out)
{
	HoldInterrupts();
	*out = CreateNewFile(run.playlist, &run.original, &run.replacement);
	ReleaseInterrupts();
	if (*out == nullptr)
		return Fail(kUnableOutput, 2);
	ConvertResult result = FinishConversion(in, WithOutputBuffer(*out), conversion);
	if (result == kConverted && !SyncStream(*out))
		result = kWriteFailed;
	if (result != kConverted)
		return UndoAndSay(out, MessageOf(result), StatusOf(result));
	return 0;
}

// Ends a run whose original did not move, after error: nothing was
// changed, and the message says why.
static int EndUnmoved(FILE **out, int error)
{
	CloseAndUndo(out);
	if (!NameLeadsTo(run.playlist, &run.original))
		return Fail(kPlaylistChanged, 1);
	switch (error) {
	case EEXIST:
		return Fail(WhyTempInTheWay(), 1);
	case EXDEV:
		Say(kUnableMove, kOtherFileSystem);
		return 1;
	case EACCES:
	case EPERM:
	case EROFS:
		Say(kUnableMove, kNoPermission);
		return 1;
	default:
		Say(kUnableMove, kNoReason);
		return 1;
	}
}

// Moves the original to the temporary name, if what moves is the very file
// the run read (anything else goes back where it was), and gives the new
// playlist the name that frees, never over what another put there: one
// step, as an interrupt sees it. Then closes the new playlist. Returns 0,
// or the status of a run it has ended.
static int SwapIn(FILE **out)
{
	HoldInterrupts();
	bool moved = NameLeadsTo(run.playlist, &run.original) &&
	             RenameNoReplace(run.playlist, kTempName);
	int error = errno;
	if (moved && NameLeadsTo(kTempName, &run.original))
		run.stage = kOriginalAside;
	else if (moved)
		(void)RenameNoReplace(kTempName, run.playlist);
	if (run.stage == kOriginalAside && NameNewFile(*out, &run.replacement, run.playlist))
		run.stage = kNewFileNamed;
	ReleaseInterrupts();
	if (run.stage == kNothingDone)
		return EndUnmoved(out, error);
	if (run.stage == kOriginalAside)
		return UndoAndSay(out, kUnableOutput, 2);
	// Where the last bytes fail only now, the original must stay.
	bool closed = CloseRunFile(*out);
	*out = nullptr;
	return closed ? 0 : UndoAndSay(out, kUnableWrite, 2);
}

// Removes the original, only now and only while the temporary name still
// leads to it; says so when it stays.
static void RemoveOriginal()
{
	HoldInterrupts();
	bool left = NameLeadsTo(kTempName, &run.original) && !RemoveName(kTempName);
	run.stage = kFinished;
	ReleaseInterrupts();
	if (left)
		Say(kTempLeft);
}

int RunInPlace(const char *name)
{
	Conversion conversion;
	FILE *in = nullptr;
	FILE *out = nullptr;

	SayProgress(kTempName, name);
	int status = OpenPlaylist(name, &in, &conversion);
	if (status == 0)
		status = WriteNewPlaylist(in, &conversion, &out);
	if (status == 0)
		status = SwapIn(&out);
	if (status == 0)
		RemoveOriginal();
	// Read to its end or given up: a failed close loses nothing.
	if (in != nullptr)
		(void)CloseRunFile(in);
	return status;
}
