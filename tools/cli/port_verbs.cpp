#include "tools/cli/port_verbs.h"

#include <cstdio>

#include "net/portentry.h"
#include "tools/cli/port_settings.h"
#include "tools/cli/spooler.h"

namespace cli {

namespace {

const char kPortVerbsHelp[] =
    "  list                       the ports of the monitor \"NORVA TCP/IP Port\"\n"
    "  add NAME --ip ADDR [settings]\n"
    "                             add a port (raw TCP to 9100 unless the settings say else)\n"
    "  config NAME [settings]     change a port's settings\n"
    "  show NAME [--json]         a port's settings\n"
    "  delete NAME                delete a port\n"
    "  exists NAME                whether the spooler knows the port, under any monitor\n"
    "                             (exit 0 yes, 1 no)\n";

std::string Quoted(const char* request, const std::string& name) {
    return std::string(request) + " \"" + name + "\"";
}

// Opens the channel after the tool reached the spooler; 0 or the exit code.
int OpenChannel(const Tool& tool, XcvChannel* channel, bool administer) {
    int attached = tool.Attach();
    if (attached != kExitOk) {
        return attached;
    }
    DWORD error = channel->Open(administer);
    if (error != ERROR_SUCCESS) {
        return tool.Fail(
            Utf8((WideString(WSTR("OpenPrinterW ,XcvMonitor ")) + portcfg::kMonitorName).c_str()),
            error);
    }
    return kExitOk;
}

// The port must be one of this monitor's: the requests of a monitor do not reach the ports of
// another, and a name the spooler does not know is told apart from one of another monitor.
int RequireOwnPort(const Tool& tool, const char* request, const std::string& name) {
    std::vector<SpoolerPort> ports;
    DWORD error = ListSpoolerPorts(&ports);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("EnumPortsW", error);
    }
    WideString wide = Wide(name);
    for (const SpoolerPort& port : ports) {
        if (!SameName(port.name.c_str(), wide.c_str())) {
            continue;
        }
        if (SameName(port.monitor.c_str(), portcfg::kMonitorName)) {
            return kExitOk;
        }
        return tool.Fail(Quoted(request, name) + ": the port belongs to the monitor \"" +
                             Utf8(port.monitor.c_str()) + "\"",
                         ERROR_NOT_SUPPORTED);
    }
    return tool.Fail(Quoted(request, name), ERROR_UNKNOWN_PORT);
}

// Opens the channel and checks that the port is this monitor's, for a request on it; 0 or the
// exit code.
int OpenForOwnPort(const Tool& tool, XcvChannel* channel, bool administer, const char* request,
                   const std::string& name) {
    int opened = OpenChannel(tool, channel, administer);
    if (opened != kExitOk) {
        return opened;
    }
    return RequireOwnPort(tool, request, name);
}

// Reads the port's record (ReadConfigInf); 0 or the exit code. Invalid data is a port whose
// stored settings the monitor cannot use (a writer stopped half-way, or a value made by hand),
// and a corrupt registry one whose address does not parse, which the line says. A record
// without a name is what a monitor that answers such an address with 0 leaves: nothing was
// read, and writing settings over it would store a port without a transport.
int ReadPort(const Tool& tool, XcvChannel& channel, const std::string& name, PortEntry* record) {
    DWORD error = channel.RequestWithName(WSTR("ReadConfigInf"), name, record, sizeof *record);
    if (error != ERROR_SUCCESS) {
        std::string what = Quoted("ReadConfigInf", name);
        if (error == ERROR_INVALID_DATA) {
            what +=
                ": the port's stored settings lack a required value (IPAddress, HostName, "
                "HWAddress) or hold one the monitor cannot use (Protocol)";
        } else if (error == ERROR_REGISTRY_CORRUPT) {
            what += ": the port's address does not parse (IPAddress)";
        }
        return tool.Fail(what, error);
    }
    if (record->PortName[0] == 0) {
        return tool.Problem(name + ": the port's address does not parse (IPAddress)");
    }
    return kExitOk;
}

// Reads the port's record, applies the settings and writes it back; 0 or the exit code.
int Configure(const Tool& tool, XcvChannel& channel, const std::string& name,
              const PortSettings& settings) {
    PortEntry record{};
    int read = ReadPort(tool, channel, name, &record);
    if (read != kExitOk) {
        return read;
    }
    std::string problem = ApplySettings(settings, &record);
    if (!problem.empty()) {
        return tool.Usage(problem);
    }
    TakeTransportDefaults(settings, &record);
    SetField(record.PortName, name);
    DWORD error = channel.Request(WSTR("ConfigPort"), &record, sizeof record, nullptr, 0);
    if (error != ERROR_SUCCESS) {
        return tool.Fail(Quoted("ConfigPort", name), error);
    }
    return kExitOk;
}

// Every setting is checked before anything is asked of the spooler, so that a bad one changes
// nothing; 0 or the exit code.
int CheckSettings(const Tool& tool, const PortSettings& settings) {
    if (CheckAddress(settings) != ERROR_SUCCESS) {
        return tool.Fail("--ip \"" + *settings.ip + "\": not the dotted IPv4 address of a printer",
                         ERROR_INVALID_PARAMETER);
    }
    PortEntry check{};
    std::string problem = ApplySettings(settings, &check);
    if (!problem.empty()) {
        return tool.Usage(problem);
    }
    return kExitOk;
}

// One port name and nothing else; 0 or the usage error's exit code.
int OnlyName(const Tool& tool, const char* verb, const std::vector<std::string>& args,
             std::string* name) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        return tool.Usage(std::string(verb) + " takes one port name");
    }
    *name = args[0];
    return kExitOk;
}

