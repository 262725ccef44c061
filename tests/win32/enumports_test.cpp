// Calls the spooler's EnumPortsW at levels 1 and 2 and checks that the given ports are listed
// by the monitor "NORVA TCP/IP Port". Exit code 0 when every check passed.
//
//   enumports_test PORT [PORT...]
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cwchar>
#include <vector>

static const wchar_t kMonitor[] = L"NORVA TCP/IP Port";

static bool Enumerate(DWORD level, std::vector<BYTE>* buffer, DWORD* count) {
    DWORD needed = 0;
    *count = 0;
    if (EnumPortsW(nullptr, level, nullptr, 0, &needed, count)) {
        return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        printf("EnumPortsW level %lu size query failed: %lu\n", level, GetLastError());
        return false;
    }
    buffer->assign(needed, 0);
    if (!EnumPortsW(nullptr, level, buffer->data(), needed, &needed, count)) {
        printf("EnumPortsW level %lu failed: %lu\n", level, GetLastError());
        return false;
    }
    return true;
}

int wmain(int argc, wchar_t** argv) {
    int failures = 0;
    std::vector<BYTE> one;
    std::vector<BYTE> two;
    DWORD count1 = 0;
    DWORD count2 = 0;
    if (!Enumerate(1, &one, &count1) || !Enumerate(2, &two, &count2)) {
        return 1;
    }
    auto* info1 = reinterpret_cast<PORT_INFO_1W*>(one.data());
    auto* info2 = reinterpret_cast<PORT_INFO_2W*>(two.data());
    for (int i = 1; i < argc; ++i) {
        bool atLevel1 = false;
        for (DWORD k = 0; k < count1; ++k) {
            atLevel1 = atLevel1 || wcscmp(info1[k].pName, argv[i]) == 0;
        }
        bool atLevel2 = false;
        for (DWORD k = 0; k < count2; ++k) {
            if (wcscmp(info2[k].pPortName, argv[i]) == 0 && info2[k].pMonitorName != nullptr &&
                wcscmp(info2[k].pMonitorName, kMonitor) == 0 && info2[k].pDescription != nullptr &&
                wcscmp(info2[k].pDescription, kMonitor) == 0) {
                atLevel2 = true;
            }
        }
        printf("%ls: level 1 %s, level 2 %s\n", argv[i], atLevel1 ? "listed" : "MISSING",
               atLevel2 ? "listed with monitor and description" : "MISSING");
        failures += (atLevel1 ? 0 : 1) + (atLevel2 ? 0 : 1);
    }
    return failures == 0 ? 0 : 1;
}
