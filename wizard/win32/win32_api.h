// The user-interface part of the Windows API that the Windows view uses, beyond the project's
// platform header: the common controls and property sheets.
#pragma once

#include "platform/win32.h"

#include <commctrl.h>
#include <prsht.h>
