// tandrel: rewrites a playlist written on Windows so that UNIX players can
// follow its entries. One name rewrites that playlist in place, by way of a
// temporary file; two names read the first and write the second.
#include <cstdio>
#include <cstring>

#include "frontend/convert.h"
#include "frontend/messages.h"
#include "frontend/platform.h"

// Room for any path the file system takes (PATH_MAX on Linux) with its zero.
static const size_t kNameSize = 4096;

// Stream buffers far larger than the C library's few kilobytes: a playlist
// then takes a few dozen system calls a megabyte instead of hundreds.
static char input_buffer[1 << 17];
static char output_buffer[1 << 17];

// Opens a stream with one of the buffers above.
static FILE *OpenStream(const char *name, const char *mode, char *buffer)
{
	FILE *stream = fopen(name, mode);

	// Without the larger buffer the stream only runs slower.
	if (stream != nullptr)
		(void)setvbuf(stream, buffer, _IOFBF, sizeof input_buffer);
	return stream;
}

// Messages are all tandrel says, and it has nowhere else to report that
// standard output failed: the exit status still tells what happened.
static void Say(const char *line, const char *more = "")
{
	(void)printf("%s%s\n", line, more);
}

static void SayProgress(const char *input_name, const char *output_name)
{
	(void)printf(kProgressFormat, input_name, output_name);
}

// Nothing was written to it: a failed close loses nothing.
static void CloseInput(FILE *in)
{
	(void)fclose(in);
}

static bool CopyName(char *storage, const char *name)
{
	size_t length = strlen(name);

	if (length >= kNameSize)
		return false;
	memcpy(storage, name, length + 1);
	return true;
}

static const char *DescribeFailure(ConvertResult result, int *status)
{
	switch (result) {
	case kInputIsUtf16:
		*status = 1;
		return kInputUtf16;
	case kReadFailed:
		*status = 1;
		return kUnableRead;
	default:
		*status = 2;
		return kUnableWrite;
	}
}

// A failed close of the output is a failed write: the last buffer went then.
static ConvertResult CloseStreams(FILE *in, FILE *out, ConvertResult result)
{
	CloseInput(in);
	if (fclose(out) != 0 && result == kConverted)
		return kWriteFailed;
	return result;
}

// Gives the playlist its own name again, over a partial output when there
// is one, and says where it is when that fails.
static int PutBack(const char *playlist_name, bool over_output,
                   const char *failure, int status)
{
	bool back = over_output ? RenameReplacing(kTempName, playlist_name)
	                        : RenameNoReplace(kTempName, playlist_name);

	Say(failure, back ? "" : kKeptAsTemp);
	return status;
}

static int RunInPlace(const char *name)
{
	char playlist_name[kNameSize];
	unsigned mode;
	int status;

	if (!CopyName(playlist_name, name)) {
		Say(kUnableInput);
		return 1;
	}
	SayProgress(kTempName, playlist_name);
	// Whatever bears the temporary name is somebody's: never use it.
	if (PathExists(kTempName)) {
		Say(kTempExists);
		return 1;
	}
	if (!IsRegularFile(playlist_name) ||
	    !GetPermissions(playlist_name, &mode)) {
		Say(kUnableInput);
		return 1;
	}
	if (HasUtf16Mark(playlist_name)) {
		Say(kInputUtf16);
		return 1;
	}
	if (!RenameNoReplace(playlist_name, kTempName)) {
		Say(PathExists(kTempName) ? kTempExists : kUnableInput);
		return 1;
	}

	FILE *in = OpenStream(kTempName, "rt", input_buffer);
	if (in == nullptr)
		return PutBack(playlist_name, false, kUnableInput, 1);
	FILE *out = OpenStream(playlist_name, "wt", output_buffer);
	if (out == nullptr) {
		CloseInput(in);
		return PutBack(playlist_name, false, kUnableOutput, 2);
	}
	if (!SetPermissions(out, mode)) {
		CloseStreams(in, out, kConverted);
		return PutBack(playlist_name, true, kUnableOutput, 2);
	}
	ConvertResult result = CloseStreams(in, out, ConvertPlaylist(in, out));
	if (result != kConverted) {
		const char *failure = DescribeFailure(result, &status);
		return PutBack(playlist_name, true, failure, status);
	}
	if (remove(kTempName) != 0)
		Say(kTempLeft);
	return 0;
}

static int RunTwoFiles(const char *input, const char *output)
{
	char input_name[kNameSize];
	char output_name[kNameSize];
	int status;

	if (!CopyName(input_name, input)) {
		Say(kUnableInput);
		return 1;
	}
	if (!CopyName(output_name, output)) {
		Say(kUnableOutput);
		return 2;
	}
	SayProgress(input_name, output_name);

	FILE *in = OpenStream(input_name, "rt", input_buffer);
	if (in == nullptr) {
		Say(kUnableInput);
		return 1;
	}
	// Opening the output would empty the very file about to be read.
	if (IsSameFile(in, output_name)) {
		CloseInput(in);
		Say(kSameFile);
		return 2;
	}
	if (IsRegularFile(input_name) && HasUtf16Mark(input_name)) {
		CloseInput(in);
		Say(kInputUtf16);
		return 1;
	}
	FILE *out = OpenStream(output_name, "wt", output_buffer);
	if (out == nullptr) {
		CloseInput(in);
		Say(kUnableOutput);
		return 2;
	}
	ConvertResult result = CloseStreams(in, out, ConvertPlaylist(in, out));
	if (result != kConverted) {
		Say(DescribeFailure(result, &status));
		return status;
	}
	return 0;
}

int main(int argc, char *argv[])
{
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
