// The installer's exports as a driver installer calls them: nvinstall.dll loaded, QornSearchAll
// or QornSearchByIP called on this thread, and a user on a second thread who finds the property
// sheet by its caption and works it with window messages. Runs under Wine against the printer
// simulator's SNMP agent on loopback (0.0.0.0:161, which also answers the loopback broadcast).
//
//   wizard_test.exe FLOW...     byip exists all unregistered (a printer answers), noprinter
//                               cancel (no printer answers)
//
// Each flow checks the result, the port name and the registry; the exit code is 0 when every
// check passed.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "net/portentry.h"

#include "tests/win32/sheet_driver.h"

using namespace sheetdriver;

namespace {

using SearchExport = int(WINAPI*)(char*);

const wchar_t kMonitorKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port";
const char kPortName[] = "NORVA_127.0.0.1";

SearchExport gSearchAll = nullptr;
SearchExport gSearchByIp = nullptr;
std::atomic<ULONGLONG> gCalledAt{0};

struct Call {
    int result;
    std::string name;
    DWORD lastError;
};

// A user who could not go on: answers what is open with No (or OK) and closes the sheet, so
// that the export returns and the failure is reported instead of a hang.
void Abandon() {
    for (int i = 0; i < 50; ++i) {
        HWND sheet = FindWindowW(L"#32770", wiztext::kPageCaption);
        HWND box = FindWindowW(L"#32770", wiztext::kErrorTitle);
        if (box == nullptr) {
            box = FindWindowW(L"#32770", wiztext::kErrorTitleWithStop);
        }
        if (box != nullptr) {
            Click(box, GetDlgItem(box, IDNO) != nullptr ? IDNO : IDOK);
        } else if (sheet != nullptr) {
            PostMessageW(sheet, WM_CLOSE, 0, 0);
        } else {
            return;
        }
        Sleep(100);
    }
}

// Runs an export on this thread while `user` works its wizard on another.
template <class User>
Call RunExport(SearchExport search, User user) {
    std::thread userThread([&user] {
        if (!user()) {
            Abandon();
        }
    });
    char name[128];
    std::memset(name, 0xCC, sizeof name);
    SetLastError(0xdeadbeef);
    gCalledAt = GetTickCount64();
    int result = search(name);
    DWORD lastError = GetLastError();
    userThread.join();
    name[127] = 0;
    return {result, name, lastError};
}

// --- The registry and the spooler ---

std::wstring PortsPath() {
    return std::wstring(kMonitorKey) + L"\\Ports";
}

void CreatePortsKey() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, PortsPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    RegCloseKey(key);
}

void CreatePort(const std::wstring& address) {
    HKEY key = nullptr;
    std::wstring path = PortsPath() + L"\\NORVA_" + address;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegCloseKey(key);
}

// The ten values the installer writes, exactly.
bool PortValuesAreTheInstallers(const std::wstring& address = L"127.0.0.1") {
    HKEY key = nullptr;
    std::wstring path = PortsPath() + L"\\NORVA_" + address;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    auto text = [key](const wchar_t* name) {
        wchar_t value[64] = {};
        DWORD size = sizeof value;
        DWORD type = 0;
        LONG status =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        return status == ERROR_SUCCESS && type == REG_SZ ? std::wstring(value) : L"(none)";
    };
    auto number = [key](const wchar_t* name) {
        DWORD value = 0xdeadbeef;
        DWORD size = sizeof value;
        DWORD type = 0;
        LONG status =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        return status == ERROR_SUCCESS && type == REG_DWORD ? value : 0xdeadbeef;
    };
    bool ok = number(portcfg::kProtocol) == PROTOCOL_RAW && text(portcfg::kIPAddress) == address &&
              text(portcfg::kHostName).empty() && text(portcfg::kHWAddress).empty() &&
              number(portcfg::kPortNumber) == 9100 && number(portcfg::kSnmpVersion) == 1 &&
              number(portcfg::kSnmpTimeOut) == 15000 && number(portcfg::kSnmpEnabled) == 1 &&
              text(portcfg::kSnmpCommunity) == L"commro" && number(portcfg::kSnmpIndex) == 1;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return ok && values == 10;
}

