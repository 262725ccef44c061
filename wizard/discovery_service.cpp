#include "wizard/discovery_service.h"

#include <cstdio>

#include "discover/discovery.h"
#include "discover/portregistry.h"

namespace wizard {

namespace {

class InstallerDiscovery : public DiscoveryService {
  public:
    void StartDiscovery() override { ::StartDiscovery(); }
    void StopDiscovery() override { ::StopDiscovery(); }
    PrinterRecord* BroadcastSearch(HWND window, int transport) override {
        return ::BroadcastSearch(window, transport);
    }
    PrinterRecord* FindPrinter(HWND window, const char* address, int mode) override {
        return ::FindPrinter(window, address, mode);
    }
    void CancelSearch() override { ::CancelSearch(); }
    bool PortExists(const WCHAR* portName) override {
        PortRegistry registry;
        return registry.PortExists(portName) != 0;
    }
};

DiscoveryService* gService = nullptr;

}  // namespace

DiscoveryService& Discovery() {
    static InstallerDiscovery installer;
    return gService != nullptr ? *gService : installer;
}

void SetDiscovery(DiscoveryService* service) {
    gService = service;
}

std::basic_string<WCHAR> DottedText(DWORD address) {
    char text[16];
    snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>((address >> 24) & 0xff),
             static_cast<int>((address >> 16) & 0xff), static_cast<int>((address >> 8) & 0xff),
             static_cast<int>(address & 0xff));
    std::basic_string<WCHAR> wide;
    for (const char* p = text; *p != 0; ++p) {
        wide.push_back(static_cast<WCHAR>(*p));
    }
    return wide;
}

}  // namespace wizard
