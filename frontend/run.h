// What both runs share: how they speak, how they end, and their streams'
// buffers.
#ifndef TANDREL_FRONTEND_RUN_H
#define TANDREL_FRONTEND_RUN_H

#include <cstdio>

#include "playlist/convert.h"

// Gives stream, if any, the run's large buffer for its input or its output,
// and returns it.
FILE *WithInputBuffer(FILE *stream);
FILE *WithOutputBuffer(FILE *stream);

// Prints line, then more, then a line feed, and flushes them.
void Say(const char *line, const char *more = "");

// Prints the progress line, and flushes it.
void SayProgress(const char *input_name, const char *output_name);

// Says message and returns status.
int Fail(const char *message, int status);

// The message a conversion that did not go through ends with ("" for one
// that did), and the exit status of each result.
const char *MessageOf(ConvertResult result);
int StatusOf(ConvertResult result);

// Says what a conversion that did not go through ended with. Returns the
// result's status.
int EndWith(ConvertResult result);

#endif
