// The commands of nvspool.
#pragma once

#include <string>
#include <vector>

namespace nvspool {

struct Options {
    std::string monitorPath;
};

// Runs one command; returns the process exit code (0 success, 1 failure, 2 usage).
int RunCommand(const std::string& command, const std::vector<std::string>& args,
               const Options& options);

}  // namespace nvspool
