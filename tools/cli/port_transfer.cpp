// export and import: the monitor's ports in a .reg file, the one format that nvreg, reg.exe
// and these verbs all read. Export reads the monitor's "Ports" key with every value; import
// makes the file's ports through the monitor (AddPort, ConfigPort), so that a running spooler
// has them at once and every setting passes the monitor's own checks.
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "net/portcheck.h"
#include "tools/cli/port_access.h"
#include "tools/cli/port_settings.h"
#include "tools/cli/verbs.h"
#include "tools/nvreg/reg_file.h"

namespace cli {

namespace {

// The Ports key as a .reg file names it.
const std::u16string& PortsKeyInFile() {
    static const std::u16string path =
        u"HKEY_LOCAL_MACHINE\\" + std::u16string(reinterpret_cast<const char16_t*>(
                                      static_cast<const WCHAR*>(portcfg::kPortsKeyPath)));
    return path;
}

const WCHAR* W(const std::u16string& text) {
    return reinterpret_cast<const WCHAR*>(text.c_str());
}
std::string Utf8Of(const std::u16string& text) {
    return Utf8(W(text));
}

// The changes of a whole .reg file, in file order; an empty text, or the failure's line (what
// the reader found wrong, with its Win32 code).
std::string ReadChanges(const std::string& path, std::vector<nvreg::RegChange>* changes,
                        DWORD* code) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *code = GetLastError();
        return "reading " + path;
    }
    nvreg::RegFileReader reader([file](char* buffer, DWORD size, DWORD* got) -> LONG {
        return ReadFile(file, buffer, size, got, nullptr) ? ERROR_SUCCESS
                                                          : static_cast<LONG>(GetLastError());
    });
    std::string problem;
    for (nvreg::RegChange change;;) {
        nvreg::RegFileReader::Step step = reader.Next(&change);
        if (step == nvreg::RegFileReader::Step::kChange) {
            changes->push_back(change);
            continue;
        }
        if (step == nvreg::RegFileReader::Step::kFault) {
            const nvreg::RegFileFault& fault = reader.Fault();
            *code = static_cast<DWORD>(fault.code);
            problem = path + (fault.line > 0 ? ", line " + std::to_string(fault.line) : "") + ": " +
                      fault.what;
        }
        break;
    }
    CloseHandle(file);
    return problem;
}

// A file that cannot be written whole is removed rather than left cut short.
DWORD WriteFileBytes(const std::string& path, const std::string& bytes) {
    const WideString name = Wide(path);
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    }
    CloseHandle(file);
    if (error != ERROR_SUCCESS) {
        DeleteFileW(name.c_str());
    }
    return error;
}

// The key's values and then its subkeys, in the file's text; 0 or the registry's error.
LONG ExportKey(HKEY key, const std::u16string& path, std::u16string* text) {
    *text += nvreg::KeyLine(path);
    std::vector<WCHAR> name(16384);
    std::vector<BYTE> data(4096);
    for (DWORD index = 0;;) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        LONG result =
            RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type, data.data(), &size);
        if (result == ERROR_MORE_DATA) {
            data.resize(size > data.size() ? size : data.size() * 2);
            continue;  // the same index again, with room
        }
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            return result;
        }
        *text += nvreg::ValueLines(
            std::u16string(reinterpret_cast<const char16_t*>(name.data()), nameChars), type,
            std::vector<BYTE>(data.begin(), data.begin() + size));
        ++index;
    }
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        LONG result =
            RegEnumKeyExW(key, index, name.data(), &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (result != ERROR_SUCCESS) {
            return result;
        }
        HKEY sub = nullptr;
        result = RegOpenKeyExW(key, name.data(), 0, KEY_READ, &sub);
        if (result == ERROR_SUCCESS) {
            *text += u"\r\n";
            result = ExportKey(
                sub,
                path + u"\\" +
                    std::u16string(reinterpret_cast<const char16_t*>(name.data()), nameChars),
                text);
            RegCloseKey(sub);
        }
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
}

