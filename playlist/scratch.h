// A scratch file for white space that may turn out trailing: where the line
// loop keeps what does not fit in memory.
#ifndef TANDREL_PLAYLIST_SCRATCH_H
#define TANDREL_PLAYLIST_SCRATCH_H

#include <cstdio>

// Opens a new, unnamed scratch file for reading and writing in binary mode,
// which goes when it is closed, at the first place from *place on that
// takes one: $TMPDIR where that is set (on Windows, the folder GetTempPath
// names), then the folder given to SetScratchFolder, then /tmp. *place is
// left past the place used. Returns nullptr when no place is left.
FILE *OpenScratchFile(int *place);

// A folder to try after the first place, by a path in UTF-8 on Windows and
// in bytes elsewhere, such as the playlist's own; nullptr for none.
void SetScratchFolder(const char *folder);

#endif
