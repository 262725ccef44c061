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

// The process number in "PREFIX<pid>-<tick>-<count>", or 0 when the name is not of that form.
static DWORD OwnerOf(const wchar_t* name, const wchar_t* prefix) {
    size_t length = wcslen(prefix);
    if (_wcsnicmp(name, prefix, length) != 0) {
        return 0;
    }
    wchar_t* end = nullptr;
    unsigned long pid = wcstoul(name + length, &end, 10);
    return end != name + length && *end == L'-' ? pid : 0;
}

static bool Runs(DWORD pid) {
    const DWORD kQueryLimitedInformation = 0x1000;
    HANDLE process = OpenProcess(kQueryLimitedInformation, FALSE, pid);
    if (process == nullptr) {
        return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
    }
    DWORD code = 0;
    bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

// A file still open by its owner cannot be deleted (it is opened without sharing), so a
// directory in use stays; junctions and other reparse points are never entered.
DWORD SweepPrivateTempFiles(LPCWSTR prefix) {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    wchar_t pattern[MAX_PATH + 1];
    if (length == 0 || length > MAX_PATH ||
        _snwprintf(pattern, MAX_PATH, L"%ls%ls*", temp, prefix) < 0) {
        return 0;
    }
    pattern[MAX_PATH] = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD removed = 0;
    do {
        DWORD owner = OwnerOf(found.cFileName, prefix);
        bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                         (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (!directory || owner == 0 || owner == GetCurrentProcessId() || Runs(owner)) {
            continue;
        }
        wchar_t dir[MAX_PATH + 1];
        wchar_t file[MAX_PATH + 1];
        int n = _snwprintf(dir, MAX_PATH, L"%ls%ls", temp, found.cFileName);
        int m = _snwprintf(file, MAX_PATH, L"%ls%ls\\%ls", temp, found.cFileName, kFileName);
        if (n < 0 || m < 0) {
            continue;
        }
        dir[MAX_PATH] = 0;
        file[MAX_PATH] = 0;
        DeleteFileW(file);
        if (RemoveDirectoryW(dir)) {
            ++removed;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return removed;
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
