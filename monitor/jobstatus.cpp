#include "monitor/jobstatus.h"

#include <cstring>

#include "monitor/app.h"
#include "platform/test_switch.h"
#include "resources/nvtcpmon_ids.h"

// --- Texts ---

CNumberText::CNumberText(DWORD number) {
    WCHAR reversed[12];
    int length = 0;
    do {
        reversed[length++] = static_cast<WCHAR>(WSTR('0') + number % 10);
        number /= 10;
    } while (number != 0);
    for (int i = 0; i < length; ++i) {
        text[i] = reversed[length - 1 - i];
    }
    text[length] = 0;
}

void LoadText(LPWSTR out, DWORD chars, UINT id) {
    if (LoadStringW(GetApp(nullptr)->GetInstance(), id, out, static_cast<int>(chars)) <= 0) {
        out[0] = 0;
    }
}

void FormatText(LPWSTR out, DWORD chars, UINT id, std::initializer_list<LPCWSTR> inserts) {
    WCHAR format[kStatusTextChars];
    LoadText(format, kStatusTextChars, id);
    DWORD used = 0;
    auto put = [&](WCHAR c) {
        if (used + 1 < chars) {
            out[used++] = c;
        }
    };
    for (LPCWSTR p = format; *p != 0; ++p) {
        size_t index = static_cast<size_t>(p[1] - WSTR('1'));
        if (p[0] == WSTR('%') && p[1] >= WSTR('1') && p[1] <= WSTR('9') && index < inserts.size()) {
            for (LPCWSTR insert = inserts.begin()[index]; insert != nullptr && *insert != 0;
                 ++insert) {
                put(*insert);
            }
            ++p;
        } else {
            put(*p);
        }
    }
    out[chars > 0 ? used : 0] = 0;
}

// --- The job as the spooler holds it ---

LPBYTE CPort::GetJobBlock(DWORD level) {
    DWORD needed = 0;
    if (m_printer == nullptr || GetJobW(m_printer, m_jobId, level, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return nullptr;
    }
    auto* block = static_cast<LPBYTE>(AllocMem(needed));
    if (block != nullptr && !GetJobW(m_printer, m_jobId, level, block, needed, &needed)) {
        FreeMem(block);
        block = nullptr;
    }
    return block;
}

// A spooler that cannot answer says nothing about the job: it goes on.
BOOL CPort::IsJobCancelled() {
    LPBYTE block = GetJobBlock(1);
    if (block == nullptr) {
        return FALSE;
    }
    DWORD status = reinterpret_cast<JOB_INFO_1W*>(block)->Status;
    FreeMem(block);
    return (status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_RESTART)) != 0;
}

// The job as the spooler reports it, with only its status text changed; its position in the
// queue is left where it is.
void CPort::ShowJobStatus(LPCWSTR text) {
    if (text == nullptr && !m_statusShown) {
        return;
    }
    LPBYTE block = GetJobBlock(1);
    if (block == nullptr) {
        return;
    }
    auto* info = reinterpret_cast<JOB_INFO_1W*>(block);
    info->pStatus = const_cast<LPWSTR>(text);
    info->Position = JOB_POSITION_UNSPECIFIED;
    if (SetJobW(m_printer, m_jobId, 1, block, 0)) {
        m_statusShown = text != nullptr;
    }
    FreeMem(block);
}

// --- Waits ---

CJobWait::CJobWait(CPort* port, DWORD since, bool show)
    : m_port(port), m_since(since), m_lastPoll(GetTickCount()), m_shownSeconds(0), m_show(show) {}

BOOL CJobWait::GoOn() {
    DWORD now = GetTickCount();
    if (now - m_lastPoll < kPollMs) {
        return TRUE;
    }
    m_lastPoll = now;
    if (m_port->IsJobCancelled()) {
        DbgPrint("Job %d was deleted or restarted by the user\n",
                 static_cast<int>(m_port->GetJobId()));
        return FALSE;
    }
    DWORD waited = now - m_since;
    if (m_show && waited >= kShowAfterMs && waited / 1000 != m_shownSeconds) {
        m_shownSeconds = waited / 1000;
        WCHAR text[kStatusTextChars];
        CNumberText seconds(m_shownSeconds);
        FormatText(text, kStatusTextChars, IDS_STATUS_NOT_TAKING_DATA, {seconds.text});
        m_port->ShowJobStatus(text);
    }
    return TRUE;
}

// --- Restarts ---

// Tests may shorten the pauses (NORVA_TEST=pacing-ms=N); the ratios stay.
static DWORD FirstRestartPause() {
    return TestSwitch("pacing-ms", CPort::kFirstRestartPauseMs);
}

void CPort::NoteRestart(DWORD reason) {
    if (m_restartNoted) {
        return;  // one job, one restart, however many calls asked for it
    }
    m_restartNoted = true;
    // After the n-th restart in a row the pause is 2^(n-1) times the first, up to the cap.
    const DWORD first = FirstRestartPause();
    const DWORD cap = first * kRestartPauseGrowth;
    DWORD pause = first;
    for (DWORD i = 0; i < m_restarts && pause < cap; ++i) {
        pause *= 2;
    }
    m_restartPause = pause < cap ? pause : cap;
    ++m_restarts;
    m_restartTick = GetTickCount();
    m_restartReason = reason;
}

void CPort::NoteDelivered() {
    m_restarts = 0;
}

// The reason, in the string table's words, for the status text.
static void ReasonText(DWORD reason, LPWSTR out, DWORD chars) {
    CNumberText code(reason);
    if (reason == ERROR_BAD_NET_RESP) {
        LoadText(out, chars, IDS_REASON_REFUSED);
    } else if (reason == ERROR_INVALID_DATA) {
        LoadText(out, chars, IDS_REASON_NO_JOB_INFO);
    } else if (reason == ERROR_TIMEOUT || reason == WSAETIMEDOUT) {
        LoadText(out, chars, IDS_REASON_NO_ANSWER);
    } else if (reason >= WSABASEERR) {
        FormatText(out, chars, IDS_REASON_CONNECTION, {code.text});
    } else {
        FormatText(out, chars, IDS_REASON_ERROR, {code.text});
    }
}

BOOL CPort::AwaitRestartPause() {
    if (m_restarts == 0) {
        return TRUE;
    }
    WCHAR reason[kStatusTextChars];
    ReasonText(m_restartReason, reason, kStatusTextChars);
    DbgPrint("The port's last job was restarted (error %d): a pause of %d ms before it connects\n",
             static_cast<int>(m_restartReason), static_cast<int>(m_restartPause));
    CJobWait wait(this, GetTickCount(), false);
    DWORD shown = 0;
    for (;;) {
        DWORD elapsed = GetTickCount() - m_restartTick;
        if (elapsed >= m_restartPause) {
            ShowJobStatus(nullptr);
            return TRUE;
        }
        DWORD left = m_restartPause - elapsed;
        DWORD seconds = (left + 999) / 1000;
        if (seconds != shown) {
            shown = seconds;
            WCHAR text[kStatusTextChars];
            CNumberText number(seconds);
            FormatText(text, kStatusTextChars, IDS_STATUS_RESTART_PAUSE, {number.text, reason});
            ShowJobStatus(text);
        }
        if (!wait.GoOn()) {
            ShowJobStatus(nullptr);
            SetLastError(ERROR_PRINT_CANCELLED);
            return FALSE;
        }
        Sleep(left < CJobWait::kSliceMs ? left : CJobWait::kSliceMs);
    }
}
