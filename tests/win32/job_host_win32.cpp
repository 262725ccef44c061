// The job host on Windows: the spooler's side is the test-only spoolss.dll beside the host, which
// the monitor imports; its job table is reached through its NvTest exports. LPR jobs spool below
// the temporary folder, in directories whose DACL admits the owner, SYSTEM and the
// administrators only.
#include "tests/win32/job_host.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

namespace jobhost {
namespace {

const wchar_t kSpoolPattern[] = L"nvlpr-*";

std::string Narrow(const std::wstring& wide) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(bytes > 0 ? bytes - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), bytes, nullptr, nullptr);
    return text;
}

std::wstring WideOf(const std::string& text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
    return wide;
}

class WindowsMachine : public JobMachine {
  public:
    bool Ready(std::string* why) override {
        HMODULE spoolss = GetModuleHandleW(L"spoolss.dll");
        if (spoolss != nullptr) {
            addJob_ = reinterpret_cast<AddJobProc>(Proc(spoolss, "NvTestAddJob"));
            commands_ = reinterpret_cast<CommandsProc>(Proc(spoolss, "NvTestJobCommands"));
            openPrinters_ = reinterpret_cast<CountProc>(Proc(spoolss, "NvTestOpenPrinters"));
            failGetJob_ = reinterpret_cast<FailProc>(Proc(spoolss, "NvTestFailGetJob"));
            setStatus_ = reinterpret_cast<StatusProc>(Proc(spoolss, "NvTestSetJobStatus"));
            portStatus_ = reinterpret_cast<PortStatusProc>(Proc(spoolss, "NvTestPortStatus"));
        }
        if (addJob_ == nullptr || commands_ == nullptr || openPrinters_ == nullptr ||
            failGetJob_ == nullptr || setStatus_ == nullptr || portStatus_ == nullptr) {
            *why =
                "the monitor's SPOOLSS.DLL is not the test stand-in: put spoolss.dll beside the "
                "host and run with WINEDLLOVERRIDES=spoolss=n";
            return false;
        }
        return true;
    }

    void AddJob(DWORD id, const WString& printer, const WString& machine, const WString& user,
                const WString& document) override {
        addJob_(id, printer.c_str(), machine.c_str(), user.c_str(), document.c_str());
    }

    std::vector<DWORD> JobCommands(DWORD id) override {
        std::vector<DWORD> commands(64);
        DWORD count = commands_(id, commands.data(), static_cast<DWORD>(commands.size()));
        commands.resize(std::min<DWORD>(count, 64));
        return commands;
    }

    size_t OpenPrinters() override { return openPrinters_(); }
    void FailGetJob(DWORD error) override { failGetJob_(error); }
    void SetJobStatus(DWORD id, DWORD status) override { setStatus_(id, status); }

    std::vector<std::pair<DWORD, DWORD>> PortStatus(const std::string& port) override {
        std::wstring name = WideOf(port);
        std::vector<DWORD> pairs(2 * 64);
        DWORD count = portStatus_(name.c_str(), pairs.data(), 64);
        std::vector<std::pair<DWORD, DWORD>> changes;
        for (DWORD i = 0; i < count && i < 64; ++i) {
            changes.emplace_back(pairs[2 * i], pairs[2 * i + 1]);
        }
        return changes;
    }