// The spooler service's process, 0 when it is not running.
DWORD SpoolerProcess() {
    DWORD pid = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager != nullptr ? OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (service != nullptr &&
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed) &&
        status.dwCurrentState == SERVICE_RUNNING) {
        pid = status.dwProcessId;
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    return pid;
}

void StartSpooler() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager != nullptr ? OpenServiceW(manager, L"Spooler", SERVICE_START) : nullptr;
    if (service != nullptr) {
        StartServiceW(service, 0, nullptr);
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    for (int i = 0; i < 100 && SpoolerProcess() == 0; ++i) {
        Sleep(50);
    }
}

// The file of the library whose code runs a window: its window procedure's module.
std::wstring CodeFile(HWND window) {
    MEMORY_BASIC_INFORMATION memory = {};
    VirtualQuery(reinterpret_cast<void*>(GetWindowLongPtrW(window, GWLP_WNDPROC)), &memory,
                 sizeof memory);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(static_cast<HMODULE>(memory.AllocationBase), path, MAX_PATH);
    return path;
}

// --- The flows ---

// Characters typed into the IPv4 address control, each to the field that has the focus then:
// 10.1.1.254; the focus back to the first field, its text selected, as Shift+Tab leaves it;
// 192.168.1.20 over it, where the dot after each third digit lands in a wholly selected field.
// The control's address after that, which it then clears.
DWORD RetypedAddress(HWND sheet, HWND page) {
    HWND control = GetDlgItem(page, IDC_IP_ADDRESS);
    const DWORD caller = GetWindowThreadProcessId(sheet, nullptr);
    auto type = [caller](const wchar_t* text) {
        for (const wchar_t* c = text; *c != 0; ++c) {
            GUITHREADINFO focus = {sizeof focus};
            GetGUIThreadInfo(caller, &focus);
            SendMessageW(focus.hwndFocus, WM_CHAR, *c, 1);
        }
    };
    SendMessageW(control, IPM_SETFOCUS, 0, 0);
    type(L"10.1.1.254");
    SendMessageW(control, IPM_SETFOCUS, 0, 0);
    type(L"192.168.1.20");
    DWORD address = 0;
    SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    SendMessageW(control, IPM_CLEARADDRESS, 0, 0);
    return address;
}

