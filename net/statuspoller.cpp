#include "net/statuspoller.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "monitor/util.h"
#include "platform/late_api.h"
#include "platform/test_switch.h"
#include "resources/nvtcpmon_ids.h"
#include "snmp/message.h"
#include "snmp/printer_status.h"

namespace {

using snmp::PrinterCondition;

// The port statuses that a printer's answer can show, in order of severity: the first one set
// is the port's status.
struct PortCondition {
    DWORD status;
    DWORD severity;
    UINT text;
};
constexpr PortCondition kPortConditions[] = {
    {PORT_STATUS_OFFLINE, PORT_STATUS_TYPE_ERROR, IDS_CONDITION_OFFLINE},
    {PORT_STATUS_PAPER_JAM, PORT_STATUS_TYPE_ERROR, IDS_CONDITION_PAPER_JAM},
    {PORT_STATUS_PAPER_OUT, PORT_STATUS_TYPE_ERROR, IDS_CONDITION_PAPER_OUT},
    {PORT_STATUS_DOOR_OPEN, PORT_STATUS_TYPE_ERROR, IDS_CONDITION_DOOR_OPEN},
    {PORT_STATUS_NO_TONER, PORT_STATUS_TYPE_ERROR, IDS_CONDITION_NO_TONER},
    {PORT_STATUS_OUTPUT_BIN_FULL, PORT_STATUS_TYPE_ERROR, IDS_CONDITION_OUTPUT_BIN_FULL},
    {PORT_STATUS_PAPER_PROBLEM, PORT_STATUS_TYPE_ERROR, IDS_CONDITION_PAPER_PROBLEM},
    {PORT_STATUS_USER_INTERVENTION, PORT_STATUS_TYPE_WARNING, IDS_CONDITION_USER_INTERVENTION},
    {PORT_STATUS_TONER_LOW, PORT_STATUS_TYPE_WARNING, IDS_CONDITION_TONER_LOW},
    {PORT_STATUS_WARMING_UP, PORT_STATUS_TYPE_INFO, IDS_CONDITION_WARMING_UP},
};
constexpr size_t kPortConditionCount = sizeof kPortConditions / sizeof kPortConditions[0];

// The port conditions an answer shows, as bits in the order of kPortConditions. A printer is
// offline only when it says so and its device is down as well.
DWORD Observed(const snmp::PrinterStatus& answer) {
    const bool shown[kPortConditionCount] = {
        answer.Has(PrinterCondition::Offline) &&
            answer.deviceStatus == snmp::printer_mib::kDeviceDown,
        answer.Has(PrinterCondition::Jammed),
        answer.Has(PrinterCondition::NoPaper),
        answer.Has(PrinterCondition::DoorOpen),
        answer.Has(PrinterCondition::NoToner),
        answer.Has(PrinterCondition::OutputFull),
        answer.Has(PrinterCondition::InputTrayMissing) ||
            answer.Has(PrinterCondition::OutputTrayMissing) ||
            answer.Has(PrinterCondition::InputTrayEmpty),
        answer.Has(PrinterCondition::ServiceRequested),
        answer.Has(PrinterCondition::LowToner),
        answer.printerStatus == snmp::printer_mib::kPrinterWarmup,
    };
    DWORD bits = 0;
    for (size_t i = 0; i < kPortConditionCount; ++i) {
        bits |= shown[i] ? DWORD{1} << i : 0;
    }
    return bits;
}

using WideName = std::basic_string<WCHAR>;

void SetPortStatus(const WideName& name, DWORD status, DWORD severity) {
    WideName copy = name;
    PORT_INFO_3W info{};
    info.dwStatus = status;
    info.dwSeverity = status != 0 ? severity : 0;
    if (!SetPortW(nullptr, copy.data(), 3, reinterpret_cast<LPBYTE>(&info))) {
        DbgPrint("CStatusPoller: SetPortW( \"%ws\", %d ) failed, error %d\n", copy.c_str(),
                 static_cast<int>(status), static_cast<int>(GetLastError()));
    }
}

}  // namespace

