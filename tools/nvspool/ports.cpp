// nvspool's port management over the monitor's Xcv channel, as a port user interface does it:
// OpenPrinterW(",XcvMonitor NORVA TCP/IP Port"), XcvDataW requests, ClosePrinter.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "net/portentry.h"
#include "tools/nvspool/common.h"

namespace nvspool {

namespace {

// The settings a command line may give, each only when given.
struct PortSettings {
    std::optional<std::string> ip;
    bool lpr = false;
    bool raw = false;
    std::optional<std::string> queue;
    std::optional<DWORD> portNumber;
    std::optional<DWORD> timeOut;
    std::optional<std::string> community;
    std::optional<DWORD> snmpIndex;
    std::optional<DWORD> snmpVersion;
    std::optional<DWORD> snmpEnabled;
    std::optional<std::string> mail;
    std::optional<std::string> hostName;
    std::optional<std::string> hwAddress;

    bool MoreThanTheAddress() const {
        return lpr || raw || queue || portNumber || timeOut || community || snmpIndex ||
               snmpVersion || snmpEnabled || mail || hostName || hwAddress;
    }
};

const char kPortOptions[] =
    "  --ip ADDR            printer address (dotted IPv4)\n"
    "  --lpr | --raw        transport (LPR, or raw TCP: the default of a new port)\n"
    "  --queue Q            LPR queue name\n"
    "  --port-number N      printer's TCP port\n"
    "  --timeout MS         send time-out in milliseconds (SnmpTimeOut)\n"
    "  --community C        SNMP community\n"
    "  --snmp-index N       SNMP device index\n"
    "  --snmp-version 0|1   SNMP version code\n"
    "  --snmp-enabled 0|1   SNMP status flag\n"
    "  --mail ADDR          mail address of the LPR M line\n"
    "  --host-name H        printer host name (kept and reported)\n"
    "  --hw-address HEX     printer hardware address (kept and reported)\n";

bool Number(const std::string& text, DWORD max, DWORD* value) {
    char* end = nullptr;
    unsigned long long n = strtoull(text.c_str(), &end, 0);
    if (text.empty() || end == nullptr || *end != 0 || n > max) {
        return false;
    }
    *value = static_cast<DWORD>(n);
    return true;
}

// Parses NAME and the settings; returns -1 when the command may go on, else an exit code.
int ParseSettings(const std::vector<std::string>& args, std::string* name, PortSettings* s) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto text = [&](std::optional<std::string>* out) {
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        auto number = [&](std::optional<DWORD>* out, DWORD max) {
            DWORD n = 0;
            if (i + 1 >= args.size() || !Number(args[++i], max, &n))
                return false;
            *out = n;
            return true;
        };
        bool ok = true;
        if (a == "--ip")
            ok = text(&s->ip);
        else if (a == "--lpr")
            s->lpr = true;
        else if (a == "--raw")
            s->raw = true;
        else if (a == "--queue")
            ok = text(&s->queue);
        else if (a == "--port-number")
            ok = number(&s->portNumber, 0xffffffffu);
        else if (a == "--timeout")
            ok = number(&s->timeOut, 0xffffffffu);
        else if (a == "--community")
            ok = text(&s->community);
        else if (a == "--snmp-index")
            ok = number(&s->snmpIndex, 0xffffffffu);
        else if (a == "--snmp-version")
            ok = number(&s->snmpVersion, 1);
        else if (a == "--snmp-enabled")
            ok = number(&s->snmpEnabled, 1);
        else if (a == "--mail")
            ok = text(&s->mail);
        else if (a == "--host-name")
            ok = text(&s->hostName);
        else if (a == "--hw-address")
            ok = text(&s->hwAddress);
        else if (a.size() > 1 && a[0] == '-')
            return Usage(("unknown option " + a).c_str());
        else if (name->empty())
            *name = a;
        else
            return Usage("one port name only");
        if (!ok) {
            return Usage(("bad or missing value for " + a).c_str());
        }
    }
    if (name->empty()) {
        return Usage("a port name is needed");
    }
    if (s->lpr && s->raw) {
        return Usage("--lpr and --raw exclude each other");
    }
    return -1;
}

// Puts UTF-8 text into a record field; false when it does not fit.
bool SetField(WCHAR* field, size_t chars, const std::string& text) {
    std::u16string wide = NvFromUtf8(text.c_str());
    if (wide.size() + 1 > chars) {
        return false;
    }
    memcpy(field, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return true;
}

std::string FieldText(const WCHAR* field, size_t chars) {
    std::u16string text(field, field + chars);
    text.resize(std::min(text.find(u'\0'), text.size()));
    return NvToUtf8(text.c_str());
}

// Applies the settings to a record; an error message when a text does not fit its field.
std::string Apply(const PortSettings& s, PortEntry* r) {
    struct Text {
        const std::optional<std::string>& value;
        WCHAR* field;
        size_t chars;
        const char* option;
    };
    const Text texts[] = {
        {s.ip, r->IPAddress, 32, "--ip"},
        {s.queue, r->QueueName, 32, "--queue"},
        {s.community, r->SnmpCommunity, 64, "--community"},
        {s.mail, r->MailAlert, 64, "--mail"},
        {s.hostName, r->HostName, 64, "--host-name"},
        {s.hwAddress, r->HWAddress, 64, "--hw-address"},
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

// A channel to the monitor, opened as a port user interface opens it.
class Channel {
  public:
    explicit Channel(bool administer) : administer_(administer) {}
    ~Channel() {
        if (handle_ != nullptr) {
            ClosePrinter(handle_);
        }
    }
    bool Open(SpoolerHost& host, const Options& options, int* exitCode) {
        if (!LoadMonitor(host, options, exitCode)) {
            return false;
        }
        std::u16string name = std::u16string(u",XcvMonitor ") + kNorvaMonitorName;
        PRINTER_DEFAULTSW defaults{nullptr, nullptr,
                                   static_cast<ACCESS_MASK>(administer_ ? SERVER_ACCESS_ADMINISTER
                                                                        : SERVER_ACCESS_ENUMERATE)};
        if (!OpenPrinterW(name.data(), &handle_, &defaults)) {
            *exitCode = Fail("OpenPrinterW ,XcvMonitor NORVA TCP/IP Port", GetLastError());
            return false;
        }
        return true;
    }
    // The request's own result (a Win32 code); the transport of the request must work.
    DWORD Request(const char16_t* request, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, DWORD* needed) {
        DWORD status = 0;
        DWORD ignored = 0;
        if (!XcvDataW(handle_, request, static_cast<PBYTE>(const_cast<void*>(input)), inputSize,
                      static_cast<PBYTE>(output), outputSize, needed != nullptr ? needed : &ignored,
                      &status)) {
            return GetLastError();
        }
        return status;
    }

  private:
    bool administer_;
    HANDLE handle_ = nullptr;
};

DWORD ReadConfig(Channel& channel, const std::string& name, PortEntry* record) {
    std::u16string wide = NvFromUtf8(name.c_str());
    DWORD needed = 0;
    return channel.Request(u"ReadConfigInf", wide.c_str(),
                           static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR)), record,
                           sizeof *record, &needed);
}

int Configure(Channel& channel, const std::string& name, const PortSettings& settings) {
    PortEntry record{};
    DWORD error = ReadConfig(channel, name, &record);
    if (error != ERROR_SUCCESS) {
        return Fail("ReadConfigInf \"" + name + "\"", error);
    }
    std::string problem = Apply(settings, &record);
    if (!problem.empty()) {
        fprintf(stderr, "nvspool: %s\n", problem.c_str());
        return 2;
    }
    // A port that changes its transport takes the new transport's defaults for what the
    // command line leaves out.
    if (settings.lpr && !settings.portNumber &&
        record.PortNumber == portcfg::kDefaultRawPortNumber) {
        record.PortNumber = portcfg::kDefaultLprPortNumber;
    }
    if (settings.raw && !settings.portNumber &&
        record.PortNumber == portcfg::kDefaultLprPortNumber) {
        record.PortNumber = portcfg::kDefaultRawPortNumber;
    }
    if (settings.lpr && !settings.queue && record.QueueName[0] == 0) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (sscanf(FieldText(record.IPAddress, 32).c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4) {
            char queue[32];
            snprintf(queue, sizeof queue, portcfg::kDefaultQueueFormat, a, b, c, d);
            SetField(record.QueueName, 32, queue);
        }
    }
    SetField(record.PortName, 64, name);
    error = channel.Request(u"ConfigPort", &record, sizeof record, nullptr, 0, nullptr);
    if (error != ERROR_SUCCESS) {
        return Fail("ConfigPort \"" + name + "\"", error);
    }
    return 0;
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void PrintRecord(const PortEntry& r, bool json) {
    struct Line {
        const char* key;
        std::string text;
        bool number;
    };
    bool lpr = r.Protocol == PROTOCOL_LPR;
    std::vector<Line> lines = {
        {"PortName", FieldText(r.PortName, 64), false},
        {"Protocol", std::to_string(r.Protocol), true},
        {"IPAddress", FieldText(r.IPAddress, 32), false},
        {"HostName", FieldText(r.HostName, 64), false},
        {"HWAddress", FieldText(r.HWAddress, 64), false},
        {"PortNumber", std::to_string(r.PortNumber), true},
        {"SnmpVersion", std::to_string(r.SnmpVersion), true},
        {"SnmpTimeOut", std::to_string(r.SnmpTimeOut), true},
        {"SnmpEnabled", std::to_string(r.SnmpEnabled), true},
        {"SnmpCommunity", FieldText(r.SnmpCommunity, 64), false},
        {"SnmpIndex", std::to_string(r.SnmpIndex), true},
    };
    if (lpr) {
        lines.push_back({"QueueName", FieldText(r.QueueName, 32), false});
        lines.push_back({"MailAlert", FieldText(r.MailAlert, 64), false});
        lines.push_back({"DoubleSpool", std::to_string(r.DoubleSpool), true});
    }
    if (json) {
        printf("{");
        for (size_t i = 0; i < lines.size(); ++i) {
            printf("%s\"%s\": %s", i == 0 ? "" : ", ", lines[i].key,
                   lines[i].number ? lines[i].text.c_str() : JsonText(lines[i].text).c_str());
        }
        printf("}\n");
        return;
    }
    for (const auto& line : lines) {
        printf("%-14s %s%s\n", line.key, line.text.c_str(),
               std::string(line.key) == "Protocol" ? (lpr ? " (LPR)" : " (raw TCP)") : "");
    }
}

}  // namespace

int AddPortCommand(const std::vector<std::string>& args, const Options& options) {
    std::string name;
    PortSettings settings;
    int parsed = ParseSettings(args, &name, &settings);
    if (parsed >= 0) {
        return parsed;
    }
    if (!settings.ip) {
        return Usage("add-port needs --ip ADDR");
    }
    PortEntry record{};
    if (!SetField(record.PortName, 64, name)) {
        return Usage("a port name of the record holds at most 63 characters");
    }
    std::string problem = Apply(PortSettings{settings.ip}, &record);
    if (!problem.empty()) {
        fprintf(stderr, "nvspool: %s\n", problem.c_str());
        return 2;
    }
    SpoolerHost host;
    Channel channel(/*administer=*/true);
    int exitCode = 0;
    if (!channel.Open(host, options, &exitCode)) {
        return exitCode;
    }
    DWORD error = channel.Request(u"AddPort", &record, sizeof record, nullptr, 0, nullptr);
    if (error != ERROR_SUCCESS) {
        return Fail("AddPort \"" + name + "\"", error);
    }
    if (settings.MoreThanTheAddress()) {
        int result = Configure(channel, name, settings);
        if (result != 0) {
            return result;
        }
    }
    printf("Added port %s.\n", name.c_str());
    return 0;
}

int ConfigPortCommand(const std::vector<std::string>& args, const Options& options) {
    std::string name;
    PortSettings settings;
    int parsed = ParseSettings(args, &name, &settings);
    if (parsed >= 0) {
        return parsed;
    }
    SpoolerHost host;
    Channel channel(/*administer=*/true);
    int exitCode = 0;
    if (!channel.Open(host, options, &exitCode)) {
        return exitCode;
    }
    int result = Configure(channel, name, settings);
    if (result == 0) {
        printf("Configured port %s.\n", name.c_str());
    }
    return result;
}

int ShowPortCommand(const std::vector<std::string>& args, const Options& options) {
    bool json = false;
    std::string name;
    for (const auto& a : args) {
        if (a == "--json")
            json = true;
        else if (a.size() > 1 && a[0] == '-')
            return Usage(("unknown option " + a).c_str());
        else if (name.empty())
            name = a;
        else
            return Usage("one port name only");
    }
    if (name.empty()) {
        return Usage("show-port needs a port name");
    }
    SpoolerHost host;
    Channel channel(/*administer=*/false);
    int exitCode = 0;
    if (!channel.Open(host, options, &exitCode)) {
        return exitCode;
    }
    PortEntry record{};
    DWORD error = ReadConfig(channel, name, &record);
    if (error != ERROR_SUCCESS) {
        return Fail("ReadConfigInf \"" + name + "\"", error);
    }
    if (record.PortName[0] == 0) {
        fprintf(stderr, "nvspool: %s: the port's address does not parse (IPAddress)\n",
                name.c_str());
        return 1;
    }
    PrintRecord(record, json);
    return 0;
}

int DeletePortCommand(const std::vector<std::string>& args, const Options& options) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        return Usage("delete-port takes one port name");
    }
    SpoolerHost host;
    Channel channel(/*administer=*/true);
    int exitCode = 0;
    if (!channel.Open(host, options, &exitCode)) {
        return exitCode;
    }
    std::u16string wide = NvFromUtf8(args[0].c_str());
    DWORD error = channel.Request(u"DeletePort", wide.c_str(),
                                  static_cast<DWORD>((wide.size() + 1) * 2), nullptr, 0, nullptr);
    if (error != ERROR_SUCCESS) {
        return Fail("DeletePort \"" + args[0] + "\"", error);
    }
    printf("Deleted port %s.\n", args[0].c_str());
    return 0;
}

