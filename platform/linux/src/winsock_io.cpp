// Overlapped sends. A send that cannot finish at once goes on in the background from the
// caller's buffer: one I/O thread per process waits on every socket with a pending send
// (epoll), sends what the socket takes, and signals the operation's event when all of it went
// out or the send failed. Never a thread per send.
//
// The result of an operation lives in its OVERLAPPED (Internal: status, InternalHigh: bytes),
// written and read under the engine's lock.
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/linux/src/handles.h"
#include "platform/linux/src/posix_shim.h"
#include "platform/linux/src/winsock.h"

namespace {

constexpr ULONG_PTR kStatusPending = 0x103;  // STATUS_PENDING

struct Operation {
    LPWSAOVERLAPPED overlapped;
    const char* data;
    size_t length;
    size_t sent;
};

class IoEngine {
  public:
    static IoEngine& Instance() {
        static IoEngine* engine = new IoEngine;  // lives as long as the process
        return *engine;
    }

    // Starts an overlapped send: what the socket takes at once goes now (unless an earlier
    // send of the socket is still queued), the rest is queued for the I/O thread. Returns 0
    // when all of it went out at once (the operation is then complete), WSA_IO_PENDING, or
    // the error of a send that failed at once.
    DWORD Start(int fd, Operation operation) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = pending_.find(fd);
        if (found == pending_.end() || found->second.empty()) {
            long n = px::Send(fd, operation.data, operation.length, /*dontWait=*/true);
            if (n < 0 && n != -EAGAIN && n != -EWOULDBLOCK) {
                return NvWsaFromErrno(static_cast<int>(-n));
            }
            operation.sent = n > 0 ? static_cast<size_t>(n) : 0;
            if (operation.sent == operation.length) {
                CompleteLocked(operation, ERROR_SUCCESS);
                return ERROR_SUCCESS;
            }
        }
        if (!StartLocked()) {
            return WSAENOBUFS;
        }
        operation.overlapped->Internal = kStatusPending;
        operation.overlapped->InternalHigh = operation.sent;
        auto& queue = pending_[fd];
        queue.push_back(operation);
        if (queue.size() == 1) {
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.fd = fd;
            if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0 && errno != EEXIST) {
                int error = errno;
                queue.pop_back();
                pending_.erase(fd);
                return NvWsaFromErrno(error);
            }
        }
        return WSA_IO_PENDING;
    }

    // Aborts the pending sends of a socket, the one that `which` names or all of them;
    // returns how many.
    size_t Cancel(int fd, LPWSAOVERLAPPED which) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pending_.find(fd);
        if (it == pending_.end()) {
            return 0;
        }
        auto& queue = it->second;
        size_t cancelled = 0;
        for (auto op = queue.begin(); op != queue.end();) {
            if (which == nullptr || op->overlapped == which) {
                CompleteLocked(*op, WSA_OPERATION_ABORTED);
                op = queue.erase(op);
                ++cancelled;
            } else {
                ++op;
            }
        }
        if (queue.empty()) {
            epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
            pending_.erase(it);
        }
        return cancelled;
    }

    std::mutex& Mutex() { return mutex_; }

    // Finishes an operation: its result in the OVERLAPPED, then its event.
    static void CompleteLocked(const Operation& operation, DWORD status) {
        operation.overlapped->Internal = status;
        operation.overlapped->InternalHigh = operation.sent;
        if (operation.overlapped->hEvent != nullptr) {
            SetEvent(operation.overlapped->hEvent);
        }
    }

  private:
    bool StartLocked() {
        if (epoll_ >= 0) {
            return true;
        }
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) {
            return false;
        }
        std::thread([this] { Run(); }).detach();
        return true;
    }

    void Run() {
        epoll_event events[64];
        for (;;) {
            int n = epoll_wait(epoll_, events, 64, -1);
            if (n < 0) {
                continue;  // EINTR
            }
            std::lock_guard<std::mutex> lock(mutex_);
            for (int i = 0; i < n; ++i) {
                Progress(events[i].data.fd);
            }
        }
    }

    // Sends what the socket takes now; completes the operations that are done.
    void Progress(int fd) {
        auto it = pending_.find(fd);
        if (it == pending_.end()) {
            return;
        }
        auto& queue = it->second;
        while (!queue.empty()) {
            Operation& operation = queue.front();
            long n = px::Send(fd, operation.data + operation.sent,
                              operation.length - operation.sent, /*dontWait=*/true);
            if (n == -EAGAIN || n == -EWOULDBLOCK || n == -EINTR) {
                return;  // still full: wait for the next readiness
            }
            if (n < 0) {
                CompleteLocked(operation, NvWsaFromErrno(static_cast<int>(-n)));
                queue.pop_front();
                continue;
            }
            operation.sent += static_cast<size_t>(n);
            if (operation.sent < operation.length) {
                return;
            }
            CompleteLocked(operation, ERROR_SUCCESS);
            queue.pop_front();
        }
        epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        pending_.erase(it);
    }

    std::mutex mutex_;
    int epoll_ = -1;
    std::unordered_map<int, std::deque<Operation>> pending_;
};

}  // namespace

