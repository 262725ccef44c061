#include "tools/cli/status_verb.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tools/cli/port_settings.h"
#include "tools/cli/printer_probe.h"
#include "tools/cli/text.h"

namespace cli {

namespace {

namespace mib = snmp::printer_mib;

// CUPS's thresholds: a supply at 5 % or less is low, at 1 % or less empty.
constexpr int kLowSupplyPercent = 5;
constexpr int kEmptySupplyPercent = 1;

enum class Verdict { kReady, kNeedsAttention, kNotReachable };

struct Assessment {
    Verdict verdict = Verdict::kReady;
    std::vector<std::string> reasons;  // why it needs attention
};

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::kReady:
            return "ready";
        case Verdict::kNeedsAttention:
            return "needs attention";
        case Verdict::kNotReachable:
            return "not reachable";
    }
    return "?";
}

int VerdictExit(Verdict verdict) {
    switch (verdict) {
        case Verdict::kReady:
            return kExitPrinterReady;
        case Verdict::kNeedsAttention:
            return kExitNeedsAttention;
        case Verdict::kNotReachable:
            return kExitNotReachable;
    }
    return kExitFailed;
}

// "down (5)", or the bare number for a value the MIB does not name.
std::string StatusText(const char* name, std::int32_t value) {
    return name != nullptr ? std::string(name) + " (" + std::to_string(value) + ")"
                           : std::to_string(value);
}

std::string SupplyLevelText(const Supply& s) {
    if (std::optional<int> percent = s.Percent()) {
        std::string text = std::to_string(*percent) + " % (" + std::to_string(*s.level) + " of " +
                           std::to_string(*s.capacity) + ")";
        if (*percent <= kEmptySupplyPercent) {
            return text + ", empty";
        }
        return *percent <= kLowSupplyPercent ? text + ", low" : text;
    }
    if (s.level && *s.level >= 0) {
        return std::to_string(*s.level) + " (capacity unknown)";
    }
    if (s.level == mib::kSupplySomeRemaining) {
        return "some remaining";
    }
    return "level unknown";
}

Assessment Assess(const ProbeResult& r) {
    Assessment a;
    if (r.connectError != 0) {
        a.verdict = Verdict::kNotReachable;
        return a;
    }
    if (r.status.conditions) {
        for (const char* name : snmp::ConditionNames(*r.status.conditions)) {
            a.reasons.push_back(name);
        }
    }
    if (r.status.deviceStatus && *r.status.deviceStatus != mib::kDeviceRunning &&
        *r.status.deviceStatus != mib::kDeviceUnknown) {
        a.reasons.push_back("device " + StatusText(mib::DeviceStatusName(*r.status.deviceStatus),
                                                   *r.status.deviceStatus));
    }
    for (const Supply& s : r.supplies) {
        if (s.Percent() && *s.Percent() <= kLowSupplyPercent) {
            a.reasons.push_back(s.description + " at " + std::to_string(*s.Percent()) + " %");
        }
    }
    a.verdict = a.reasons.empty() ? Verdict::kReady : Verdict::kNeedsAttention;
    return a;
}

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

std::string ErrorLine(DWORD code) {
    if (code == snmp::kErrorTimeout) {
        return "no answer within " + std::to_string(kStatusTimeoutMs / 1000) + " s, " +
               std::to_string(kStatusRetries + 1) + " times";
    }
    return "error " + std::to_string(code) + ": " + SystemErrorText(code);
}

// The SNMP line: what came of the question.
std::string SnmpLine(const ProbeTarget& t, const ProbeResult& r) {
    if (!t.snmpEnabled) {
        return "SNMP is off for this port (SnmpEnabled 0): only the connection was checked";
    }
    const std::string asked =
        "community \"" + t.community + "\", device " + std::to_string(t.deviceIndex);
    if (!r.status.answered) {
        return "no status answer (" + asked + "): " + ErrorLine(r.status.error);
    }
    if (r.status.errorStatus != snmp::kNoError) {
        return "answered without the printer's status (" + asked + "): error-status " +
               std::to_string(r.status.errorStatus) +
               (r.status.errorStatus == snmp::kNoSuchName
                    ? " (noSuchName: no such device, or no printer table)"
                    : "");
    }
    return "answered (" + asked + ")";
}

std::string ConnectionLine(const ProbeTarget& t, const PortEntry& record, DWORD error) {
    std::string text = t.address + " port " + std::to_string(t.portNumber) +
                       (record.Protocol == PROTOCOL_LPR ? " (LPR)" : " (raw TCP)");
    if (error == 0) {
        return text + ": takes connections";
    }
    if (error == WSAETIMEDOUT) {
        return text + ": no connection within " + std::to_string(kConnectWaitMs / 1000) + " s";
    }
    return text + ": no connection: " + ErrorLine(error);
}

