// Test switches: what a test sets in the environment variable NORVA_TEST to take paths that a
// healthy machine rarely takes, on both builds (the Windows DLLs under Wine as well as the
// Linux libraries). Nothing in a product installation sets it.
//
//   NORVA_TEST=name[=number][,name[=number]...]
//
//   no-late-api   every function of a Windows release later than the DLLs' minimum is
//                 treated as absent (platform/late_api.h), so that the fallbacks run
//   pacing-ms=N   the first pause before a restarted job connects again, in milliseconds,
//                 instead of 2000 (the later pauses keep their ratios)
//   snmp-port=N   the UDP port of the printers' SNMP agents that the status queries ask,
//                 instead of 161 (snmp/printer_status.h), so that a test's agent needs
//                 neither root nor the machine's port 161
//   status-interval-ms=N  the interval of the printers' status queries during a job,
//                 instead of 5000 (net/statuspoller.h)
#pragma once

#include "platform/win32.h"

// The switch's number; `set` when it is given without one; `absent` when it is not given.
DWORD TestSwitch(const char* name, DWORD absent, DWORD set = 1);
