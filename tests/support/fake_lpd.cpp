#include "tests/support/fake_lpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace nvtest {

namespace {

// Reads exactly n bytes (or fewer at the end of the connection); a 30 s idle limit keeps a
// broken test from hanging.
bool ReadExactly(int fd, size_t n, std::string* out) {
    out->clear();
    char buffer[65536];
    while (out->size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) {
            return false;
        }
        ssize_t got = recv(fd, buffer, std::min(sizeof buffer, n - out->size()), 0);
        if (got <= 0) {
            return false;
        }
        out->append(buffer, static_cast<size_t>(got));
    }
    return true;
}

// Reads one line up to LF (not included); false at the end of the connection.
bool ReadLine(int fd, std::string* line) {
    line->clear();
    for (;;) {
        std::string c;
        if (!ReadExactly(fd, 1, &c)) {
            return false;
        }
        if (c[0] == '\n') {
            return true;
        }
        line->push_back(c[0]);
        if (line->size() > 8192) {
            return false;
        }
    }
}

// "count SP name" after the subcommand byte.
bool ParseSubcommand(const std::string& line, long long* count, std::string* name) {
    size_t space = line.find(' ', 1);
    if (space == std::string::npos || space == 1) {
        return false;
    }
    std::string digits = line.substr(1, space - 1);
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    *count = std::stoll(digits);
    *name = line.substr(space + 1);
    return !name->empty();
}

}  // namespace

FakeLpd::FakeLpd(Options options) : options_(std::move(options)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("fake lpd: bind failed");
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 16);
    acceptor_ = std::thread([this] { Accept(); });
}

FakeLpd::~FakeLpd() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    for (auto& server : servers_) {
        server.join();
    }
    close(listener_);
}

void FakeLpd::Accept() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd >= 0) {
            uint16_t sourcePort = ntohs(peer.sin_port);
            servers_.emplace_back([this, fd, sourcePort] { Serve(fd, sourcePort); });
        }
    }
}

// Answers one step; false when the conversation ends here (a fault of the printer).
bool FakeLpd::Answer(int fd, int step, Job*) {
    if (options_.closeAt == step) {
        return false;
    }
    if (options_.silentAt == step) {
        std::string ignored;
        ReadExactly(fd, 1u << 30, &ignored);  // until the client gives up and closes
        return false;
    }
    char answer = options_.nakAt == step ? '\x01' : '\x00';
    send(fd, &answer, 1, MSG_NOSIGNAL);
    return answer == '\x00';
}

void FakeLpd::Serve(int fd, uint16_t sourcePort) {
    Job job;
    job.sourcePort = sourcePort;
    if (sourcePort < 721 || sourcePort > 731) {
        job.errors.push_back("source port " + std::to_string(sourcePort) + " outside 721..731");
    }
    std::string line;
    if (!ReadLine(fd, &line) || line.empty() || line[0] != '\x02') {
        job.errors.push_back("no receive-job command");
    } else {
        job.queue = line.substr(1);
        bool going = Answer(fd, kReceiveJob, &job);
        while (going && ReadLine(fd, &line)) {
            long long count = 0;
            std::string name;
            if (line.empty() || (line[0] != '\x02' && line[0] != '\x03') ||
                !ParseSubcommand(line, &count, &name)) {
                job.errors.push_back("bad subcommand");
                break;
            }
            bool control = line[0] == '\x02';
            if (control && !job.controlName.empty()) {
                job.errors.push_back("second control file");
            }
            if (!control && job.controlName.empty()) {
                job.errors.push_back("data file before the control file");
            }
            (control ? job.controlName : job.dataName) = name;
            (control ? job.controlSize : job.dataSize) = count;
            if (!Answer(fd, control ? kControlCommand : kDataCommand, &job)) {
                break;
            }
            if (!control && count == 0) {
                job.complete = true;  // an empty data file: no bytes, no zero, no answer
                break;
            }
            std::string content;
            std::string zero;
            if (!ReadExactly(fd, static_cast<size_t>(count), &content) ||
                !ReadExactly(fd, 1, &zero) || zero[0] != '\0') {
                job.errors.push_back(control ? "control file short or unterminated"
                                             : "data file short or unterminated");
                break;
            }
            (control ? job.control : job.data) = content;
            if (!Answer(fd, control ? kControlFile : kDataFile, &job)) {
                break;
            }
            if (!control) {
                job.complete = true;
            }
        }
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

bool FakeLpd::WaitForJobs(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return jobs_.size() >= count; });
}

std::vector<FakeLpd::Job> FakeLpd::Jobs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_;
}

bool CanBindReservedPorts() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    for (int port = 721; port <= 731 && !ok; ++port) {
        address.sin_port = htons(static_cast<uint16_t>(port));
        ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
             errno == EADDRINUSE;
    }
    close(fd);
    return ok;
}

}  // namespace nvtest

namespace nvtest {

ReservedPortsTaken::ReservedPortsTaken() {
    for (int port = 721; port <= 731; ++port) {
        // A listening socket on the wildcard address conflicts with every later bind of the
        // port; SO_REUSEADDR lets it take a port that an earlier job left in TIME_WAIT.
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd, 1) != 0) {
            throw std::runtime_error("cannot take port " + std::to_string(port));
        }
        sockets_.push_back(fd);
    }
}

ReservedPortsTaken::~ReservedPortsTaken() {
    for (int fd : sockets_) {
        close(fd);
    }
}

}  // namespace nvtest