// The address page: IPv4 mode, the radio buttons, an address typed over the old one, a blank
// address refused, 127.0.0.1 found and its settings shown; Next on them finishes.
bool TypeTheAddressAndFinish(bool lookAround) {
    HWND sheet = WaitForSheet();
    Check(sheet != nullptr, "the address wizard appears");
    if (sheet == nullptr || !WaitForPage(sheet, IDC_IP_ADDRESS)) {
        return false;
    }
    HWND page = Page(sheet);
    if (lookAround) {
        Check(Text(sheet) == wiztext::kPageCaption, "its title is the pages' caption");
        Check(!Enabled(sheet, IDCANCEL) && !Enabled(sheet, kBackButton) &&
                  Enabled(sheet, kNextButton),
              "Next only, Cancel disabled");
        Check(
            IsDlgButtonChecked(page, IDC_IP_RADIO) == BST_CHECKED && !Enabled(page, IDC_HW_ADDRESS),
            "it opens in IPv4 mode");
        // The mode switch ends by disabling the other mode's control.
        Click(page, IDC_HW_RADIO);
        for (int i = 0; i < 100 && Enabled(page, IDC_IP_ADDRESS); ++i) {
            Sleep(kPollMs);
        }
        Check(Enabled(page, IDC_HW_ADDRESS) && !Enabled(page, IDC_IP_ADDRESS) &&
                  IsDlgButtonChecked(page, IDC_IP_RADIO) == BST_UNCHECKED &&
                  ItemText(page, IDC_HELP_TEXT) == wiztext::kHardwareHelp,
              "its radio button switches to hardware mode");
        Click(page, IDC_IP_RADIO);
        for (int i = 0; i < 100 && Enabled(page, IDC_HW_ADDRESS); ++i) {
            Sleep(kPollMs);
        }
        Check(RetypedAddress(sheet, page) == static_cast<DWORD>(MAKEIPADDRESS(192, 168, 1, 20)),
              "an address typed over the old one is the address typed");
        Press(sheet, PSBTN_NEXT);
        if (!Answer(wiztext::kErrorTitle, wiztext::kFieldErrors[0], false, IDOK,
                    "a blank address is refused at its first field")) {
            return false;
        }
        // A middle field takes a typed 0 but not a blank: 192.0.0.20 is searched for (nothing
        // is reachable there in this network namespace), 192.<blank>.0.20 is refused.
        const wchar_t* const secondBlank[4] = {L"192", L"", L"0", L"20"};
        const wchar_t* const thirdBlank[4] = {L"192", L"0", L"", L"20"};
        const wchar_t* const zeros[4] = {L"192", L"0", L"0", L"20"};
        SetFields(page, secondBlank);
        Press(sheet, PSBTN_NEXT);
        Answer(wiztext::kErrorTitle, wiztext::kFieldErrors[1], false, IDOK,
               "a blank second field is refused at that field");
        SetFields(page, thirdBlank);
        Press(sheet, PSBTN_NEXT);
        Answer(wiztext::kErrorTitle, wiztext::kFieldErrors[2], false, IDOK,
               "a blank third field is refused at that field");
        SetFields(page, zeros);
        Press(sheet, PSBTN_NEXT);
        if (!Answer(wiztext::kErrorTitle, wiztext::kNotFoundQuestion, true, IDYES,
                    "typed zeros are searched for: not found, Yes stays")) {
            return false;
        }
        if (!WaitForPage(sheet, IDC_IP_ADDRESS)) {
            return false;
        }
    }
    SetAddress(page, 127, 0, 0, 1);
    Press(sheet, PSBTN_NEXT);
    if (!WaitForPage(sheet, IDC_SETTING_IP)) {
        Check(false, "the settings page follows");
        return false;
    }
    Check(ItemText(Page(sheet), IDC_SETTING_IP) == L"127.0.0.1" && Enabled(sheet, kBackButton),
          "the settings page shows the printer found");
    Press(sheet, PSBTN_NEXT);
    Check(WaitGone(sheet), "Next on the settings page finishes");
    return true;
}

void ByAddress() {
    std::printf("== QornSearchByIP: 127.0.0.1\n");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (PortsPath() + L"\\NORVA_127.0.0.1").c_str());
    DWORD spoolerBefore = SpoolerProcess();
    Call call = RunExport(gSearchByIp, [] { return TypeTheAddressAndFinish(true); });
    Check(call.result == 0 && call.name == kPortName, "it returns 0 and NORVA_127.0.0.1");
    Check(PortValuesAreTheInstallers(), "the port's ten values are in the registry");
    DWORD spoolerAfter = SpoolerProcess();
    Check(spoolerAfter != 0 && spoolerAfter != spoolerBefore,
          "the spooler service was restarted and runs");
}

// The port exists now: No to the question ends the wizard with no name.
void ExistingPort() {
    std::printf("== QornSearchByIP: the port exists, No\n");
    Call call = RunExport(gSearchByIp, [] {
        HWND sheet = WaitForSheet();
        if (sheet == nullptr || !WaitForPage(sheet, IDC_IP_ADDRESS)) {
            return false;
        }
        SetAddress(Page(sheet), 127, 0, 0, 1);
        Press(sheet, PSBTN_NEXT);
        Answer(wiztext::kErrorTitleWithStop, wiztext::kPortExistsQuestion, true, IDNO,
               "the port-exists question");
        return WaitGone(sheet);
    });
    Check(call.result == 0 && call.name.empty() && call.lastError == ERROR_CANCELLED,
          "No: 0, no name, the last error ERROR_CANCELLED");
}

