// The SNMPv1 manager: one session to one agent, Get and GetNext requests answered within a
// time-out, resent a number of times. It stands where the Windows SNMP management API stood
// (SnmpMgrOpen / SnmpMgrRequest / SnmpMgrClose) and keeps its rules: the agent is a dotted
// address or a host name, a failed call leaves a Win32 or Winsock code as the thread's last
// error, and an agent's error-status is handed back, not treated as a failure.
//
// Datagrams go through Windows Sockets (platform/winsock.h), so this builds for Windows and for
// the Linux stand-ins alike. Nothing here is process-wide: every session owns its socket, its
// request ids and its settings, and starts and stops Windows Sockets for itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winsock.h"
#include "snmp/message.h"

namespace snmp {

// What the installer asks of every session: 6000 ms per attempt, three more attempts.
constexpr DWORD kDefaultTimeoutMs = 6000;
constexpr int kDefaultRetries = 3;
constexpr USHORT kAgentPort = 161;  // SNMP, RFC 1157

// Last-error codes of the management API, for the failures that are not socket errors.
constexpr DWORD kErrorTimeout = 40;         // no answer after every attempt (SNMP_MGMTAPI_TIMEOUT)
constexpr DWORD kErrorInvalidSession = 47;  // request on a session that is not open
constexpr DWORD kErrorInvalidBuffer = 48;   // the request could not be encoded

// The largest number of attempts a session makes, however many retries it is given; a bound
// so that a caller's mistake cannot block a thread for good.
constexpr int kMaxRetries = 16;

// What ends a session's requests early, from outside the session: a flag that another thread
// may raise (the request then fails with ERROR_CANCELLED) and a time (LateGetTickCount64) after
// which no request waits any longer (it fails with kErrorTimeout). Either ends the request
// without further attempts, and a request made after it fails at once without sending. A wait
// looks at the flag at least every kStopPollMs.
struct StopSignal {
    const std::atomic<bool>* cancelled = nullptr;
    ULONGLONG deadline = 0;  // 0: none
};
constexpr DWORD kStopPollMs = 50;

class Session {
  public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts Windows Sockets (2.2) for this session, finds the agent's address (dotted text,
    // or a host name resolved to its first address) and opens a UDP socket. False with the
    // last error set (WSAHOST_NOT_FOUND, a socket error) when that fails; the session is then
    // closed again.
    bool Open(const char* agent, std::string_view community, DWORD timeoutMs = kDefaultTimeoutMs,
              int retries = kDefaultRetries, USHORT port = kAgentPort);

    // Sends one GetRequest or GetNextRequest for the names of bindings (the values sent are
    // NULL) and waits for the agent's GetResponse: timeoutMs per attempt, then the same
    // request again with the same request id, retries times. An answer counts when it comes
    // from the agent's address and port, decodes, carries this request's id and community and
    // no more bindings than were asked for; anything else is dropped and the wait goes on.
    //
    // On an answer, its bindings replace bindings (names and values), in order; a binding it
    // lacks keeps its name and a NULL value, so one odd answer leaves only those fields unset.
    // Its error fields go to errorStatus / errorIndex when given; the result is true even for
    // an error-status.
    // False with last error kErrorTimeout when no answer came, or the Winsock code of a send
    // that failed; bindings are then unchanged.
    bool Request(PduType type, std::vector<VarBind>& bindings, std::int32_t* errorStatus = nullptr,
                 std::int32_t* errorIndex = nullptr);

    // Closes the socket and stops this session's use of Windows Sockets. False with the
    // Winsock code when closing the socket failed; the session is closed either way.
    bool Close();

    bool IsOpen() const { return socket_ != INVALID_SOCKET; }

    // From now on the session's requests also end when `stop` says so.
    void SetStop(const StopSignal& stop) { stop_ = stop; }

  private:
    enum class Wait { kAnswered, kTimedOut, kStopped };
    // Waits up to timeoutMs for the answer to requestId, which replaces bindings.
    Wait AwaitAnswer(std::int32_t requestId, std::vector<VarBind>& bindings,
                     std::int32_t* errorStatus, std::int32_t* errorIndex);
    // Whether the stop signal has ended every request; sets the last error when it has.
    bool Stopped() const;

    SOCKET socket_ = INVALID_SOCKET;
    bool started_ = false;  // this session holds one WSAStartup
    sockaddr_in agent_ = {};
    std::string community_;
    DWORD timeoutMs_ = kDefaultTimeoutMs;
    int retries_ = kDefaultRetries;
    std::int32_t nextRequestId_ = 1;
    std::vector<char> buffer_;  // receive buffer: the largest datagram and one octet more
    StopSignal stop_;
};

}  // namespace snmp
