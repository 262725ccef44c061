#include "tests/support/in_process_printer.h"

#include <chrono>
#include <stdexcept>

namespace nvtest {

namespace {

nvprinter::PrinterSetup Quiet(nvprinter::PrinterSetup setup) {
    setup.quiet = setup.rawConfig.quiet = setup.lpdConfig.quiet = setup.snmpConfig.quiet = true;
    return setup;
}

}  // namespace

InProcessPrinter::InProcessPrinter(nvprinter::PrinterSetup setup)
    : printer_(Quiet(std::move(setup)),
               nvprinter::JobObservers{[this](nvprinter::RawJob job) {
                                           std::lock_guard<std::mutex> lock(mutex_);
                                           rawJobs_.push_back(std::move(job));
                                           changed_.notify_all();
                                       },
                                       [this](nvprinter::LpdJob job) {
                                           std::lock_guard<std::mutex> lock(mutex_);
                                           lpdJobs_.push_back(std::move(job));
                                           changed_.notify_all();
                                       }}) {
    if (!printer_.Open("in-process printer")) {
        throw std::runtime_error("in-process printer: a service cannot be opened");
    }
    thread_ = std::thread([this] { printer_.Run(nullptr); });
}

InProcessPrinter::~InProcessPrinter() {
    printer_.Stop();
    thread_.join();
}

uint16_t InProcessPrinter::rawPort() const {
    return printer_.raw() != nullptr ? printer_.raw()->bound().port : 0;
}

uint16_t InProcessPrinter::lpdPort() const {
    return printer_.lpd() != nullptr ? printer_.lpd()->bound().port : 0;
}

uint16_t InProcessPrinter::snmpPort() const {
    return printer_.snmp() != nullptr ? printer_.snmp()->bound().port : 0;
}

bool InProcessPrinter::Change(const std::string& name, bool set) {
    std::optional<nvprinter::StateName> state = nvprinter::ParseStateName(name);
    if (!state) {
        return false;
    }
    if (set) {
        printer_.state().Set(*state);
    } else {
        printer_.state().Clear(*state);
    }
    printer_.Wake();
    return true;
}

bool InProcessPrinter::Set(const std::string& name) {
    return Change(name, true);
}

bool InProcessPrinter::Clear(const std::string& name) {
    return Change(name, false);
}

void InProcessPrinter::Resume() {
    if (printer_.raw() != nullptr) {
        printer_.raw()->Resume();
        printer_.Wake();
    }
}

bool InProcessPrinter::WaitForRawJobs(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return rawJobs_.size() >= count; });
}

bool InProcessPrinter::WaitForLpdJobs(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return lpdJobs_.size() >= count; });
}

std::vector<nvprinter::RawJob> InProcessPrinter::RawJobs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rawJobs_;
}

std::vector<nvprinter::LpdJob> InProcessPrinter::LpdJobs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lpdJobs_;
}

size_t InProcessPrinter::RawConnections() const {
    return printer_.raw() != nullptr ? printer_.raw()->Connections() : 0;
}

}  // namespace nvtest
