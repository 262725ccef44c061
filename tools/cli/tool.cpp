#include "tools/cli/tool.h"

#include <cstdio>

#include "platform/console.h"

namespace cli {

int PrintVersion(const char* name) {
    printf("%s (NORVA TCP/IP Port) %s\n", name, NORVA_VERSION);
    return kExitOk;
}

bool IsHelpOption(const std::string& arg, bool slashHelp) {
    return arg == "-h" || arg == "--help" || (slashHelp && arg == "/?");
}

int Tool::Fail(const std::string& what, DWORD code) const {
    std::string more = explain ? explain(code) : std::string();
    fprintf(stderr, "%s: %s%s%s: error %lu: %s\n", name, what.c_str(), more.empty() ? "" : ": ",
            more.c_str(), static_cast<unsigned long>(code), SystemErrorText(code).c_str());
    return kExitFailed;
}

int Tool::Usage(const std::string& text) const {
    fprintf(stderr, "%s: %s (see %s --help)\n", name, text.c_str(), name);
    return kExitUsage;
}

int Tool::Problem(const std::string& text) const {
    fprintf(stderr, "%s: %s\n", name, text.c_str());
    return kExitFailed;
}

void Tool::Note(const std::string& text) const {
    fprintf(stderr, "%s: note: %s\n", name, text.c_str());
}

}  // namespace cli
