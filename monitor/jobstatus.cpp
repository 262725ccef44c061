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

// A spooler that cannot answer says nothing about the job: it goes on. The answer is kept for
// kPollMs, so that waits in quick succession ask the spooler at that pace only.
BOOL CPort::IsJobCancelled() {
    DWORD now = GetTickCount();
    if (m_cancelAsked && now - m_cancelTick < CJobWait::kPollMs) {
        return m_cancelled;
    }
    m_cancelAsked = true;
    m_cancelTick = now;
    LPBYTE block = GetJobBlock(1);
    if (block != nullptr) {
        DWORD status = reinterpret_cast<JOB_INFO_1W*>(block)->Status;
        FreeMem(block);
        m_cancelled =
            (status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_RESTART)) != 0;
    }
    return m_cancelled;
}

// The job as the spooler reports it, with only its status text changed; its position in the
// queue is left where it is. The text the port showed last is not sent again.
void CPort::ShowJobStatus(LPCWSTR text) {
    m_shownValid = false;
    if (text == nullptr ? !m_statusShown : m_statusShown && lstrcmpW(text, m_statusText) == 0) {
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
        DWORD i = 0;
        for (; text != nullptr && text[i] != 0 && i + 1 < kStatusTextChars; ++i) {
            m_statusText[i] = text[i];
        }
        m_statusText[i] = 0;
    }
    FreeMem(block);
}

// --- Waits ---

CJobWait::CJobWait(CPort* port, DWORD since, bool show)
    : m_port(port), m_since(since), m_show(show) {}

BOOL CJobWait::GoOn() {
    if (m_port->IsJobCancelled()) {
        DbgPrint("Job %d was deleted or restarted by the user\n",
                 static_cast<int>(m_port->GetJobId()));
        return FALSE;
    }
    m_port->RefreshJobStatus(m_show ? GetTickCount() - m_since : 0);
    return TRUE;
}

// The parts, joined: the printer's condition (or that it does not answer status queries),
// then how long it has not taken data.
void CPort::RefreshJobStatus(DWORD waitedMs) {
    PrinterState state = GetPrinterState();
    DWORD seconds = waitedMs >= CJobWait::kShowAfterMs ? waitedMs / 1000 : 0;
    if (m_shownValid && state.condition == m_shownState.condition &&
        state.unanswered == m_shownState.unanswered && seconds == m_shownSeconds) {
        return;
    }
    WCHAR printer[kStatusTextChars] = {};
    if (state.condition != 0) {
        LoadText(printer, kStatusTextChars, state.condition);
    } else if (state.unanswered) {
        LoadText(printer, kStatusTextChars, IDS_STATUS_NO_STATUS_ANSWER);
    }
    WCHAR waiting[kStatusTextChars] = {};
    if (seconds != 0) {
        CNumberText number(seconds);
        FormatText(waiting, kStatusTextChars, IDS_STATUS_NOT_TAKING_DATA, {number.text});
    }
    WCHAR text[kStatusTextChars];
    if (printer[0] != 0 && waiting[0] != 0) {
        FormatText(text, kStatusTextChars, IDS_STATUS_JOIN, {printer, waiting});
        ShowJobStatus(text);
    } else if (printer[0] != 0 || waiting[0] != 0) {
        ShowJobStatus(printer[0] != 0 ? printer : waiting);
    } else {
        ShowJobStatus(nullptr);
    }
    m_shownState = state;
    m_shownSeconds = seconds;
    m_shownValid = true;
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