    std::vector<std::string> SpoolDirectories() override {
        std::vector<std::string> found;
        wchar_t temp[MAX_PATH + 1];
        DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH) {
            return found;
        }
        std::wstring pattern = std::wstring(temp) + kSpoolPattern;
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            return found;
        }
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                found.push_back(Narrow(std::wstring(temp) + entry.cFileName));
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
        return found;
    }

    // Every entry of the DACL allows one of the owner, SYSTEM, the administrators or this
    // process's own account; entries inherited from the shared temporary folder would show
    // among them. (Wine keeps no security descriptor of its own for a file: it answers one made
    // from the Unix mode, which lists the account and SYSTEM, and everyone when the mode lets
    // others in.)
    bool IsPrivate(const std::string& directory, std::string* why) override {
        std::wstring path = WideOf(directory);
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, &dacl, nullptr, &descriptor);
        if (error != ERROR_SUCCESS) {
            *why = "its security cannot be read: error " + std::to_string(error);
            return false;
        }
        // S-1-3-4 owner rights, S-1-5-18 SYSTEM, S-1-5-32-544 administrators.
        const std::wstring allowed[] = {L"S-1-3-4", L"S-1-5-18", L"S-1-5-32-544", OwnSid()};
        bool ok = dacl != nullptr && dacl->AceCount > 0;
        if (!ok) {
            *why = "it has no DACL entries";
        }
        for (DWORD i = 0; ok && i < dacl->AceCount; ++i) {
            ACE_HEADER* header = nullptr;
            GetAce(dacl, i, reinterpret_cast<void**>(&header));
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
                continue;
            }
            std::wstring sid = SidText(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart);
            if (std::find(std::begin(allowed), std::end(allowed), sid) == std::end(allowed)) {
                *why = "its DACL also admits " + Narrow(sid);
                ok = false;
            }
        }
        LPWSTR sddl = nullptr;
        if (!ok && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                       descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
            *why += " (" + Narrow(sddl) + ")";
            LocalFree(sddl);
        }
        LocalFree(descriptor);
        return ok;
    }

    // GetProcessHandleCount, or where it answers nothing (Wine) the process's entries in the
    // system's handle table.
    size_t Handles() override {
        DWORD count = 0;
        if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
            return count;
        }
        struct Entry {
            PVOID object;
            ULONG_PTR process;
            ULONG_PTR handle;
            ULONG access;
            USHORT backTrace;
            USHORT type;
            ULONG attributes;
            ULONG reserved;
        };
        struct Table {
            ULONG_PTR count;
            ULONG_PTR reserved;
            Entry entries[1];
        };
        constexpr ULONG kSystemExtendedHandleInformation = 64;
        constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
        std::vector<BYTE> buffer(1 << 20);
        NTSTATUS status = kInfoLengthMismatch;
        while (status == kInfoLengthMismatch && buffer.size() <= (1u << 28)) {
            ULONG needed = 0;
            status = NtQuerySystemInformation(
                static_cast<SYSTEM_INFORMATION_CLASS>(kSystemExtendedHandleInformation),
                buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
            if (status == kInfoLengthMismatch) {
                buffer.resize(buffer.size() * 2);
            }
        }
        if (status != 0) {
            return 0;
        }
        const auto* table = reinterpret_cast<const Table*>(buffer.data());
        size_t own = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i) {
            own += table->entries[i].process == GetCurrentProcessId() ? 1 : 0;
        }
        return own;
    }

  private:
    using AddJobProc = DWORD(WINAPI*)(DWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR);
    using CommandsProc = DWORD(WINAPI*)(DWORD, DWORD*, DWORD);
    using CountProc = DWORD(WINAPI*)();
    using FailProc = void(WINAPI*)(DWORD);
    using StatusProc = void(WINAPI*)(DWORD, DWORD);
    using PortStatusProc = DWORD(WINAPI*)(LPCWSTR, DWORD*, DWORD);

    static std::wstring SidText(PSID sid) {
        LPWSTR text = nullptr;
        if (!ConvertSidToStringSidW(sid, &text)) {
            return L"?";
        }
        std::wstring result = text;
        LocalFree(text);
        return result;
    }

    // The account this process runs as.
    static std::wstring OwnSid() {
        HANDLE token = nullptr;
        std::wstring sid = L"?";
        BYTE buffer[256];
        DWORD size = 0;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
                sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
            }
            CloseHandle(token);
        }
        return sid;
    }

    static void* Proc(HMODULE module, const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(module, name));
    }

    AddJobProc addJob_ = nullptr;
    CommandsProc commands_ = nullptr;
    CountProc openPrinters_ = nullptr;
    FailProc failGetJob_ = nullptr;
    StatusProc setStatus_ = nullptr;
    PortStatusProc portStatus_ = nullptr;
};

}  // namespace

std::unique_ptr<JobMachine> NewJobMachine() {
    return std::make_unique<WindowsMachine>();
}

}  // namespace jobhost
