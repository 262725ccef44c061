#include "discover/snmpquery.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "discover/browser.h"
#include "discover/ipaddress.h"
#include "discover/searchstop.h"
#include "snmp/manager.h"

namespace {

// Identifier texts, relative to MIB-2 (1.3.6.1.2.1).
constexpr char kIfPhysAddress1[] = "2.2.1.6.1";           // ifPhysAddress of interface 1 (RFC 1213)
constexpr char kHrDeviceType[] = "25.3.2.1.2";            // hrDeviceType column (RFC 2790)
constexpr char kHrDeviceDescrFormat[] = "25.3.2.1.3.%d";  // hrDeviceDescr, instance at run time
constexpr char kIpAdEntNetMask[] = "4.20.1.3";            // ipAdEntNetMask column (RFC 1213)
constexpr char kIpAdEntNetMaskRowFormat[] = "4.20.1.3.%u.%u.%u.%u";  // the row of A.B.C.D
constexpr char kIpRouteNextHop[] = "4.21.1.7";  // ipRouteNextHop column (RFC 1213)

// hrDevicePrinter: the hrDeviceType of a printer, all ten sub-identifiers.
const snmp::Oid kHrDevicePrinter{1, 3, 6, 1, 2, 1, 25, 3, 1, 5};

// A MAC address: six octets, shown as twelve lower-case hexadecimal digits.
constexpr size_t kHardwareAddressOctets = 6;
// Longer device descriptions are not taken.
constexpr size_t kMaxDescriptionOctets = 256;
// "255.255.255.255" and its terminator.
constexpr size_t kAgentTextSize = 16;
// The walk of hrDeviceType asks at most this many objects: an agent whose names keep growing
// (or a table of that many devices) would otherwise hold the search for good. A printer needs
// a handful; one not among the first 1,000 devices is described by the first device instead.
constexpr int kMaxWalkSteps = 1000;

std::unique_ptr<char[]> HexText(const std::vector<std::uint8_t>& octets) {
    auto text = std::make_unique<char[]>(octets.size() * 2 + 1);
    for (size_t i = 0; i < octets.size(); ++i) {
        std::snprintf(&text[i * 2], 3, "%.2x", octets[i]);
    }
    return text;
}

std::unique_ptr<char[]> TextCopy(const std::vector<std::uint8_t>& octets) {
    auto text = std::make_unique<char[]>(octets.size() + 1);
    if (!octets.empty()) {
        std::memcpy(text.get(), octets.data(), octets.size());
    }
    text[octets.size()] = '\0';
    return text;
}

DWORD HostOrder(const std::array<std::uint8_t, 4>& octets) {
    return static_cast<DWORD>(octets[0]) << 24 | static_cast<DWORD>(octets[1]) << 16 |
           static_cast<DWORD>(octets[2]) << 8 | static_cast<DWORD>(octets[3]);
}

bool IsOctetString(const snmp::Value& value) {
    return value.type() == snmp::Type::OctetString;
}

// ipAdEntNetMask is indexed by the address it belongs to: the row is this printer's when the
// last four sub-identifiers of its name are the printer's address, most significant first.
bool IsRowOf(const snmp::Oid& name, DWORD ipAddress) {
    const size_t size = name.size();
    if (size < 4) {
        return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        if (name[size - 4 + i] != ((ipAddress >> (24 - 8 * i)) & 0xff)) {
            return false;
        }
    }
    return true;
}

// ipAdEntNetMask of the printer's own address, asked for directly: for an agent whose first
// row belongs to another of its addresses (net-snmp's snmpd lists 127.0.0.1 first). 0 when the
// agent has no such row or does not answer; the rest of what was read stays.
DWORD DirectedMask(const char* agent, DWORD ipAddress) {
    char text[sizeof kIpAdEntNetMaskRowFormat + 16];
    std::snprintf(text, sizeof text, kIpAdEntNetMaskRowFormat,
                  static_cast<unsigned>((ipAddress >> 24) & 0xff),
                  static_cast<unsigned>((ipAddress >> 16) & 0xff),
                  static_cast<unsigned>((ipAddress >> 8) & 0xff),
                  static_cast<unsigned>(ipAddress & 0xff));
    VarBindList list;
    const char* const texts[] = {text};
    if (BuildVarBindList(list, texts, 1) != kBuildOk ||
        SnmpRequest(kSnmpGet, agent, kCommunity, list) != kSnmpRequestOk || list.size() != 1) {
        return 0;
    }
    std::optional<std::array<std::uint8_t, 4>> mask = list[0].value.AsIpAddress();
    return mask && IsRowOf(list[0].name, ipAddress) ? HostOrder(*mask) : 0;
}

}  // namespace

