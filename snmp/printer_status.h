// One question to one printer: how is it? hrDeviceStatus, hrPrinterStatus and
// hrPrinterDetectedErrorState of one device, in one Get.
//
// QueryPrinterStatus asks and waits (a session of its own, the caller's time-out and retries,
// nothing shared with other calls, so any number of threads may ask at once). A caller that
// sends its requests itself builds them from PrinterStatusNames and reads the answer with
// ReadPrinterStatus.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "snmp/manager.h"
#include "snmp/printer_mib.h"

namespace snmp {

struct PrinterStatusQuery {
    const char* agent = nullptr;  // dotted IPv4 address or host name
    std::string_view community;
    std::uint32_t deviceIndex = 1;  // hrDeviceIndex of the printer (a port's SnmpIndex)
    DWORD timeoutMs = kDefaultTimeoutMs;
    int retries = kDefaultRetries;
    USHORT port = 0;  // 0: StatusAgentPort()
};

// The agents' UDP port: 161, or the test switch snmp-port (platform/test_switch.h).
USHORT StatusAgentPort();

struct PrinterStatus {
    // The agent answered. An agent that does not answer tells nothing about the printer: it
    // may be switched off, or only its agent may be off, or the community may be wrong.
    bool answered = false;
    DWORD error = 0;  // not answered: the manager's last error (kErrorTimeout, a Winsock code)
    // The answer's error-status: noSuchName when the agent lacks one of the objects (no such
    // device index, or no Printer MIB), and then no value below is known.
    std::int32_t errorStatus = kNoError;
    std::optional<std::int32_t> deviceStatus;     // hrDeviceStatus (printer_mib::kDevice...)
    std::optional<std::int32_t> printerStatus;    // hrPrinterStatus (printer_mib::kPrinter...)
    std::optional<PrinterConditions> conditions;  // hrPrinterDetectedErrorState

    bool Has(PrinterCondition condition) const {
        return conditions && (*conditions & ConditionBit(condition)) != 0;
    }
};

// The three names of the Get, in the order ReadPrinterStatus expects them.
std::vector<Oid> PrinterStatusNames(std::uint32_t deviceIndex);

// The answer's bindings (as many as PrinterStatusNames gave) and error-status. A value whose
// name or type is not the one asked for stays unknown.
PrinterStatus ReadPrinterStatus(std::uint32_t deviceIndex, std::span<const VarBind> bindings,
                                std::int32_t errorStatus);

// Asks and waits: at most timeoutMs times (retries + 1), plus the name look-up of a host name.
PrinterStatus QueryPrinterStatus(const PrinterStatusQuery& query);

}  // namespace snmp
