// The monitor's string table as data, for the Linux build (Windows reads it from the resources).
#pragma once

#include "platform/win32.h"
#include "resources/nvtcpmon_ids.h"

#ifndef _WIN32
#include "platform/linux/include/nvplatform.h"

inline constexpr NvStringResource kMonitorStrings[] = {
#define NV_STRING(id, text) {id, u"" text},
#include "resources/nvtcpmon_strings.inc"
#undef NV_STRING
};
#endif
