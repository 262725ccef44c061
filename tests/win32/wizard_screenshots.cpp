// wizard_screenshots.exe DIR: walks through both wizards of nvinstall.dll as a user would, with
// the printer simulator answering on loopback, and saves every page (and two message boxes) as
// PNG files into DIR, as the screen shows them. scripts/screenshots.sh runs it under Wine.
#include <algorithm>
#include <string>
#include <thread>

#include "tests/win32/sheet_driver.h"

// GDI+ needs min and max, which the platform header leaves out.
using std::max;
using std::min;
#include <objidl.h>  // WIN32_LEAN_AND_MEAN leaves out what GDI+ builds on
#include <propidl.h>
#include <gdiplus.h>

using namespace sheetdriver;

namespace {

using SearchExport = int(WINAPI*)(char*);

constexpr DWORD kSettleMs = 400;  // for a window to be painted before it is taken
std::wstring gDir;

// The window as the screen shows it, frame and title included.
void Save(HWND window, const wchar_t* name) {
    SetForegroundWindow(window);
    Sleep(kSettleMs);
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    // The PNG encoder of GDI+.
    const CLSID png = {
        0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    std::wstring path = gDir + L"\\" + name;
    Gdiplus::Bitmap image(bitmap, nullptr);
    Check(image.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok, "saved");
    std::printf("%ls\n", path.c_str());
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

template <class User>
void Run(SearchExport search, User user) {
    std::thread userThread([&user] {
        if (!user()) {
            Check(false, "the walk through the wizard");
        }
        if (HWND sheet = FindWindowW(L"#32770", wiztext::kPageCaption)) {
            PostMessageW(sheet, WM_CLOSE, 0, 0);
        }
    });
    char name[128];
    search(name);
    userThread.join();
}

bool ListWizard() {
    HWND sheet = WaitForSheet();
    if (sheet == nullptr || !WaitForPage(sheet, IDC_PRINTER_LIST)) {
        return false;
    }
    SelectRow(Page(sheet), 0);
    Save(sheet, L"win32-list-page.png");
    Press(sheet, PSBTN_NEXT);
    if (!WaitForPage(sheet, IDC_SETTING_IP)) {
        return false;
    }
    Save(sheet, L"win32-list-settings.png");
    return true;
}

bool AddressWizard() {
    HWND sheet = WaitForSheet();
    if (sheet == nullptr || !WaitForPage(sheet, IDC_IP_ADDRESS)) {
        return false;
    }
    HWND page = Page(sheet);
    SetAddress(page, 127, 0, 0, 1);
    Save(sheet, L"win32-address-ip.png");
    Click(page, IDC_HW_RADIO);
    for (int i = 0; i < 100 && Enabled(page, IDC_IP_ADDRESS); ++i) {
        Sleep(kPollMs);
    }
    SetDlgItemTextW(page, IDC_HW_ADDRESS, L"0060b08fbb4a");
    Save(sheet, L"win32-address-hardware.png");
    Press(sheet, PSBTN_NEXT);
    HWND box = WaitForBox(wiztext::kErrorTitle);
    if (box == nullptr) {
        return false;
    }
    Save(box, L"win32-address-not-found.png");
    Click(box, IDYES);
    WaitGone(box);
    Click(page, IDC_IP_RADIO);
    for (int i = 0; i < 100 && Enabled(page, IDC_HW_ADDRESS); ++i) {
        Sleep(kPollMs);
    }
    SetAddress(page, 224, 1, 1, 1);
    Press(sheet, PSBTN_NEXT);
    box = WaitForBox(wiztext::kErrorTitle);
    if (box == nullptr) {
        return false;
    }
    Save(box, L"win32-address-error.png");
    Click(box, IDOK);
    WaitGone(box);
    SetAddress(page, 127, 0, 0, 1);
    Press(sheet, PSBTN_NEXT);
    if (!WaitForPage(sheet, IDC_SETTING_IP)) {
        return false;
    }
    Save(sheet, L"win32-address-settings.png");
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("Usage: wizard_screenshots.exe DIR\n");
        return 2;
    }
    gDir = argv[1];
    HMODULE library = LoadLibraryW(L"nvinstall.dll");
    if (library == nullptr) {
        std::printf("FAILED: LoadLibraryW(nvinstall.dll): %lu\n", GetLastError());
        return 1;
    }
    // Through void*: FARPROC is a function type of its own.
    auto searchAll = reinterpret_cast<SearchExport>(
        reinterpret_cast<void*>(GetProcAddress(library, "QornSearchAll")));
    auto searchByIp = reinterpret_cast<SearchExport>(
        reinterpret_cast<void*>(GetProcAddress(library, "QornSearchByIP")));
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    Run(searchAll, ListWizard);
    Run(searchByIp, AddressWizard);
    Gdiplus::GdiplusShutdown(token);
    return gFailures == 0 ? 0 : 1;
}
