// Private temporary files, on both builds: a new directory that only the calling account may
// use, made afresh (never one that already exists), and one file created exclusively inside it.
// The directory's name carries the prefix and the number of the process that made it, and
// the process holds the file open (and, on Linux, locked) for as long as it uses it.
#pragma once

#include "platform/win32.h"

// Creates the directory and the file (GENERIC_READ | GENERIC_WRITE) and returns the file's
// handle, its full path in `path`; INVALID_HANDLE_VALUE with the last error on failure.
HANDLE CreatePrivateTempFile(LPCWSTR prefix, LPWSTR path, DWORD pathChars);
// Deletes the file and its private directory; the handle must be closed first.
BOOL DeletePrivateTempFile(LPCWSTR path);
// Removes the directories of this prefix, with their file, that a process which no longer runs
// left behind (a process killed in the middle of its work). Only directories of the calling
// account in their private form are touched, never one whose file is still held, and no
// symbolic link is followed. Returns the number of directories removed.
DWORD SweepPrivateTempFiles(LPCWSTR prefix);
