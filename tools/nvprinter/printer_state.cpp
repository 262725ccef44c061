#include "tools/nvprinter/printer_state.h"

#include "tools/nvprinter/options.h"

namespace nvprinter {

namespace {

using snmp::ConditionBit;
using snmp::PrinterCondition;
namespace mib = snmp::printer_mib;

constexpr char kWarmupName[] = "warmup";

std::uint32_t MillisecondsSince(Clock::time_point start, Clock::time_point now) {
    if (now <= start) {
        return 0;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
    return static_cast<std::uint32_t>(std::min<long long>(elapsed.count(), UINT32_MAX));
}

}  // namespace

const snmp::PrinterConditions kCriticalConditions =
    ConditionBit(PrinterCondition::NoPaper) | ConditionBit(PrinterCondition::NoToner) |
    ConditionBit(PrinterCondition::DoorOpen) | ConditionBit(PrinterCondition::Jammed) |
    ConditionBit(PrinterCondition::Offline) | ConditionBit(PrinterCondition::InputTrayMissing) |
    ConditionBit(PrinterCondition::OutputTrayMissing) |
    ConditionBit(PrinterCondition::MarkerSupplyMissing) |
    ConditionBit(PrinterCondition::OutputFull);

std::optional<StateName> ParseStateName(std::string_view name) {
    if (name == kWarmupName) {
        return StateName{0, true};
    }
    if (std::optional<PrinterCondition> condition = snmp::ConditionFromName(name)) {
        return StateName{ConditionBit(*condition), false};
    }
    return std::nullopt;
}

std::optional<ScheduledState> ParseScheduledState(std::string_view text) {
    const std::size_t at = text.find('@');
    std::optional<StateName> state = ParseStateName(text.substr(0, at));
    if (!state) {
        return std::nullopt;
    }
    ScheduledState scheduled{*state, 0, std::nullopt};
    if (at == std::string_view::npos) {
        return scheduled;
    }
    const std::string_view window = text.substr(at + 1);
    const std::size_t dash = window.find('-');
    std::optional<std::uint32_t> from = ParseNumber(window.substr(0, dash), UINT32_MAX);
    if (!from) {
        return std::nullopt;
    }
    scheduled.fromMs = *from;
    if (dash != std::string_view::npos) {
        scheduled.toMs = ParseNumber(window.substr(dash + 1), UINT32_MAX);
        if (!scheduled.toMs || *scheduled.toMs <= *from) {
            return std::nullopt;
        }
    }
    return scheduled;
}

PrinterState::PrinterState(std::vector<ScheduledState> schedule, Clock::time_point start)
    : schedule_(std::move(schedule)), start_(start) {}

void PrinterState::Set(const StateName& state) {
    commandedConditions_ |= state.conditions;
    if (state.warmup) {
        commandedWarmup_ = true;
    }
    commandedChange_ = true;
}

void PrinterState::Clear(const StateName& state) {
    commandedConditions_ &= ~state.conditions;
    if (state.warmup) {
        commandedWarmup_ = false;
    }
    commandedChange_ = true;
}

void PrinterState::ClearAll() {
    commandedConditions_ = 0;
    commandedWarmup_ = false;
    commandedChange_ = true;
}

StateName PrinterState::Scheduled(Clock::time_point now) const {
    const std::uint32_t ms = MillisecondsSince(start_, now);
    StateName active;
    for (const ScheduledState& window : schedule_) {
        if (ms >= window.fromMs && (!window.toMs || ms < *window.toMs)) {
            active.conditions |= window.state.conditions;
            active.warmup = active.warmup || window.state.warmup;
        }
    }
    return active;
}

snmp::PrinterConditions PrinterState::Conditions(Clock::time_point now) const {
    return Scheduled(now).conditions | commandedConditions_;
}

bool PrinterState::WarmingUp(Clock::time_point now) const {
    return Scheduled(now).warmup || commandedWarmup_;
}

bool PrinterState::Down(Clock::time_point now) const {
    return (Conditions(now) & kCriticalConditions) != 0;
}

// The combinations of RFC 3805 (2.2.13.2): a critical condition makes the device down and the
// printer "other"; a warning leaves it running with a warning; warming up and printing show in
// hrPrinterStatus.
ReportedState PrinterState::Report(Clock::time_point now) const {
    ReportedState report;
    report.conditions = Conditions(now);
    if ((report.conditions & kCriticalConditions) != 0) {
        report.deviceStatus = mib::kDeviceDown;
        report.printerStatus = mib::kPrinterOther;
        return report;
    }
    report.deviceStatus = report.conditions != 0 ? mib::kDeviceWarning : mib::kDeviceRunning;
    if (WarmingUp(now)) {
        report.printerStatus = mib::kPrinterWarmup;
    } else {
        report.printerStatus = activeJobs_ > 0 ? mib::kPrinterPrinting : mib::kPrinterIdle;
    }
    return report;
}

std::optional<Clock::time_point> PrinterState::NextChange(Clock::time_point now) const {
    const std::uint32_t ms = MillisecondsSince(start_, now);
    std::optional<std::uint32_t> next;
    for (const ScheduledState& window : schedule_) {
        for (std::optional<std::uint32_t> edge : {std::optional(window.fromMs), window.toMs}) {
            if (edge && *edge > ms && (!next || *edge < *next)) {
                next = edge;
            }
        }
    }
    if (!next) {
        return std::nullopt;
    }
    return start_ + std::chrono::milliseconds(*next);
}

std::string PrinterState::Describe(Clock::time_point now) const {
    std::string text;
    for (const char* name : snmp::ConditionNames(Conditions(now))) {
        text += text.empty() ? name : std::string(", ") + name;
    }
    if (WarmingUp(now)) {
        text += text.empty() ? kWarmupName : std::string(", ") + kWarmupName;
    }
    return text.empty() ? "ready" : text;
}

}  // namespace nvprinter
