// What a port tells the spooler about its job while the job waits for the printer, and what it
// learns from the spooler: the job's status text (shown in the printer's queue, from the
// monitor's string table), whether the user deleted or restarted the job, and the pause
// before a restarted job connects again.
#pragma once

#include <initializer_list>

#include "monitor/port.h"

// A number as text, for an insert of a status text.
struct CNumberText {
    explicit CNumberText(DWORD number);
    WCHAR text[12];
};

// The string `id` of the monitor's string table with %1..%9 replaced by the inserts in order,
// cut to fit `chars`. The inserts may themselves be strings of the table (see LoadText).
void FormatText(LPWSTR out, DWORD chars, UINT id, std::initializer_list<LPCWSTR> inserts);
// The string `id` of the monitor's string table (empty when it has none).
void LoadText(LPWSTR out, DWORD chars, UINT id);

// One wait of a job on its printer, asked at every turn of the wait: whether the job goes on
// (the user has not deleted or restarted it; the spooler is asked every kPollMs at most), and,
// once the printer has not taken data for kShowAfterMs, the seconds it has waited in the
// job's status text.
class CJobWait {
  public:
    static constexpr DWORD kSliceMs = 250;       // the longest single wait of a caller
    static constexpr DWORD kPollMs = 500;        // how often the spooler is asked
    static constexpr DWORD kShowAfterMs = 2000;  // a shorter wait is not worth a status text

    // `since`: when the printer last took data (GetTickCount); `show`: whether the wait is the
    // printer not taking data (and worth a status text) or another wait.
    CJobWait(CPort* port, DWORD since, bool show = true);

    // FALSE once the user deleted or restarted the job; the caller then ends it at once.
    BOOL GoOn();

  private:
    CPort* m_port;
    DWORD m_since;
    bool m_show;
};
