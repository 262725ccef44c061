#include "tools/nvprinter/printer.h"

#include <string>

namespace nvprinter {

Printer::Printer(const PrinterSetup& setup, JobObservers observers)
    : setup_(setup), state_(setup.schedule), loop_(&state_) {
    if (setup_.raw) {
        raw_ = std::make_unique<RawService>(setup_.rawConfig, &state_, std::move(observers.raw));
    }
    if (setup_.lpd) {
        lpd_ = std::make_unique<LpdService>(setup_.lpdConfig, &state_, std::move(observers.lpd));
    }
    if (setup_.snmp) {
        snmp_ = std::make_unique<SnmpService>(setup_.snmpConfig, &state_);
    }
    if (!setup_.control.empty()) {
        control_ = std::make_unique<ControlFifo>(setup_.control, &state_, setup_.quiet);
    }
}

Printer::~Printer() = default;

bool Printer::Open(const char* program) {
    if (raw_) {
        if (!raw_->Open(program)) {
            return false;
        }
        loop_.Add(raw_.get());
    }
    if (lpd_) {
        if (!lpd_->Open(program)) {
            return false;
        }
        loop_.Add(lpd_.get());
    }
    if (snmp_) {
        if (!snmp_->Open(program, std::string(program) + ": ")) {
            return false;
        }
        loop_.Add(snmp_.get());
    }
    if (control_) {
        if (!control_->Open(program)) {
            return false;
        }
        loop_.Add(control_.get());
    }
    return true;
}

}  // namespace nvprinter
