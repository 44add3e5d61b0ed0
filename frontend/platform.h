// What the platforms do not give the same way: file identity, file kinds,
// renaming without replacing, permission bits.
#ifndef TANDREL_FRONTEND_PLATFORM_H
#define TANDREL_FRONTEND_PLATFORM_H

#include <cstdio>

// Something, even a dangling link, bears this name.
bool PathExists(const char *name);

// name is a regular file, or a link to one.
bool IsRegularFile(const char *name);

// name is the very file stream reads, by whatever path or link.
bool IsSameFile(FILE *stream, const char *name);

// Fails, rather than replace it, when something bears the name to.
bool RenameNoReplace(const char *from, const char *to);

// Renames over whatever bears the name to.
bool RenameReplacing(const char *from, const char *to);

// Permission bits of a file, to give them to its replacement. Where a
// platform has none, both succeed and do nothing.
bool GetPermissions(const char *name, unsigned *mode);
bool SetPermissions(FILE *stream, unsigned mode);

#endif
