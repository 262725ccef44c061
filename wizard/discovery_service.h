// The discovery and port-name check that the wizards call, behind one interface so that the
// page logic can be exercised without a network.
#pragma once

#include <memory>
#include <string>

#include "discover/printerlist.h"

namespace wizard {

class DiscoveryService {
  public:
    virtual ~DiscoveryService() = default;
    virtual void StartDiscovery() = 0;
    virtual void StopDiscovery() = 0;
    virtual PrinterRecord* BroadcastSearch(HWND window, int transport) = 0;
    virtual PrinterRecord* FindPrinter(HWND window, const char* address, int mode) = 0;
    // From another thread than the search's: the search ends soon, without printers. The
    // cancel holds until StopDiscovery.
    virtual void CancelSearch() = 0;
    // Whether the monitor's "Ports" key has a subkey of exactly that name (a fresh
    // PortRegistry for each question).
    virtual bool PortExists(const WCHAR* portName) = 0;
};

// The installer's discovery and registry; tests may put another in its place.
DiscoveryService& Discovery();
void SetDiscovery(DiscoveryService* service);

// "%d.%d.%d.%d" of an address in host byte order, most significant octet first.
std::basic_string<WCHAR> DottedText(DWORD address);

}  // namespace wizard
