// How a run reports: its exit status, and what it says.
#ifndef TANDREL_FRONTEND_REPORT_H
#define TANDREL_FRONTEND_REPORT_H

#include <cstdio>

#include "playlist/convert.h"

// The exit statuses: the run went through (or no name was given); the input
// could not be used, and nothing was changed; the output could not be made
// or written.
enum ExitStatus {
	kExitDone = 0,
	kExitInput = 1,
	kExitOutput = 2,
};

// Prints line, then more, then a line feed, and flushes them.
void Say(const char *line, const char *more = "");

// Prints the progress line, and flushes it.
void SayProgress(const char *input_name, const char *output_name);

// Says message and more, and returns status.
int Fail(const char *message, ExitStatus status, const char *more = "");

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

#endif
