#include "snmp/printer_mib.h"

namespace snmp {

namespace printer_mib {

const char* DeviceStatusName(std::int32_t value) {
    switch (value) {
        case kDeviceUnknown:
            return "unknown";
        case kDeviceRunning:
            return "running";
        case kDeviceWarning:
            return "warning";
        case kDeviceTesting:
            return "testing";
        case kDeviceDown:
            return "down";
        default:
            return nullptr;
    }
}

const char* PrinterStatusName(std::int32_t value) {
    switch (value) {
        case kPrinterOther:
            return "other";
        case kPrinterUnknown:
            return "unknown";
        case kPrinterIdle:
            return "idle";
        case kPrinterPrinting:
            return "printing";
        case kPrinterWarmup:
            return "warmup";
        default:
            return nullptr;
    }
}

}  // namespace printer_mib

const PrinterConditionName kPrinterConditionNames[kPrinterConditionCount] = {
    {PrinterCondition::LowPaper, "lowPaper"},
    {PrinterCondition::NoPaper, "noPaper"},
    {PrinterCondition::LowToner, "lowToner"},
    {PrinterCondition::NoToner, "noToner"},
    {PrinterCondition::DoorOpen, "doorOpen"},
    {PrinterCondition::Jammed, "jammed"},
    {PrinterCondition::Offline, "offline"},
    {PrinterCondition::ServiceRequested, "serviceRequested"},
    {PrinterCondition::InputTrayMissing, "inputTrayMissing"},
    {PrinterCondition::OutputTrayMissing, "outputTrayMissing"},
    {PrinterCondition::MarkerSupplyMissing, "markerSupplyMissing"},
    {PrinterCondition::OutputNearFull, "outputNearFull"},
    {PrinterCondition::OutputFull, "outputFull"},
    {PrinterCondition::InputTrayEmpty, "inputTrayEmpty"},
    {PrinterCondition::OverduePreventMaint, "overduePreventMaint"},
};

const char* ConditionName(PrinterCondition condition) {
    const auto index = static_cast<std::size_t>(condition);
    return index < kPrinterConditionCount ? kPrinterConditionNames[index].name : "?";
}

std::optional<PrinterCondition> ConditionFromName(std::string_view name) {
    for (const PrinterConditionName& entry : kPrinterConditionNames) {
        if (name == entry.name) {
            return entry.condition;
        }
    }
    return std::nullopt;
}

std::vector<const char*> ConditionNames(PrinterConditions conditions) {
    std::vector<const char*> names;
    for (const PrinterConditionName& entry : kPrinterConditionNames) {
        if ((conditions & ConditionBit(entry.condition)) != 0) {
            names.push_back(entry.name);
        }
    }
    return names;
}

PrinterConditions DecodeErrorState(std::span<const std::uint8_t> octets) {
    PrinterConditions conditions = 0;
    for (std::size_t k = 0; k < kPrinterConditionCount && k / 8 < octets.size(); ++k) {
        if ((octets[k / 8] & (0x80u >> (k % 8))) != 0) {
            conditions |= PrinterConditions{1} << k;
        }
    }
    return conditions;
}

std::vector<std::uint8_t> EncodeErrorState(PrinterConditions conditions) {
    const PrinterConditions known = (PrinterConditions{1} << kPrinterConditionCount) - 1;
    std::vector<std::uint8_t> octets((conditions & known) >> 8 != 0 ? 2 : 1, 0);
    for (std::size_t k = 0; k < kPrinterConditionCount; ++k) {
        if ((conditions & (PrinterConditions{1} << k)) != 0) {
            octets[k / 8] = static_cast<std::uint8_t>(octets[k / 8] | (0x80u >> (k % 8)));
        }
    }
    return octets;
}

}  // namespace snmp
