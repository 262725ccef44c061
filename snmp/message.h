// SNMPv1 messages (RFC 1157): building them into bytes and reading them back.
//
//   Message ::= SEQUENCE { version INTEGER (0), community OCTET STRING, data PDU }
//   PDU     ::= [A0..A3] IMPLICIT SEQUENCE { request-id INTEGER, error-status INTEGER,
//                                            error-index INTEGER, variable-bindings VarBindList }
//   VarBind ::= SEQUENCE { name OBJECT IDENTIFIER, value ObjectSyntax }
//
// A manager builds a request with EncodeRequest and reads the answer with DecodeResponse; an
// agent reads with Decode and answers with Encode. Nothing here keeps state between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "snmp/oid.h"
#include "snmp/result.h"
#include "snmp/value.h"

namespace snmp {

using Bytes = std::vector<std::uint8_t>;

// The largest payload of a UDP datagram over IPv4; no SNMP message can be longer, so neither
// side of the codec handles more.
constexpr std::size_t kMaxMessageSize = 65507;

constexpr std::int32_t kVersion1 = 0;

// error-status values of SNMPv1.
constexpr std::int32_t kNoError = 0;
constexpr std::int32_t kTooBig = 1;
constexpr std::int32_t kNoSuchName = 2;
constexpr std::int32_t kBadValue = 3;
constexpr std::int32_t kReadOnly = 4;
constexpr std::int32_t kGenErr = 5;

// The PDU tags this codec handles. Trap (0xA4) and the SNMPv2 PDUs are refused with
// Error::UnsupportedPdu.
enum class PduType : std::uint8_t {
    GetRequest = 0xa0,
    GetNextRequest = 0xa1,
    GetResponse = 0xa2,
    SetRequest = 0xa3,
};

const char* PduTypeName(PduType type);

struct VarBind {
    Oid name;
    Value value;  // NULL in a Get or GetNext request
    friend bool operator==(const VarBind&, const VarBind&) = default;
};

struct Pdu {
    PduType type = PduType::GetRequest;
    std::int32_t requestId = 0;
    std::int32_t errorStatus = kNoError;
    std::int32_t errorIndex = 0;  // 1-based position of the failing binding, 0 for none
    std::vector<VarBind> varbinds;
    friend bool operator==(const Pdu&, const Pdu&) = default;
};

struct Message {
    std::int32_t version = kVersion1;
    std::string community;  // raw octets
    Pdu pdu;
    friend bool operator==(const Message&, const Message&) = default;
};

// The BER bytes of message, with the shortest length forms. Fails with InvalidOid when a name
// or an OID value cannot be encoded, TooLarge past kMaxMessageSize, UnsupportedVersion for a
// version other than 0.
Result<Bytes> Encode(const Message& message);

// Reads one whole datagram. Only SNMPv1 and the four PDUs above are accepted; anything
// malformed, truncated, followed by extra octets or longer than kMaxMessageSize is refused. A
// binding's value that is a whole element but cannot be read (an unknown type, contents that do
// not fit their type) does not refuse the message: it becomes Type::Unusable.
Result<Message> Decode(std::span<const std::uint8_t> datagram);

// A Get or GetNext request for names, every value NULL, error fields zero.
Result<Bytes> EncodeRequest(PduType type, std::string_view community, std::int32_t requestId,
                            std::span<const Oid> names);

// Decode, and then NotAResponse unless the PDU is a GetResponse. Matching the request id and
// the community is the caller's business.
Result<Message> DecodeResponse(std::span<const std::uint8_t> datagram);

}  // namespace snmp
