// The object set of the simulated printer: a small but consistent slice of MIB-2, the Host
// Resources MIB and the Printer MIB, shaped by the command-line options.
#include <cstdio>

#include "tools/nvprinter/snmp_agent.h"

namespace nvprinter {

namespace {

using snmp::Oid;
using snmp::Value;

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

}  // namespace

ObjectSet BuildObjects(const SnmpAgentConfig& config, const Ipv4& ownAddress,
                       std::uint32_t uptime) {
    ObjectSet objects;
    objects[oids::kSysDescr] = Value::OctetString("NORVA printer simulator (nvprinter snmp)");
    objects[oids::kSysUpTime] = Value::TimeTicks(uptime);
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

    if (config.printerMib) {
        objects[oids::kPrtGeneralConfigChanges] = Value::Counter(7);
        objects[oids::kPrtGeneralPrinterName] = Value::OctetString(config.description);
        objects[oids::kPrtGeneralSerialNumber] = Value::OctetString("NV" + Hex(config.mac));
    }

    objects[oids::kSnmpSetSerialNo] = Value::Integer(0);
    return objects;
}

}  // namespace nvprinter
