// list (the monitor's ports, alone or with their settings) and ports (every port the spooler
// lists), as text or JSON for scripts.
#include <algorithm>
#include <cstdio>

#include "platform/console.h"
#include "tools/cli/port_access.h"
#include "tools/cli/port_settings.h"
#include "tools/cli/verbs.h"
#include "tools/spoolhost/job_info.h"

namespace cli {

namespace {

enum class Form { kNames, kLong, kJson };

// One port of the monitor with what `list --long` shows of it, or the error that kept its
// settings from being read.
struct Listed {
    std::string name;
    DWORD error = ERROR_SUCCESS;
    PortEntry record{};
};

// The status that the port's monitor set for its printer (the Linux spooler host keeps it in the
// store; elsewhere there is none to read): "paper out (error)", or "-".
std::string PortStatusText(const std::string& port) {
    static const char* const kStatus[] = {
        nullptr,         "offline",    "paper jam", "paper out",         "output bin full",
        "paper problem", "no toner",   "door open", "user intervention", "out of memory",
        "toner low",     "warming up", "power save"};
    static const char* const kSeverity[] = {"", " (error)", " (warning)", " (information)"};
    WideString path = WideString(nvspool::kPortStatusKey) + WSTR("\\") + Wide(port);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return "-";
    }
    DWORD status = 0;
    DWORD severity = 0;
    DWORD size = sizeof status;
    RegQueryValueExW(key, WSTR("Status"), nullptr, nullptr, reinterpret_cast<LPBYTE>(&status),
                     &size);
    size = sizeof severity;
    RegQueryValueExW(key, WSTR("Severity"), nullptr, nullptr, reinterpret_cast<LPBYTE>(&severity),
                     &size);
    RegCloseKey(key);
    if (status == 0 || status >= sizeof kStatus / sizeof kStatus[0]) {
        return status == 0 ? "-" : "status " + std::to_string(status);
    }
    return std::string(kStatus[status]) + (severity < 4 ? kSeverity[severity] : "");
}

const char* ProtocolName(DWORD protocol) {
    return protocol == PROTOCOL_LPR ? "lpr" : "raw";
}

void PrintLong(const std::vector<Listed>& ports) {
    size_t width = 4;
    for (const Listed& p : ports) {
        width = std::max(width, p.name.size());
    }
    const int w = static_cast<int>(width);
    printf("%-*s  %-15s  %-8s  %-5s  %-8s  %s\n", w, "NAME", "ADDRESS", "PROTOCOL", "PORT", "QUEUE",
           "STATUS");
    for (const Listed& p : ports) {
        if (p.error != ERROR_SUCCESS) {
            printf("%-*s  error %lu: %s\n", w, p.name.c_str(), static_cast<unsigned long>(p.error),
                   SystemErrorText(p.error).c_str());
            continue;
        }
        const bool lpr = p.record.Protocol == PROTOCOL_LPR;
        printf("%-*s  %-15s  %-8s  %-5lu  %-8s  %s\n", w, p.name.c_str(),
               FieldText(p.record.IPAddress).c_str(), ProtocolName(p.record.Protocol),
               static_cast<unsigned long>(p.record.PortNumber),
               lpr ? FieldText(p.record.QueueName).c_str() : "-", PortStatusText(p.name).c_str());
    }
}

void PrintJson(const std::vector<Listed>& ports) {
    printf("[");
    const char* separator = "\n";
    for (const Listed& p : ports) {
        printf("%s  {\"name\": %s, ", separator, JsonString(p.name).c_str());
        separator = ",\n";
        if (p.error != ERROR_SUCCESS) {
            printf("\"error\": %lu}", static_cast<unsigned long>(p.error));
            continue;
        }
        const bool lpr = p.record.Protocol == PROTOCOL_LPR;
        std::string status = PortStatusText(p.name);
        printf(
            "\"address\": %s, \"protocol\": \"%s\", \"portNumber\": %lu, \"queue\": %s, "
            "\"status\": %s}",
            JsonString(FieldText(p.record.IPAddress)).c_str(), ProtocolName(p.record.Protocol),
            static_cast<unsigned long>(p.record.PortNumber),
            lpr ? JsonString(FieldText(p.record.QueueName)).c_str() : "null",
            status == "-" ? "null" : JsonString(status).c_str());
    }
    printf(ports.empty() ? "]\n" : "\n]\n");
}

std::string TypeText(DWORD type, const char* separator, bool quoted) {
    static const std::pair<DWORD, const char*> kTypes[] = {
        {PORT_TYPE_WRITE, "write"},
        {PORT_TYPE_READ, "read"},
        {PORT_TYPE_REDIRECTED, "redirected"},
        {PORT_TYPE_NET_ATTACHED, "network"},
    };
    std::string text;
    for (const auto& [bit, name] : kTypes) {
        if ((type & bit) != 0) {
            text += (text.empty() ? "" : separator) + std::string(quoted ? "\"" : "") + name +
                    (quoted ? "\"" : "");
        }
    }
    return text;
}

}  // namespace

