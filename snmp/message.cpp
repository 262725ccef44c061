#include "snmp/message.h"

#include <new>

#include "snmp/ber.h"

namespace snmp {

const char* PduTypeName(PduType type) {
    switch (type) {
        case PduType::GetRequest:
            return "GetRequest";
        case PduType::GetNextRequest:
            return "GetNextRequest";
        case PduType::GetResponse:
            return "GetResponse";
        case PduType::SetRequest:
            return "SetRequest";
    }
    return "?";
}

namespace {

// ---- encoding -------------------------------------------------------------------------------

bool IsSupportedPdu(std::uint8_t tag) {
    return tag >= static_cast<std::uint8_t>(PduType::GetRequest) &&
           tag <= static_cast<std::uint8_t>(PduType::SetRequest);
}

bool AppendValue(Bytes& out, const Value& value) {
    const auto tag = static_cast<std::uint8_t>(value.type());
    switch (value.type()) {
        case Type::Integer:
            ber::AppendInteger(out, tag, *value.AsInteger());
            return true;
        case Type::Counter:
        case Type::Gauge:
        case Type::TimeTicks:
            ber::AppendInteger(out, tag, *value.AsUnsigned());
            return true;
        case Type::ObjectId:
            return ber::AppendOid(out, *value.AsOid());
        case Type::OctetString:
        case Type::IpAddress:
        case Type::Opaque:
            ber::AppendElement(out, tag, *value.AsBytes());
            return true;
        case Type::Null:
        case Type::NoSuchObject:
        case Type::NoSuchInstance:
        case Type::EndOfMibView:
            ber::AppendElement(out, tag, {});
            return true;
        case Type::Unusable:
            ber::AppendElement(out, value.Tag(), *value.UnusableContents());
            return true;
    }
    return false;
}

Result<Bytes> EncodeMessage(const Message& message) {
    if (message.version != kVersion1) {
        return Error::UnsupportedVersion;
    }
    if (!IsSupportedPdu(static_cast<std::uint8_t>(message.pdu.type))) {
        return Error::UnsupportedPdu;
    }
    // Built inside out: each constructed element's contents first, then wrapped.
    Bytes list;
    for (const VarBind& varbind : message.pdu.varbinds) {
        Bytes binding;
        if (!ber::AppendOid(binding, varbind.name) || !AppendValue(binding, varbind.value)) {
            return Error::InvalidOid;
        }
        ber::AppendElement(list, ber::kSequence, binding);
        if (list.size() > kMaxMessageSize) {
            return Error::TooLarge;
        }
    }
    Bytes pdu;
    ber::AppendInteger(pdu, ber::kInteger, message.pdu.requestId);
    ber::AppendInteger(pdu, ber::kInteger, message.pdu.errorStatus);
    ber::AppendInteger(pdu, ber::kInteger, message.pdu.errorIndex);
    ber::AppendElement(pdu, ber::kSequence, list);

    Bytes body;
    ber::AppendInteger(body, ber::kInteger, message.version);
    const auto* community = reinterpret_cast<const std::uint8_t*>(message.community.data());
    ber::AppendElement(body, ber::kOctetString, {community, message.community.size()});
    ber::AppendElement(body, static_cast<std::uint8_t>(message.pdu.type), pdu);

    Bytes out;
    ber::AppendElement(out, ber::kSequence, body);
    if (out.size() > kMaxMessageSize) {
        return Error::TooLarge;
    }
    return out;
}

// ---- decoding -------------------------------------------------------------------------------

// The value of one binding. One the codec cannot read (see Type::Unusable) is kept as unusable
// rather than refusing the message: an agent's one odd value leaves only that binding unset.
Value DecodeValue(const ber::Element& element) {
    const std::span<const std::uint8_t> contents = element.contents;
    const Value unusable = Value::Unusable(element.tag, Bytes(contents.begin(), contents.end()));
    switch (element.tag) {
        case static_cast<std::uint8_t>(Type::Integer): {
            Result<std::int32_t> number = ber::DecodeInteger(contents);
            return number ? Value::Integer(*number) : unusable;
        }
        case static_cast<std::uint8_t>(Type::Counter):
        case static_cast<std::uint8_t>(Type::Gauge):
        case static_cast<std::uint8_t>(Type::TimeTicks): {
            Result<std::uint32_t> number = ber::DecodeUnsigned(contents);
            if (!number) {
                return unusable;
            }
            if (element.tag == static_cast<std::uint8_t>(Type::Counter)) {
                return Value::Counter(*number);
            }
            if (element.tag == static_cast<std::uint8_t>(Type::Gauge)) {
                return Value::Gauge(*number);
            }
            return Value::TimeTicks(*number);
        }
        case static_cast<std::uint8_t>(Type::OctetString):
            return Value::OctetString(Bytes(contents.begin(), contents.end()));
        case static_cast<std::uint8_t>(Type::Opaque):
            return Value::Opaque(Bytes(contents.begin(), contents.end()));
        case static_cast<std::uint8_t>(Type::ObjectId): {
            Result<Oid> oid = ber::DecodeOid(contents);
            return oid ? Value::ObjectId(std::move(oid).value()) : unusable;
        }
        case static_cast<std::uint8_t>(Type::IpAddress):
            if (contents.size() != 4) {
                return unusable;
            }
            return Value::IpAddress({contents[0], contents[1], contents[2], contents[3]});
        case static_cast<std::uint8_t>(Type::Null):
        case static_cast<std::uint8_t>(Type::NoSuchObject):
        case static_cast<std::uint8_t>(Type::NoSuchInstance):
        case static_cast<std::uint8_t>(Type::EndOfMibView):
            if (!contents.empty()) {
                return unusable;
            }
            return element.tag == static_cast<std::uint8_t>(Type::Null)
                       ? Value::Null()
                       : Value::Exception(static_cast<Type>(element.tag));
        default:
            return unusable;
    }
}

Result<VarBind> DecodeVarBind(std::span<const std::uint8_t> contents) {
    ber::Reader reader(contents);
    Result<std::span<const std::uint8_t>> name = reader.Read(ber::kObjectId);
    if (!name) {
        return name.error();
    }
    Result<Oid> oid = ber::DecodeOid(*name);
    if (!oid) {
        return oid.error();
    }
    Result<ber::Element> element = reader.Read();
    if (!element) {
        return element.error();
    }
    if (!reader.AtEnd()) {
        return Error::TrailingData;
    }
    return VarBind{std::move(oid).value(), DecodeValue(*element)};
}

Result<std::int32_t> ReadInteger(ber::Reader& reader) {
    Result<std::span<const std::uint8_t>> contents = reader.Read(ber::kInteger);
    if (!contents) {
        return contents.error();
    }
    return ber::DecodeInteger(*contents);
}

// Context-specific constructed tags [0]..[31] are PDUs; those past SetRequest (Trap, GetBulk,
// Inform, SNMPv2-Trap, Report) are real PDUs this module does not serve.
bool IsPduTag(std::uint8_t tag) {
    return (tag & 0xe0) == 0xa0;
}

Result<Pdu> DecodePdu(const ber::Element& element) {
    if (!IsPduTag(element.tag)) {
        return Error::UnexpectedTag;
    }
    if (!IsSupportedPdu(element.tag)) {
        return Error::UnsupportedPdu;
    }
    Pdu pdu;
    pdu.type = static_cast<PduType>(element.tag);
    ber::Reader reader(element.contents);
    std::int32_t* fields[] = {&pdu.requestId, &pdu.errorStatus, &pdu.errorIndex};
    for (std::int32_t* field : fields) {
        Result<std::int32_t> number = ReadInteger(reader);
        if (!number) {
            return number.error();
        }
        *field = *number;
    }
    Result<std::span<const std::uint8_t>> list = reader.Read(ber::kSequence);
    if (!list) {
        return list.error();
    }
    if (!reader.AtEnd()) {
        return Error::TrailingData;
    }
    ber::Reader bindings(*list);
    while (!bindings.AtEnd()) {
        Result<std::span<const std::uint8_t>> contents = bindings.Read(ber::kSequence);
        if (!contents) {
            return contents.error();
        }
        Result<VarBind> varbind = DecodeVarBind(*contents);
        if (!varbind) {
            return varbind.error();
        }
        pdu.varbinds.push_back(std::move(varbind).value());
    }
    return pdu;
}

Result<Message> DecodeMessage(std::span<const std::uint8_t> datagram) {
    if (datagram.size() > kMaxMessageSize) {
        return Error::TooLarge;
    }
    ber::Reader outer(datagram);
    Result<std::span<const std::uint8_t>> body = outer.Read(ber::kSequence);
    if (!body) {
        return body.error();
    }
    if (!outer.AtEnd()) {
        return Error::TrailingData;
    }
    ber::Reader reader(*body);
    Message message;
    Result<std::int32_t> version = ReadInteger(reader);
    if (!version) {
        return version.error();
    }
    if (*version != kVersion1) {
        return Error::UnsupportedVersion;
    }
    message.version = *version;
    Result<std::span<const std::uint8_t>> community = reader.Read(ber::kOctetString);
    if (!community) {
        return community.error();
    }
    message.community.assign(community->begin(), community->end());
    Result<ber::Element> element = reader.Read();
    if (!element) {
        return element.error();
    }
    Result<Pdu> pdu = DecodePdu(*element);
    if (!pdu) {
        return pdu.error();
    }
    if (!reader.AtEnd()) {
        return Error::TrailingData;
    }
    message.pdu = std::move(pdu).value();
    return message;
}

}  // namespace

// The public entry points only add the promise that nothing escapes: allocations are bounded
// by kMaxMessageSize, but a failing one still becomes an error result.
Result<Bytes> Encode(const Message& message) {
    try {
        return EncodeMessage(message);
    } catch (const std::bad_alloc&) {
        return Error::NoMemory;
    }
}

Result<Message> Decode(std::span<const std::uint8_t> datagram) {
    try {
        return DecodeMessage(datagram);
    } catch (const std::bad_alloc&) {
        return Error::NoMemory;
    }
}

Result<Bytes> EncodeRequest(PduType type, std::string_view community, std::int32_t requestId,
                            std::span<const Oid> names) {
    try {
        Message message;
        message.community.assign(community.begin(), community.end());
        message.pdu.type = type;
        message.pdu.requestId = requestId;
        message.pdu.varbinds.reserve(names.size());
        for (const Oid& name : names) {
            message.pdu.varbinds.push_back(VarBind{name, Value::Null()});
        }
        return EncodeMessage(message);
    } catch (const std::bad_alloc&) {
        return Error::NoMemory;
    }
}

Result<Message> DecodeResponse(std::span<const std::uint8_t> datagram) {
    Result<Message> message = Decode(datagram);
    if (message && message->pdu.type != PduType::GetResponse) {
        return Error::NotAResponse;
    }
    return message;
}

}  // namespace snmp
