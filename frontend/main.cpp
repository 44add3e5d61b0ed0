// tandrel: rewrites a playlist written on Windows so that UNIX players can
// follow its entries. One name rewrites that playlist in place, by way of a
// temporary file; two names read the first and write the second.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iterator>

#include "playlist/convert.h"
#include "frontend/messages.h"
#include "frontend/platform.h"

// Room for any path the file system takes (PATH_MAX on Linux) with its zero.
static const size_t kNameSize = 4096;

// Stream buffers far larger than the C library's few kilobytes: a playlist
// then takes a few dozen system calls a megabyte instead of hundreds.
static const size_t kStreamBufferSize = 1 << 17;
static char input_buffer[kStreamBufferSize];
static char output_buffer[kStreamBufferSize];

// What an interrupt must know to put an in-place run's playlist back.
// Changed only while interrupts are held.
static volatile sig_atomic_t original_at_temp;	// renamed, not yet removed
static volatile sig_atomic_t output_created;
static char playlist_path[kNameSize];
static FileFacts original;
static FileFacts output;

// Without the larger buffer the stream only runs slower.
static FILE *WithBuffer(FILE *stream, char *buffer)
{
	if (stream != nullptr)
		(void)setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
	return stream;
}

// Messages are all tandrel says, and it has nowhere else to report that
// standard output failed: the exit status still tells what happened. Each
// goes out at once, so that it comes before whatever the run does next and
// is not lost if the run is killed.
static void Say(const char *line, const char *more = "")
{
	(void)printf("%s%s\n", line, more);
	(void)fflush(stdout);
}

static void SayProgress(const char *input_name, const char *output_name)
{
	(void)printf(kProgressFormat, input_name, output_name);
	(void)fflush(stdout);
}

static int Fail(const char *message, int status)
{
	Say(message);
	return status;
}

// What each result of a conversion says, and the status it ends with.
struct Outcome {
	ConvertResult result;
	int status;
	const char *message;
};

static const Outcome kOutcomes[] = {
	{kConverted, 0, ""},
	{kInputIsUtf16, 1, kInputUtf16},
	{kReadFailed, 1, kUnableRead},
	{kWriteFailed, 2, kUnableWrite},
};

static const Outcome &OutcomeOf(ConvertResult result)
{
	// Every result has its row.
	return *std::find_if(std::begin(kOutcomes), std::end(kOutcomes),
	                     [result](const Outcome &row) { return row.result == result; });
}

static int FailWith(ConvertResult result)
{
	return Fail(OutcomeOf(result).message, OutcomeOf(result).status);
}

// Gives the original playlist its own name again: over the new file while
// that name still leads to it, and never over anything else. Interrupts
// call it too, so it only looks at names and renames.
static void PutOriginalBack()
{
	if (original_at_temp == 0 || !NameIsFile(kTempName, &original))
		return;
	if (output_created != 0 && NameIsFile(playlist_path, &output)) {
		if (RenameReplacing(kTempName, playlist_path))
			original_at_temp = 0;
	} else if (RenameNoReplace(kTempName, playlist_path)) {
		original_at_temp = 0;
	}
}

// How a failed in-place run ends, its files closed and interrupts held:
// the playlist goes back, and the message says where it is when it could
// not.
static int PutBackAndSay(const char *message, int status)
{
	PutOriginalBack();
	Say(message, original_at_temp != 0 ? kKeptAsTemp : "");
	return status;
}

// Ends an in-place run that failed while it wrote the new playlist.
static int FailInPlace(FILE *out, const char *message, int status)
{
	HoldInterrupts();
	CloseRunFile(out);
	status = PutBackAndSay(message, status);
	ReleaseInterrupts();
	return status;
}

// The original goes to the temporary name, if what goes there is the very
// file the run opened and read (anything else goes back), and the new
// playlist is created under the name that frees: one step, as an
// interrupt sees it. Returns 0 with the new file in *out, or the status of
// a run it has ended.
static int SwapInNewFile(FILE **out)
{
	int status = 0;

	HoldInterrupts();
	bool moved = RenameNoReplace(playlist_path, kTempName);
	if (moved && !NameIsFile(kTempName, &original)) {
		(void)RenameNoReplace(kTempName, playlist_path);
		moved = false;
	}
	original_at_temp = moved;
	*out = moved ? CreateExclusive(playlist_path, &original, &output) : nullptr;
	output_created = *out != nullptr;
	if (*out == nullptr)
		status = moved ? PutBackAndSay(kUnableOutput, 2)
		               : Fail(PathExists(kTempName) ? kTempExists : kUnableInput, 1);
	ReleaseInterrupts();
	(void)WithBuffer(*out, output_buffer);
	return status;
}

