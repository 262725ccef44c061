#include "tools/cli/port_access.h"

#include <vector>

namespace cli {

std::string Quoted(const char* request, const std::string& name) {
    return std::string(request) + " \"" + name + "\"";
}

int OpenChannel(const Tool& tool, XcvChannel* channel, bool administer) {
    int attached = tool.Attach(administer);
    if (attached != kExitOk) {
        return attached;
    }
    DWORD error = channel->Open(administer);
    if (error == ERROR_SUCCESS) {
        return kExitOk;
    }
    const std::string monitor = Utf8(portcfg::kMonitorName);
    // A spooler that does not know the monitor answers the channel's name as an unknown port
    // or printer.
    if (tool.installCommand != nullptr &&
        (error == ERROR_UNKNOWN_PORT || error == ERROR_INVALID_PRINTER_NAME)) {
        return tool.Fail("the monitor " + monitor + " is not installed: run " + tool.installCommand,
                         error);
    }
    return tool.Fail("OpenPrinterW ,XcvMonitor " + monitor, error);
}

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

int OpenForOwnPort(const Tool& tool, XcvChannel* channel, bool administer, const char* request,
                   const std::string& name) {
    int opened = OpenChannel(tool, channel, administer);
    if (opened != kExitOk) {
        return opened;
    }
    return RequireOwnPort(tool, request, name);
}

int ReadOwnPort(const Tool& tool, XcvChannel* channel, const std::string& name, PortEntry* record) {
    int own = OpenForOwnPort(tool, channel, /*administer=*/false, "ReadConfigInf", name);
    return own != kExitOk ? own : ReadPort(tool, *channel, name, record);
}

// A record without a name is one whose address did not parse: nothing was read, and writing
// settings over it would store a port without a transport.
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

}  // namespace cli
