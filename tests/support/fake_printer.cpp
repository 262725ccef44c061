#include "tests/support/fake_printer.h"

#include <unistd.h>

#include <atomic>
#include <stdexcept>

#include "tests/support/in_process_printer.h"

namespace nvtest {

namespace {

// A slow printer reads this much, then pauses.
constexpr long long kSlowReadBytes = 16 * 1024;

nvprinter::PrinterSetup RawSetup(const FakeRawPrinter::Options& o) {
    nvprinter::PrinterSetup setup;
    setup.mode = nvprinter::kModeRaw;
    setup.raw = true;
    nvprinter::RawConfig& raw = setup.rawConfig;
    std::optional<nvprinter::Ipv4> address = nvprinter::ParseIpv4(o.address);
    if (!address) {
        throw std::runtime_error("fake printer: bad address " + o.address);
    }
    raw.listen = {*address, o.port};
    raw.stallAfter = o.stallAfter;
    raw.resetAfter = o.resetAfter;
    raw.refuse = !o.listen;
    raw.receiveBuffer = o.receiveBuffer;
    if (o.readPauseMs > 0) {
        raw.readSize = kSlowReadBytes;
        raw.slow = kSlowReadBytes * 1000 / o.readPauseMs;
    }
    raw.status = o.status;
    raw.holdOpen = o.holdOpen;
    return setup;
}

}  // namespace

FakeRawPrinter::FakeRawPrinter(Options options)
    : address_(options.address),
      printer_(std::make_unique<InProcessPrinter>(RawSetup(options))),
      port_(printer_->rawPort()) {}

FakeRawPrinter::~FakeRawPrinter() = default;

void FakeRawPrinter::Resume() {
    printer_->Resume();
}

bool FakeRawPrinter::WaitForJobs(size_t count, int timeoutMs) {
    return printer_->WaitForRawJobs(count, timeoutMs);
}

std::vector<std::string> FakeRawPrinter::Jobs() {
    std::vector<std::string> jobs;
    for (nvprinter::RawJob& job : printer_->RawJobs()) {
        jobs.push_back(std::move(job.data));
    }
    return jobs;
}

size_t FakeRawPrinter::Connections() const {
    return printer_->RawConnections();
}

std::string UniqueLoopbackAddress() {
    static std::atomic<unsigned> counter{0};
    unsigned n = (static_cast<unsigned>(getpid()) * 64 + counter++) % (250 * 250);
    return "127." + std::to_string(1 + n / 250 % 250) + "." + std::to_string(n % 250) + "." +
           std::to_string(2 + (static_cast<unsigned>(getpid()) % 250));
}

}  // namespace nvtest