// The new playlist is complete and on disk, under the playlist's name:
// only now may the original go.
static int FinishInPlace(FILE *out)
{
	int status = 0;

	HoldInterrupts();
	if (!CloseSynced(out) || !NameIsFile(playlist_path, &output)) {
		status = PutBackAndSay(kUnableWrite, 2);
	} else {
		if (!NameIsFile(kTempName, &original) || remove(kTempName) != 0)
			Say(kTempLeft);
		original_at_temp = 0;
	}
	ReleaseInterrupts();
	return status;
}

// The playlist, open and its first line read, written anew under its name.
static int ConvertInPlace(FILE *in, Conversion *conversion)
{
	FILE *out;

	// Whatever bears the temporary name is somebody's: never use it.
	if (PathExists(kTempName))
		return Fail(kTempExists, 1);
	int status = SwapInNewFile(&out);
	if (status != 0)
		return status;
	// A second run that got hold of the new file first is converting it.
	if (!LockExclusive(out) || !KeepOwnership(out, &original))
		return FailInPlace(out, kUnableOutput, 2);
	ConvertResult result = FinishConversion(in, out, conversion);
	if (result != kConverted)
		return FailInPlace(out, OutcomeOf(result).message, OutcomeOf(result).status);
	return FinishInPlace(out);
}

// The playlist, open: refused while another run holds it, or for what its
// first line shows.
static int CheckAndConvert(FILE *in)
{
	Conversion conversion;

	if (!LockExclusive(in))
		return Fail(kBusy, 1);
	ConvertResult result = StartConversion(in, &conversion);
	if (result != kConverted)
		return FailWith(result);
	return ConvertInPlace(in, &conversion);
}

static int RunInPlace(const char *name)
{
	SayProgress(kTempName, name);
	// A link stays a link: the file it leads to is converted.
	FILE *in = ResolveLink(name, playlist_path, sizeof playlist_path)
	               ? WithBuffer(OpenRegularFile(playlist_path, &original), input_buffer)
	               : nullptr;
	if (in == nullptr)
		return Fail(kUnableInput, 1);
	int status = CheckAndConvert(in);
	CloseRunFile(in);
	return status;
}

// The input, open and its first line read, converted to the output.
static int ConvertToOutput(FILE *in, Conversion *conversion, const char *output_argument)
{
	char output_name[kNameSize];

	if (!CopyName(output_name, output_argument, kNameSize))
		return Fail(kUnableOutput, 2);
	// Opening the output would empty the very file about to be read.
	if (IsSameFile(in, output_name))
		return Fail(kSameFile, 2);
	FILE *out = WithBuffer(fopen(output_name, "wt"), output_buffer);
	if (out == nullptr)
		return Fail(kUnableOutput, 2);
	ConvertResult result = FinishConversion(in, out, conversion);
	// A failed close of the output is a failed write: the last buffer
	// went then.
	if (fclose(out) != 0 && result == kConverted)
		result = kWriteFailed;
	return result == kConverted ? 0 : FailWith(result);
}

static int RunTwoFiles(const char *input, const char *output_argument)
{
	char input_name[kNameSize];
	Conversion conversion;

	SayProgress(input, output_argument);
	if (!CopyName(input_name, input, kNameSize))
		return Fail(kUnableInput, 1);
	FILE *in = WithBuffer(fopen(input_name, "rt"), input_buffer);
	if (in == nullptr)
		return Fail(kUnableInput, 1);
	// The input is looked at before the output is touched: a refusal
	// leaves the output as it was.
	ConvertResult result = StartConversion(in, &conversion);
	int status = result == kConverted
	                 ? ConvertToOutput(in, &conversion, output_argument)
	                 : FailWith(result);
	// Nothing was written to it: a failed close loses nothing.
	(void)fclose(in);
	return status;
}

int main(int argc, char *argv[])
{
	CatchInterrupts(PutOriginalBack);
	Say(kBanner);
	if (argc < 2) {
		Say(kNotice);
		Say(kUsage);
		return 0;
	}
	if (argc == 2)
		return RunInPlace(argv[1]);
	return RunTwoFiles(argv[1], argv[2]);
}
