// What a run says, and how it ends.
#include "frontend/report.h"

#include "frontend/messages.h"

// Messages are all tandrel says, and it has nowhere else to report that
// standard output failed: the exit status still tells what happened. Each
// goes out at once, so that it comes before whatever the run does next and
// is not lost if the run is killed.
void Say(const char *line, const char *more)
{
	(void)printf("%s%s\n", line, more);
	(void)fflush(stdout);
}

void SayProgress(const char *input_name, const char *output_name)
{
	(void)printf(kProgressFormat, input_name, output_name);
	(void)fflush(stdout);
}

int Fail(const char *message, ExitStatus status, const char *more)
{
	Say(message, more);
	return status;
}

Ending EndingOf(ConvertResult result)
{
	switch (result) {
	case kConverted:
		break;
	case kInputIsUtf16:
		return {kInputUtf16, kExitInput};
	case kInputIsUtf32:
		return {kInputUtf32, kExitInput};
	case kReadFailed:
		return {kUnableRead, kExitInput};
	case kWriteFailed:
		return {kUnableWrite, kExitOutput};
	}
	return {"", kExitDone};
}

int EndWith(ConvertResult result)
{
	Ending ending = EndingOf(result);

	if (result != kConverted)
		Say(ending.message);
	return ending.status;
}
