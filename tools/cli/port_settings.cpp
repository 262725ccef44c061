#include "tools/cli/port_settings.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "net/portcheck.h"
#include "platform/winsock.h"
#include "tools/cli/text.h"

namespace cli {

namespace {

const char kPortSettingsHelp[] =
    "  --ip ADDR            printer address: dotted IPv4, every octet in plain decimal\n"
    "  --lpr | --raw        transport (LPR, or raw TCP: the default of a new port)\n"
    "  --queue Q            LPR queue name (LPR ports only)\n"
    "  --port-number N      printer's TCP port, 1 to 65535\n"
    "  --timeout MS         send time-out in milliseconds (SnmpTimeOut)\n"
    "  --community C        SNMP community\n"
    "  --snmp-index N       SNMP device index\n"
    "  --snmp-version 0|1   SNMP version code\n"
    "  --snmp-enabled 0|1   SNMP status flag\n"
    "  --mail ADDR          mail address of the LPR M line (LPR ports only)\n"
    "  --host-name H        printer host name (kept and reported)\n"
    "  --hw-address MAC     printer hardware address, 12 hexadecimal digits, alone or in\n"
    "                       pairs with ':' or '-' (kept and reported; stored in lower case)\n";

// The record's text fields hold this many characters with their terminator.
constexpr size_t kNameChars = sizeof(PortEntry::PortName) / sizeof(WCHAR);

}  // namespace

bool PortSettings::MoreThanTheAddress() const {
    return lpr || raw || queue || portNumber || timeOut || community || snmpIndex || snmpVersion ||
           snmpEnabled || mail || hostName || hwAddress;
}

int ParsePortSettings(const Tool& tool, const std::vector<std::string>& args, std::string* name,
                      PortSettings* s) {
    struct TextOption {
        const char* option;
        std::optional<std::string> PortSettings::*field;
    };
    struct NumberOption {
        const char* option;
        std::optional<DWORD> PortSettings::*field;
        DWORD max;
    };
    static const TextOption kTexts[] = {
        {"--ip", &PortSettings::ip},
        {"--queue", &PortSettings::queue},
        {"--community", &PortSettings::community},
        {"--mail", &PortSettings::mail},
        {"--host-name", &PortSettings::hostName},
        {"--hw-address", &PortSettings::hwAddress},
    };
    static const NumberOption kNumbers[] = {
        {"--port-number", &PortSettings::portNumber, 0xffffffffu},
        {"--timeout", &PortSettings::timeOut, 0xffffffffu},
        {"--snmp-index", &PortSettings::snmpIndex, 0xffffffffu},
        {"--snmp-version", &PortSettings::snmpVersion, 1},
        {"--snmp-enabled", &PortSettings::snmpEnabled, 1},
    };
    bool haveName = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        bool known = false;
        for (const auto& t : kTexts) {
            if (a == t.option) {
                if (!hasValue) {
                    return tool.Usage("missing value for " + a);
                }
                s->*t.field = args[++i];
                known = true;
            }
        }
        for (const auto& n : kNumbers) {
            if (a == n.option) {
                DWORD value = 0;
                if (!hasValue || !ParseNumber(args[i + 1], n.max, &value)) {
                    return tool.Usage("bad or missing value for " + a);
                }
                ++i;
                s->*n.field = value;
                known = true;
            }
        }
        if (known) {
            continue;
        }
        if (a == "--lpr") {
            s->lpr = true;
        } else if (a == "--raw") {
            s->raw = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return tool.Usage("unknown option " + a);
        } else if (!haveName) {
            *name = a;
            haveName = true;
        } else {
            return tool.Usage("one port name only");
        }
    }
    if (!haveName || name->empty()) {
        return tool.Usage("a port name is needed");
    }
    if (s->lpr && s->raw) {
        return tool.Usage("--lpr and --raw exclude each other");
    }
    return -1;
}