// One port of an import file: the values as the file gives them, and the first line of it.
struct FilePort {
    std::string name;
    int line = 0;
    std::map<std::u16string, const nvreg::RegChange*> values;  // by lower-case name
};

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

// Sorts the file's changes by port; an empty text, or the line and what is wrong there.
std::string CollectPorts(const std::vector<nvreg::RegChange>& changes,
                         std::vector<FilePort>* ports) {
    const std::u16string prefix = Lower(PortsKeyInFile());
    for (const nvreg::RegChange& change : changes) {
        const std::string where = "line " + std::to_string(change.line) + ": ";
        if (change.kind == nvreg::RegChange::Kind::kDeleteKey ||
            change.kind == nvreg::RegChange::Kind::kDeleteValue) {
            return where + "the import makes and changes ports; it deletes nothing";
        }
        const std::u16string key = Lower(change.key);
        if (key == prefix) {
            if (change.kind == nvreg::RegChange::Kind::kValue) {
                return where + "the Ports key itself has no values";
            }
            continue;
        }
        if (key.compare(0, prefix.size() + 1, prefix + u"\\") != 0 ||
            key.find(u'\\', prefix.size() + 1) != std::u16string::npos) {
            return where + "[" + Utf8Of(change.key) + "] is not a port of the monitor";
        }
        std::string name = Utf8Of(change.key.substr(prefix.size() + 1));
        if (ports->empty() || ports->back().name != name) {
            ports->push_back({name, change.line, {}});
        }
        if (change.kind == nvreg::RegChange::Kind::kValue) {
            ports->back().values[Lower(change.name)] = &change;
        }
    }
    return std::string();
}

// The value names of a port key, and whether each is a DWORD.
struct ValueSpec {
    const char16_t* name;
    bool dword;
};
const ValueSpec kPortValues[] = {
    {u"protocol", true},    {u"ipaddress", false},     {u"hostname", false},
    {u"hwaddress", false},  {u"portnumber", true},     {u"snmptimeout", true},
    {u"snmpenabled", true}, {u"snmpcommunity", false}, {u"snmpindex", true},
    {u"snmpversion", true}, {u"queuename", false},     {u"mailalert", false},
    {u"doublespool", true},
};

// The record for a port of the file, with the defaults that the monitor's readers take for a
// value that is missing; an empty text, or what is wrong with the port.
std::string BuildRecord(const FilePort& port, PortEntry* record) {
    std::map<std::u16string, DWORD> numbers;
    std::map<std::u16string, std::string> texts;
    for (const auto& [name, change] : port.values) {
        const ValueSpec* spec = nullptr;
        for (const ValueSpec& s : kPortValues) {
            spec = name == s.name ? &s : spec;
        }
        const std::string where = "line " + std::to_string(change->line) + ": ";
        if (spec == nullptr) {
            return where + "\"" + Utf8Of(change->name) + "\" is not a value of a port";
        }
        if (spec->dword) {
            if (change->type != REG_DWORD || change->data.size() != sizeof(DWORD)) {
                return where + Utf8Of(change->name) + " is a dword";
            }
            DWORD value = 0;
            memcpy(&value, change->data.data(), sizeof value);
            numbers[name] = value;
            continue;
        }
        const size_t units = change->data.size() / 2;
        if (change->type != REG_SZ || units == 0 || change->data.size() % 2 != 0 ||
            change->data[units * 2 - 1] != 0 || change->data[units * 2 - 2] != 0) {
            return where + Utf8Of(change->name) + " is a terminated string (REG_SZ)";
        }
        std::u16string text(units - 1, 0);
        memcpy(text.data(), change->data.data(), (units - 1) * 2);
        texts[name] = Utf8Of(text);
    }
    auto number = [&](const char16_t* name, DWORD fallback) {
        auto found = numbers.find(name);
        return found != numbers.end() ? found->second : fallback;
    };
    auto text = [&](const char16_t* name, const std::string& fallback) {
        auto found = texts.find(name);
        return found != texts.end() ? found->second : fallback;
    };
    if (texts.count(u"ipaddress") == 0) {
        return "the port " + port.name + " has no IPAddress";
    }
    record->Protocol = number(u"protocol", portcfg::kDefaultProtocol);
    const bool lpr = record->Protocol == PROTOCOL_LPR;
    record->PortNumber = number(
        u"portnumber", lpr ? portcfg::kDefaultLprPortNumber : portcfg::kDefaultRawPortNumber);
    record->SnmpTimeOut = number(u"snmptimeout", portcfg::kDefaultTimeOut);
    record->SnmpEnabled = number(u"snmpenabled", portcfg::kDefaultSnmpEnabled);
    record->SnmpIndex = number(u"snmpindex", portcfg::kDefaultSnmpIndex);
    record->SnmpVersion = number(u"snmpversion", portcfg::kDefaultSnmpVersion);
    record->DoubleSpool = number(u"doublespool", 0);
    const std::string address = text(u"ipaddress", "");
    const struct {
        WCHAR* field;
        size_t chars;
        std::string value;
        const char* name;
    } fields[] = {
        {record->PortName, 64, port.name, "the port name"},
        {record->IPAddress, 32, address, "IPAddress"},
        {record->HostName, 49, text(u"hostname", ""), "HostName"},
        {record->HWAddress, 64, text(u"hwaddress", ""), "HWAddress"},
        {record->SnmpCommunity, 33, text(u"snmpcommunity", portcfg::kDefaultCommunity),
         "SnmpCommunity"},
        {record->QueueName, 33, text(u"queuename", ""), "QueueName"},
        {record->MailAlert, 64, text(u"mailalert", ""), "MailAlert"},
    };
    for (const auto& f : fields) {
        if (!SetField(f.field, f.chars, f.value)) {
            return std::string(f.name) + " of " + port.name + " is longer than the monitor keeps";
        }
    }
    if (lpr && texts.count(u"queuename") == 0) {
        PortSettings defaults;
        defaults.lpr = true;
        TakeTransportDefaults(defaults, record);
    }
    return std::string();
}

