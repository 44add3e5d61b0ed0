// How a run reports: its exit status, and what it says.
#ifndef TANDREL_FRONTEND_REPORT_H
#define TANDREL_FRONTEND_REPORT_H

#include "frontend/platform.h"
#include "playlist/convert.h"

// The exit statuses: the run went through (or no name was given); the input
// could not be used, and nothing was changed; the output could not be made
// or written, or the command line named more than two files.
enum ExitStatus {
	kExitDone = 0,
	kExitInput = 1,
	kExitOutput = 2,
};

// Prints line, then more, then a line feed.
void Say(const char *line, const char *more = "");

// Prints format with one string or two in it, then a line feed.
void SayFormatted(const char *format, const char *one, const char *two = "");

// Prints the progress line.
void SayProgress(const char *input_name, const char *output_name);

// Says message and more, and returns status.
int Fail(const char *message, ExitStatus status, const char *more = "");

// Says line, then on a line of its own which file, name as given, and why
// it could not be opened, as result and errno tell; returns status.
int FailToOpen(const char *line, const char *name, OpenResult result, ExitStatus status);

// A conversion's result: the message it ends with ("" for one that went
// through) and its exit status.
struct Ending {
	const char *message;
	ExitStatus status;
};
Ending EndingOf(ConvertResult result);

// Says what a conversion that did not go through ended with. Returns the
// result's status.
int EndWith(ConvertResult result);

// Once a run has made its last change, a signal waits for its messages and
// ends it with the status they call for: the run records it here.
void EndRun(int status);

// The status recorded, or -1 while the run goes on.
int EndedStatus();

#endif
