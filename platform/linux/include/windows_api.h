// Linux build: the subset of the Windows API that the libraries call, declared with the Windows
// names, signatures and integer widths, implemented by libnvplatform (platform/linux/src).
#pragma once

#include "platform/linux/include/wintypes.h"
#include "platform/linux/include/winerror.h"
#include "platform/linux/include/winbase.h"
#include "platform/linux/include/winreg.h"
#include "platform/linux/include/winspool.h"
#include "platform/linux/include/winsvc.h"
#include "platform/linux/include/winuser.h"

#define WSTR(s) u##s
