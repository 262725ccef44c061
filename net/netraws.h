// CRawSocket: carries a job to the printer as one plain TCP stream (port 9100 by default). It
// connects when the job starts, streams every block the spooler writes through overlapped
// sends with one send in flight at a time, and at the end of the job half-closes the
// connection and waits for the printer to close its side: only then has the printer read the
// whole job.
#pragma once

#include "net/netproto.h"
#include "platform/winsock.h"

class CRawSocket : public CNetProtocol {
  public:
    static constexpr DWORD kChunkSize = 1024;         // largest piece given to one send
    static constexpr DWORD kDefaultsChunkSize = 512;  // what SetDefaults chooses
    static constexpr int kConnectPasses = 10;         // waits for the connection ...
    static constexpr long kConnectPassSeconds = 5;    // ... of this many seconds each

    CRawSocket();
    ~CRawSocket() override;

    LPCWSTR GetClassDescription() const override { return WSTR("CRawSocket"); }
    BOOL StartDoc(CNetPort* port) override;
    BOOL EndDoc(CNetPort* port) override;
    BOOL Write(CNetPort* port, LPBYTE data, DWORD size, LPDWORD written) override;
    BOOL ReadConfig(CNetPort* port) override;
    BOOL WriteConfig(CNetPort* port) override;
    void SetDefaults() override;
    BOOL Connect(CNetPort* port) override;
    BOOL Close() override;

    SOCKET m_socket;
    DWORD m_portNumber;  // the low 16 bits are used
    ULONG m_address;     // network byte order
    DWORD m_timeOut;     // milliseconds, for each Write call and for a socket send
    DWORD m_startTick;
    DWORD m_chunkSize;

  private:
    // Waits for the send in flight up to `milliseconds`; TRUE when it finished.
    BOOL WaitForSend(DWORD milliseconds);
    // Closes the connection after a failure, which the job's end reports.
    void Fail(DWORD error);
    // The end of a job, step by step; each returns 0 or the error that fails the job.
    DWORD FinishLastSend();
    DWORD AwaitPrinterClose();

    LPBYTE m_chunk;
    DWORD m_failure;  // the error that closed the connection during the job, else 0
    bool m_inFlight;  // an overlapped send of the chunk has not been collected yet
    WSABUF m_sendBuf;
    WSAOVERLAPPED m_overlapped;
};