void PrintText(const ProbeTarget& t, const PortEntry& record, const ProbeResult& r,
               const Assessment& a) {
    auto line = [](const char* key, const std::string& text) {
        printf("%-14s %s\n", key, text.c_str());
    };
    line("PortName", FieldText(record.PortName));
    line("Connection", ConnectionLine(t, record, r.connectError));
    line("Snmp", SnmpLine(t, r));
    if (r.description) {
        line("Description", *r.description);
    }
    if (r.status.deviceStatus) {
        line("DeviceStatus",
             StatusText(mib::DeviceStatusName(*r.status.deviceStatus), *r.status.deviceStatus));
    }
    if (r.status.printerStatus) {
        line("PrinterStatus",
             StatusText(mib::PrinterStatusName(*r.status.printerStatus), *r.status.printerStatus));
    }
    if (r.status.conditions) {
        std::vector<std::string> names;
        for (const char* name : snmp::ConditionNames(*r.status.conditions)) {
            names.push_back(name);
        }
        line("Conditions", names.empty() ? "none" : Join(names));
    }
    if (r.pageCount) {
        line("PageCount", std::to_string(*r.pageCount));
    }
    for (const Supply& s : r.supplies) {
        line("Supply", s.description + ": " + SupplyLevelText(s));
    }
    const std::string reasons = a.reasons.empty() ? "" : ": " + Join(a.reasons);
    line("State", VerdictText(a.verdict) + reasons);
}

std::string JsonNumber(const std::optional<std::int64_t>& value) {
    return value ? std::to_string(*value) : "null";
}

std::string JsonText(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

std::string JsonStatus(const char* name, const std::optional<std::int32_t>& value) {
    return value && name != nullptr ? JsonString(name) : "null";
}

std::string JsonSupplies(const std::vector<Supply>& supplies) {
    std::string text = "[";
    for (const Supply& s : supplies) {
        std::optional<std::int64_t> percent;
        if (s.Percent()) {
            percent = *s.Percent();
        }
        text += (text.size() > 1 ? ", " : "") + std::string("{\"description\": ") +
                JsonString(s.description) + ", \"level\": " + JsonNumber(s.level) +
                ", \"capacity\": " + JsonNumber(s.capacity) +
                ", \"percent\": " + JsonNumber(percent) + "}";
    }
    return text + "]";
}

std::string JsonConditions(const std::optional<snmp::PrinterConditions>& conditions) {
    if (!conditions) {
        return "null";
    }
    std::string text = "[";
    for (const char* name : snmp::ConditionNames(*conditions)) {
        text += (text.size() > 1 ? ", " : "") + JsonString(name);
    }
    return text + "]";
}

const char* SnmpState(const ProbeTarget& t, const ProbeResult& r) {
    return !t.snmpEnabled ? "off" : r.status.answered ? "answered" : "no answer";
}

void PrintJson(const ProbeTarget& t, const PortEntry& record, const ProbeResult& r,
               const Assessment& a) {
    const snmp::PrinterStatus& s = r.status;
    std::vector<std::string> reasons;
    for (const std::string& reason : a.reasons) {
        reasons.push_back(JsonString(reason));
    }
    const auto device = s.deviceStatus ? mib::DeviceStatusName(*s.deviceStatus) : nullptr;
    const auto printer = s.printerStatus ? mib::PrinterStatusName(*s.printerStatus) : nullptr;
    printf(
        "{\"port\": %s, \"address\": %s, \"portNumber\": %u, \"protocol\": \"%s\", "
        "\"connects\": %s, \"connectError\": %s, \"snmp\": \"%s\", \"community\": %s, "
        "\"deviceIndex\": %u, \"snmpError\": %s, \"errorStatus\": %s, \"description\": %s, "
        "\"deviceStatus\": %s, \"deviceStatusCode\": %s, \"printerStatus\": %s, "
        "\"printerStatusCode\": %s, \"conditions\": %s, \"pageCount\": %s, \"supplies\": %s, "
        "\"state\": \"%s\", \"reasons\": [%s]}\n",
        JsonString(FieldText(record.PortName)).c_str(), JsonString(t.address).c_str(),
        static_cast<unsigned>(t.portNumber), record.Protocol == PROTOCOL_LPR ? "lpr" : "raw",
        r.connectError == 0 ? "true" : "false",
        r.connectError == 0 ? "null" : std::to_string(r.connectError).c_str(), SnmpState(t, r),
        JsonString(t.community).c_str(), static_cast<unsigned>(t.deviceIndex),
        t.snmpEnabled && !s.answered ? std::to_string(s.error).c_str() : "null",
        s.answered ? std::to_string(s.errorStatus).c_str() : "null",
        JsonText(r.description).c_str(), JsonStatus(device, s.deviceStatus).c_str(),
        JsonNumber(s.deviceStatus).c_str(), JsonStatus(printer, s.printerStatus).c_str(),
        JsonNumber(s.printerStatus).c_str(), JsonConditions(s.conditions).c_str(),
        JsonNumber(r.pageCount).c_str(), JsonSupplies(r.supplies).c_str(), VerdictText(a.verdict),
        Join(reasons).c_str());
}

}  // namespace

int ShowPrinterStatus(const PortEntry& record, bool json) {
    ProbeTarget target;
    target.address = FieldText(record.IPAddress);
    target.portNumber = static_cast<USHORT>(record.PortNumber);  // the monitor's low 16 bits
    target.snmpEnabled = record.SnmpEnabled != 0;
    target.community = FieldText(record.SnmpCommunity);
    target.deviceIndex = record.SnmpIndex;
    const ProbeResult result = ProbePrinter(target);
    const Assessment assessment = Assess(result);
    if (json) {
        PrintJson(target, record, result, assessment);
    } else {
        PrintText(target, record, result, assessment);
    }
    fflush(stdout);
    return VerdictExit(assessment.verdict);
}

}  // namespace cli