// The checks that add and config make, for a port of the file.
std::string CheckRecord(const std::string& name, PortEntry* record) {
    if (CheckPortName(name) != ERROR_SUCCESS) {
        return "\"" + name +
               "\" is not a port name (1 to 63 characters, no '\\' or control "
               "characters)";
    }
    if (record->Protocol != PROTOCOL_RAW && record->Protocol != PROTOCOL_LPR) {
        return name + ": Protocol is 1 (raw TCP) or 2 (LPR)";
    }
    PortSettings settings;
    settings.ip = FieldText(record->IPAddress);
    settings.portNumber = record->PortNumber;
    std::string hardware = FieldText(record->HWAddress);
    if (!hardware.empty()) {
        settings.hwAddress = hardware;
    }
    std::string problem = CheckSettingValues(&settings);
    if (!problem.empty()) {
        return name + ": " + problem;
    }
    if (settings.hwAddress) {
        SetField(record->HWAddress, *settings.hwAddress);
    }
    return std::string();
}

// Whether a port of that name exists, and whether it is this monitor's.
struct Existing {
    bool exists = false;
    bool ours = false;
    std::string monitor;
};

Existing Find(const std::vector<SpoolerPort>& ports, const std::string& name) {
    WideString wide = Wide(name);
    for (const SpoolerPort& p : ports) {
        if (SameName(p.name.c_str(), wide.c_str())) {
            return {true, SameName(p.monitor.c_str(), portcfg::kMonitorName),
                    Utf8(p.monitor.c_str())};
        }
    }
    return {};
}

}  // namespace

