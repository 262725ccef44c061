// The verbs of port_verbs.h, each in the file of its group: one signature for all, the
// tool and the arguments after the verb; the exit code.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/tool.h"

namespace cli {

using Args = std::vector<std::string>;

// port_verbs.cpp
int AddVerb(const Tool& tool, const Args& args);
int ConfigVerb(const Tool& tool, const Args& args);
int ShowVerb(const Tool& tool, const Args& args);
int StatusVerb(const Tool& tool, const Args& args);
int DeleteVerb(const Tool& tool, const Args& args);
int ExistsVerb(const Tool& tool, const Args& args);
// port_list.cpp
int ListVerb(const Tool& tool, const Args& args);
int PortsVerb(const Tool& tool, const Args& args);
// port_transfer.cpp
int ExportVerb(const Tool& tool, const Args& args);
int ImportVerb(const Tool& tool, const Args& args);
// test_page.cpp
int TestPageVerb(const Tool& tool, const Args& args);

}  // namespace cli