// The list page: the printer listed, a name edited in place reverts; its port exists, and Yes to
// the question goes on; Back keeps the list and its selection, and the second Next finishes.
// The printer's address is the one its answer came from: on loopback that may be the address
// the broadcast went to.
void SearchAll() {
    std::printf("== QornSearchAll: one printer, its port exists, Yes\n");
    std::wstring address;
    Call call = RunExport(gSearchAll, [&address] {
        HWND sheet = WaitForSheet();
        if (sheet == nullptr || !WaitForPage(sheet, IDC_PRINTER_LIST)) {
            Check(false, "the list wizard appears and searches");
            return false;
        }
        HWND page = Page(sheet);
        address = Cell(page, 0, wiztext::kColumnIp);
        Check(RowCount(page) == 1 && address.rfind(L"127.", 0) == 0 &&
                  Cell(page, 0, wiztext::kColumnName) == L"Wine Printer",
              "the printer is listed");
        HWND list = GetDlgItem(page, IDC_PRINTER_LIST);
        Check(CodeFile(list).find(L"common-controls_6595b64144ccf1df_6.") != std::wstring::npos,
              "the list view is of the common controls 6 (the library's manifest)");
        HWND edit = reinterpret_cast<HWND>(SendMessageW(list, LVM_EDITLABELW, 0, 0));
        if (edit != nullptr) {
            SetWindowTextW(edit, L"Renamed");
            SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
        }
        Check(edit != nullptr && Cell(page, 0, wiztext::kColumnName) == L"Wine Printer",
              "a name edited in place reverts");
        CreatePort(address);
        SelectRow(page, 0);
        Press(sheet, PSBTN_NEXT);
        Answer(wiztext::kErrorTitleWithStop, wiztext::kPortExistsQuestion, true, IDYES,
               "the port-exists question");
        if (!WaitForPage(sheet, IDC_SETTING_IP)) {
            return false;
        }
        Check(ItemText(Page(sheet), IDC_SETTING_IP) == address, "the settings page shows it");
        Press(sheet, PSBTN_BACK);
        if (!WaitForPage(sheet, IDC_PRINTER_LIST)) {
            return false;
        }
        Check(ListView_GetNextItem(list, -1, LVNI_SELECTED) == 0,
              "Back keeps the list and its selection");
        Press(sheet, PSBTN_NEXT);
        Answer(wiztext::kErrorTitleWithStop, wiztext::kPortExistsQuestion, true, IDYES,
               "the port-exists question again");
        if (!WaitForPage(sheet, IDC_SETTING_IP)) {
            return false;
        }
        Press(sheet, PSBTN_NEXT);
        return WaitGone(sheet);
    });
    std::string name = "NORVA_";
    for (wchar_t c : address) {
        name.push_back(static_cast<char>(c));
    }
    Check(call.result == 0 && call.name == name, "it returns 0 and NORVA_<its address>");
    Check(PortValuesAreTheInstallers(address), "the port's values are written over the old");
}

// Without the Ports key the port cannot be written: 183 with the name, and no restart.
void Unregistered() {
    std::printf("== QornSearchByIP: no Ports key\n");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, PortsPath().c_str());
    DWORD spoolerBefore = SpoolerProcess();
    Call call = RunExport(gSearchByIp, [] { return TypeTheAddressAndFinish(false); });
    Check(call.result == 183 && call.name == kPortName && call.lastError == 183,
          "it returns 183 with the name, last error 183");
    Check(SpoolerProcess() == spoolerBefore, "the spooler was not restarted");
    CreatePortsKey();
}

