#include "tools/cli/port_verbs.h"

#include <cctype>
#include <cstdio>

#include "net/portentry.h"
#include "tools/cli/port_access.h"
#include "tools/cli/port_settings.h"
#include "tools/cli/status_verb.h"
#include "tools/cli/verbs.h"

namespace cli {

namespace {

struct Verb {
    const char* name;
    int (*run)(const Tool&, const Args&);
    const char* synopsis;  // what follows the verb
    const char* summary;   // one line, in the tool's help and at the top of the verb's
    const char* details;   // the rest of the verb's help
    bool settings;         // the port settings follow in the verb's help
};

const Verb kVerbs[] = {
    {"list", ListVerb, "[--long | --json]", "the ports of the monitor \"NORVA TCP/IP Port\"",
     "  --long     one line per port: name, address, protocol, TCP port, LPR queue\n"
     "  --json     the same as a JSON array of objects with the keys name, address,\n"
     "             protocol (\"raw\" or \"lpr\"), portNumber and queue (null for raw TCP)\n"
     "A port whose settings cannot be read shows its error instead (\"error\": CODE).\n",
     false},
    {"ports", PortsVerb, "[--level 1|2] [--json]", "every port the spooler lists, of any monitor",
     "  --level N  the EnumPortsW level: 2 (default) with monitor, description and type,\n"
     "             1 the names only\n"
     "  --json     a JSON array of objects with the keys name, monitor, description and\n"
     "             type (a list of \"write\", \"read\", \"redirected\", \"network\")\n",
     false},
    {"add", AddVerb, "NAME --ip ADDR [settings]",
     "add a port (raw TCP to 9100 unless the settings say else)",
     "Every setting is checked before anything changes; a port whose settings cannot be\n"
     "applied after it was made is deleted again.\n",
     true},
    {"config", ConfigVerb, "NAME SETTING...", "change a port's settings",
     "A port that changes its transport takes the new transport's TCP port (515 or 9100)\n"
     "and, for LPR, the queue q_ADDRESS, unless they are given.\n",
     true},
    {"show", ShowVerb, "NAME [--json]", "a port's settings",
     "  --json     one JSON object with the registry's value names as keys, and\n"
     "             IPAddressReadAs and PortNumberReadAs: where the monitor connects\n"
     "A stored address or port number that the monitor reads otherwise than it looks\n"
     "(127.0.0.010 is read as 127.0.0.8) is said below the settings.\n",
     false},
    {"status", StatusVerb, "NAME [--json]", "ask the port's printer how it is",
     "With the port's settings: whether its TCP port takes a connection within 2 s and, by\n"
     "SNMP (unless SnmpEnabled is 0), its description, device and printer status, each\n"
     "error condition by name, its page counter and supplies. A printer that does not\n"
     "answer SNMP is \"no status answer\", never offline.\n"
     "Exit status 0 ready; 3 needs attention (a condition, a device status other than\n"
     "running, a supply at 5 % or less); 4 not reachable (no connection).\n",
     false},
    {"delete", DeleteVerb, "NAME", "delete a port", "A port that is printing is not deleted.\n",
     false},
    {"exists", ExistsVerb, "NAME", "whether the spooler knows the port, under any monitor",
     "Exit status 0 when it does, 1 when it does not.\n", false},
    {"test-page", TestPageVerb, "NAME", "print a one-page test job to the port",
     "The page is plain text: the port's name, its settings and the time. It goes\n"
     "through the monitor's own job path, and its outcome is reported as for any job.\n",
     false},
    {"export", ExportVerb, "[--if-installed] FILE", "write the monitor's ports into a .reg file",
     "Every port with all its values, in UTF-16 as reg.exe writes it; nvreg import,\n"
     "reg.exe import and this tool's import take it back.\n"
     "  --if-installed  where the monitor has no ports key (it was never installed),\n"
     "                  write nothing and succeed: what the package's removal runs\n",
     false},
    {"import", ImportVerb, "FILE", "make the ports of a .reg file through the monitor",
     "As add and config do: a port that exists gets the file's settings. Every port of\n"
     "the file is checked before anything changes; keys other than the monitor's ports\n"
     "are refused.\n",
     false},
};

const Verb* FindVerb(const std::string& name) {
    for (const Verb& v : kVerbs) {
        if (name == v.name) {
            return &v;
        }
    }
    return nullptr;
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
    problem = CheckTransportSettings(settings, record.Protocol);
    if (!problem.empty()) {
        return tool.Fail(problem, ERROR_INVALID_PARAMETER);
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
int CheckSettings(const Tool& tool, PortSettings* settings) {
    std::string problem = CheckSettingValues(settings);
    if (!problem.empty()) {
        return tool.Fail(problem, ERROR_INVALID_PARAMETER);
    }
    PortEntry check{};
    problem = ApplySettings(*settings, &check);
    if (!problem.empty()) {
        return tool.Usage(problem);
    }
    return kExitOk;
}

// One port name and nothing else; 0 or the usage error's exit code.
int OnlyName(const Tool& tool, const char* verb, const Args& args, std::string* name) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        return tool.Usage(std::string(verb) + " takes one port name");
    }
    *name = args[0];
    return kExitOk;
}

}  // namespace

int AddVerb(const Tool& tool, const Args& args) {
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
    int checked = CheckSettings(tool, &settings);
    if (checked != kExitOk) {
        return checked;
    }
    std::string problem =
        CheckTransportSettings(settings, settings.lpr ? PROTOCOL_LPR : PROTOCOL_RAW);
    if (!problem.empty()) {
        return tool.Fail(problem, ERROR_INVALID_PARAMETER);
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

int ConfigVerb(const Tool& tool, const Args& args) {
    std::string name;
    PortSettings settings;
    int parsed = ParsePortSettings(tool, args, &name, &settings);
    if (parsed >= 0) {
        return parsed;
    }
    if (!settings.ip && !settings.MoreThanTheAddress()) {
        return tool.Usage("config needs a setting to change");
    }
    int checked = CheckSettings(tool, &settings);
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

// NAME and --json, in any order, for the verb; 0 or the usage error's exit code.
int NameAndJson(const Tool& tool, const char* verb, const Args& args, std::string* name,
                bool* json) {
    for (const auto& a : args) {
        if (a == "--json") {
            *json = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return tool.Usage("unknown option " + a);
        } else if (name->empty()) {
            *name = a;
        } else {
            return tool.Usage("one port name only");
        }
    }
    return name->empty() ? tool.Usage(std::string(verb) + " needs a port name") : kExitOk;
}

int ShowVerb(const Tool& tool, const Args& args) {
    bool json = false;
    std::string name;
    XcvChannel channel;
    PortEntry record{};
    int failed = NameAndJson(tool, "show", args, &name, &json);
    if (failed == kExitOk) {
        failed = ReadOwnPort(tool, &channel, name, &record);
    }
    if (failed != kExitOk) {
        return failed;
    }
    PrintRecord(record, json);
    return kExitOk;
}

// Asks the port's printer how it is (status_verb.h gives the exit codes).
int StatusVerb(const Tool& tool, const Args& args) {
    bool json = false;
    std::string name;
    XcvChannel channel;
    PortEntry record{};
    int failed = NameAndJson(tool, "status", args, &name, &json);
    if (failed == kExitOk) {
        failed = ReadOwnPort(tool, &channel, name, &record);
    }
    return failed != kExitOk ? failed : ShowPrinterStatus(record, json);
}

int DeleteVerb(const Tool& tool, const Args& args) {
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
int ExistsVerb(const Tool& tool, const Args& args) {
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

int RunPortVerb(const Tool& tool, const std::string& verb, const std::vector<std::string>& args) {
    const Verb* v = FindVerb(verb);
    if (v == nullptr) {
        return -1;
    }
    if (AsksForHelp(tool, args)) {
        PrintVerbHelp(tool, verb, v->synopsis, v->summary, v->details);
        if (v->settings) {
            printf("\nSettings:\n%s", PortSettingsHelp());
        }
        return kExitOk;
    }
    return v->run(tool, args);
}

std::string VerbHelpLine(const std::string& verb, const char* synopsis, const char* summary) {
    constexpr size_t kColumn = 29;
    std::string line = "  " + verb + (synopsis[0] != 0 ? " " : "") + synopsis;
    line += line.size() + 1 < kColumn ? std::string(kColumn - line.size(), ' ')
                                      : "\n" + std::string(kColumn, ' ');
    return line + summary + "\n";
}

bool AsksForHelp(const Tool& tool, const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (IsHelpOption(a, tool.slashHelp)) {
            return true;
        }
    }
    return false;
}

const VerbDoc* FindVerbDoc(const VerbDoc* docs, size_t count, const std::string& name) {
    for (size_t i = 0; i < count; ++i) {
        if (name == docs[i].name) {
            return &docs[i];
        }
    }
    return nullptr;
}

std::string VerbDocsHelp(const VerbDoc* docs, size_t count) {
    std::string help;
    for (size_t i = 0; i < count; ++i) {
        help += VerbHelpLine(docs[i].name, docs[i].synopsis, docs[i].summary);
    }
    return help;
}

std::string PortVerbsHelp() {
    std::string help;
    for (const Verb& v : kVerbs) {
        help += VerbHelpLine(v.name, v.synopsis, v.summary);
    }
    return help;
}

int PrintVerbHelp(const Tool& tool, const std::string& verb, const char* synopsis,
                  const char* summary, const char* details) {
    std::string sentence = summary;
    if (!sentence.empty()) {
        sentence[0] = static_cast<char>(toupper(static_cast<unsigned char>(sentence[0])));
    }
    printf("Usage: %s %s%s%s\n\n%s.\n%s", tool.name, verb.c_str(), synopsis[0] != 0 ? " " : "",
           synopsis, sentence.c_str(), details);
    return kExitOk;
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
