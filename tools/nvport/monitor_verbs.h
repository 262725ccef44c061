// nvport's verbs for the monitor itself, through the spooler: install-monitor (AddMonitorW),
// remove-monitor (DeleteMonitorW) and show-monitor (EnumMonitorsW).
#pragma once

#include <string>
#include <vector>

#include "tools/cli/tool.h"

namespace nvport {

int InstallMonitor(const cli::Tool& tool, const std::vector<std::string>& args);
int RemoveMonitor(const cli::Tool& tool, const std::vector<std::string>& args);
// Exit 0 when the monitor is installed, 1 when not.
int ShowMonitor(const cli::Tool& tool, const std::vector<std::string>& args);

}  // namespace nvport