int ListVerb(const Tool& tool, const Args& args) {
    Form form = Form::kNames;
    for (const std::string& a : args) {
        Form given = a == "--long" ? Form::kLong : a == "--json" ? Form::kJson : Form::kNames;
        if (given == Form::kNames) {
            return tool.Usage("list takes --long or --json, not " + a);
        }
        if (form != Form::kNames && form != given) {
            return tool.Usage("--long and --json exclude each other");
        }
        form = given;
    }
    // The channel proves that the spooler has the monitor: an empty list is then no ports.
    XcvChannel channel;
    int opened = OpenChannel(tool, &channel, /*administer=*/false);
    if (opened != kExitOk) {
        return opened;
    }
    std::vector<SpoolerPort> all;
    DWORD error = ListSpoolerPorts(&all);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("EnumPortsW", error);
    }
    std::vector<Listed> ports;
    for (const SpoolerPort& port : all) {
        if (!SameName(port.monitor.c_str(), portcfg::kMonitorName)) {
            continue;
        }
        Listed listed;
        listed.name = Utf8(port.name.c_str());
        if (form != Form::kNames) {
            listed.error = channel.RequestWithName(WSTR("ReadConfigInf"), listed.name,
                                                   &listed.record, sizeof listed.record);
            if (listed.error == ERROR_SUCCESS && listed.record.PortName[0] == 0) {
                listed.error = ERROR_INVALID_DATA;  // an address that does not parse
            }
        }
        ports.push_back(listed);
    }
    if (form == Form::kLong) {
        PrintLong(ports);
    } else if (form == Form::kJson) {
        PrintJson(ports);
    } else {
        for (const Listed& p : ports) {
            printf("%s\n", p.name.c_str());
        }
    }
    return kExitOk;
}

int PortsVerb(const Tool& tool, const Args& args) {
    DWORD level = 2;
    bool json = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--level" && i + 1 < args.size() &&
            (args[i + 1] == "1" || args[i + 1] == "2")) {
            level = args[++i] == "1" ? 1 : 2;
        } else if (args[i] == "--json") {
            json = true;
        } else {
            return tool.Usage("ports takes --level 1|2 and --json, not " + args[i]);
        }
    }
    int attached = tool.Attach(/*changes=*/false);
    if (attached != kExitOk) {
        return attached;
    }
    std::vector<SpoolerPort> ports;
    DWORD error = ListSpoolerPorts(&ports, level);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("EnumPortsW", error);
    }
    if (json) {
        printf("[");
        const char* separator = "\n";
        for (const SpoolerPort& p : ports) {
            printf("%s  {\"name\": %s", separator, JsonString(Utf8(p.name.c_str())).c_str());
            if (level == 2) {
                std::string status = PortStatusText(Utf8(p.name.c_str()));
                printf(", \"monitor\": %s, \"description\": %s, \"type\": [%s], \"status\": %s",
                       JsonString(Utf8(p.monitor.c_str())).c_str(),
                       JsonString(Utf8(p.description.c_str())).c_str(),
                       TypeText(p.type, ", ", true).c_str(),
                       status == "-" ? "null" : JsonString(status).c_str());
            }
            printf("}");
            separator = ",\n";
        }
        printf(ports.empty() ? "]\n" : "\n]\n");
        return kExitOk;
    }
    if (level == 2) {
        printf("%-24s %-20s %-20s %-18s %s\n", "PORT", "MONITOR", "DESCRIPTION", "TYPE", "STATUS");
    }
    for (const SpoolerPort& p : ports) {
        if (level == 1) {
            printf("%s\n", Utf8(p.name.c_str()).c_str());
            continue;
        }
        std::string type = TypeText(p.type, ",", false);
        printf("%-24s %-20s %-20s %-18s %s\n", Utf8(p.name.c_str()).c_str(),
               Utf8(p.monitor.c_str()).c_str(), Utf8(p.description.c_str()).c_str(),
               type.empty() ? "-" : type.c_str(), PortStatusText(Utf8(p.name.c_str())).c_str());
    }
    return kExitOk;
}

}  // namespace cli
