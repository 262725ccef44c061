// The object set of the simulated printer: a small but consistent slice of MIB-2, the Host
// Resources MIB and the Printer MIB, shaped by the command-line options.
#include <cstdio>

#include "tools/nvprinter/snmp_agent.h"

namespace nvprinter {

namespace {

using snmp::Oid;
using snmp::Value;
namespace mib = snmp::printer_mib;

constexpr std::uint32_t kIfIndex = 1;
constexpr std::int32_t kIfTypeEthernetCsmacd = 6;  // IANAifType

snmp::Oid WithAddress(const Oid& column, const Ipv4& address) {
    return column.Child({address[0], address[1], address[2], address[3]});
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char octet[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(octet, sizeof octet, "%02X", byte);
        text += octet;
    }
    return text;
}

void AddDevice(ObjectSet& objects, std::uint32_t index, const Oid& type,
               const std::string& description) {
    objects[oids::kHrDeviceEntry.Child({oids::kHrDeviceIndexColumn, index})] =
        Value::Integer(static_cast<std::int32_t>(index));
    objects[oids::kHrDeviceEntry.Child({oids::kHrDeviceTypeColumn, index})] = Value::ObjectId(type);
    objects[oids::kHrDeviceEntry.Child({oids::kHrDeviceDescrColumn, index})] =
        Value::OctetString(description);
}

// hrDeviceStatus, hrPrinterStatus and hrPrinterDetectedErrorState of the printer device.
void AddPrinterState(ObjectSet& objects, std::uint32_t index, const ReportedState& state) {
    objects[mib::kHrDeviceStatus.Child(index)] = Value::Integer(state.deviceStatus);
    objects[mib::kHrPrinterStatus.Child(index)] = Value::Integer(state.printerStatus);
    objects[mib::kHrPrinterDetectedErrorState.Child(index)] =
        Value::OctetString(snmp::EncodeErrorState(state.conditions));
}

// prtMarkerSuppliesTable: a toner cartridge whose level follows lowToner and noToner, and a
// drum that reports no quantities (level "some remaining", capacity unknown).
void AddSupplies(ObjectSet& objects, std::uint32_t index, snmp::PrinterConditions conditions) {
    constexpr std::int32_t kTonerCapacity = 1000;
    std::int32_t toner = 800;
    if (conditions & snmp::ConditionBit(snmp::PrinterCondition::NoToner)) {
        toner = 0;
    } else if (conditions & snmp::ConditionBit(snmp::PrinterCondition::LowToner)) {
        toner = 50;
    }
    struct Supply {
        const char* description;
        std::int32_t capacity;
        std::int32_t level;
    };
    const Supply supplies[] = {
        {"Black Toner Cartridge", kTonerCapacity, toner},
        {"Drum Unit", mib::kSupplyUnknown, mib::kSupplySomeRemaining},
    };
    std::uint32_t row = 0;
    for (const Supply& supply : supplies) {
        ++row;
        objects[mib::kPrtMarkerSuppliesDescription.Child({index, row})] =
            Value::OctetString(supply.description);
        objects[mib::kPrtMarkerSuppliesMaxCapacity.Child({index, row})] =
            Value::Integer(supply.capacity);
        objects[mib::kPrtMarkerSuppliesLevel.Child({index, row})] = Value::Integer(supply.level);
    }
}

}  // namespace

ObjectSet BuildObjects(const SnmpAgentConfig& config, const PrinterMoment& moment) {
    const Ipv4& ownAddress = moment.ownAddress;
    ObjectSet objects;
    objects[oids::kSysDescr] = Value::OctetString("NORVA printer simulator (nvprinter snmp)");
    objects[oids::kSysUpTime] = Value::TimeTicks(moment.uptime);
    objects[oids::kSysName] = Value::OctetString("nvprinter");

    // One Ethernet interface.
    objects[oids::kIfNumber] = Value::Integer(1);
    objects[oids::kIfEntry.Child({oids::kIfIndexColumn, kIfIndex})] = Value::Integer(kIfIndex);
    objects[oids::kIfEntry.Child({oids::kIfDescrColumn, kIfIndex})] = Value::OctetString("eth0");
    objects[oids::kIfEntry.Child({oids::kIfTypeColumn, kIfIndex})] =
        Value::Integer(kIfTypeEthernetCsmacd);
    std::vector<std::uint8_t> physical(config.mac.begin(), config.mac.end());
    physical.resize(config.macLength, 0x00);  // 8 octets: the MAC and two zero octets
    if (config.macLength == 8) {
        physical[7] = 0x01;
    }
    objects[oids::kIfEntry.Child({oids::kIfPhysAddressColumn, kIfIndex})] =
        Value::OctetString(physical);

    // The interface's address, and the default route when there is a gateway.
    objects[WithAddress(oids::kIpAddrEntry.Child(oids::kIpAdEntAddrColumn), ownAddress)] =
        Value::IpAddress(ownAddress);
    objects[WithAddress(oids::kIpAddrEntry.Child(oids::kIpAdEntIfIndexColumn), ownAddress)] =
        Value::Integer(kIfIndex);
    objects[WithAddress(oids::kIpAddrEntry.Child(oids::kIpAdEntNetMaskColumn), ownAddress)] =
        Value::IpAddress(config.mask);
    if (!IsAnyAddress(config.gateway)) {
        const Ipv4 defaultRoute = {0, 0, 0, 0};
        objects[WithAddress(oids::kIpRouteEntry.Child(oids::kIpRouteDestColumn), defaultRoute)] =
            Value::IpAddress(defaultRoute);
        objects[WithAddress(oids::kIpRouteEntry.Child(oids::kIpRouteNextHopColumn), defaultRoute)] =
            Value::IpAddress(config.gateway);
    }

    // hrDeviceTable: the printer among a processor and a network device.
    AddDevice(objects, kProcessorDeviceIndex, oids::kHrDeviceProcessor, "CPU");
    AddDevice(objects, kNetworkDeviceIndex, oids::kHrDeviceNetwork, "network interface eth0");
    AddDevice(objects, config.deviceIndex, oids::kHrDevicePrinter, config.description);
    AddPrinterState(objects, config.deviceIndex, moment.state);

    if (config.printerMib) {
        objects[oids::kPrtGeneralConfigChanges] = Value::Counter(7);
        objects[oids::kPrtGeneralPrinterName] = Value::OctetString(config.description);
        objects[oids::kPrtGeneralSerialNumber] = Value::OctetString("NV" + Hex(config.mac));
        objects[mib::kPrtMarkerLifeCount.Child({config.deviceIndex, mib::kFirstMarker})] =
            Value::Counter(moment.printedJobs);
        AddSupplies(objects, config.deviceIndex, moment.state.conditions);
    }

    objects[oids::kSnmpSetSerialNo] = Value::Integer(0);
    return objects;
}

}  // namespace nvprinter