struct CStatusPoller::Member {
    const CNetPort* port;
    WideName name;
    ULONG address;
    std::string community;
    DWORD deviceIndex;
    std::int32_t requestId = 0;
    ULONGLONG nextAsk = 0;               // when it is asked next (LateGetTickCount64)
    bool asked = false;                  // in this round
    bool answered = false;               // in this round
    DWORD conditions = 0;                // the confirmed ones (bits of kPortConditions)
    int runs[kPortConditionCount] = {};  // answers in a row that disagree with `conditions`
    State state;                         // what the port shows
    DWORD reported = 0;                  // the status last given to SetPortW
};

CStatusPoller::~CStatusPoller() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    for (Member* member : m_members) {
        delete member;
    }
}

void CStatusPoller::Join(const CNetPort* port, LPCWSTR name, ULONG address, const char* community,
                         DWORD deviceIndex) {
    auto* member = new (std::nothrow) Member{port, name, address, community, deviceIndex};
    if (member == nullptr) {
        return;  // the job prints all the same, without the printer's state
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_members.push_back(member);
    if (!m_running && !m_stopping) {
        m_running = true;
        m_thread = std::thread([this] { Run(); });
    }
    m_changed.notify_all();
}

void CStatusPoller::Leave(const CNetPort* port) {
    Member* gone = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_members.begin(), m_members.end(),
                               [port](const Member* m) { return m->port == port; });
        if (it == m_members.end()) {
            return;
        }
        gone = *it;
        m_members.erase(it);
    }
    if (gone->reported != 0) {
        SetPortStatus(gone->name, 0, 0);  // nobody watches the printer between jobs
    }
    delete gone;
}

CStatusPoller::State CStatusPoller::StateOf(const CNetPort* port) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Member* member : m_members) {
        if (member->port == port) {
            return member->state;
        }
    }
    return State{};
}

// The test switch status-interval-ms shortens the interval for tests.
static DWORD IntervalMs() {
    return TestSwitch("status-interval-ms", CStatusPoller::kIntervalMs);
}

// A round whenever a printer is due, while a port prints; the thread ends with the poller.
void CStatusPoller::Run() {
    SOCKET socket = INVALID_SOCKET;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_members.empty()) {
            m_changed.wait(lock);
            continue;
        }
        ULONGLONG now = LateGetTickCount64();
        ULONGLONG next = ~0ULL;
        for (const Member* member : m_members) {
            next = std::min(next, member->nextAsk);
        }
        if (next > now) {
            m_changed.wait_for(lock, std::chrono::milliseconds(next - now));
            continue;
        }
        lock.unlock();
        if (socket == INVALID_SOCKET) {
            socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        }
        if (socket != INVALID_SOCKET) {
            Round(socket, now);
        } else {
            Sleep(kConfirmMs);
        }
        lock.lock();
    }
    lock.unlock();
    if (socket != INVALID_SOCKET) {
        closesocket(socket);
    }
}

// The members due at `now` are asked (and asked again once when silent); each is next due an
// interval from now, or kConfirmMs from now when its answer wants confirming.
void CStatusPoller::Round(SOCKET socket, ULONGLONG now) {
    const DWORD interval = IntervalMs();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Member* member : m_members) {
            member->asked = member->nextAsk <= now;
            member->answered = false;
            if (member->asked) {
                member->requestId = m_nextRequestId;
                m_nextRequestId = m_nextRequestId == 0x7FFFFFFF ? 1 : m_nextRequestId + 1;
                member->nextAsk = now + interval;
            }
        }
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!SendRequests(socket)) {
            break;  // every printer asked has answered
        }
        CollectAnswers(socket, kAnswerWaitMs);
    }
    std::vector<std::pair<WideName, State>> reports;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const ULONGLONG end = LateGetTickCount64();
        for (Member* member : m_members) {
            if (!member->asked) {
                continue;
            }
            if (!member->answered && !member->state.unanswered) {
                DbgPrint("CStatusPoller: no status answer from the printer of \"%ws\"\n",
                         member->name.c_str());
            }
            member->state.unanswered = !member->answered;
            for (int run : member->runs) {
                if (run > 0) {
                    member->nextAsk = end + kConfirmMs;
                }
            }
            if (member->state.status != member->reported) {
                member->reported = member->state.status;
                reports.emplace_back(member->name, member->state);
            }
        }
    }
    for (const auto& [name, state] : reports) {
        SetPortStatus(name, state.status, state.severity);
    }
}