// Exit 0 when the spooler knows the port (under any monitor), 1 when not.
int PortExistsCommand(const std::vector<std::string>& args, const Options& options) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        return Usage("port-exists takes one port name");
    }
    SpoolerHost host;
    Channel channel(/*administer=*/false);
    int exitCode = 0;
    if (!channel.Open(host, options, &exitCode)) {
        return exitCode;
    }
    std::u16string wide = NvFromUtf8(args[0].c_str());
    DWORD answer = 0;
    DWORD needed = 0;
    DWORD error =
        channel.Request(u"PortExists", wide.c_str(), static_cast<DWORD>((wide.size() + 1) * 2),
                        &answer, sizeof answer, &needed);
    if (error != ERROR_SUCCESS) {
        return Fail("PortExists \"" + args[0] + "\"", error);
    }
    printf("%s %s\n", args[0].c_str(), answer != 0 ? "exists" : "does not exist");
    return answer != 0 ? 0 : 1;
}

// Raw access: any request with an input of UTF-16 text or of a file's bytes.
int XcvCommand(const std::vector<std::string>& args, const Options& options) {
    std::string request;
    std::vector<BYTE> input;
    bool haveInput = false;
    DWORD outputSize = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--input-string" && i + 1 < args.size() && !haveInput) {
            std::u16string wide = NvFromUtf8(args[++i].c_str());
            const auto* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
            input.assign(bytes, bytes + (wide.size() + 1) * sizeof(WCHAR));
            haveInput = true;
        } else if (a == "--input-file" && i + 1 < args.size() && !haveInput) {
            std::ifstream file(args[++i], std::ios::binary);
            if (!file) {
                fprintf(stderr, "nvspool: cannot read %s\n", args[i].c_str());
                return 1;
            }
            input.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            haveInput = true;
        } else if (a == "--output-size" && i + 1 < args.size()) {
            if (!Number(args[++i], 1u << 20, &outputSize))
                return Usage("bad --output-size");
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown or repeated option " + a).c_str());
        } else if (request.empty()) {
            request = a;
        } else {
            return Usage("one request name only");
        }
    }
    if (request.empty()) {
        return Usage("xcv needs a request name");
    }
    SpoolerHost host;
    Channel channel(/*administer=*/SpoolerHost::CallerMayAdminister());
    int exitCode = 0;
    if (!channel.Open(host, options, &exitCode)) {
        return exitCode;
    }
    std::u16string wide = NvFromUtf8(request.c_str());
    std::vector<BYTE> output(outputSize, 0);
    DWORD needed = 0;
    DWORD status = channel.Request(wide.c_str(), haveInput ? input.data() : nullptr,
                                   static_cast<DWORD>(input.size()),
                                   outputSize > 0 ? output.data() : nullptr, outputSize, &needed);
    printf("status %u (%s), needed %u\n", static_cast<unsigned>(status),
           NvErrorText(status).c_str(), static_cast<unsigned>(needed));
    DWORD shown = std::min(needed, outputSize);
    for (DWORD i = 0; i < shown; i += 16) {
        printf("%04x ", static_cast<unsigned>(i));
        for (DWORD j = i; j < i + 16 && j < shown; ++j) {
            printf(" %02x", output[j]);
        }
        printf("\n");
    }
    return status == ERROR_SUCCESS ? 0 : 1;
}

const char* PortOptionsHelp() {
    return kPortOptions;
}

}  // namespace nvspool
