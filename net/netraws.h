// CRawSocket: carries a job to the printer as one plain TCP stream (port 9100 by default). It
// connects when the job starts, streams every block the spooler writes through overlapped
// sends with one send in flight at a time, and at the end of the job half-closes the
// connection and waits for the printer's evidence that it holds the whole job: its TCP
// acknowledged every byte, or it closed its side in order.
#pragma once

#include "net/netproto.h"
#include "platform/winsock.h"

class CRawSocket : public CNetProtocol {
  public:
    static constexpr DWORD kChunkSize = 1024;         // largest piece given to one send
    static constexpr DWORD kDefaultsChunkSize = 512;  // what SetDefaults chooses
    static constexpr int kConnectPasses = 10;         // waits for the connection ...
    static constexpr long kConnectPassSeconds = 5;    // ... of this many seconds each
    // A send that a closed socket did not abort is waited for this long before its buffer is
    // given up for lost (a Winsock without CancelIoEx may leave it pending).
    static constexpr DWORD kAbandonedSendWaitMs = 5000;

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
    DWORD m_chunkSize;

  private:
    // The one send in flight: its OVERLAPPED and the piece it sends from, in one block that
    // outlives the object when a send can never be collected.
    struct SendBlock {
        WSAOVERLAPPED overlapped;
        WSABUF buffer;
        BYTE data[1];
    };

    // --- Write, step by step ---
    // Collects the send in flight, waiting up to what is left of `budgetMs` from `startTick`
    // (INFINITE: as long as the connection lives). 0; ERROR_TIMEOUT with the send still in
    // flight; ERROR_PRINT_CANCELLED when the user deleted the job (the connection is reset);
    // or the send's error (the connection is closed).
    DWORD CompletePendingSend(CNetPort* port, DWORD startTick, DWORD budgetMs);
    // Hands one piece of at most the chunk's size to an overlapped send: 0 with *pending
    // telling whether it went at once, or the error (the connection is closed).
    DWORD SendPiece(const BYTE* data, DWORD piece, bool* pending);
    // Closes the connection after a failure, which the job's end reports.
    void Fail(DWORD error);
    // Resets the connection of a job the user deleted, so that the printer drops what it has.
    void Abort();

    // --- EndDoc, step by step ---
    enum class Outcome {
        kDelivered,     // the printer holds every byte
        kNotDelivered,  // provably not: the job is printed again
        kCannotTell,    // no acknowledgement information: counted as sent
        kCancelled,     // the user deleted or restarted the job
    };
    Outcome FinishJob(CNetPort* port, DWORD* error);
    // After the half-close: the printer's acknowledgement of every byte, its orderly close, or
    // the end of the connection, whichever tells first.
    Outcome AwaitPrinterEvidence(CNetPort* port, DWORD* error);
    // A connection that ended (reset, error) after every send had completed.
    Outcome JudgeEndedConnection(DWORD error);
    // How far the bytes handed to the connection have gone, as the printer's TCP shows it.
    enum class Progress {
        kAcknowledged,  // every byte acknowledged
        kTransmitted,   // every byte sent at least once, not every one acknowledged
        kPartly,        // some bytes never left
        kUnknown,       // the system cannot tell
    };
    Progress QueryProgress();
    // Reads and discards what the printer sends until it closes, up to TimeOut: closing with
    // its data unread would reset the connection, and the printer might drop the job.
    void DrainUntilClose(bool peerClosed);

    SendBlock* m_send;
    bool m_inFlight;       // an overlapped send has not been collected yet
    DWORD m_failure;       // the error that closed the connection during the job, else 0
    ULONG64 m_handed;      // bytes handed to the connection's sends
    DWORD m_lastProgress;  // when the printer last took data (GetTickCount)
};
