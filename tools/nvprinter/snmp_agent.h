// The SNMP agent of the printer simulator: the objects it holds and how it answers one request.
// Nothing here touches a socket; snmp_service.cpp does the network side and the timing faults.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "snmp/message.h"
#include "tools/nvprinter/options.h"
#include "tools/nvprinter/printer_state.h"

namespace nvprinter {

// Objects of the simulated printer (MIB-2, Host Resources MIB, Printer MIB).
namespace oids {
const snmp::Oid kSysDescr{1, 3, 6, 1, 2, 1, 1, 1, 0};
const snmp::Oid kSysUpTime{1, 3, 6, 1, 2, 1, 1, 3, 0};
const snmp::Oid kSysName{1, 3, 6, 1, 2, 1, 1, 5, 0};
const snmp::Oid kIfNumber{1, 3, 6, 1, 2, 1, 2, 1, 0};
const snmp::Oid kIfEntry{1, 3, 6, 1, 2, 1, 2, 2, 1};  // .column.ifIndex
constexpr std::uint32_t kIfIndexColumn = 1;
constexpr std::uint32_t kIfDescrColumn = 2;
constexpr std::uint32_t kIfTypeColumn = 3;
constexpr std::uint32_t kIfPhysAddressColumn = 6;
const snmp::Oid kIpAddrEntry{1, 3, 6, 1, 2, 1, 4, 20, 1};  // .column.A.B.C.D
constexpr std::uint32_t kIpAdEntAddrColumn = 1;
constexpr std::uint32_t kIpAdEntIfIndexColumn = 2;
constexpr std::uint32_t kIpAdEntNetMaskColumn = 3;
const snmp::Oid kIpRouteEntry{1, 3, 6, 1, 2, 1, 4, 21, 1};  // .column.A.B.C.D
constexpr std::uint32_t kIpRouteDestColumn = 1;
constexpr std::uint32_t kIpRouteNextHopColumn = 7;
const snmp::Oid kHrDeviceEntry{1, 3, 6, 1, 2, 1, 25, 3, 2, 1};  // .column.hrDeviceIndex
constexpr std::uint32_t kHrDeviceIndexColumn = 1;
constexpr std::uint32_t kHrDeviceTypeColumn = 2;
constexpr std::uint32_t kHrDeviceDescrColumn = 3;
const snmp::Oid kHrDeviceProcessor{1, 3, 6, 1, 2, 1, 25, 3, 1, 3};
const snmp::Oid kHrDeviceNetwork{1, 3, 6, 1, 2, 1, 25, 3, 1, 4};
const snmp::Oid kHrDevicePrinter{1, 3, 6, 1, 2, 1, 25, 3, 1, 5};
const snmp::Oid kPrinterMib{1, 3, 6, 1, 2, 1, 43};
const snmp::Oid kPrtGeneralConfigChanges{1, 3, 6, 1, 2, 1, 43, 5, 1, 1, 1, 1};
const snmp::Oid kPrtGeneralPrinterName{1, 3, 6, 1, 2, 1, 43, 5, 1, 1, 16, 1};
const snmp::Oid kPrtGeneralSerialNumber{1, 3, 6, 1, 2, 1, 43, 5, 1, 1, 17, 1};
// An object past the Printer MIB, so that GetNext of 1.3.6.1.2.1.43 on a host without it
// lands outside instead of at the end of the view (snmpSetSerialNo.0).
const snmp::Oid kSnmpSetSerialNo{1, 3, 6, 1, 6, 3, 1, 1, 6, 1, 0};
}  // namespace oids

// The other devices of hrDeviceTable, at the indexes a Linux host's agent gives them.
constexpr std::uint32_t kProcessorDeviceIndex = 768;
constexpr std::uint32_t kNetworkDeviceIndex = 1025;

struct SnmpAgentConfig {
    std::string community = "commro";  // the only community answered; others get nothing
    std::array<std::uint8_t, 6> mac = {0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    // Octets in ifPhysAddress.1: 6, or 0 / 8 to play an interface without a MAC / one with a
    // longer hardware address (the MAC and two more octets).
    std::size_t macLength = 6;
    std::uint32_t deviceIndex = 1;  // hrDeviceIndex of the printer
    std::string description = "NORVA Laser Printer (simulated)";
    Ipv4 mask = {255, 255, 255, 0};
    // Index of the ipAddrTable row; unset means the address each request arrived at.
    std::optional<Ipv4> address;
    // Default route's next hop; 0.0.0.0 means no default route, so no ipRouteTable row.
    Ipv4 gateway = {0, 0, 0, 0};
    bool printerMib = true;  // false: --not-a-printer
    bool wrongRequestId = false;
    std::int32_t errorStatus = snmp::kNoError;
};

// What changes from one request to the next.
struct PrinterMoment {
    Ipv4 ownAddress{};              // indexes the ipAddrTable row
    std::uint32_t uptime = 0;       // sysUpTime, hundredths of a second
    ReportedState state;            // hrDeviceStatus, hrPrinterStatus, hrPrinterDetectedErrorState
    std::uint32_t printedJobs = 0;  // prtMarkerLifeCount
};

// Everything the agent can be asked for, in GetNext order.
using ObjectSet = std::map<snmp::Oid, snmp::Value>;
ObjectSet BuildObjects(const SnmpAgentConfig& config, const PrinterMoment& moment);

// What to do with one datagram: the reply to send, if any, and a line for the log.
struct SnmpOutcome {
    std::optional<snmp::Bytes> reply;
    std::string log;
};

SnmpOutcome AnswerRequest(const SnmpAgentConfig& config, const ObjectSet& objects,
                          std::span<const std::uint8_t> datagram);

}  // namespace nvprinter
