// GetJobW's answer as the spooler gives it: JOB_INFO_1W or JOB_INFO_2W with its strings packed at
// the end of the caller's buffer. Header-only and free of the host's own code, so that both the
// spooler host and the Win32 test stand-in for SPOOLSS.DLL answer with the same bytes.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace nvspool {

using JobText = std::basic_string<WCHAR>;

// The strings of one job, as GetJobW reports them.
struct JobTexts {
    const JobText& printer;
    const JobText& machine;
    const JobText& user;
    const JobText& document;
    const JobText& datatype;
    const JobText& printProcessor;  // level 2 only
    const JobText& status;          // pStatus: the monitor's status text; empty for none
    DWORD statusBits;               // Status: JOB_STATUS_...
};

// The status text that SetJobW at level 1 or 2 sets (pStatus; null clears it); the two
// structures hold it at different places. False for another level or no data.
inline bool StatusTextOf(DWORD level, const BYTE* data, JobText* text) {
    if (data == nullptr || (level != 1 && level != 2)) {
        return false;
    }
    LPCWSTR status = level == 1 ? reinterpret_cast<const JOB_INFO_1W*>(data)->pStatus
                                : reinterpret_cast<const JOB_INFO_2W*>(data)->pStatus;
    text->assign(status != nullptr ? status : JobText());
    return true;
}

// What SetJobW changes of a job, kept alike by both job tables.
struct JobRecord {
    std::vector<DWORD> commands;       // every SetJobW command, in order
    DWORD status = 0;                  // JOB_STATUS_... bits, as GetJobW reports them
    JobText statusText;                // pStatus: what the monitor says of the job now
    std::vector<JobText> statusTexts;  // every status text it set, in order
};

// SetJobW on a job that was found: records the command and takes the status text of a
// JOB_INFO at level 1 or 2 (the one field a monitor changes). FALSE with the spooler's error
// for a bad level or command; *textChanged tells whether the status text changed.
inline BOOL ApplySetJob(JobRecord* job, DWORD level, const BYTE* data, DWORD command,
                        bool* textChanged) {
    *textChanged = false;
    JobText text;
    if (level != 0 && !StatusTextOf(level, data, &text)) {
        SetLastError(level > 4 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (level == 0 && command == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (command != 0) {
        job->commands.push_back(command);
        if (command < JOB_CONTROL_PAUSE || command > JOB_CONTROL_LAST_PAGE_EJECTED) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    if (level != 0 && text != job->statusText) {
        job->statusText = text;
        if (!text.empty()) {
            job->statusTexts.push_back(text);
        }
        *textChanged = true;
    }
    return TRUE;
}

// Where the Linux spooler host keeps the port statuses that monitors set (SetPortW level 3),
// below HKEY_LOCAL_MACHINE, so that every process of the machine shows them: one subkey per
// port with a status, holding "Status" and "Severity" (REG_DWORD).
inline constexpr WCHAR kPortStatusKey[] = WSTR("SOFTWARE\\NORVA\\Spooler\\Port Status");

// A port's status as the monitor last set it (SetPortW at level 3), and every change.
struct PortStatusRecord {
    JobText port;
    DWORD status = 0;  // PORT_STATUS_..., 0 for none
    DWORD severity = 0;
    JobText text;  // pszStatus
};

// SetPortW at level 3: FALSE with the spooler's error for another level or no data.
inline BOOL ReadPortStatus(LPCWSTR portName, DWORD level, const BYTE* data,
                           PortStatusRecord* record) {
    if (level != 3) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (data == nullptr || portName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* info = reinterpret_cast<const PORT_INFO_3W*>(data);
    record->port = portName;
    record->status = info->dwStatus;
    record->severity = info->dwSeverity;
    record->text = info->pszStatus != nullptr ? info->pszStatus : JobText();
    return TRUE;
}

// Level 1 or 2 (the caller has checked it, and that needed is not null) of the job into the
// buffer; a short buffer reports the size needed with ERROR_INSUFFICIENT_BUFFER.
inline BOOL PackJobInfo(DWORD jobId, DWORD level, const JobTexts& job, LPBYTE buffer, DWORD size,
                        LPDWORD needed) {
    std::vector<const JobText*> texts = {&job.printer,  &job.machine,  &job.user,
                                         &job.document, &job.datatype, &job.status};
    if (level == 2) {
        texts.push_back(&job.printProcessor);
    }
    auto bytes = [](const JobText& text) {
        return static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    };
    DWORD total = level == 1 ? sizeof(JOB_INFO_1W) : sizeof(JOB_INFO_2W);
    for (const JobText* text : texts) {
        total += bytes(*text);
    }
    *needed = total;
    if (buffer == nullptr || size < total) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    LPBYTE end = buffer + total;
    std::vector<LPWSTR> placed;
    for (const JobText* text : texts) {
        end -= bytes(*text);
        memcpy(end, text->c_str(), bytes(*text));
        placed.push_back(reinterpret_cast<LPWSTR>(end));
    }
    if (level == 1) {
        JOB_INFO_1W info{};
        info.JobId = jobId;
        info.pPrinterName = placed[0];
        info.pMachineName = placed[1];
        info.pUserName = placed[2];
        info.pDocument = placed[3];
        info.pDatatype = placed[4];
        info.pStatus = job.status.empty() ? nullptr : placed[5];
        info.Status = job.statusBits;
        memcpy(buffer, &info, sizeof info);
    } else {
        JOB_INFO_2W info{};
        info.JobId = jobId;
        info.pPrinterName = placed[0];
        info.pMachineName = placed[1];
        info.pUserName = placed[2];
        info.pDocument = placed[3];
        info.pNotifyName = placed[2];
        info.pDatatype = placed[4];
        info.pPrintProcessor = placed[6];
        info.pStatus = job.status.empty() ? nullptr : placed[5];
        info.Status = job.statusBits;
        memcpy(buffer, &info, sizeof info);
    }
    return TRUE;
}

}  // namespace nvspool