int List(const Tool& tool, const std::vector<std::string>& args) {
    if (!args.empty()) {
        return tool.Usage("list takes no arguments");
    }
    int attached = tool.Attach();
    if (attached != kExitOk) {
        return attached;
    }
    std::vector<SpoolerPort> ports;
    DWORD error = ListSpoolerPorts(&ports);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("EnumPortsW", error);
    }
    for (const SpoolerPort& port : ports) {
        if (SameName(port.monitor.c_str(), portcfg::kMonitorName)) {
            printf("%s\n", Utf8(port.name.c_str()).c_str());
        }
    }
    return kExitOk;
}

int Add(const Tool& tool, const std::vector<std::string>& args) {
    std::string name;
    PortSettings settings;
    int parsed = ParsePortSettings(tool, args, &name, &settings);
    if (parsed >= 0) {
        return parsed;
    }
    if (!settings.ip) {
        return tool.Usage("add needs --ip ADDR");
    }
    if (CheckPortName(name) != ERROR_SUCCESS) {
        return tool.Fail(Quoted("AddPort", name) +
                             ": a port name has 1 to 63 characters, without '\\' or control "
                             "characters",
                         ERROR_INVALID_NAME);
    }
    int checked = CheckSettings(tool, settings);
    if (checked != kExitOk) {
        return checked;
    }
    PortEntry record{};
    SetField(record.PortName, name);
    SetField(record.IPAddress, *settings.ip);
    XcvChannel channel;
    int opened = OpenChannel(tool, &channel, /*administer=*/true);
    if (opened != kExitOk) {
        return opened;
    }
    DWORD error = channel.Request(WSTR("AddPort"), &record, sizeof record, nullptr, 0);
    if (error != ERROR_SUCCESS) {
        return tool.Fail(Quoted("AddPort", name), error);
    }
    if (settings.MoreThanTheAddress()) {
        int configured = Configure(tool, channel, name, settings);
        if (configured != kExitOk) {
            // Half a port is worse than none: take it away again.
            channel.RequestWithName(WSTR("DeletePort"), name);
            return configured;
        }
    }
    printf("Added port %s.\n", name.c_str());
    return kExitOk;
}

int Config(const Tool& tool, const std::vector<std::string>& args) {
    std::string name;
    PortSettings settings;
    int parsed = ParsePortSettings(tool, args, &name, &settings);
    if (parsed >= 0) {
        return parsed;
    }
    int checked = CheckSettings(tool, settings);
    if (checked != kExitOk) {
        return checked;
    }
    XcvChannel channel;
    int own = OpenForOwnPort(tool, &channel, /*administer=*/true, "ConfigPort", name);
    if (own != kExitOk) {
        return own;
    }
    int configured = Configure(tool, channel, name, settings);
    if (configured == kExitOk) {
        printf("Configured port %s.\n", name.c_str());
    }
    return configured;
}

int Show(const Tool& tool, const std::vector<std::string>& args) {
    bool json = false;
    std::string name;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return tool.Usage("unknown option " + a);
        } else if (name.empty()) {
            name = a;
        } else {
            return tool.Usage("one port name only");
        }
    }
    if (name.empty()) {
        return tool.Usage("show needs a port name");
    }
    XcvChannel channel;
    int own = OpenForOwnPort(tool, &channel, /*administer=*/false, "ReadConfigInf", name);
    if (own != kExitOk) {
        return own;
    }
    PortEntry record{};
    int read = ReadPort(tool, channel, name, &record);
    if (read != kExitOk) {
        return read;
    }
    PrintRecord(record, json);
    return kExitOk;
}

