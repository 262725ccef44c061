// Private temporary files, on both builds: a new directory that only the calling account may
// use, made afresh (never one that already exists), and one file created exclusively inside it.
#pragma once

#include "platform/win32.h"

// Creates the directory and the file (GENERIC_READ | GENERIC_WRITE) and returns the file's
// handle, its full path in `path`; INVALID_HANDLE_VALUE with the last error on failure.
HANDLE CreatePrivateTempFile(LPCWSTR prefix, LPWSTR path, DWORD pathChars);
// Deletes the file and its private directory; the handle must be closed first.
BOOL DeletePrivateTempFile(LPCWSTR path);