int SnmpRequest(int kind, const char* agent, const char* community, VarBindList& list) {
    snmp::Session session;
    if (!session.Open(agent, community != nullptr ? community : "", snmp::kDefaultTimeoutMs,
                      snmp::kDefaultRetries)) {
        std::printf("error on SnmpMgrOpen %d\n", static_cast<int>(GetLastError()));
        return kSnmpOpenFailed;
    }
    session.SetStop(SearchStopSignal());  // a cancelled or overdue search asks no more
    bool answered = false;
    if (kind == kSnmpGet) {
        answered = session.Request(snmp::PduType::GetRequest, list);
    } else if (kind == kSnmpGetNext) {
        answered = session.Request(snmp::PduType::GetNextRequest, list);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    if (!answered) {
        std::printf("error on SnmpMgrRequest %d\n", static_cast<int>(GetLastError()));
        if (!session.Close()) {
            std::printf("error on SnmpMgrClose %d\n", static_cast<int>(GetLastError()));
            return kSnmpCloseFailed;
        }
        return kSnmpRequestFailed;
    }
    if (!session.Close()) {
        std::printf("error on SnmpMgrClose %d\n", static_cast<int>(GetLastError()));
        list.clear();
        return kSnmpCloseFailed;
    }
    return kSnmpRequestOk;
}

int BuildVarBindList(VarBindList& list, const char* const* texts, int count) {
    list.clear();
    try {
        list.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    } catch (const std::exception&) {
        std::printf("Error: Error allocating oid\n");
        return kBuildNoMemory;
    }
    for (int i = 0; i < count; ++i) {
        const char* text = texts != nullptr ? texts[i] : nullptr;
        std::optional<snmp::Oid> name = snmp::Oid::Parse(text != nullptr ? text : "");
        if (!name) {
            std::printf("Error:Invalid oid, %s,specified.\n", text != nullptr ? text : "(null)");
            VarBindList().swap(list);
            return kBuildBadOid;
        }
        list.push_back({std::move(*name), snmp::Value::Null()});
    }
    return kBuildOk;
}

bool QueryPrinter(PrinterRecord* record) {
    if (record == nullptr) {
        return false;
    }
    char agent[kAgentTextSize];
    FormatDotted(record->ipAddress, agent, sizeof agent);

    // 1. The hardware address: ifPhysAddress of the first interface.
    VarBindList list;
    const char* const macTexts[] = {kIfPhysAddress1};
    if (BuildVarBindList(list, macTexts, 1) != kBuildOk ||
        SnmpRequest(kSnmpGet, agent, kCommunity, list) != kSnmpRequestOk) {
        std::printf("error: SNMPRequest error\n");
        return false;
    }
    // 2. Only an OCTET STRING of exactly six octets is a MAC address.
    if (!list.empty() && IsOctetString(list[0].value) &&
        list[0].value.AsBytes()->size() == kHardwareAddressOctets) {
        record->hardwareAddress = HexText(*list[0].value.AsBytes());
    }
    list.clear();

    // 3. The printer's hrDeviceIndex, less one: GetNext of hrDeviceDescr.(index - 1) is then
    // the printer's own description. Without a printer device the agent's first device is
    // described instead.
    if (!FindPrinterDevice(record)) {
        record->deviceIndex = 1;
    }
    // 32-bit arithmetic, wrapping as the record's field does on Windows.
    record->deviceIndex = static_cast<LONG>(static_cast<DWORD>(record->deviceIndex) - 1u);

    // 4. hrDeviceDescr.(index - 1), and the first rows of ipAdEntNetMask and ipRouteNextHop.
    char descrText[sizeof kHrDeviceDescrFormat + 16];
    std::snprintf(descrText, sizeof descrText, kHrDeviceDescrFormat,
                  static_cast<int>(record->deviceIndex));
    const char* const texts[] = {descrText, kIpAdEntNetMask, kIpRouteNextHop};
    if (BuildVarBindList(list, texts, 3) != kBuildOk) {
        std::printf("error: BuildVBL error\n");
        return false;
    }
    // 5. One GetNext for all three.
    if (SnmpRequest(kSnmpGetNext, agent, kCommunity, list) != kSnmpRequestOk) {
        std::printf("error: SNMPRequest error\n");
        list.clear();
        return false;
    }
    bool askMask = false;
    if (list.size() == 3) {
        // 6. The description.
        const snmp::Value& description = list[0].value;
        if (IsOctetString(description) && description.AsBytes()->size() <= kMaxDescriptionOctets) {
            record->description = TextCopy(*description.AsBytes());
        }
        // 7. The mask, when the first row is the one of the printer's own address; otherwise
        // its own row is asked for once, below.
        std::optional<std::array<std::uint8_t, 4>> mask = list[1].value.AsIpAddress();
        if (mask && IsRowOf(list[1].name, record->ipAddress)) {
            record->subnetMask = HostOrder(*mask);
        } else {
            askMask = true;
        }
        // 8. The gateway: the first route's next hop, normally the default route's. 0.0.0.0
        // (a directly connected route) leaves the gateway 0; any other address is the gateway,
        // zero octets included (192.168.0.1, 10.0.0.1).
        std::optional<std::array<std::uint8_t, 4>> gateway = list[2].value.AsIpAddress();
        if (gateway && ((*gateway)[0] != 0 || (*gateway)[1] != 0 || (*gateway)[2] != 0 ||
                        (*gateway)[3] != 0)) {
            record->gateway = HostOrder(*gateway);
        }
    }
    list.clear();
    if (askMask) {
        record->subnetMask = DirectedMask(agent, record->ipAddress);
    }
    return true;
}

bool FindPrinterDevice(PrinterRecord* record) {
    if (record == nullptr) {
        return false;
    }
    char agent[kAgentTextSize];
    FormatDotted(record->ipAddress, agent, sizeof agent);
    CBrowser browser(kHrDeviceType, agent);
    browser.GetNext();
    for (int step = 1; !browser.IsEnd() && browser.Succeeded(); ++step) {
        const snmp::Value* value = browser.Value();
        if (value != nullptr && value->type() == snmp::Type::ObjectId &&
            *value->AsOid() == kHrDevicePrinter) {
            // The last sub-identifier of hrDeviceType.N is the device's hrDeviceIndex N.
            record->deviceIndex = static_cast<LONG>(browser.Name()->arcs().back());
            return true;
        }
        if (step == kMaxWalkSteps) {
            break;
        }
        browser.GetNext();
    }
    return false;
}
