// A test-only SPOOLSS.DLL for the job host: the spooler functions that the print monitor imports
// (OpenPrinterW, ClosePrinter, GetJobW, SetJobW, ImpersonatePrinterClient, RevertToPrinterSelf),
// answered from a job table that the host fills, with every SetJobW command recorded so that a
// test can tell a job sent to the printer from a restarted one. The monitor DLL stays the one
// shipped: Wine loads this file from the host's folder instead of its own (spoolss=n).
//
// The host reaches the table through the NvTest exports, found with GetProcAddress.
#include <string>
#include <vector>

#include "tools/spoolhost/job_info.h"

namespace {

struct Job : nvspool::JobRecord {
    DWORD id;
    std::wstring printer;
    std::wstring machine;
    std::wstring user;
    std::wstring document;
};

struct PrinterHandle {
    ULONG_PTR handle;
    std::wstring name;
};

// The monitor may call from any thread; every access holds the lock.
CRITICAL_SECTION gLock;
std::vector<Job>* gJobs;
std::vector<PrinterHandle>* gPrinters;
std::vector<nvspool::PortStatusRecord>* gPortStatus;
ULONG_PTR gNextHandle = 0x70000000;
DWORD gGetJobFailure = ERROR_SUCCESS;

class Locked {
  public:
    Locked() { EnterCriticalSection(&gLock); }
    ~Locked() { LeaveCriticalSection(&gLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

const std::wstring kDatatype = L"RAW";
const std::wstring kPrintProcessor = L"winprint";

// The job of an open printer handle, or null with the error a spooler gives.
Job* FindJob(HANDLE printer, DWORD jobId, DWORD* error) {
    const std::wstring* name = nullptr;
    for (const auto& open : *gPrinters) {
        if (open.handle == reinterpret_cast<ULONG_PTR>(printer)) {
            name = &open.name;
        }
    }
    if (name == nullptr) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    for (auto& job : *gJobs) {
        if (job.id == jobId && lstrcmpiW(job.printer.c_str(), name->c_str()) == 0) {
            return &job;
        }
    }
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&gLock);
        gJobs = new std::vector<Job>;
        gPrinters = new std::vector<PrinterHandle>;
        gPortStatus = new std::vector<nvspool::PortStatusRecord>;
    }
    return TRUE;
}

// --- What the monitor imports ---

extern "C" BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
    if (printer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Locked lock;
    for (const auto& job : *gJobs) {
        if (name != nullptr && lstrcmpiW(job.printer.c_str(), name) == 0) {
            gPrinters->push_back({gNextHandle, job.printer});
            *printer = reinterpret_cast<HANDLE>(gNextHandle);
            gNextHandle += 4;
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE printer) {
    Locked lock;
    for (auto it = gPrinters->begin(); it != gPrinters->end(); ++it) {
        if (it->handle == reinterpret_cast<ULONG_PTR>(printer)) {
            gPrinters->erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// JOB_INFO_1W or JOB_INFO_2W with its strings packed at the end of the caller's buffer; a short
// buffer reports the size needed with ERROR_INSUFFICIENT_BUFFER.
extern "C" BOOL WINAPI GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size,
                               LPDWORD needed) {
    Locked lock;
    DWORD error = gGetJobFailure;
    const Job* job = error == ERROR_SUCCESS ? FindJob(printer, jobId, &error) : nullptr;
    if (job == nullptr) {
        SetLastError(error);
        return FALSE;
    }
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    return nvspool::PackJobInfo(job->id, level,
                                {job->printer, job->machine, job->user, job->document, kDatatype,
                                 kPrintProcessor, job->statusText, job->status},
                                buffer, size, needed);
}

// Every command is recorded, and a status text set; the rest of the job does not change.
extern "C" BOOL WINAPI SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE data,
                               DWORD command) {
    Locked lock;
    DWORD error = ERROR_SUCCESS;
    Job* job = FindJob(printer, jobId, &error);
    if (job == nullptr) {
        SetLastError(error);
        return FALSE;
    }
    bool changed = false;
    return nvspool::ApplySetJob(job, level, data, command, &changed);
}

// Every status the monitor sets for a port is recorded, in order.
extern "C" BOOL WINAPI SetPortW(LPWSTR, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    nvspool::PortStatusRecord record;
    if (!nvspool::ReadPortStatus(portName, level, portInfo, &record)) {
        return FALSE;
    }
    Locked lock;
    gPortStatus->push_back(record);
    return TRUE;
}

extern "C" BOOL WINAPI ImpersonatePrinterClient(HANDLE) {
    return TRUE;
}

extern "C" HANDLE WINAPI RevertToPrinterSelf() {
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5450));
}

// --- For the host ---

extern "C" DWORD WINAPI NvTestAddJob(DWORD id, LPCWSTR printer, LPCWSTR machine, LPCWSTR user,
                                     LPCWSTR document) {
    Locked lock;
    Job job;
    job.id = id;
    job.printer = printer;
    job.machine = machine;
    job.user = user;
    job.document = document;
    gJobs->push_back(job);
    return id;
}

// Copies up to `capacity` of the job's commands; returns how many it has.
extern "C" DWORD WINAPI NvTestJobCommands(DWORD id, DWORD* commands, DWORD capacity) {
    Locked lock;
    for (const auto& job : *gJobs) {
        if (job.id == id) {
            for (DWORD i = 0; i < job.commands.size() && i < capacity; ++i) {
                commands[i] = job.commands[i];
            }
            return static_cast<DWORD>(job.commands.size());
        }
    }
    return 0;
}

extern "C" DWORD WINAPI NvTestOpenPrinters() {
    Locked lock;
    return static_cast<DWORD>(gPrinters->size());
}

// Makes every GetJobW fail with `error` (0: answer again).
extern "C" void WINAPI NvTestFailGetJob(DWORD error) {
    Locked lock;
    gGetJobFailure = error;
}

// What the spooler's user does to a job (JOB_STATUS_DELETING, JOB_STATUS_RESTART).
extern "C" void WINAPI NvTestSetJobStatus(DWORD id, DWORD status) {
    Locked lock;
    for (auto& job : *gJobs) {
        if (job.id == id) {
            job.status = status;
        }
    }
}

// Copies the job's status texts, each ended by a null, into `texts` (up to `capacity`
// characters); returns the characters they need.
extern "C" DWORD WINAPI NvTestJobStatusTexts(DWORD id, wchar_t* texts, DWORD capacity) {
    Locked lock;
    std::wstring all;
    for (const auto& job : *gJobs) {
        if (job.id == id) {
            for (const auto& text : job.statusTexts) {
                all += text;
                all += L'\0';
            }
        }
    }
    for (DWORD i = 0; i < all.size() && i < capacity; ++i) {
        texts[i] = all[i];
    }
    return static_cast<DWORD>(all.size());
}

// The port status changes so far: copies up to `capacity` of them (status, severity pairs of
// the port named), returns how many there are.
extern "C" DWORD WINAPI NvTestPortStatus(LPCWSTR port, DWORD* pairs, DWORD capacity) {
    Locked lock;
    DWORD count = 0;
    for (const auto& record : *gPortStatus) {
        if (lstrcmpiW(record.port.c_str(), port) == 0) {
            if (count < capacity) {
                pairs[2 * count] = record.status;
                pairs[2 * count + 1] = record.severity;
            }
            ++count;
        }
    }
    return count;
}
