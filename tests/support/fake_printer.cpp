#include "tests/support/fake_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace nvtest {

constexpr size_t kSlowReadBytes = 16 * 1024;

FakeRawPrinter::FakeRawPrinter(Options options) : options_(std::move(options)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (options_.receiveBuffer > 0) {
        // Accepted connections inherit it, so a stalled printer holds little data.
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &options_.receiveBuffer,
                   sizeof options_.receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("fake printer: bind failed: " + std::string(strerror(errno)));
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (options_.listen) {
        listen(listener_, 64);
        acceptor_ = std::thread([this] { Accept(); });
    }
}

FakeRawPrinter::~FakeRawPrinter() {
    stopping_ = true;
    Resume();
    shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    for (auto& server : servers_) {
        server.join();
    }
    close(listener_);
}

void FakeRawPrinter::Accept() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ++connections_;
        servers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void FakeRawPrinter::Serve(int fd) {
    std::string data;
    char buffer[65536];
    const long long resetAt = options_.resetAfter;
    if (!options_.status.empty()) {
        send(fd, options_.status.data(), options_.status.size(), MSG_NOSIGNAL);
    }
    bool ended = false;  // the sender closed its side
    for (;;) {
        long long stallAt = -1;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            stallAt = resumed_ ? -1 : options_.stallAfter;
            if (stallAt >= 0 && static_cast<long long>(data.size()) >= stallAt) {
                stalled_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return resumed_ || stopping_.load(); });
                if (stopping_) {
                    break;
                }
                continue;
            }
        }
        size_t want = options_.readPauseMs > 0 ? kSlowReadBytes : sizeof buffer;
        if (stallAt >= 0) {
            want = std::min<size_t>(want, static_cast<size_t>(stallAt) - data.size());
        }
        if (resetAt >= 0) {
            want = std::min<size_t>(want, static_cast<size_t>(resetAt) - data.size());
            if (want == 0) {
                linger reset{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                break;
            }
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) == 0) {
            if (stopping_) {
                break;
            }
            continue;
        }
        ssize_t n = recv(fd, buffer, want, 0);
        if (n <= 0) {
            ended = n == 0;
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
        if (options_.readPauseMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.readPauseMs));
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(data));
    changed_.notify_all();
    if (ended && options_.holdOpen) {
        changed_.wait(lock, [this] { return stopping_.load(); });
    }
    lock.unlock();
    close(fd);
}

void FakeRawPrinter::Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    resumed_ = true;
    changed_.notify_all();
}

bool FakeRawPrinter::WaitForJobs(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return jobs_.size() >= count; });
}

std::vector<std::string> FakeRawPrinter::Jobs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_;
}

std::string UniqueLoopbackAddress() {
    static std::atomic<unsigned> counter{0};
    unsigned n = (static_cast<unsigned>(getpid()) * 64 + counter++) % (250 * 250);
    return "127." + std::to_string(1 + n / 250 % 250) + "." + std::to_string(n % 250) + "." +
           std::to_string(2 + (static_cast<unsigned>(getpid()) % 250));
}

}  // namespace nvtest
