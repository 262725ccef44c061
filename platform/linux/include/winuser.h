// The user interface calls of the monitor's print-to-file dialog. A spooler host on Linux has
// no desktop: no window ever exists, so a dialog ends at once as if the user had cancelled it.
#pragma once

#include "platform/linux/include/wintypes.h"

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagHELPINFO {
    UINT cbSize;
    int iContextType;
    int iCtrlId;
    HANDLE hItemHandle;
    DWORD_PTR dwContextId;
    POINT MousePos;
} HELPINFO, *LPHELPINFO;

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))

#define WM_HELP 0x0053
#define WM_CONTEXTMENU 0x007B
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define EM_LIMITTEXT 0x00C5
#define IDOK 1
#define IDCANCEL 2
#define GWLP_USERDATA (-21)
#define HELP_CONTEXTMENU 0x000a
#define HELP_WM_HELP 0x000c

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC dialogProc,
                        LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL SetForegroundWindow(HWND window);
HWND SetFocus(HWND window);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int maxCount);
BOOL WinHelpW(HWND window, LPCWSTR helpFile, UINT command, ULONG_PTR data);

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);
