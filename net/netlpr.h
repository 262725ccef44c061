// CLpr: carries a job to a line printer daemon by RFC 1179. The receive-data-file subcommand
// announces the data's size before the data, so the job is first spooled into a private file
// while the spooler writes it; at the end of the job the transport connects from a local port
// in 721..731 and sends the queue command, the control file and the data file.
#pragma once

#include "net/netproto.h"
#include "platform/winsock.h"

class CLpr : public CNetProtocol {
  public:
    static constexpr DWORD kLocalPortFirst = 721;  // RFC 1179: the source port is 721..731
    static constexpr DWORD kLocalPortLast = 731;
    static constexpr DWORD kPortRetryMs = 100;    // pause before another pass over 721..731
    static constexpr DWORD kReadChunk = 4096;     // spool-file bytes per send of the data
    static constexpr size_t kBufferBytes = 4096;  // the command buffer and the control file
    // Names written into the control file are cut to these lengths (bytes) so that it always
    // fits its buffer: the host appears four times, the title three times.
    static constexpr size_t kHostMaxBytes = 256;
    static constexpr size_t kUserMaxBytes = 256;
    static constexpr size_t kTitleMaxBytes = 1024;

    CLpr();

    // Removes the spool directories that jobs of a process killed mid-way left behind.
    static void SweepSpoolFiles();
    ~CLpr() override;

    LPCWSTR GetClassDescription() const override { return WSTR("CLpr"); }
    BOOL StartDoc(CNetPort* port) override;
    BOOL EndDoc(CNetPort* port) override;
    BOOL Write(CNetPort* port, LPBYTE data, DWORD size, LPDWORD written) override;
    BOOL ReadConfig(CNetPort* port) override;
    BOOL WriteConfig(CNetPort* port) override;
    void SetDefaults() override;
    BOOL Connect(CNetPort* port) override;
    BOOL Close() override;

    SOCKET m_socket;
    DWORD m_portNumber;      // the low 16 bits are used
    DWORD m_localPortFirst;  // used as signed 16-bit numbers
    DWORD m_localPortLast;
    ULONG m_address;  // network byte order
    DWORD m_doubleSpool;
    DWORD m_readChunk;
    DWORD m_timeOut;  // milliseconds: each send, and each wait for an acknowledgement
    WCHAR m_spoolFileName[MAX_PATH + 1];
    HANDLE m_spoolFile;
    char m_queueName[portcfg::kQueueNameBytes];
    char* m_jobHost;
    char* m_jobUser;
    char* m_jobTitle;
    char m_mailAlert[portcfg::kMailAlertBytes];

  private:
    enum class Outcome {
        kDelivered,     // the daemon acknowledged the data file, or provably holds it
        kNotDelivered,  // provably not: the job is printed again
        kCannotTell,    // no final answer and no acknowledgement information: sent
        kCancelled,     // the user deleted or restarted the job
    };

    SOCKET OpenSocket();
    // One pass over the local ports from `start` (GetTickCount) on: 0 once connected,
    // WSAEADDRINUSE when every port is taken, else the error that ends the attempt.
    DWORD ConnectFromLocalPort(DWORD start);
    // The connect from the bound socket, its wait bounded by what is left of TimeOut.
    DWORD ConnectBounded(const sockaddr_in& destination, DWORD start);

    // The conversation, step by step; each returns 0 or the error that ends it.
    Outcome Converse(CNetPort* port, DWORD* error);
    DWORD AwaitSocket(CNetPort* port, bool write, DWORD budgetMs);
    // Sends all of the buffer, waiting while the printer does not take data.
    DWORD SendAll(CNetPort* port, const char* buffer, int length);
    // Optionally sends the 0x00 that ends a file, then reads the printer's one-byte answer.
    DWORD ReadAck(CNetPort* port, BOOL sendZeroFirst);
    DWORD SendCommand(CNetPort* port, const char* command, int length);
    DWORD SendData(CNetPort* port, LONGLONG size);
    Outcome JudgeUnanswered(DWORD error);
    // The control file, built into the buffer; its length, or -1 without host or title.
    int BuildControlFile(char* buffer, size_t size, DWORD jobId);
    void ReleaseSpoolFile();

    DWORD m_spoolError;    // the error of a failed write to the spool file: the job is never sent
    ULONG64 m_sent;        // bytes sent on the connection
    DWORD m_lastProgress;  // when the printer last took data (GetTickCount)
};
