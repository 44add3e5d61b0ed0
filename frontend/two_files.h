// The two-file run: one playlist read, another written.
#ifndef TANDREL_FRONTEND_TWO_FILES_H
#define TANDREL_FRONTEND_TWO_FILES_H

// Converts the playlist input into output, saying what happens. Returns
// the exit status.
int RunTwoFiles(const char *input, const char *output);

#endif
