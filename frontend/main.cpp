// tandrel: rewrites a playlist written on Windows so that UNIX players can
// follow its entries. One name rewrites that playlist in place, by way of a
// temporary file; two names read the first and write the second.
#include <cstdio>

#include "frontend/in_place.h"
#include "frontend/messages.h"
#include "frontend/platform.h"
#include "frontend/run.h"
#include "playlist/convert.h"

// The input, open and its first line read, converted to the output.
static int ConvertToOutput(FILE *in, Conversion *conversion, const char *output_argument)
{
	char output_name[kNameSize];

	if (!CopyName(output_name, output_argument, kNameSize))
		return Fail(kUnableOutput, 2);
	// Opening the output would empty the very file about to be read.
	if (NameReaches(in, output_name))
		return Fail(kSameFile, 2);
	FILE *out = WithOutputBuffer(fopen(output_name, "wt"));
	if (out == nullptr)
		return Fail(kUnableOutput, 2);
	ConvertResult result = FinishConversion(in, out, conversion);
	// A failed close of the output is a failed write: the last buffer
	// went then.
	if (fclose(out) != 0 && result == kConverted)
		result = kWriteFailed;
	if (result != kReadFailed)
		return EndWith(result);
	// The output may be a device, or somebody's: it is never removed. As
	// every message, this one goes out at once.
	(void)printf(kIncompleteFormat, kUnableRead, output_name);
	(void)fflush(stdout);
	return StatusOf(result);
}

static int RunTwoFiles(const char *input, const char *output_argument)
{
	char input_name[kNameSize];
	Conversion conversion;

	SayProgress(input, output_argument);
	if (!CopyName(input_name, input, kNameSize))
		return Fail(kUnableInput, 1);
	FILE *in = WithInputBuffer(fopen(input_name, "rt"));
	if (in == nullptr)
		return Fail(kUnableInput, 1);
	// The input is looked at before the output is touched: a refusal
	// leaves the output as it was.
	ConvertResult result = StartConversion(in, &conversion);
	int status = result == kConverted
	                 ? ConvertToOutput(in, &conversion, output_argument)
	                 : EndWith(result);
	// Nothing was written to it: a failed close loses nothing.
	(void)fclose(in);
	return status;
}

int main(int argc, char *argv[])
{
	CatchInterrupts(UndoInPlace);
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
