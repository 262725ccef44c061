#include "tests/support/fake_lpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tests/support/in_process_printer.h"

namespace nvtest {

namespace {

nvprinter::PrinterSetup LpdSetup(const FakeLpd::Options& o) {
    nvprinter::PrinterSetup setup;
    setup.mode = nvprinter::kModeLpd;
    setup.lpd = true;
    nvprinter::LpdConfig& lpd = setup.lpdConfig;
    std::optional<nvprinter::Ipv4> address = nvprinter::ParseIpv4(o.address);
    if (!address) {
        throw std::runtime_error("fake lpd: bad address " + o.address);
    }
    lpd.listen = {*address, 0};
    lpd.nakAt = o.nakAt;
    lpd.closeAt = o.closeAt;
    lpd.silentAt = o.silentAt;
    return setup;
}

}  // namespace

FakeLpd::FakeLpd(Options options)
    : address_(options.address),
      printer_(std::make_unique<InProcessPrinter>(LpdSetup(options))),
      port_(printer_->lpdPort()) {}

FakeLpd::~FakeLpd() = default;

bool FakeLpd::WaitForJobs(size_t count, int timeoutMs) {
    return printer_->WaitForLpdJobs(count, timeoutMs);
}

std::vector<FakeLpd::Job> FakeLpd::Jobs() {
    return printer_->LpdJobs();
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
