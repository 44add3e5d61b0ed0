// The in-place run: one playlist rewritten under its own name.
#ifndef TANDREL_FRONTEND_IN_PLACE_H
#define TANDREL_FRONTEND_IN_PLACE_H

// Converts the playlist name in place, saying what happens. Returns the
// exit status.
int RunInPlace(const char *name);

// Undoes an in-place run at whatever stage it is: what an interrupt does
// before the process ends. Does nothing outside an in-place run.
void UndoInPlace();

#endif
