// The spooler as the port verbs use it, through its API only: the monitor's Xcv channel
// (OpenPrinterW ",XcvMonitor NORVA TCP/IP Port", XcvDataW) and the ports it lists (EnumPortsW).
#pragma once

#include <string>
#include <vector>

#include "tools/cli/text.h"

namespace cli {

class XcvChannel {
  public:
    XcvChannel() = default;
    ~XcvChannel();
    XcvChannel(const XcvChannel&) = delete;
    XcvChannel& operator=(const XcvChannel&) = delete;

    // Opens the channel with SERVER_ACCESS_ADMINISTER (changes) or SERVER_ACCESS_ENUMERATE
    // (questions); 0 or the spooler's error.
    DWORD Open(bool administer);
    // The request's own result (a Win32 code), or the spooler's error when the request could
    // not be delivered.
    DWORD Request(const WCHAR* request, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, DWORD* needed = nullptr);
    // A request whose input is a name as terminated UTF-16 text.
    DWORD RequestWithName(const WCHAR* request, const std::string& name, void* output = nullptr,
                          DWORD outputSize = 0, DWORD* needed = nullptr);

  private:
    HANDLE handle_ = nullptr;
};

// One port as the spooler lists it; level 1 gives the name only.
struct SpoolerPort {
    WideString name;
    WideString monitor;
    WideString description;
    DWORD type = 0;  // PORT_TYPE_WRITE, PORT_TYPE_READ, ...
};

// Every port the spooler knows (EnumPortsW at level 2, or 1), in its order; 0 or the error.
DWORD ListSpoolerPorts(std::vector<SpoolerPort>* ports, DWORD level = 2);

}  // namespace cli
