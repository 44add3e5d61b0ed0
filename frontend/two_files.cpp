// The two-file run: one playlist read, another written. An output that is
// a regular file, or nothing yet, is written as a new file in its folder
// and takes its name only once whole and on disk, as in place: the input
// is never emptied while it is read, by whatever path, a failed run leaves
// the output as it was, and a reader meets the old playlist or the new
// one. An existing output keeps its owner, bits and access list, and is
// locked against other runs meanwhile. An output that is a device, a pipe
// or standard output by name is written as it comes.
#include "frontend/two_files.h"

#include <cerrno>
#include <cstdio>

#include "frontend/messages.h"
#include "frontend/new_file.h"
#include "frontend/platform.h"
#include "frontend/report.h"
#include "playlist/convert.h"
#include "playlist/scratch.h"

static struct {
	Folder folder;
	char leaf[kNameSize];
	FileStatus existing;	// the file replaced, for kOutputFile
	FILE *held;	// it, or the device written, while the run lasts
	NewFile file;
} output;

// The input, converted to a device or pipe as it comes.
static int ConvertToDevice(Conversion *conversion, const char *name)
{
	ConvertResult result = FinishConversion(WithOutputBuffer(output.held), conversion);

	// The last buffer is written at the close: its failure is a failed
	// write.
	if (CloseRunFile(output.held) == false && result == kConverted)
		result = kWriteFailed;
	output.held = nullptr;
	if (result != kReadFailed && result != kInputEndMark)
		return EndWith(result);
	// A device is nobody's to remove, and has what was written.
	SayFormatted(kIncompleteFormat, EndingOf(result).message, name);
	return EndingOf(result).status;
}

// Why the new output could not take its name.
static const char *WhyNotNamed(int error)
{
	return error == EEXIST || error == kNotThatFile || error == ENOENT ? kOutputChanged : kUnableOutput;
}

// Names the new output, under the lock of its folder and with signals
// blocked to the last message; the run ends then.
static int NameOutput(OutputKind kind)
{
	const LockResult lock = LockFolder(&output.folder, kFolderWaitSeconds);

	if (lock == kLockBusy) {
		DiscardNewFile(&output.file);
		return Fail(kOutputBusyHere, kExitOutput);
	}
	BlockSignals();
	// Windows replaces no file that is open. Under the folder's lock, no
	// in-place run there can commit meanwhile.
	if (output.held != nullptr)
		(void)CloseRunFile(output.held);
	output.held = nullptr;
	int error = NameNewFile(&output.file, &output.folder, output.leaf,
	                        kind == kOutputFile ? &output.existing : nullptr, lock == kLockHeld);
	const char *message = error != 0 ? WhyNotNamed(error) : "";
	if (error != 0)
		DiscardNewFile(&output.file);
	else if (!CloseNewFile(&output.file))
		message = kUnableWrite;
	if (lock == kLockHeld)
		UnlockFolder(&output.folder);
	const int status = message[0] != '\0' ? kExitOutput : kExitDone;
	EndRun(status);
	if (message[0] != '\0')
		Say(message);
	if (status == kExitDone && output.file.set_id_dropped)
		Say(kSetIdDropped);
	UnblockSignals();
	return status;
}

// The input, converted to a new file that then takes the output's name.
static int ConvertToNewFile(Conversion *conversion, OutputKind kind)
{
	// A copy of another file's access starts as its owner's alone; a new
	// output has the user's defaults, as any program's.
	if (!MakeNewFile(&output.file, &output.folder, kind == kOutputFile ? 0600 : 0666)) {
		const bool read_only = errno == EACCES || errno == EROFS;
		return Fail(kUnableOutput, kExitOutput, read_only ? kReadOnlyOutputFolder : "");
	}
	SetScratchFolder(output.folder.path[0] != '\0' ? output.folder.path : nullptr);
	ConvertResult result = FinishConversion(WithOutputBuffer(output.file.stream), conversion);
	if (result == kConverted &&
	    !SyncNewFile(&output.file, kind == kOutputFile ? output.held : nullptr, &output.existing))
		result = kWriteFailed;
	if (result == kConverted)
		return NameOutput(kind);
	DiscardNewFile(&output.file);
	return EndWith(result);
}

// The input, open and its first bytes read, converted to the output.
static int ConvertToOutput(FILE *in, Conversion *conversion, const char *name)
{
	OutputKind kind = kOutputNew;
	bool busy = false;
	OpenResult found = FindOutput(name, in, &output.folder, output.leaf, &output.existing,
	                              &kind, &busy, &output.held);

	if (found == kUntrusted) {
		SayFormatted(kUntrustedFormat, name);
		return kExitOutput;
	}
	if (found == kNotOpened && errno == EEXIST)
		return Fail(kSameFile, kExitOutput);
	if (found != kOpened)
		return FailToOpen(kUnableOutput, name, found, kExitOutput);
	if (busy)
		return Fail(kBusy, kExitOutput);
	return kind == kOutputDevice ? ConvertToDevice(conversion, name)
	                             : ConvertToNewFile(conversion, kind);
}

int RunTwoFiles(const char *input, const char *output_name)
{
	static Folder input_folder;
	static char input_leaf[kNameSize];
	FileStatus status;
	Conversion conversion;
	FILE *in = nullptr;
	bool locked = false;

	SayProgress(input, output_name);
	OpenResult opened = OpenPlaylist(input, false, false, &input_folder, input_leaf, &in,
	                                 &status, &locked);
	if (opened == kUntrusted) {
		SayFormatted(kUntrustedFormat, input);
		return kExitInput;
	}
	if (opened != kOpened)
		return FailToOpen(kUnableInput, input, opened, kExitInput);
	CloseFolder(&input_folder);
	in = WithInputBuffer(in);
	// The input is looked at before the output is touched: a refusal
	// leaves the output as it was.
	ConvertResult result = StartConversion(in, &conversion, EndMarkEndsText());
	int outcome = result == kConverted ? ConvertToOutput(in, &conversion, output_name)
	                                   : EndWith(result);
	// Nothing was written to either: a failed close loses nothing.
	if (output.held != nullptr)
		(void)CloseRunFile(output.held);
	(void)CloseRunFile(in);
	return outcome;
}
