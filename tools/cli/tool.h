// A command-line tool as the shared verbs see it: its name for the messages, the one-line
// errors and usage errors with their exit codes, and how it reaches the spooler and prints.
#pragma once

#include <functional>
#include <string>

#include "platform/win32.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // also "no" of the yes/no verbs
inline constexpr int kExitUsage = 2;

// "NAME (NORVA TCP/IP Port) VERSION" on standard output, as --version prints it; returns 0.
int PrintVersion(const char* name);

// Whether the argument asks for help: -h, --help, and /? where the tool takes it.
bool IsHelpOption(const std::string& arg, bool slashHelp);

struct Tool {
    const char* name;  // "nvspool", "nvport", "nvdiscover": the start of every message
    // Makes the spooler's functions reach the monitor before the first of them is called
    // (nvspool loads it into its own spooler host). `changes` tells whether the verb may change
    // the registry: one that only reads must not create it. Returns kExitOk, or the exit code
    // after it reported why it could not. Empty where the system's spooler serves them.
    std::function<int(bool changes)> attach;
    // What a failure's line adds for its code, where the tool knows more than the code says
    // (the registry store's file, on Linux); empty text for nothing.
    std::function<std::string(DWORD code)> explain;
    // Where the system's spooler must have the monitor installed: the command that installs
    // it, for the line that says it is missing. Null where the tool loads the monitor itself.
    const char* installCommand = nullptr;
    // Prints one document through the port by the monitor's own job path and reports its
    // outcome as any job's; returns the exit code.
    std::function<int(const std::string& port, const std::string& document,
                      const std::string& data)>
        printJob;
    // nvport takes /? as Windows tools do.
    bool slashHelp = false;

    int Attach(bool changes) const { return attach ? attach(changes) : kExitOk; }
    // "NAME: WHAT: error CODE: TEXT" on standard error, with what `explain` adds after WHAT;
    // returns kExitFailed.
    int Fail(const std::string& what, DWORD code) const;
    // "NAME: TEXT (see NAME --help)" on standard error; returns kExitUsage.
    int Usage(const std::string& text) const;
    // "NAME: TEXT" on standard error; returns kExitFailed.
    int Problem(const std::string& text) const;
    // "NAME: note: TEXT" on standard error.
    void Note(const std::string& text) const;
};

}  // namespace cli
