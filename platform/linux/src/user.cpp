// User interface calls without a desktop: there are no windows, so every window call fails
// with ERROR_INVALID_WINDOW_HANDLE and a dialog box ends at once as cancelled (result 0).
#include <sys/stat.h>

#include <cstring>

#include "platform/linux/src/handles.h"
#include "platform/wstr.h"

namespace {
template <class T>
T NoWindow(T result) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return result;
}

class NvFind : public NvObject {};
}  // namespace

INT_PTR DialogBoxParamW(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM) {
    return 0;
}
BOOL EndDialog(HWND, INT_PTR) {
    return NoWindow<BOOL>(FALSE);
}
BOOL SetForegroundWindow(HWND) {
    return NoWindow<BOOL>(FALSE);
}
HWND SetFocus(HWND) {
    return NoWindow<HWND>(nullptr);
}
LONG_PTR SetWindowLongPtrW(HWND, int, LONG_PTR) {
    return NoWindow<LONG_PTR>(0);
}
LONG_PTR GetWindowLongPtrW(HWND, int) {
    return NoWindow<LONG_PTR>(0);
}
LRESULT SendDlgItemMessageW(HWND, int, UINT, WPARAM, LPARAM) {
    return NoWindow<LRESULT>(0);
}
UINT GetDlgItemTextW(HWND, int, LPWSTR text, int maxCount) {
    if (text != nullptr && maxCount > 0) {
        text[0] = 0;
    }
    return NoWindow<UINT>(0);
}
BOOL WinHelpW(HWND, LPCWSTR, UINT, ULONG_PTR) {
    return NoWindow<BOOL>(FALSE);
}

// One file, no wildcards: what the print-to-file dialog probes.
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW data) {
    if (fileName == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = NvUtf16ToUtf8(fileName);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    data->nFileSizeLow = static_cast<DWORD>(st.st_size);
    std::u16string name = NvUtf8ToUtf16(path.substr(path.find_last_of('/') + 1).c_str());
    CopyBounded(data->cFileName, MAX_PATH, name.c_str());
    return NvHandleInsert(std::make_shared<NvFind>());
}

BOOL FindClose(HANDLE find) {
    return CloseHandle(find);
}
