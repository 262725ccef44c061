#include "tools/cli/spooler.h"

#include <cstring>

#include "net/portentry.h"

namespace cli {

XcvChannel::~XcvChannel() {
    if (handle_ != nullptr) {
        ClosePrinter(handle_);
    }
}

DWORD XcvChannel::Open(bool administer) {
    WideString name = WideString(WSTR(",XcvMonitor ")) + portcfg::kMonitorName;
    PRINTER_DEFAULTSW defaults{
        nullptr, nullptr,
        static_cast<ACCESS_MASK>(administer ? SERVER_ACCESS_ADMINISTER : SERVER_ACCESS_ENUMERATE)};
    if (!OpenPrinterW(name.data(), &handle_, &defaults)) {
        handle_ = nullptr;
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

DWORD XcvChannel::Request(const WCHAR* request, const void* input, DWORD inputSize, void* output,
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

DWORD XcvChannel::RequestWithName(const WCHAR* request, const std::string& name, void* output,
                                  DWORD outputSize, DWORD* needed) {
    WideString wide = Wide(name);
    return Request(request, wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR)),
                   output, outputSize, needed);
}

namespace {

WideString Text(const WCHAR* text) {
    return text != nullptr ? WideString(text) : WideString();
}

}  // namespace

DWORD ListSpoolerPorts(std::vector<SpoolerPort>* ports, DWORD level) {
    ports->clear();
    DWORD needed = 0;
    DWORD returned = 0;
    std::vector<BYTE> buffer;
    BOOL ok = EnumPortsW(nullptr, level, nullptr, 0, &needed, &returned);
    // The list may grow between the two calls: ask again with the new size.
    while (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.assign(needed, 0);
        ok = EnumPortsW(nullptr, level, buffer.data(), needed, &needed, &returned);
    }
    if (!ok) {
        return GetLastError();
    }
    for (DWORD i = 0; i < returned; ++i) {
        SpoolerPort port;
        if (level == 1) {
            PORT_INFO_1W info;
            memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
            port.name = Text(info.pName);
        } else {
            PORT_INFO_2W info;
            memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
            port = {Text(info.pPortName), Text(info.pMonitorName), Text(info.pDescription),
                    info.fPortType};
        }
        ports->push_back(port);
    }
    return ERROR_SUCCESS;
}

}  // namespace cli
