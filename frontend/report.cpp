// What a run says, and how it ends.
#include "frontend/report.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include "frontend/messages.h"

// Messages are all tandrel says, and it has nowhere else to report that
// standard output failed: the exit status still tells what happened. Each
// goes out at once, so that it comes before whatever the run does next and
// is not lost if the run is killed. Names may be as long as a path.
static char said[2 * kNameSize + 512];

void Say(const char *line, const char *more)
{
	(void)snprintf(said, sizeof said, "%s%s\n", line, more);
	WriteOut(said);
}

void SayFormatted(const char *format, const char *one, const char *two)
{
	const int length = snprintf(said, sizeof said - 1, format, one, two);
	const size_t end = length < 0 ? 0 : static_cast<size_t>(length) < sizeof said - 1
	                                        ? static_cast<size_t>(length)
	                                        : sizeof said - 2;
	said[end] = '\n';
	said[end + 1] = '\0';
	WriteOut(said);
}

void SayProgress(const char *input_name, const char *output_name)
{
	(void)snprintf(said, sizeof said, kProgressFormat, input_name, output_name);
	WriteOut(said);
}

int Fail(const char *message, ExitStatus status, const char *more)
{
	Say(message, more);
	return status;
}

// Why a file could not be opened, in the user's words.
static const char *ReasonOf(OpenResult result, int error, ExitStatus status)
{
	if (result == kMissing)
		return status == kExitInput ? kNoSuchFile : kNoSuchFolder;
	if (result == kNotFile)
		return error == EISDIR ? kIsFolder : kNotRegular;
	switch (error) {
	case ENOENT:
		return status == kExitInput ? kNoSuchFile : kNoSuchFolder;
	case ENOTDIR:
		return kNoSuchFolder;
	case EISDIR:
		return kIsFolder;
	case EACCES:
	case EPERM:
	case EROFS:
		return status == kExitInput ? kNoPermissionRead : kNoPermissionWrite;
	case ENAMETOOLONG:
		return kNameTooLong;
	case ELOOP:
		return kTooManyLinks;
	case kNotThatFile:
		return kMovedWhileOpened;
	default:
		return strerror(error);
	}
}

int FailToOpen(const char *line, const char *name, OpenResult result, ExitStatus status)
{
	const int error = errno;

	Say(line);
	SayFormatted(kReasonFormat, name, ReasonOf(result, error, status));
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
	case kInputEndMark:
		return {kInputEndMarked, kExitInput};
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

static volatile sig_atomic_t ended_status = -1;

void EndRun(int status)
{
	ended_status = status;
}

int EndedStatus()
{
	return ended_status;
}
