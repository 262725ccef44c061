// CStatusPoller: the printers' state while their ports print. One thread for the whole
// monitor asks every port in a job whose "SnmpEnabled" is not 0 for hrDeviceStatus,
// hrPrinterStatus and hrPrinterDetectedErrorState in one Get, every kIntervalMs, all from one
// UDP socket: each printer once per interval, and once more when it has not answered within
// kAnswerWaitMs. A condition (paper out, a jam, an open door, ...) is taken as set after
// kConfirmations answers in a row show it and as gone after as many without it; an answer
// that differs from what the port shows is confirmed after kConfirmMs, not a whole interval
// later, so that a condition of a few seconds is seen and its end told soon. The most
// severe one is the port's status, which the spooler learns through SetPortW at level 3 and
// the job's status text (CPort::PrinterCondition). A printer that does not answer is never
// taken to be offline for that: it only says so in the job's status text.
//
// The poller keeps copies of what it asks with, never touches a port and holds no lock while
// it waits for the network; the ports ask it for their state under its own lock only.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"

class CNetPort;

class CStatusPoller {
  public:
    static constexpr DWORD kIntervalMs = 5000;
    static constexpr DWORD kAnswerWaitMs = 2000;
    static constexpr int kAttempts = 2;       // the request and one retry
    static constexpr int kConfirmations = 2;  // answers in a row that set or clear a condition
    static constexpr DWORD kConfirmMs = 500;
    static constexpr DWORD kStopCheckMs = 20;  // the longest wait before the poller sees its end

    // What the port's printer shows now.
    struct State {
        DWORD status = 0;         // PORT_STATUS_..., 0 for none
        DWORD severity = 0;       // PORT_STATUS_TYPE_...
        UINT text = 0;            // the condition's string in the monitor's string table
        bool unanswered = false;  // the last round got no answer from its agent
    };

    CStatusPoller() = default;
    ~CStatusPoller();
    CStatusPoller(const CStatusPoller&) = delete;
    CStatusPoller& operator=(const CStatusPoller&) = delete;

    // The port starts a job: its printer is asked from the next round on. `name` is the port's
    // name (for SetPortW), `address` the printer's (network order).
    void Join(const CNetPort* port, LPCWSTR name, ULONG address, const char* community,
              DWORD deviceIndex);
    // The job ended: the printer is asked no more, and a status the port showed is cleared.
    void Leave(const CNetPort* port);
    State StateOf(const CNetPort* port);

  private:
    struct Member;
    void Run();
    void Round(SOCKET socket, ULONGLONG now);
    // Sends the Get of every member that has no answer yet in this round; false when there
    // was none to send.
    bool SendRequests(SOCKET socket);
    // Reads answers until every member answered or the wait is over.
    void CollectAnswers(SOCKET socket, DWORD waitMs);
    void Answer(const std::uint8_t* datagram, size_t length, ULONG from);
    // Takes one answer's conditions into the member's state.
    static void Confirm(Member* member, DWORD observed);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Member*> m_members;
    std::thread m_thread;
    bool m_running = false;
    bool m_stopping = false;
    std::int32_t m_nextRequestId = 1;
};
