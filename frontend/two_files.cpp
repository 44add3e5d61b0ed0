#include "frontend/two_files.h"

#include <cstdio>

#include "frontend/messages.h"
#include "frontend/platform.h"
#include "frontend/report.h"
#include "playlist/convert.h"

// The input, open and its first bytes read, converted to the output.
static int ConvertToOutput(FILE *in, Conversion *conversion, const char *output_argument)
{
	char output_name[kNameSize];
	FILE *out = nullptr;

	if (!CopyName(output_name, output_argument, kNameSize))
		return Fail(kUnableOutput, kExitOutput);
	switch (OpenOutput(output_name, in, &out)) {
	case kOutputOpened:
		break;
	case kOutputUnopened:
		return Fail(kUnableOutput, kExitOutput);
	case kOutputIsInput:
		return Fail(kSameFile, kExitOutput);
	case kOutputBusy:
		return Fail(kBusy, kExitOutput);
	}
	ConvertResult result = FinishConversion(in, WithOutputBuffer(out), conversion);
	// The last buffer is written at the close: its failure is a failed
	// write.
	if (fclose(out) != 0 && result == kConverted)
		result = kWriteFailed;
	if (result != kReadFailed)
		return EndWith(result);
	// The output may be a device, or somebody's: it is never removed. As
	// every message, this one goes out at once.
	(void)printf(kIncompleteFormat, kUnableRead, output_name);
	(void)fflush(stdout);
	return EndingOf(result).status;
}

int RunTwoFiles(const char *input, const char *output_argument)
{
	char input_name[kNameSize];
	Conversion conversion;

	SayProgress(input, output_argument);
	if (!CopyName(input_name, input, kNameSize))
		return Fail(kUnableInput, kExitInput);
	FILE *in = WithInputBuffer(fopen(input_name, "rt"));
	if (in == nullptr)
		return Fail(kUnableInput, kExitInput);
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
