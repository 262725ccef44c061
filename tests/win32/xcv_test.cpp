// Drives the monitor's Xcv requests through the real spooler API, as a port user interface
// does: OpenPrinterW(",XcvMonitor NORVA TCP/IP Port") with SERVER_ACCESS_ADMINISTER, then
// XcvDataW. Exit code 0 when every step answered as expected.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "net/portentry.h"

static int gFailures = 0;

static void Check(bool ok, const char* what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) {
        ++gFailures;
    }
}

static DWORD Request(HANDLE xcv, const wchar_t* name, const void* input, DWORD inputSize,
                     void* output, DWORD outputSize, DWORD* needed) {
    DWORD status = 0xdeadbeef;
    DWORD ignored = 0;
    if (!XcvDataW(xcv, name, static_cast<PBYTE>(const_cast<void*>(input)), inputSize,
                  static_cast<PBYTE>(output), outputSize, needed != nullptr ? needed : &ignored,
                  &status)) {
        printf("XcvDataW(%ls) failed: %lu\n", name, GetLastError());
        return GetLastError();
    }
    return status;
}

static DWORD PortExists(HANDLE xcv, const wchar_t* name) {
    DWORD answer = 0xcccccccc;
    DWORD needed = 0;
    DWORD status = Request(xcv, L"PortExists", name, static_cast<DWORD>((wcslen(name) + 1) * 2),
                           &answer, sizeof answer, &needed);
    return status == 0 ? answer : 0xffffffff;
}

int wmain() {
    const wchar_t kPort[] = L"NORVA_10.9.8.7";
    wchar_t printer[] = L",XcvMonitor NORVA TCP/IP Port";
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(printer, &xcv, &defaults)) {
        printf("FAILED: OpenPrinterW(%ls): %lu\n", printer, GetLastError());
        return 1;
    }

    wchar_t ui[32] = {};
    DWORD needed = 0;
    Check(Request(xcv, L"MonitorUI", nullptr, 0, ui, 25, &needed) == ERROR_INSUFFICIENT_BUFFER &&
              needed == 26,
          "MonitorUI with 25 bytes asks for 26");
    Check(Request(xcv, L"MonitorUI", nullptr, 0, ui, 26, &needed) == 0 &&
              wcscmp(ui, L"nvtcpmui.dll") == 0,
          "MonitorUI names nvtcpmui.dll");

    PortEntry record = {};
    wcscpy(record.PortName, kPort);
    wcscpy(record.IPAddress, L"10.9.8.7");
    record.Protocol = PROTOCOL_RAW;
    Check(Request(xcv, L"AddPort", &record, sizeof record, nullptr, 0, nullptr) == 0,
          "AddPort NORVA_10.9.8.7");
    Check(PortExists(xcv, kPort) == 1, "PortExists answers 1 for the new port");
    DWORD exists = 0xcccccccc;
    Check(
        Request(xcv, L"ExistPort", &record, sizeof record, &exists, sizeof exists, &needed) == 0 &&
            exists == 1,
        "ExistPort answers 1 for a record of the new port");
    Check(PortExists(xcv, L"NORVA_NOT_THERE") == 0, "PortExists answers 0 for another name");

    PortEntry read = {};
    Check(Request(xcv, L"ReadConfigInf", kPort, sizeof kPort, &read, sizeof read, &needed) == 0 &&
              read.Protocol == PROTOCOL_RAW && read.PortNumber == 9100 &&
              wcscmp(read.IPAddress, L"10.9.8.7") == 0 && read.SnmpTimeOut == 15000,
          "ReadConfigInf reports a raw port with the defaults");

    read.Protocol = PROTOCOL_LPR;
    read.PortNumber = 515;
    wcscpy(read.QueueName, L"lpq");
    Check(Request(xcv, L"ConfigPort", &read, sizeof read, nullptr, 0, nullptr) == 0,
          "ConfigPort makes it an LPR port");
    PortEntry again = {};
    Check(Request(xcv, L"ReadConfigInf", kPort, sizeof kPort, &again, sizeof again, &needed) == 0 &&
              again.Protocol == PROTOCOL_LPR && wcscmp(again.QueueName, L"lpq") == 0,
          "ReadConfigInf reports the LPR settings");

    Check(Request(xcv, L"DeletePort", kPort, sizeof kPort, nullptr, 0, nullptr) == 0, "DeletePort");
    Check(PortExists(xcv, kPort) == 0, "PortExists answers 0 after DeletePort");
    ClosePrinter(xcv);
    return gFailures == 0 ? 0 : 1;
}
