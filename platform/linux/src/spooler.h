// The pseudo-module "SPOOLSS.DLL" that LoadLibraryW hands to a monitor inside a spooler host.
#pragma once

#include "platform/linux/src/internal.h"

HMODULE NvSpoolssLoad();
bool NvIsSpoolssModule(HMODULE module);
FARPROC NvSpoolssProc(const char* name);