int ExportVerb(const Tool& tool, const Args& args) {
    // --if-installed: what the package's removal runs, where the monitor may never have been
    // registered; without its key there is nothing to keep.
    const bool ifInstalled = !args.empty() && args[0] == "--if-installed";
    const Args rest(args.begin() + (ifInstalled ? 1 : 0), args.end());
    if (rest.size() != 1 || rest[0].empty() || rest[0][0] == '-') {
        return tool.Usage("export takes one file name");
    }
    const std::string& file = rest[0];
    int attached = tool.Attach(/*changes=*/false);
    if (attached != kExitOk) {
        return attached;
    }
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, portcfg::kPortsKeyPath, 0, KEY_READ, &key);
    if (result == ERROR_FILE_NOT_FOUND && ifInstalled) {
        printf("The monitor %s has no ports key: nothing to export.\n",
               Utf8(portcfg::kMonitorName).c_str());
        return kExitOk;
    }
    if (result != ERROR_SUCCESS) {
        return tool.Fail(
            "export: the monitor's key HKLM\\" + Utf8(portcfg::kPortsKeyPath) + " cannot be read" +
                (tool.installCommand != nullptr && result == ERROR_FILE_NOT_FOUND
                     ? std::string(" (is the monitor installed? ") + tool.installCommand + ")"
                     : std::string()),
            static_cast<DWORD>(result));
    }
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    std::u16string text = nvreg::RegFileHeader();
    result = ExportKey(key, PortsKeyInFile(), &text);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        return tool.Fail("export: reading the monitor's ports", static_cast<DWORD>(result));
    }
    DWORD error = WriteFileBytes(file, nvreg::RegFileBytes(text + u"\r\n"));
    if (error != ERROR_SUCCESS) {
        return tool.Fail("export: writing " + file, error);
    }
    printf("Exported %lu port%s to %s.\n", static_cast<unsigned long>(count), count == 1 ? "" : "s",
           file.c_str());
    return kExitOk;
}

int ImportVerb(const Tool& tool, const Args& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        return tool.Usage("import takes one file name");
    }
    const std::string& file = args[0];
    std::vector<nvreg::RegChange> changes;
    DWORD error = ERROR_SUCCESS;
    std::string problem = ReadChanges(file, &changes, &error);
    if (!problem.empty()) {
        return tool.Fail("import: " + problem, error);
    }
    std::vector<FilePort> ports;
    problem = CollectPorts(changes, &ports);
    std::vector<PortEntry> records(ports.size());
    for (size_t i = 0; i < ports.size() && problem.empty(); ++i) {
        problem = BuildRecord(ports[i], &records[i]);
        if (problem.empty()) {
            problem = CheckRecord(ports[i].name, &records[i]);
        }
    }
    if (!problem.empty()) {
        return tool.Fail("import: " + file + ": " + problem + "; nothing was changed",
                         ERROR_INVALID_PARAMETER);
    }
    XcvChannel channel;
    int opened = OpenChannel(tool, &channel, /*administer=*/true);
    if (opened != kExitOk) {
        return opened;
    }
    std::vector<SpoolerPort> known;
    error = ListSpoolerPorts(&known);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("EnumPortsW", error);
    }
    for (const FilePort& port : ports) {
        Existing existing = Find(known, port.name);
        if (existing.exists && !existing.ours) {
            return tool.Fail("import: " + file + ": the port " + port.name +
                                 " belongs to the monitor \"" + existing.monitor +
                                 "\"; nothing was changed",
                             ERROR_NOT_SUPPORTED);
        }
    }
    size_t added = 0;
    for (size_t i = 0; i < ports.size(); ++i) {
        const bool exists = Find(known, ports[i].name).exists;
        if (!exists) {
            error = channel.Request(WSTR("AddPort"), &records[i], sizeof records[i], nullptr, 0);
            if (error != ERROR_SUCCESS) {
                return tool.Fail(Quoted("AddPort", ports[i].name) + " (the ports before it in " +
                                     file + " were imported)",
                                 error);
            }
            ++added;
        }
        error = channel.Request(WSTR("ConfigPort"), &records[i], sizeof records[i], nullptr, 0);
        if (error != ERROR_SUCCESS) {
            if (!exists) {
                channel.RequestWithName(WSTR("DeletePort"), ports[i].name);
            }
            return tool.Fail(Quoted("ConfigPort", ports[i].name) + " (the ports before it in " +
                                 file + " were imported)",
                             error);
        }
    }
    printf("Imported %zu port%s from %s (%zu added, %zu changed).\n", ports.size(),
           ports.size() == 1 ? "" : "s", file.c_str(), added, ports.size() - added);
    return kExitOk;
}

}  // namespace cli
