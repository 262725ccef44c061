// Runs a built tool (build/bin) as a user would, with the test's environment.
#pragma once

#include <string>
#include <vector>

namespace nvtest {

struct ToolResult {
    int exitCode = -1;  // 128 + the signal when the tool was killed
    std::string out;
    std::string err;
};

// `tool` is a program of build/bin, or a path from the root. Standard input is `input` (empty:
// /dev/null); `environment` adds NAME=VALUE entries, or replaces the test's own of the same name.
ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                   const std::string& input = "", const std::vector<std::string>& environment = {});

}  // namespace nvtest
