#include "tools/nvspool/commands.h"

#include <cstdio>
#include <cstring>

#include "tools/cli/port_verbs.h"
#include "tools/nvspool/common.h"

namespace nvspool {

namespace {

const cli::Tool kTool{"nvspool", nullptr};

}  // namespace

int Fail(const std::string& what, DWORD code) {
    return kTool.Fail(what, code);
}

int Usage(const char* text) {
    return kTool.Usage(text);
}

bool LoadMonitor(SpoolerHost& host, const Options& options, int* exitCode) {
    std::string message;
    DWORD error = host.LoadMonitor(options.monitorPath, kNorvaMonitorName, true, &message);
    if (error != ERROR_SUCCESS) {
        *exitCode = Fail(message.empty() ? "cannot load the monitor" : message, error);
        return false;
    }
    return true;
}

namespace {

std::string TypeText(DWORD type) {
    std::string text;
    if (type & PORT_TYPE_WRITE)
        text += "write";
    if (type & PORT_TYPE_READ)
        text += text.empty() ? "read" : ",read";
    if (type & PORT_TYPE_REDIRECTED)
        text += text.empty() ? "redirected" : ",redirected";
    if (type & PORT_TYPE_NET_ATTACHED)
        text += text.empty() ? "network" : ",network";
    return text.empty() ? "-" : text;
}

int Ports(const std::vector<std::string>& args, const Options& options) {
    DWORD level = 2;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--level" && i + 1 < args.size()) {
            level = static_cast<DWORD>(strtoul(args[++i].c_str(), nullptr, 10));
        } else {
            return Usage(("unknown option for ports: " + args[i]).c_str());
        }
    }
    SpoolerHost host;
    int exitCode = 0;
    if (!LoadMonitor(host, options, &exitCode)) {
        return exitCode;
    }
    DWORD needed = 0;
    DWORD returned = 0;
    std::vector<BYTE> buffer;
    BOOL ok = EnumPortsW(nullptr, level, nullptr, 0, &needed, &returned);
    while (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.assign(needed, 0);
        ok = EnumPortsW(nullptr, level, buffer.data(), needed, &needed, &returned);
    }
    if (!ok) {
        return Fail("EnumPortsW", GetLastError());
    }
    if (level == 1) {
        for (DWORD i = 0; i < returned; ++i) {
            PORT_INFO_1W info;
            memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
            printf("%s\n", NvToUtf8(info.pName).c_str());
        }
        return 0;
    }
    printf("%-24s %-20s %-20s %s\n", "PORT", "MONITOR", "DESCRIPTION", "TYPE");
    for (DWORD i = 0; i < returned; ++i) {
        PORT_INFO_2W info;
        memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
        printf("%-24s %-20s %-20s %s\n", NvToUtf8(info.pPortName).c_str(),
               NvToUtf8(info.pMonitorName).c_str(), NvToUtf8(info.pDescription).c_str(),
               TypeText(info.fPortType).c_str());
    }
    return 0;
}

}  // namespace

int RunCommand(const std::string& command, const std::vector<std::string>& args,
               const Options& options) {
    if (command == "ports") {
        return Ports(args, options);
    }
    // The port verbs are nvport's; the older names stay.
    static const std::pair<const char*, const char*> kOlderNames[] = {
        {"add-port", "add"},       {"config-port", "config"}, {"show-port", "show"},
        {"delete-port", "delete"}, {"port-exists", "exists"},
    };
    std::string verb = command;
    for (const auto& [older, name] : kOlderNames) {
        if (command == older) {
            verb = name;
        }
    }
    // The verbs reach the monitor through this process's spooler host.
    SpoolerHost host;
    cli::Tool tool{"nvspool", [&host, &options] {
                       int exitCode = 0;
                       return LoadMonitor(host, options, &exitCode) ? cli::kExitOk : exitCode;
                   }};
    int result = cli::RunPortVerb(tool, verb, args);
    if (result >= 0) {
        return result;
    }
    if (command == "xcv") {
        return XcvCommand(args, options);
    }
    if (command == "serve") {
        return Serve(args, options);
    }
    if (command == "print") {
        return Print(args, options);
    }
    return Usage(("unknown command: " + command).c_str());
}

}  // namespace nvspool
