// A command-line tool as the shared verbs see it: its name for the messages, the one-line
// errors and usage errors with their exit codes, and how it reaches the spooler.
#pragma once

#include <functional>
#include <string>

#include "platform/win32.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // also "no" of the yes/no verbs
inline constexpr int kExitUsage = 2;

struct Tool {
    const char* name;  // "nvspool", "nvport", "nvdiscover": the start of every message
    // Makes the spooler's functions reach the monitor before the first of them is called
    // (nvspool loads it into its own spooler host). Returns kExitOk, or the exit code after it
    // reported why it could not. Empty where the system's spooler serves them.
    std::function<int()> attach;

    int Attach() const { return attach ? attach() : kExitOk; }
    // "NAME: WHAT: error CODE: TEXT" on standard error; returns kExitFailed.
    int Fail(const std::string& what, DWORD code) const;
    // "NAME: TEXT (see NAME --help)" on standard error; returns kExitUsage.
    int Usage(const std::string& text) const;
    // "NAME: TEXT" on standard error; returns kExitFailed.
    int Problem(const std::string& text) const;
};

}  // namespace cli
