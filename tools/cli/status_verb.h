// The status verb of nvspool and nvport: how is the printer of a port? It asks the printer with
// the port's stored settings (address, PortNumber, SnmpEnabled, SnmpCommunity, SnmpIndex) and
// shows what it says, as text or JSON, with an exit status that a script can act on.
#pragma once

#include "net/portentry.h"
#include "tools/cli/tool.h"

namespace cli {

// Exit status of the status verb (besides kExitFailed for a port that cannot be read and
// kExitUsage).
inline constexpr int kExitPrinterReady = 0;
// The TCP port takes connections, but the printer reports a condition (paper, toner, a door,
// a jam, ...), a device status other than running, or a supply at 5 % or less.
inline constexpr int kExitNeedsAttention = 3;
// The printer's TCP port does not take a connection within 2 s.
inline constexpr int kExitNotReachable = 4;

// Asks the port's printer and prints its state; returns one of the codes above.
int ShowPrinterStatus(const PortEntry& record, bool json);

}  // namespace cli
