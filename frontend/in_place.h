// The in-place run: one playlist rewritten under its own name.
#ifndef TANDREL_FRONTEND_IN_PLACE_H
#define TANDREL_FRONTEND_IN_PLACE_H

// Converts the playlist name in place, saying what happens. Returns the
// exit status.
int RunInPlace(const char *name);

// What a signal handler does before the process ends: gives up the new
// file of an in-place run that has not finished, and returns false; or
// returns true once the run has finished. Does nothing outside an
// in-place run.
bool UndoInPlace();

#endif
