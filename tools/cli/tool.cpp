#include "tools/cli/tool.h"

#include <cstdio>

#include "platform/console.h"

namespace cli {

int Tool::Fail(const std::string& what, DWORD code) const {
    fprintf(stderr, "%s: %s: error %lu: %s\n", name, what.c_str(), static_cast<unsigned long>(code),
            SystemErrorText(code).c_str());
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

}  // namespace cli