bool SetField(WCHAR* field, size_t chars, const std::string& text) {
    WideString wide = Wide(text);
    if (wide.size() + 1 > chars) {
        return false;
    }
    memcpy(field, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return true;
}

std::string FieldText(const WCHAR* field, size_t chars) {
    WideString text(field, field + chars);
    text.resize(std::min(text.find(WCHAR(0)), text.size()));
    return Utf8(text.c_str());
}

std::string ApplySettings(const PortSettings& s, PortEntry* r) {
    struct Text {
        const std::optional<std::string>& value;
        WCHAR* field;
        size_t chars;
        const char* option;
    };
    const Text texts[] = {
        {s.ip, r->IPAddress, std::size(r->IPAddress), "--ip"},
        {s.queue, r->QueueName, std::size(r->QueueName), "--queue"},
        {s.community, r->SnmpCommunity, std::size(r->SnmpCommunity), "--community"},
        {s.mail, r->MailAlert, std::size(r->MailAlert), "--mail"},
        {s.hostName, r->HostName, std::size(r->HostName), "--host-name"},
        {s.hwAddress, r->HWAddress, std::size(r->HWAddress), "--hw-address"},
    };
    for (const auto& t : texts) {
        if (t.value && !SetField(t.field, t.chars, *t.value)) {
            return std::string(t.option) + " is longer than its field (" +
                   std::to_string(t.chars - 1) + " characters)";
        }
    }
    if (s.lpr)
        r->Protocol = PROTOCOL_LPR;
    if (s.raw)
        r->Protocol = PROTOCOL_RAW;
    if (s.portNumber)
        r->PortNumber = *s.portNumber;
    if (s.timeOut)
        r->SnmpTimeOut = *s.timeOut;
    if (s.snmpIndex)
        r->SnmpIndex = *s.snmpIndex;
    if (s.snmpVersion)
        r->SnmpVersion = *s.snmpVersion;
    if (s.snmpEnabled)
        r->SnmpEnabled = *s.snmpEnabled;
    return std::string();
}

void TakeTransportDefaults(const PortSettings& settings, PortEntry* record) {
    if (settings.lpr && !settings.portNumber &&
        record->PortNumber == portcfg::kDefaultRawPortNumber) {
        record->PortNumber = portcfg::kDefaultLprPortNumber;
    }
    if (settings.raw && !settings.portNumber &&
        record->PortNumber == portcfg::kDefaultLprPortNumber) {
        record->PortNumber = portcfg::kDefaultRawPortNumber;
    }
    if (settings.lpr && !settings.queue && record->QueueName[0] == 0) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (sscanf(FieldText(record->IPAddress).c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4) {
            char queue[std::size(record->QueueName)];
            snprintf(queue, sizeof queue, portcfg::kDefaultQueueFormat, a, b, c, d);
            SetField(record->QueueName, queue);
        }
    }
}

DWORD CheckPortName(const std::string& name) {
    WideString wide = Wide(name);
    if (wide.size() + 1 > kNameChars || !portcfg::IsValidPortName(wide.c_str())) {
        return ERROR_INVALID_NAME;
    }
    return ERROR_SUCCESS;
}

namespace {

std::string Dotted(DWORD address) {
    char text[16];
    snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(address >> 24),
             static_cast<unsigned long>(address >> 16 & 0xff),
             static_cast<unsigned long>(address >> 8 & 0xff),
             static_cast<unsigned long>(address & 0xff));
    return text;
}

// The transports keep the low 16 bits of a stored port number.
DWORD AsTcpPort(DWORD number) {
    return number & 0xffff;
}

}  // namespace

std::string CheckSettingValues(PortSettings* s) {
    if (s->ip) {
        portcfg::AddressFault fault = portcfg::CheckPrinterAddress(s->ip->c_str());
        if (fault != portcfg::AddressFault::kNone) {
            std::string line = "--ip \"" + *s->ip + "\": " + portcfg::AddressFaultText(fault);
            DWORD read = portcfg::AddressAsRead(s->ip->c_str());
            if (fault == portcfg::AddressFault::kLeadingZero && read != INADDR_NONE) {
                line += " (" + *s->ip + " would reach " + Dotted(read) + ")";
            }
            return line;
        }
    }
    if (s->portNumber &&
        (*s->portNumber < portcfg::kMinPortNumber || *s->portNumber > portcfg::kMaxPortNumber)) {
        std::string line =
            "--port-number " + std::to_string(*s->portNumber) + ": a TCP port is 1 to 65535";
        if (*s->portNumber > portcfg::kMaxPortNumber) {
            line +=
                " (the monitor would connect to " + std::to_string(AsTcpPort(*s->portNumber)) + ")";
        }
        return line;
    }
    if (s->hwAddress && !s->hwAddress->empty()) {
        char stored[portcfg::kHardwareAddressDigits + 1];
        if (!portcfg::NormalizeHardwareAddress(s->hwAddress->c_str(), stored)) {
            return "--hw-address \"" + *s->hwAddress +
                   "\": not a hardware address (12 hexadecimal digits, alone or in pairs with "
                   "':' or '-' between)";
        }
        s->hwAddress = stored;
    }
    return std::string();
}

