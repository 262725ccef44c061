// Fuzzes the monitor's Xcv requests as a port user interface could send them: any request
// name, input and output sizes, records with any content. The buffers are exactly as large as
// the sizes say, so every read or write outside them is found by the sanitizers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "monitor/entries.h"
#include "net/portentry.h"
#include "platform/linux/include/nvplatform.h"
#include "tools/spoolhost/spooler_host.h"

extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor);

namespace {

const char16_t* const kRequests[] = {
    u"MonitorUI",
    u"AddPort",
    u"DeletePort",
    u"PortExists",
    u"PortIsValid",
    u"ExistPort",
    u"GetDefaultCommonSettings",
    u"GetCurrentCommonSettings",
    u"SetCurrentCommonSettings",
    u"GetDefaultRawSocketSettings",
    u"GetCurrentRawSocketSettings",
    u"SetCurrentRawSocketSettings",
    u"GetDefaultLprSettings",
    u"GetCurrentLprSettings",
    u"SetCurrentLprSettings",
    u"ReadConfigInf",
    u"ConfigPort",
    u"monitorui",
    u"",
};
constexpr size_t kRequestCount = sizeof kRequests / sizeof kRequests[0];

struct Harness {
    nvspool::SpoolerHost host;
    HANDLE xcv = nullptr;
    const MONITOR2* table = nullptr;

    Harness() {
        char dir[] = "/tmp/nvfuzz-xcv-XXXXXX";
        if (mkdtemp(dir) != nullptr) {
            setenv("NORVA_REGISTRY", (std::string(dir) + "/registry.db").c_str(), 1);
        }
        setenv("TMPDIR", dir, 1);
        NvRegistryReset();
        if (host.LoadMonitorEntry(&InitializePrintMonitor2) != ERROR_SUCCESS) {
            abort();
        }
        table = host.Table();
        table->pfnXcvOpenPort(host.MonitorHandle(), u"fuzz", SERVER_ACCESS_ADMINISTER, &xcv);
        // A port of each transport for the requests that read and write one.
        for (DWORD protocol : {PROTOCOL_RAW, PROTOCOL_LPR}) {
            PortEntry record{};
            std::u16string name = protocol == PROTOCOL_RAW ? u"R" : u"L";
            memcpy(record.PortName, name.c_str(), (name.size() + 1) * 2);
            memcpy(record.IPAddress, u"127.0.0.1", 20);
            record.Protocol = protocol;
            DWORD needed = 0;
            table->pfnXcvDataPort(xcv, u"AddPort", reinterpret_cast<PBYTE>(&record), sizeof record,
                                  nullptr, 0, &needed);
            table->pfnXcvDataPort(xcv, u"ConfigPort", reinterpret_cast<PBYTE>(&record),
                                  sizeof record, nullptr, 0, &needed);
        }
    }
};

uint32_t Read32(const uint8_t* data) {
    uint32_t value;
    memcpy(&value, data, 4);
    return value;
}

}  // namespace

// Input: [request][input size 4][output size 4][flags][data...]
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness* harness = new Harness;
    if (size < 10) {
        return 0;
    }
    const char16_t* request = kRequests[data[0] % kRequestCount];
    size_t available = size - 10;
    size_t inputSize = Read32(data + 1) % (available + 1);
    size_t outputSize = Read32(data + 5) % 2048;
    uint8_t flags = data[9];
    // Deletions and additions would fill the store: most inputs read, a few change it.
    if ((request == kRequests[1] || request == kRequests[2] || request == kRequests[16]) &&
        (flags & 0x80) == 0) {
        request = kRequests[15];
    }
    std::vector<uint8_t> input(data + 10, data + 10 + inputSize);
    std::vector<uint8_t> output(outputSize);
    DWORD needed = 0;
    harness->table->pfnXcvDataPort(
        harness->xcv, request, (flags & 1) != 0 ? nullptr : input.data(),
        static_cast<DWORD>(inputSize), (flags & 2) != 0 ? nullptr : output.data(),
        static_cast<DWORD>(outputSize), (flags & 4) != 0 ? nullptr : &needed);
    return 0;
}
