#include "snmp/printer_status.h"

#include "platform/test_switch.h"

namespace snmp {

USHORT StatusAgentPort() {
    const DWORD port = TestSwitch("snmp-port", kAgentPort);
    return port > 0 && port <= 0xffff ? static_cast<USHORT>(port) : kAgentPort;
}

std::vector<Oid> PrinterStatusNames(std::uint32_t deviceIndex) {
    return {printer_mib::kHrDeviceStatus.Child(deviceIndex),
            printer_mib::kHrPrinterStatus.Child(deviceIndex),
            printer_mib::kHrPrinterDetectedErrorState.Child(deviceIndex)};
}

PrinterStatus ReadPrinterStatus(std::uint32_t deviceIndex, std::span<const VarBind> bindings,
                                std::int32_t errorStatus) {
    PrinterStatus status;
    status.answered = true;
    status.errorStatus = errorStatus;
    const std::vector<Oid> names = PrinterStatusNames(deviceIndex);
    if (errorStatus != kNoError || bindings.size() != names.size()) {
        return status;
    }
    auto value = [&](std::size_t i) -> const Value* {
        return bindings[i].name == names[i] ? &bindings[i].value : nullptr;
    };
    if (const Value* device = value(0)) {
        status.deviceStatus = device->AsInteger();
    }
    if (const Value* printer = value(1)) {
        status.printerStatus = printer->AsInteger();
    }
    if (const Value* errors = value(2); errors != nullptr && errors->type() == Type::OctetString) {
        status.conditions = DecodeErrorState(*errors->AsBytes());
    }
    return status;
}

PrinterStatus QueryPrinterStatus(const PrinterStatusQuery& query) {
    PrinterStatus status;
    Session session;
    const USHORT port = query.port != 0 ? query.port : StatusAgentPort();
    if (!session.Open(query.agent, query.community, query.timeoutMs, query.retries, port)) {
        status.error = GetLastError();
        return status;
    }
    std::vector<VarBind> bindings;
    for (Oid& name : PrinterStatusNames(query.deviceIndex)) {
        bindings.push_back({std::move(name), {}});
    }
    std::int32_t errorStatus = kNoError;
    if (!session.Request(PduType::GetRequest, bindings, &errorStatus)) {
        status.error = GetLastError();
        return status;
    }
    return ReadPrinterStatus(query.deviceIndex, bindings, errorStatus);
}

}  // namespace snmp
