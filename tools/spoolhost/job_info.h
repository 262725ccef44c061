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
};

// Level 1 or 2 (the caller has checked it, and that needed is not null) of the job into the
// buffer; a short buffer reports the size needed with ERROR_INSUFFICIENT_BUFFER.
inline BOOL PackJobInfo(DWORD jobId, DWORD level, const JobTexts& job, LPBYTE buffer, DWORD size,
                        LPDWORD needed) {
    std::vector<const JobText*> texts = {&job.printer, &job.machine, &job.user, &job.document,
                                         &job.datatype};
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
        info.pPrintProcessor = placed[5];
        memcpy(buffer, &info, sizeof info);
    }
    return TRUE;
}

}  // namespace nvspool
