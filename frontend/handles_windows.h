// The run's open files on Windows, by handle: a console event arrives on a
// thread of its own and must close them before it can rename or remove
// them. Kept by signals_windows.cpp.
#ifndef TANDREL_FRONTEND_HANDLES_WINDOWS_H
#define TANDREL_FRONTEND_HANDLES_WINDOWS_H

#include <windows.h>

void RememberRunFile(HANDLE handle);
void ForgetRunFile(HANDLE handle);

#endif
