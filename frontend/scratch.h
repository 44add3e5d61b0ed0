// A scratch file for white space that may turn out trailing, where the
// platform keeps temporary files: what the line loop needs of the platform.
#ifndef TANDREL_FRONTEND_SCRATCH_H
#define TANDREL_FRONTEND_SCRATCH_H

#include <cstdio>

// Opens a new, unnamed scratch file for reading and writing in binary mode,
// which goes when it is closed: in $TMPDIR where that is
// set and usable, else in /tmp (on Windows, in the folder GetTempPath
// names). Returns nullptr when it cannot.
FILE *OpenScratchFile();

#endif
