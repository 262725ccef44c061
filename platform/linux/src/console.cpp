// The console helpers on Linux: the stand-in's error texts and POSIX descriptors.
#include "platform/console.h"

#include <unistd.h>

#include <cstdio>

#include "platform/linux/include/nvplatform.h"

std::string SystemErrorText(DWORD code) {
    return NvErrorText(code);
}

StdoutToStderr::StdoutToStderr() {
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr() {
    fflush(stdout);
    if (saved_ >= 0) {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
}