int Delete(const Tool& tool, const std::vector<std::string>& args) {
    std::string name;
    int usage = OnlyName(tool, "delete", args, &name);
    if (usage != kExitOk) {
        return usage;
    }
    XcvChannel channel;
    int own = OpenForOwnPort(tool, &channel, /*administer=*/true, "DeletePort", name);
    if (own != kExitOk) {
        return own;
    }
    DWORD error = channel.RequestWithName(WSTR("DeletePort"), name);
    if (error != ERROR_SUCCESS) {
        return tool.Fail(Quoted("DeletePort", name), error);
    }
    printf("Deleted port %s.\n", name.c_str());
    return kExitOk;
}

// Exit 0 when the spooler knows the port (under any monitor), 1 when not.
int Exists(const Tool& tool, const std::vector<std::string>& args) {
    std::string name;
    int usage = OnlyName(tool, "exists", args, &name);
    if (usage != kExitOk) {
        return usage;
    }
    XcvChannel channel;
    int opened = OpenChannel(tool, &channel, /*administer=*/false);
    if (opened != kExitOk) {
        return opened;
    }
    DWORD answer = 0;
    DWORD needed = 0;
    DWORD error =
        channel.RequestWithName(WSTR("PortExists"), name, &answer, sizeof answer, &needed);
    if (error != ERROR_SUCCESS) {
        return tool.Fail(Quoted("PortExists", name), error);
    }
    printf("%s %s\n", name.c_str(), answer != 0 ? "exists" : "does not exist");
    return answer != 0 ? kExitOk : kExitFailed;
}

}  // namespace

int RunPortVerb(const Tool& tool, const std::string& verb, const std::vector<std::string>& args) {
    struct Verb {
        const char* name;
        int (*run)(const Tool&, const std::vector<std::string>&);
    };
    static const Verb kVerbs[] = {
        {"list", List}, {"add", Add},       {"config", Config},
        {"show", Show}, {"delete", Delete}, {"exists", Exists},
    };
    for (const Verb& v : kVerbs) {
        if (verb == v.name) {
            return v.run(tool, args);
        }
    }
    return -1;
}

const char* PortVerbsHelp() {
    return kPortVerbsHelp;
}

int RegisterPortThroughMonitor(const Tool& tool, const std::string& dotted) {
    const std::string name = "NORVA_" + dotted;
    // The installer's port: raw TCP, the monitor's defaults for everything else.
    PortEntry record{};
    SetField(record.PortName, name);
    SetField(record.IPAddress, dotted);
    record.Protocol = PROTOCOL_RAW;
    record.PortNumber = portcfg::kDefaultRawPortNumber;
    record.SnmpVersion = portcfg::kDefaultSnmpVersion;
    record.SnmpTimeOut = portcfg::kDefaultTimeOut;
    record.SnmpEnabled = portcfg::kDefaultSnmpEnabled;
    SetField(record.SnmpCommunity, portcfg::kDefaultCommunity);
    record.SnmpIndex = portcfg::kDefaultSnmpIndex;

    XcvChannel channel;
    int opened = OpenChannel(tool, &channel, /*administer=*/true);
    if (opened != kExitOk) {
        return opened;
    }
    DWORD error = channel.Request(WSTR("AddPort"), &record, sizeof record, nullptr, 0);
    bool existed = false;
    if (error == ERROR_ALREADY_EXISTS) {
        // A port of this monitor gets the installer's values again; another monitor's stays.
        int own = RequireOwnPort(tool, "AddPort", name);
        if (own != kExitOk) {
            return own;
        }
        existed = true;
        error = channel.Request(WSTR("ConfigPort"), &record, sizeof record, nullptr, 0);
    }
    if (error != ERROR_SUCCESS) {
        return tool.Fail(Quoted(existed ? "ConfigPort" : "AddPort", name), error);
    }
    printf("%s port %s (%s, raw TCP port %lu)\n", existed ? "rewrote" : "registered", name.c_str(),
           dotted.c_str(), static_cast<unsigned long>(portcfg::kDefaultRawPortNumber));
    return kExitOk;
}

}  // namespace cli