// Nobody answers: the sheet is on screen and painted while the first search (three passes of
// the broadcast) still runs, and answers messages; keys typed meanwhile are not acted on
// afterwards. Next asks the no-printer question, which Escape does not close; Yes searches
// again, No ends the wizard.
void NoPrinter() {
    std::printf("== QornSearchAll: no printer answers\n");
    const DWORD caller = GetCurrentThreadId();
    Call call = RunExport(gSearchAll, [caller] {
        HWND sheet = nullptr;
        ULONGLONG painted = 0;
        for (DWORD waited = 0; waited < kWaitMs && painted == 0; waited += 2) {
            sheet = FindWindowW(L"#32770", wiztext::kPageCaption);
            HWND page = sheet != nullptr ? Page(sheet) : nullptr;
            if (page != nullptr && IsWindowVisible(sheet) &&
                !GetUpdateRect(sheet, nullptr, FALSE) && !GetUpdateRect(page, nullptr, FALSE)) {
                painted = GetTickCount64();
            }
            Sleep(2);
        }
        if (painted == 0) {
            Check(false, "the sheet is shown");
            return false;
        }
        std::printf("the sheet was painted %llu ms after the call\n",
                    static_cast<unsigned long long>(painted - gCalledAt.load()));
        HWND page = Page(sheet);
        for (int i = 0; i < 500 && Enabled(page, IDC_REFRESH); ++i) {
            Sleep(kPollMs);  // until the search begins, just after the first paint
        }
        Check(IsWindowVisible(sheet) && !Enabled(sheet, kNextButton) && !Enabled(page, IDC_REFRESH),
              "it is on screen while the first search runs, Next and Refresh disabled");
        DWORD_PTR ignored = 0;
        Check(SendMessageTimeoutW(sheet, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored) != 0,
              "it answers messages during the search");
        GUITHREADINFO focus = {sizeof focus};
        GetGUIThreadInfo(caller, &focus);
        HWND target = focus.hwndFocus != nullptr ? focus.hwndFocus : sheet;
        for (WPARAM key : {VK_RETURN, VK_RETURN, VK_TAB}) {
            PostMessageW(target, WM_KEYDOWN, key, 1);
            PostMessageW(target, WM_KEYUP, key, 0xC0000001);
        }
        if (!WaitForPage(sheet, IDC_PRINTER_LIST)) {
            return false;
        }
        Sleep(300);
        Check(IsWindow(sheet) && FindWindowW(L"#32770", wiztext::kErrorTitleWithStop) == nullptr,
              "keys typed during the search are not acted on after it");
        Check(RowCount(page) == 0, "the list is empty");
        Press(sheet, PSBTN_NEXT);
        HWND box = WaitForBox(wiztext::kErrorTitleWithStop);
        if (box == nullptr) {
            Check(false, "Next asks the no-printer question");
            return false;
        }
        PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageW(box, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        Sleep(300);
        PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        Sleep(300);
        Check(IsWindowVisible(box), "Escape and the close command leave the question open");
        Answer(wiztext::kErrorTitleWithStop, wiztext::kNoPrinterQuestion, true, IDYES,
               "the no-printer question: Yes");
        Sleep(100);
        if (!WaitForPage(sheet, IDC_PRINTER_LIST)) {
            return false;
        }
        Press(sheet, PSBTN_NEXT);
        Answer(wiztext::kErrorTitleWithStop, wiztext::kNoPrinterQuestion, true, IDNO,
               "the no-printer question again: No");
        return WaitGone(sheet);
    });
    Check(call.result == 0 && call.name.empty() && call.lastError == ERROR_CANCELLED,
          "No: 0, no name, the last error ERROR_CANCELLED");
}

// Until a search runs on the sheet: Next is off once its page has handed the search over.
bool WaitForSearch(HWND sheet) {
    for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
        HWND page = Page(sheet);
        if (page != nullptr && !Enabled(sheet, kNextButton) &&
            (GetDlgItem(page, IDC_REFRESH) == nullptr || !Enabled(page, IDC_REFRESH))) {
            return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

// Leaving the wizard while a search runs ends it as cancelled at once, with nothing asked:
// Escape while an address that never answers is searched for (four attempts of 6 s), the close
// box and a close request (WM_CLOSE) during the broadcast of the search-all wizard (6 s).
template <class Leave>
void LeaveDuringSearch(const char* what, SearchExport search, DWORD waitMs, Leave leave) {
    std::printf("== %s\n", what);
    const DWORD caller = GetCurrentThreadId();
    const bool byAddress = search == gSearchByIp;
    Call call = RunExport(search, [&] {
        HWND sheet = WaitForSheet();
        if (sheet == nullptr) {
            return false;
        }
        if (byAddress) {
            if (!WaitForPage(sheet, IDC_IP_ADDRESS)) {
                return false;
            }
            SetAddress(Page(sheet), 127, 0, 0, 9);
            Press(sheet, PSBTN_NEXT);
        }
        if (!WaitForSearch(sheet)) {
            Check(false, "  the search runs");
            return false;
        }
        leave(sheet, caller);
        const bool gone = WaitGone(sheet, waitMs);
        Check(gone, "  the wizard ends at once");
        return gone;
    });
    Check(call.result == 0 && call.name.empty() && call.lastError == ERROR_CANCELLED,
          "  0, no name, the last error ERROR_CANCELLED");
}

void CancelDuringSearch() {
    LeaveDuringSearch("QornSearchByIP: Escape while 127.0.0.9 is searched for", gSearchByIp, 5000,
                      [](HWND sheet, DWORD caller) {
                          GUITHREADINFO focus = {sizeof focus};
                          GetGUIThreadInfo(caller, &focus);
                          HWND target = focus.hwndFocus != nullptr ? focus.hwndFocus : sheet;
                          PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 1);
                          PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0000001);
                      });
    LeaveDuringSearch("QornSearchAll: the close box during the broadcast", gSearchAll, 3000,
                      [](HWND sheet, DWORD) { PostMessageW(sheet, WM_NCLBUTTONDOWN, HTCLOSE, 0); });
    LeaveDuringSearch("QornSearchAll: a close request during the broadcast", gSearchAll, 3000,
                      [](HWND sheet, DWORD) { PostMessageW(sheet, WM_CLOSE, 0, 0); });
}

// The dialog templates are the library's resources in Chinese (PRC).
void Resources(HMODULE library) {
    bool all = true;
    for (int id : {IDD_LIST_PAGE, IDD_SETTINGS_PAGE, IDD_ADDRESS_PAGE, IDD_ADDRESS_SETTINGS_PAGE}) {
        all =
            all && FindResourceExW(library, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id),
                                   MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)) != nullptr;
    }
    Check(all, "dialog templates 6001, 6002, 6004, 6005 in language 2052");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HMODULE library = LoadLibraryW(L"nvinstall.dll");
    if (library == nullptr) {
        std::printf("FAILED: LoadLibraryW(nvinstall.dll): %lu\n", GetLastError());
        return 1;
    }
    // Through void*: FARPROC is a function type of its own.
    gSearchAll = reinterpret_cast<SearchExport>(
        reinterpret_cast<void*>(GetProcAddress(library, "QornSearchAll")));
    gSearchByIp = reinterpret_cast<SearchExport>(
        reinterpret_cast<void*>(GetProcAddress(library, "QornSearchByIP")));
    if (gSearchAll == nullptr || gSearchByIp == nullptr) {
        std::printf("FAILED: nvinstall.dll lacks its exports\n");
        return 1;
    }
    Resources(library);
    CreatePortsKey();
    if (SpoolerProcess() == 0) {
        StartSpooler();
    }
    for (int i = 1; i < argc; ++i) {
        std::wstring flow = argv[i];
        if (flow == L"byip") {
            ByAddress();
        } else if (flow == L"exists") {
            ExistingPort();
        } else if (flow == L"all") {
            SearchAll();
        } else if (flow == L"unregistered") {
            Unregistered();
        } else if (flow == L"noprinter") {
            NoPrinter();
        } else if (flow == L"cancel") {
            CancelDuringSearch();
        } else {
            std::printf("FAILED: unknown flow %ls\n", flow.c_str());
            return 1;
        }
    }
    return gFailures == 0 ? 0 : 1;
}
