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

// Standard input is `input` (empty: /dev/null); `environment` adds NAME=VALUE entries.
ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                   const std::string& input = "", const std::vector<std::string>& environment = {});

}  // namespace nvtest
