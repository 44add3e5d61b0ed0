// The in-place run: one playlist rewritten under its own name.
#ifndef TANDREL_FRONTEND_IN_PLACE_H
#define TANDREL_FRONTEND_IN_PLACE_H

// Converts the playlist name in place, saying what happens. Returns the
// exit status.
int RunInPlace(const char *name);

#endif
