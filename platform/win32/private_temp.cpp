// Private temporary files on Windows: the directory's DACL grants access to the owner, SYSTEM
// and the administrators only, and is not inherited from the (shared) temporary directory.
#include "platform/private_temp.h"

#include <sddl.h>

#include <cwchar>

static volatile LONG gCounter = 0;

static const wchar_t kPrivateDacl[] = L"D:P(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
static const wchar_t kFileName[] = L"spool.tmp";

HANDLE CreatePrivateTempFile(LPCWSTR prefix, LPWSTR path, DWORD pathChars) {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        return INVALID_HANDLE_VALUE;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateDacl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        wchar_t dir[MAX_PATH + 1];
        int n = _snwprintf(dir, MAX_PATH, L"%ls%ls%lu-%lu-%ld", temp, prefix, GetCurrentProcessId(),
                           GetTickCount(), InterlockedIncrement(&gCounter));
        if (n < 0 || static_cast<DWORD>(n) + 2 + wcslen(kFileName) > pathChars) {
            error = ERROR_BUFFER_OVERFLOW;
            break;
        }
        dir[n] = 0;
        if (!CreateDirectoryW(dir, &security)) {
            error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            break;
        }
        _snwprintf(path, pathChars, L"%ls\\%ls", dir, kFileName);
        path[pathChars - 1] = 0;
        file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, &security, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            RemoveDirectoryW(dir);
            break;
        }
    }
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        SetLastError(error);
    }
    return file;
}

BOOL DeletePrivateTempFile(LPCWSTR path) {
    BOOL deleted = DeleteFileW(path);
    wchar_t dir[MAX_PATH + 1];
    if (wcslen(path) > MAX_PATH) {
        return FALSE;
    }
    wcscpy(dir, path);
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (slash != nullptr) {
        *slash = 0;
        return RemoveDirectoryW(dir) && deleted;
    }
    return deleted;
}
