// How the simulated agent answers one SNMPv1 request: Get and GetNext over its object set,
// the v1 error rules, and the faults that are decided per message.
#include <string>

#include "tools/nvprinter/snmp_agent.h"

namespace nvprinter {

namespace {

using snmp::Message;
using snmp::PduType;
using snmp::VarBind;

// "name = value" for each binding, for the log line.
std::string Describe(const std::vector<VarBind>& varbinds, bool withValues) {
    std::string text;
    for (const VarBind& varbind : varbinds) {
        if (!text.empty()) {
            text += ", ";
        }
        text += varbind.name.ToString();
        if (withValues) {
            text += " = " + varbind.value.ToString();
        }
    }
    return text.empty() ? "(no bindings)" : text;
}

// Fills response.pdu for a Get or GetNext. SNMPv1 answers all or nothing: at the first name
// that has no answer the response is the request's own bindings with noSuchName and the
// 1-based index of that binding.
void Resolve(const ObjectSet& objects, const Message& request, Message& response) {
    response.pdu.varbinds.clear();
    for (std::size_t i = 0; i < request.pdu.varbinds.size(); ++i) {
        const snmp::Oid& name = request.pdu.varbinds[i].name;
        ObjectSet::const_iterator found;
        if (request.pdu.type == PduType::GetRequest) {
            found = objects.find(name);
        } else {
            found = objects.upper_bound(name);  // the first object after name
        }
        if (found == objects.end()) {
            response.pdu.errorStatus = snmp::kNoSuchName;
            response.pdu.errorIndex = static_cast<std::int32_t>(i + 1);
            response.pdu.varbinds = request.pdu.varbinds;
            return;
        }
        response.pdu.varbinds.push_back({found->first, found->second});
    }
}

}  // namespace

SnmpOutcome AnswerRequest(const SnmpAgentConfig& config, const ObjectSet& objects,
                          std::span<const std::uint8_t> datagram) {
    SnmpOutcome outcome;
    snmp::Result<Message> decoded = snmp::Decode(datagram);
    if (!decoded) {
        outcome.log = std::string("dropped: not an SNMPv1 request (") +
                      snmp::ErrorText(decoded.error()) + ")";
        return outcome;
    }
    const Message& request = *decoded;
    const std::string head = std::string(snmp::PduTypeName(request.pdu.type)) +
                             " id=" + std::to_string(request.pdu.requestId) + " " +
                             Describe(request.pdu.varbinds, false);
    // A real agent keeps quiet on a wrong community (it may send an authenticationFailure
    // trap, which we do not).
    if (request.community != config.community) {
        outcome.log = head + ": dropped, community \"" + request.community + "\"";
        return outcome;
    }
    if (request.pdu.type == PduType::GetResponse) {
        outcome.log = head + ": dropped, not a request";
        return outcome;
    }

    Message response;
    response.community = request.community;
    response.pdu.type = PduType::GetResponse;
    response.pdu.requestId = request.pdu.requestId;
    if (config.wrongRequestId) {
        response.pdu.requestId =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(request.pdu.requestId) + 1u);
    }
    if (config.errorStatus != snmp::kNoError) {
        response.pdu.errorStatus = config.errorStatus;
        response.pdu.errorIndex = 1;
        response.pdu.varbinds = request.pdu.varbinds;
    } else if (request.pdu.type == PduType::SetRequest) {
        // Everything here is read-only; SNMPv1 reports that as noSuchName.
        response.pdu.errorStatus = snmp::kNoSuchName;
        response.pdu.errorIndex = 1;
        response.pdu.varbinds = request.pdu.varbinds;
    } else {
        Resolve(objects, request, response);
    }

    snmp::Result<snmp::Bytes> bytes = snmp::Encode(response);
    if (!bytes && bytes.error() == snmp::Error::TooLarge) {
        // The answer does not fit a datagram: tooBig, with the request's bindings.
        response.pdu.errorStatus = snmp::kTooBig;
        response.pdu.errorIndex = 0;
        response.pdu.varbinds = request.pdu.varbinds;
        bytes = snmp::Encode(response);
    }
    if (!bytes) {
        outcome.log = head + ": no answer possible (" + snmp::ErrorText(bytes.error()) + ")";
        return outcome;
    }
    outcome.reply = std::move(bytes).value();
    if (response.pdu.errorStatus != snmp::kNoError) {
        outcome.log = head + " -> error-status " + std::to_string(response.pdu.errorStatus) +
                      " index " + std::to_string(response.pdu.errorIndex);
    } else {
        outcome.log = head + " -> " + Describe(response.pdu.varbinds, true);
    }
    if (config.wrongRequestId) {
        outcome.log += " (as id=" + std::to_string(response.pdu.requestId) + ")";
    }
    return outcome;
}

}  // namespace nvprinter
