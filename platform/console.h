// What the command-line tools need beyond the Windows API calls they make, on both builds: the
// system's text for an error code, and standard output sent to standard error for a while.
#pragma once

#include <string>

#include "platform/win32.h"

// The system's message for a Win32 or Winsock code as one line, without a line end.
std::string SystemErrorText(DWORD code);

// While it lives, whatever the process writes to standard output goes to standard error.
class StdoutToStderr {
  public:
    StdoutToStderr();
    ~StdoutToStderr();
    StdoutToStderr(const StdoutToStderr&) = delete;
    StdoutToStderr& operator=(const StdoutToStderr&) = delete;

  private:
    int saved_ = -1;
};
