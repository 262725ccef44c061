// The two exports of the installer library.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#define NV_INSTALL_EXPORT
#else
#define NV_INSTALL_EXPORT __attribute__((visibility("default")))
#endif

// Run the search-all (or search-by-address) wizard and register the chosen printer's port.
// portName: the caller's buffer of at least 128 bytes; on return the port name in the ANSI
// code page, or the empty string. 0 when the wizard finished and the port was written, or when
// it was cancelled (empty name); 183 when the port could not be written (the name is there).
extern "C" NV_INSTALL_EXPORT int WINAPI QornSearchAll(char* portName);
extern "C" NV_INSTALL_EXPORT int WINAPI QornSearchByIP(char* portName);
