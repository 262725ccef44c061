// What the status verb learns from a port's printer: whether its TCP port takes a connection,
// and by SNMP (when the port has it on) its state, description, page counter and supplies.
// Every question is bounded: 2 s for the connection, 2 s and one retry for each SNMP request,
// and at most kMaxSupplies rows of the supplies table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "snmp/printer_status.h"

namespace cli {

// The time a printer's TCP port has to take a connection.
constexpr DWORD kConnectWaitMs = 2000;
// Each SNMP request: 2 s, then once more.
constexpr DWORD kStatusTimeoutMs = 2000;
constexpr int kStatusRetries = 1;
// prtMarkerSuppliesTable rows read at most (a colour printer has a dozen).
constexpr int kMaxSupplies = 32;

// Whom to ask and how: the port's stored settings.
struct ProbeTarget {
    std::string address;  // dotted IPv4
    USHORT portNumber = 0;
    bool snmpEnabled = true;
    std::string community;
    std::uint32_t deviceIndex = 1;
};

struct Supply {
    std::string description;
    std::optional<std::int32_t> capacity;  // prtMarkerSuppliesMaxCapacity (below 0: no quantity)
    std::optional<std::int32_t> level;     // prtMarkerSuppliesLevel (-3: some remaining)
    // level as a share of capacity, when both are quantities.
    std::optional<int> Percent() const;
};

struct ProbeResult {
    DWORD connectError = 0;                  // 0: the TCP port took a connection
    snmp::PrinterStatus status;              // not answered when SNMP is off
    std::optional<std::string> description;  // hrDeviceDescr
    std::optional<std::uint32_t> pageCount;  // prtMarkerLifeCount of the first marker
    std::vector<Supply> supplies;
};

// 0 when a TCP connection to address:port is made within waitMs, else the Winsock error
// (WSAETIMEDOUT when it is still pending).
DWORD ProbeConnection(const std::string& address, USHORT port, DWORD waitMs);

ProbeResult ProbePrinter(const ProbeTarget& target);

}  // namespace cli
