// What the Linux file code shares between its topics.
#ifndef TANDREL_FRONTEND_FILES_LINUX_H
#define TANDREL_FRONTEND_FILES_LINUX_H

#include <sys/stat.h>

#include "frontend/platform.h"

void StatusOf(const struct stat *found, FileStatus *status);

// A folder, relative to at, opened for reading so that it can be locked
// and listed; where the runner may search it but not read it, opened as a
// path alone.
int OpenFolderAt(int at, const char *path);

// Opens folder for listing. -1 where it cannot be read.
int OpenForListing(const Folder *folder);

// flock, without waiting: false only where another holds the lock.
bool LockDescriptor(int descriptor, int how);

#endif