// The request of each member without an answer: its own request id, to port 161 of its
// printer. Returns whether anything was sent.
bool CStatusPoller::SendRequests(SOCKET socket) {
    struct Request {
        ULONG address;
        snmp::Bytes bytes;
    };
    std::vector<Request> requests;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Member* member : m_members) {
            if (!member->asked || member->answered) {
                continue;
            }
            std::vector<snmp::Oid> names = snmp::PrinterStatusNames(member->deviceIndex);
            auto bytes = snmp::EncodeRequest(snmp::PduType::GetRequest, member->community,
                                             member->requestId, names);
            if (bytes) {
                requests.push_back({member->address, std::move(*bytes)});
            }
        }
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(snmp::StatusAgentPort());
    for (const Request& request : requests) {
        to.sin_addr.s_addr = request.address;
        sendto(socket, reinterpret_cast<const char*>(request.bytes.data()),
               static_cast<int>(request.bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
    return !requests.empty();
}

void CStatusPoller::CollectAnswers(SOCKET socket, DWORD waitMs) {
    const ULONGLONG deadline = LateGetTickCount64() + waitMs;
    std::vector<std::uint8_t> datagram(snmp::kMaxMessageSize);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bool waiting = false;
            for (const Member* member : m_members) {
                waiting = waiting || (member->asked && !member->answered);
            }
            if (!waiting || m_stopping) {
                return;
            }
        }
        ULONGLONG now = LateGetTickCount64();
        if (now >= deadline) {
            return;
        }
        // In slices, so that the poller's end is not held up by a silent printer.
        ULONGLONG left = std::min<ULONGLONG>(deadline - now, kStopCheckMs);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket, &readable);
        timeval wait = {static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) {
            continue;
        }
        sockaddr_in from{};
        int fromLength = sizeof from;
        int n = recvfrom(socket, reinterpret_cast<char*>(datagram.data()),
                         static_cast<int>(datagram.size()), 0, reinterpret_cast<sockaddr*>(&from),
                         &fromLength);
        if (n > 0) {
            Answer(datagram.data(), static_cast<size_t>(n), from.sin_addr.s_addr);
        }
    }
}

// An answer counts when it comes from the member's printer with its request id and community.
void CStatusPoller::Answer(const std::uint8_t* datagram, size_t length, ULONG from) {
    auto message = snmp::DecodeResponse(std::span<const std::uint8_t>(datagram, length));
    if (!message) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Member* member : m_members) {
        if (!member->asked || member->answered || member->address != from ||
            member->requestId != message->pdu.requestId ||
            member->community != message->community) {
            continue;
        }
        member->answered = true;
        snmp::PrinterStatus answer = snmp::ReadPrinterStatus(
            member->deviceIndex, message->pdu.varbinds, message->pdu.errorStatus);
        if (answer.errorStatus == snmp::kNoError) {
            Confirm(member, Observed(answer));
        }
        return;
    }
}

// A condition changes after kConfirmations answers in a row disagree with what the port
// shows, so that one odd answer changes nothing.
void CStatusPoller::Confirm(Member* member, DWORD observed) {
    for (size_t i = 0; i < kPortConditionCount; ++i) {
        const DWORD bit = DWORD{1} << i;
        if (((observed ^ member->conditions) & bit) == 0) {
            member->runs[i] = 0;
        } else if (++member->runs[i] >= kConfirmations) {
            member->conditions ^= bit;
            member->runs[i] = 0;
        }
    }
    State state;
    state.unanswered = false;
    for (size_t i = 0; i < kPortConditionCount; ++i) {
        if ((member->conditions & (DWORD{1} << i)) != 0) {
            state.status = kPortConditions[i].status;
            state.severity = kPortConditions[i].severity;
            state.text = kPortConditions[i].text;
            break;
        }
    }
    member->state = state;
}