std::string CheckTransportSettings(const PortSettings& s, DWORD protocol) {
    if (protocol == PROTOCOL_LPR) {
        return std::string();
    }
    const char* option = s.queue ? "--queue" : s.mail ? "--mail" : nullptr;
    if (option == nullptr) {
        return std::string();
    }
    return std::string(option) + " is a setting of LPR ports, and the port prints by raw TCP " +
           "(give --lpr too)";
}

std::string AddressReadAs(const PortEntry& record) {
    DWORD read = portcfg::AddressAsRead(FieldText(record.IPAddress).c_str());
    return read == INADDR_NONE ? std::string() : Dotted(read);
}

DWORD PortNumberReadAs(const PortEntry& record) {
    return AsTcpPort(record.PortNumber);
}

namespace {

struct RecordLine {
    const char* key;
    std::string text;
    bool number;
};

std::vector<RecordLine> RecordLines(const PortEntry& r) {
    std::vector<RecordLine> lines = {
        {"PortName", FieldText(r.PortName), false},
        {"Protocol", std::to_string(r.Protocol), true},
        {"IPAddress", FieldText(r.IPAddress), false},
        {"HostName", FieldText(r.HostName), false},
        {"HWAddress", FieldText(r.HWAddress), false},
        {"PortNumber", std::to_string(r.PortNumber), true},
        {"SnmpVersion", std::to_string(r.SnmpVersion), true},
        {"SnmpTimeOut", std::to_string(r.SnmpTimeOut), true},
        {"SnmpEnabled", std::to_string(r.SnmpEnabled), true},
        {"SnmpCommunity", FieldText(r.SnmpCommunity), false},
        {"SnmpIndex", std::to_string(r.SnmpIndex), true},
    };
    if (r.Protocol == PROTOCOL_LPR) {
        lines.push_back({"QueueName", FieldText(r.QueueName), false});
        lines.push_back({"MailAlert", FieldText(r.MailAlert), false});
        lines.push_back({"DoubleSpool", std::to_string(r.DoubleSpool), true});
    }
    return lines;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

std::string RecordText(const PortEntry& r) {
    const bool lpr = r.Protocol == PROTOCOL_LPR;
    std::string text;
    for (const auto& line : RecordLines(r)) {
        text += Printf("%-14s %s%s\n", line.key, line.text.c_str(),
                       strcmp(line.key, "Protocol") == 0 ? (lpr ? " (LPR)" : " (raw TCP)") : "");
    }
    // A stored value keeps printing where it prints; what it means is said, not changed.
    const std::string address = FieldText(r.IPAddress);
    const std::string readAs = AddressReadAs(r);
    if (!readAs.empty() && readAs != address) {
        text += Printf(
            "Note: %s is read as %s (%s), so jobs go to %s; config --ip sets the address "
            "meant.\n",
            address.c_str(), readAs.c_str(),
            portcfg::HasLeadingZeroOctet(address.c_str())
                ? "an octet with a leading zero is octal"
                : "inet_addr's reading of a short or non-decimal form",
            readAs.c_str());
    }
    const DWORD port = PortNumberReadAs(r);
    if (port != r.PortNumber) {
        text += Printf(
            "Note: port number %lu is read as %lu (a TCP port has 16 bits), so jobs go to port "
            "%lu; config --port-number sets the port meant.\n",
            static_cast<unsigned long>(r.PortNumber), static_cast<unsigned long>(port),
            static_cast<unsigned long>(port));
    }
    return text;
}

std::string RecordJson(const PortEntry& r) {
    std::string json = "{";
    for (const auto& line : RecordLines(r)) {
        json += (json.size() > 1 ? ", \"" : "\"") + std::string(line.key) +
                "\": " + (line.number ? line.text : JsonString(line.text));
    }
    // Where the transports connect, for scripts that must not guess how a text reads.
    const std::string readAs = AddressReadAs(r);
    return json + ", \"IPAddressReadAs\": " + (readAs.empty() ? "null" : JsonString(readAs)) +
           ", \"PortNumberReadAs\": " + std::to_string(PortNumberReadAs(r)) + "}";
}

void PrintRecord(const PortEntry& r, bool json) {
    printf("%s%s", json ? RecordJson(r).c_str() : RecordText(r).c_str(), json ? "\n" : "");
}

const char* PortSettingsHelp() {
    return kPortSettingsHelp;
}

}  // namespace cli
