// The printer's state as the Host Resources MIB (RFC 2790) and the Printer MIB (RFC 3805)
// describe it: the objects a manager reads to learn whether a printer is ready, the values of
// hrDeviceStatus and hrPrinterStatus, and the conditions of hrPrinterDetectedErrorState.
//
// Both sides use this one vocabulary: the monitor and the tools read the state with it, the
// printer simulator answers with it. Pure data and bit arithmetic, no OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "snmp/oid.h"

namespace snmp {

namespace printer_mib {

// Columns of hrDeviceTable and hrPrinterTable, indexed by hrDeviceIndex.
const Oid kHrDeviceDescr{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3};
const Oid kHrDeviceStatus{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5};
const Oid kHrPrinterStatus{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1};
const Oid kHrPrinterDetectedErrorState{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2};
// prtMarkerLifeCount, indexed by hrDeviceIndex and prtMarkerIndex.
const Oid kPrtMarkerLifeCount{1, 3, 6, 1, 2, 1, 43, 10, 2, 1, 4};
// prtMarkerSuppliesTable columns, indexed by hrDeviceIndex and prtMarkerSuppliesIndex.
const Oid kPrtMarkerSuppliesMaxCapacity{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 8};
const Oid kPrtMarkerSuppliesLevel{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 9};
const Oid kPrtMarkerSuppliesDescription{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 6};

// The marker whose page counter a printer with one marker reports.
constexpr std::uint32_t kFirstMarker = 1;

// hrDeviceStatus values.
constexpr std::int32_t kDeviceUnknown = 1;
constexpr std::int32_t kDeviceRunning = 2;
constexpr std::int32_t kDeviceWarning = 3;
constexpr std::int32_t kDeviceTesting = 4;
constexpr std::int32_t kDeviceDown = 5;

// hrPrinterStatus values.
constexpr std::int32_t kPrinterOther = 1;
constexpr std::int32_t kPrinterUnknown = 2;
constexpr std::int32_t kPrinterIdle = 3;
constexpr std::int32_t kPrinterPrinting = 4;
constexpr std::int32_t kPrinterWarmup = 5;

// prtMarkerSuppliesLevel and MaxCapacity below zero (RFC 3805): not a quantity.
constexpr std::int32_t kSupplyOther = -1;
constexpr std::int32_t kSupplyUnknown = -2;
constexpr std::int32_t kSupplySomeRemaining = -3;  // level only: at least one unit left

// "running", "down", ...; nullptr for a value the MIB does not define.
const char* DeviceStatusName(std::int32_t value);
const char* PrinterStatusName(std::int32_t value);

}  // namespace printer_mib

// The conditions of hrPrinterDetectedErrorState, in the order of its bits: condition k is bit
// 0x80 >> (k % 8) of octet k / 8, so lowPaper is 0x80 of the first octet and inputTrayMissing
// 0x80 of the second.
enum class PrinterCondition : std::uint8_t {
    LowPaper,
    NoPaper,
    LowToner,
    NoToner,
    DoorOpen,
    Jammed,
    Offline,
    ServiceRequested,
    InputTrayMissing,
    OutputTrayMissing,
    MarkerSupplyMissing,
    OutputNearFull,
    OutputFull,
    InputTrayEmpty,
    OverduePreventMaint,
};
constexpr std::size_t kPrinterConditionCount = 15;

// A set of conditions: bit k stands for condition k.
using PrinterConditions = std::uint32_t;

constexpr PrinterConditions ConditionBit(PrinterCondition condition) {
    return PrinterConditions{1} << static_cast<unsigned>(condition);
}

struct PrinterConditionName {
    PrinterCondition condition;
    const char* name;  // the MIB's name: "lowPaper", "noPaper", ...
};

// Every condition with its name, in bit order.
extern const PrinterConditionName kPrinterConditionNames[kPrinterConditionCount];

const char* ConditionName(PrinterCondition condition);
// The condition of that name (exact, as the MIB writes it); nullopt for any other text.
std::optional<PrinterCondition> ConditionFromName(std::string_view name);
// The names of the set, in bit order.
std::vector<const char*> ConditionNames(PrinterConditions conditions);

// hrPrinterDetectedErrorState's octets. Bits past the known conditions are ignored, and so
// are octets past the second; an empty string is no condition.
PrinterConditions DecodeErrorState(std::span<const std::uint8_t> octets);
// The octets an agent answers with: two when a condition of the second octet is set, else
// one (what printers and net-snmp send).
std::vector<std::uint8_t> EncodeErrorState(PrinterConditions conditions);

}  // namespace snmp
