// CPort: what the spooler holds between OpenPort and ClosePort and drives through one print
// job after another. Everything that moves job data goes through its virtual operations, which
// the network port implements.
#pragma once

#include "monitor/pmobj.h"

// Port state bits (guarded by the monitor-wide lock).
#define PORT_DEVICE_OPEN 0x1  // the port opened a local DOS device through its alias
#define PORT_TEMPORARY 0x4    // a "FILE:" port made by OpenPort, destroyed by ClosePort
#define PORT_IN_JOB 0x8       // between a successful StartDocPort start and EndDocPort

// Room for one status text of a job, in characters.
inline constexpr DWORD kStatusTextChars = 256;

class CPort : public CPMObject {
  public:
    static constexpr DWORD kSignature = 0x5450;  // "PT"

    CPort(CPrintMonitor* monitor, LPCWSTR name);
    ~CPort() override;

    LPCWSTR GetClassDescription() const override { return WSTR("QORN Port Class"); }
    BOOL IsValid() const override { return m_signature == kSignature; }
    virtual BOOL ReadConfig() = 0;
    virtual BOOL WriteConfig() = 0;
    virtual BOOL StartDoc() = 0;
    virtual BOOL Write(LPBYTE data, DWORD size, LPDWORD written) = 0;
    virtual BOOL Read(LPBYTE data, DWORD size, LPDWORD read) = 0;
    virtual BOOL DeviceControl(DWORD code, LPBYTE in, DWORD inSize, LPBYTE out, DWORD outSize,
                               LPDWORD returned) = 0;
    virtual BOOL EndDoc() = 0;
    virtual BOOL Configure(LPBYTE config) = 0;

    DWORD GetState() const { return m_state; }
    // A port in a job, or pinned by a request that works on it, is busy and is not deleted.
    // The pins change under the monitor-wide lock.
    BOOL IsBusy() const { return (m_state & PORT_IN_JOB) != 0 || m_pins > 0; }
    void Pin() { ++m_pins; }
    void Unpin() { --m_pins; }
    void SetState(DWORD bits) { m_state |= bits; }
    // PORT_IN_JOB is set by the job's own thread, which these tell apart from the others.
    void EnterJob() {
        m_state |= PORT_IN_JOB;
        m_jobThread = GetCurrentThreadId();
    }
    BOOL IsJobThread() const { return m_jobThread == GetCurrentThreadId(); }
    void ClearState(DWORD bits) { m_state &= ~bits; }
    HANDLE GetOutput() const { return m_output; }
    void SetOutput(HANDLE output) { m_output = output; }
    HANDLE GetPrinter() const { return m_printer; }
    DWORD GetJobId() const { return m_jobId; }
    DWORD GetDocLevel() const { return m_docLevel; }
    DWORD GetJobInfoLevel() const { return m_jobInfoLevel; }

    // The job's printer: opened at StartDocPort, closed at EndDocPort.
    BOOL OpenJobPrinter(LPWSTR printerName);
    void CloseJobPrinter();
    // Sends a job command (JOB_CONTROL_...) for the port's job to the spooler. A restart
    // (with the error that caused it) makes the port's next connection pause; a job sent to
    // the printer ends the run of restarts.
    BOOL SetJobCommand(DWORD command, DWORD reason = ERROR_SUCCESS);

    // --- The job as the spooler holds it (jobstatus.cpp) ---
    // The pause before a restarted job connects again: the first after a restart, doubled
    // after each further restart in a row, up to kRestartPauseGrowth times the first.
    static constexpr DWORD kFirstRestartPauseMs = 2000;
    static constexpr DWORD kRestartPauseGrowth = 30;  // 60 s
    // GetJobW of the port's job at `level`, allocated with AllocMem; null when it fails.
    LPBYTE GetJobBlock(DWORD level);
    // Whether the user deleted or restarted the job (its status bits in GetJobW).
    BOOL IsJobCancelled();
    // The job's status text in the printer's queue; null clears what the port showed.
    void ShowJobStatus(LPCWSTR text);
    // What the port knows of its printer's state: the string of a condition it shows (0:
    // none), and whether the printer leaves its status queries unanswered.
    struct PrinterState {
        UINT condition = 0;
        bool unanswered = false;
    };
    virtual PrinterState GetPrinterState() { return PrinterState{}; }
    // The job's status text from the printer's state and, once the printer has not taken
    // data for a while, the time it has waited (`waitedMs`; 0 while data flows). Sent only
    // when it changes.
    void RefreshJobStatus(DWORD waitedMs);
    // Waits out the pause that the port's last restart asks for, showing the reason and the
    // time left; FALSE (ERROR_PRINT_CANCELLED) when the user deleted the job meanwhile.
    BOOL AwaitRestartPause();
    // Redirects and opens the local DOS device that the port name stands for, if there is
    // one ("NONSPOOLED_" alias); TRUE also when there is nothing to redirect.
    BOOL OpenDosDevice();
    BOOL RemoveDosDevice();
    void ForgetDeviceName();
    LPCWSTR GetDeviceName() const { return m_deviceName; }
    void SetJobIds(DWORD jobId, DWORD level) {
        m_jobId = jobId;
        m_docLevel = level;
        m_jobInfoLevel = level;
        m_restartNoted = false;
        m_statusShown = false;
        m_cancelAsked = false;
        m_cancelled = false;
        m_shownState = PrinterState{};
        m_shownSeconds = 0;
        m_shownValid = false;
    }

  protected:
    DWORD m_state;
    HANDLE m_output;
    LPWSTR m_deviceName;
    HANDLE m_printer;
    LPWSTR m_printerName;
    DWORD m_jobId;
    DWORD m_docLevel;
    DWORD m_jobInfoLevel;
    LPBYTE m_buffer1;
    LPBYTE m_buffer2;
    int m_pins;
    DWORD m_jobThread;  // the thread whose StartDocPort set PORT_IN_JOB

  private:
    void NoteRestart(DWORD reason);
    void NoteDelivered();

    // The job's status text is showing (cleared at the job's end), and what it says.
    bool m_statusShown;
    WCHAR m_statusText[kStatusTextChars];
    // What the status text was made from, so that an unchanged one is not made again.
    PrinterState m_shownState;
    DWORD m_shownSeconds;
    bool m_shownValid;
    // The spooler's last answer to whether the job was deleted or restarted, and when.
    bool m_cancelAsked;
    bool m_cancelled;
    DWORD m_cancelTick;
    // The run of restarts: how many in a row, the last one's time, pause and reason.
    bool m_restartNoted;  // this job has been counted
    DWORD m_restarts;
    DWORD m_restartTick;
    DWORD m_restartPause;
    DWORD m_restartReason;
};

// A call's reference to the port behind a handle the spooler gives back (null if none).
using CPortRef = CObjectRef<CPort>;

// Names built by the port code hold 260 characters and the terminator.
inline constexpr DWORD kPortNameBufferChars = 261;

// Copies the null-terminated list of sources one after another into dest. 0 on success;
// ERROR_INVALID_PARAMETER for no destination or no room; ERROR_BUFFER_OVERFLOW (dest then
// empty) when they do not fit. A failure is also set as the last error.
DWORD ConcatStrings(LPWSTR dest, DWORD capacity, ...);
// Removes one trailing ':'.
void StripColon(LPWSTR name);
