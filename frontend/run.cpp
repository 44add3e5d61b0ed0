#include "frontend/run.h"

#include "frontend/messages.h"

// Stream buffers far larger than the C library's few kilobytes: a playlist
// then takes a few dozen system calls a megabyte instead of hundreds.
static const size_t kStreamBufferSize = 1 << 17;
static char input_buffer[kStreamBufferSize];
static char output_buffer[kStreamBufferSize];

// Without the larger buffer the stream only runs slower.
static FILE *WithBuffer(FILE *stream, char *buffer)
{
	if (stream != nullptr)
		(void)setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
	return stream;
}

FILE *WithInputBuffer(FILE *stream)
{
	return WithBuffer(stream, input_buffer);
}

FILE *WithOutputBuffer(FILE *stream)
{
	return WithBuffer(stream, output_buffer);
}

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
