// Helpers shared by the nvspool commands.
#pragma once

#include <string>

#include "tools/nvspool/commands.h"
#include "tools/spoolhost/spooler_host.h"

namespace nvspool {

// One clear line on standard error: what failed, the Win32 code and its meaning; returns 1.
int Fail(const std::string& what, DWORD code);
// A usage error; returns 2.
int Usage(const char* text);
// Loads the monitor into the host; on failure reports it and sets *exitCode.
bool LoadMonitor(SpoolerHost& host, const Options& options, int* exitCode);
// The lines of nvspool's own verbs (xcv, print, serve) in the tool's help.
std::string OwnVerbsHelp();

int Print(const std::vector<std::string>& args, const Options& options);
int XcvCommand(const std::vector<std::string>& args, const Options& options);
int Serve(const std::vector<std::string>& args, const Options& options);

}  // namespace nvspool
