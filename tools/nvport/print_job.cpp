#include "tools/nvport/print_job.h"

#include <cstdio>
#include <vector>

#include "tools/cli/text.h"

namespace nvport {

namespace {

// How long the job is followed in its queue: a port's own time-out, its restarts and a printer
// that warms up fit well inside it.
constexpr DWORD kFollowMs = 120000;
constexpr DWORD kPollMs = 250;

// A job's status bits that end the wait: the spooler stopped the job.
constexpr DWORD kStopped = JOB_STATUS_ERROR | JOB_STATUS_OFFLINE | JOB_STATUS_PAPEROUT |
                           JOB_STATUS_BLOCKED_DEVQ | JOB_STATUS_USER_INTERVENTION |
                           JOB_STATUS_DELETED;

// The printer handle, closed when it goes.
class Printer {
  public:
    ~Printer() {
        if (handle_ != nullptr) {
            ClosePrinter(handle_);
        }
    }
    bool Open(const std::string& name) {
        std::wstring wide = cli::Wide(name);
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
        if (!OpenPrinterW(wide.data(), &handle_, &defaults)) {
            handle_ = nullptr;
            return false;
        }
        return true;
    }
    HANDLE handle() const { return handle_; }

  private:
    HANDLE handle_ = nullptr;
};

// The job's state in the queue; false when it is no longer there.
bool JobState(HANDLE printer, DWORD job, DWORD* status, std::string* text) {
    DWORD needed = 0;
    GetJobW(printer, job, 1, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    std::vector<BYTE> buffer(needed);
    if (!GetJobW(printer, job, 1, buffer.data(), needed, &needed)) {
        return false;
    }
    const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
    *status = info->Status;
    *text = cli::Utf8(info->pStatus);
    return true;
}

}  // namespace

DWORD FindPrinterOnPort(const std::function<bool(const wchar_t* port)>& matches,
                        std::string* printer, std::string* port) {
    printer->clear();
    DWORD needed = 0;
    DWORD count = 0;
    std::vector<BYTE> buffer;
    BOOL ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &count);
    while (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.assign(needed, 0);
        ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 5, buffer.data(), needed, &needed, &count);
    }
    if (!ok) {
        return GetLastError();
    }
    for (DWORD i = 0; i < count; ++i) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.data()) + i;
        // A printer may print to several ports (a pool): "NAME,NAME".
        std::wstring list = info->pPortName != nullptr ? info->pPortName : L"";
        for (size_t start = 0; start <= list.size();) {
            size_t end = list.find(L',', start);
            std::wstring used = list.substr(start, end == std::wstring::npos ? end : end - start);
            if (matches(used.c_str())) {
                *printer = cli::Utf8(info->pPrinterName);
                *port = cli::Utf8(used.c_str());
                return ERROR_SUCCESS;
            }
            if (end == std::wstring::npos) {
                break;
            }
            start = end + 1;
        }
    }
    return ERROR_SUCCESS;
}

int PrintThroughSpooler(const cli::Tool& tool, const std::string& port, const std::string& document,
                        const std::string& data) {
    const std::wstring wide = cli::Wide(port);
    std::string printerName;
    std::string used;
    DWORD error = FindPrinterOnPort(
        [&wide](const wchar_t* p) { return cli::SameName(p, wide.c_str()); }, &printerName, &used);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("test-page: EnumPrintersW", error);
    }
    if (printerName.empty()) {
        return tool.Fail("test-page: no printer prints to the port " + port +
                             "; the spooler prints only through a printer: add one (PowerShell: "
                             "Add-Printer -Name NAME -DriverName \"Generic / Text Only\" "
                             "-PortName " +
                             port + ")",
                         ERROR_INVALID_PRINTER_NAME);
    }
    Printer printer;
    if (!printer.Open(printerName)) {
        return tool.Fail("test-page: OpenPrinterW \"" + printerName + "\"", GetLastError());
    }
    std::wstring name = cli::Wide(document);
    std::wstring datatype = L"RAW";
    DOC_INFO_1W info{name.data(), nullptr, datatype.data()};
    const DWORD job = StartDocPrinterW(printer.handle(), 1, reinterpret_cast<BYTE*>(&info));
    if (job == 0) {
        return tool.Fail("test-page: StartDocPrinterW on \"" + printerName + "\"", GetLastError());
    }
    DWORD written = 0;
    const BOOL wrote = WritePrinter(printer.handle(), const_cast<char*>(data.data()),
                                    static_cast<DWORD>(data.size()), &written);
    error = wrote && written == data.size() ? ERROR_SUCCESS : GetLastError();
    if (!EndDocPrinter(printer.handle()) && error == ERROR_SUCCESS) {
        error = GetLastError();
    }
    const std::string which = "job " + std::to_string(job) + " on the printer \"" + printerName +
                              "\" (port " + port + ")";
    if (error != ERROR_SUCCESS) {
        return tool.Fail("test-page: " + which, error);
    }
    DWORD status = 0;
    std::string text;
    for (DWORD waited = 0; JobState(printer.handle(), job, &status, &text); waited += kPollMs) {
        if ((status & JOB_STATUS_PRINTED) != 0) {
            break;
        }
        if ((status & kStopped) != 0 || waited >= kFollowMs) {
            const bool stopped = (status & kStopped) != 0;
            return tool.Fail("test-page: " + which +
                                 (stopped ? " stopped"
                                          : " is still in the queue after " +
                                                std::to_string(kFollowMs / 1000) + " s") +
                                 (text.empty() ? std::string() : " (" + text + ")"),
                             stopped ? ERROR_PRINT_CANCELLED : ERROR_TIMEOUT);
        }
        Sleep(kPollMs);
    }
    printf("Printed the test page to %s (%s).\n", port.c_str(), which.c_str());
    return cli::kExitOk;
}

}  // namespace nvport