void NvIoCancel(SOCKET s) {
    IoEngine::Instance().Cancel(static_cast<int>(s), nullptr);
}

// A SOCKET is a file handle on Windows, and sockets are the only handles with overlapped I/O
// here: the handle is a socket cast to HANDLE. Its pending send (the one `overlapped` names,
// or all) completes with ERROR_OPERATION_ABORTED; with none pending, ERROR_NOT_FOUND.
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    auto s = reinterpret_cast<SOCKET>(file);
    if (!NvIsSocket(s)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (IoEngine::Instance().Cancel(static_cast<int>(s), overlapped) == 0) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

WSAEVENT WSACreateEvent() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        SetLastError(WSA_NOT_ENOUGH_MEMORY);
    }
    return event;
}

BOOL WSACloseEvent(WSAEVENT event) {
    if (!CloseHandle(event)) {
        SetLastError(WSA_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WSAResetEvent(WSAEVENT event) {
    return ResetEvent(event);
}

BOOL WSASetEvent(WSAEVENT event) {
    return SetEvent(event);
}

// Only one buffer per call is supported (all this project sends); flags are ignored, since
// MSG_PARTIAL has no meaning for TCP here. Without an OVERLAPPED the send blocks as send() does.
int WSASend(SOCKET s, LPWSABUF buffers, DWORD bufferCount, LPDWORD bytesSent, DWORD,
            LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completionRoutine) {
    if (!NvIsSocket(s)) {
        return NvWsaFail(WSAENOTSOCK);
    }
    DWORD fault = 0;
    if (NvFaultHit("WSASend", &fault)) {
        return NvWsaFail(fault);
    }
    if (buffers == nullptr || bufferCount != 1 || completionRoutine != nullptr ||
        (buffers->buf == nullptr && buffers->len > 0)) {
        return NvWsaFail(WSAEINVAL);
    }
    int fd = static_cast<int>(s);
    if (overlapped == nullptr) {
        int n = send(s, buffers->buf, static_cast<int>(buffers->len), 0);
        if (n == SOCKET_ERROR) {
            return SOCKET_ERROR;
        }
        if (bytesSent != nullptr) {
            *bytesSent = static_cast<DWORD>(n);
        }
        return 0;
    }
    if (overlapped->hEvent != nullptr) {
        ResetEvent(overlapped->hEvent);
    }
    DWORD result =
        IoEngine::Instance().Start(fd, Operation{overlapped, buffers->buf, buffers->len, 0});
    if (result == ERROR_SUCCESS) {
        // Finished at once: the result is ready and the event is signalled as well.
        if (bytesSent != nullptr) {
            *bytesSent = buffers->len;
        }
        return 0;
    }
    return NvWsaFail(result);
}

BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED overlapped, LPDWORD transferred, BOOL wait,
                            LPDWORD flags) {
    if (!NvIsSocket(s)) {
        SetLastError(WSAENOTSOCK);
        return FALSE;
    }
    if (overlapped == nullptr || transferred == nullptr) {
        SetLastError(WSAEFAULT);
        return FALSE;
    }
    std::mutex& mutex = IoEngine::Instance().Mutex();
    std::unique_lock<std::mutex> lock(mutex);
    if (overlapped->Internal == kStatusPending) {
        if (!wait || overlapped->hEvent == nullptr) {
            SetLastError(WSA_IO_INCOMPLETE);
            return FALSE;
        }
        lock.unlock();
        WaitForSingleObject(overlapped->hEvent, INFINITE);
        lock.lock();
    }
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (flags != nullptr) {
        *flags = 0;
    }
    DWORD status = static_cast<DWORD>(overlapped->Internal);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return FALSE;
    }
    return TRUE;
}
