#include "snmp/value.h"

#include <cstdio>

namespace snmp {

const char* TypeName(Type type) {
    switch (type) {
        case Type::Integer:
            return "INTEGER";
        case Type::OctetString:
            return "OctetString";
        case Type::Null:
            return "NULL";
        case Type::ObjectId:
            return "OID";
        case Type::IpAddress:
            return "IpAddress";
        case Type::Counter:
            return "Counter";
        case Type::Gauge:
            return "Gauge";
        case Type::TimeTicks:
            return "TimeTicks";
        case Type::Opaque:
            return "Opaque";
        case Type::NoSuchObject:
            return "noSuchObject";
        case Type::NoSuchInstance:
            return "noSuchInstance";
        case Type::EndOfMibView:
            return "endOfMibView";
        case Type::Unusable:
            return "unusable";
    }
    return "?";
}

Value Value::Exception(Type type) {
    if (type == Type::NoSuchObject || type == Type::NoSuchInstance || type == Type::EndOfMibView) {
        return Value(type, std::monostate{});
    }
    return Value();
}

Value Value::Unusable(std::uint8_t tag, std::vector<std::uint8_t> contents) {
    Value value(Type::Unusable, std::move(contents));
    value.unusableTag_ = tag;
    return value;
}

std::uint8_t Value::Tag() const {
    return type_ == Type::Unusable ? unusableTag_ : static_cast<std::uint8_t>(type_);
}

const std::vector<std::uint8_t>* Value::UnusableContents() const {
    return type_ == Type::Unusable ? std::get_if<std::vector<std::uint8_t>>(&data_) : nullptr;
}

std::optional<std::int32_t> Value::AsInteger() const {
    if (type_ != Type::Integer) {
        return std::nullopt;
    }
    return std::get<std::int32_t>(data_);
}

std::optional<std::uint32_t> Value::AsUnsigned() const {
    if (type_ != Type::Counter && type_ != Type::Gauge && type_ != Type::TimeTicks) {
        return std::nullopt;
    }
    return std::get<std::uint32_t>(data_);
}

const std::vector<std::uint8_t>* Value::AsBytes() const {
    return type_ == Type::Unusable ? nullptr : std::get_if<std::vector<std::uint8_t>>(&data_);
}

std::optional<std::string> Value::AsText() const {
    if (type_ != Type::OctetString) {
        return std::nullopt;
    }
    const auto& bytes = std::get<std::vector<std::uint8_t>>(data_);
    return std::string(bytes.begin(), bytes.end());
}

std::optional<std::array<std::uint8_t, 4>> Value::AsIpAddress() const {
    if (type_ != Type::IpAddress) {
        return std::nullopt;
    }
    const auto& bytes = std::get<std::vector<std::uint8_t>>(data_);
    return std::array<std::uint8_t, 4>{bytes[0], bytes[1], bytes[2], bytes[3]};
}

const Oid* Value::AsOid() const {
    return std::get_if<Oid>(&data_);
}

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char octet[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(octet, sizeof octet, "%02x", byte);
        if (!text.empty()) {
            text += ' ';
        }
        text += octet;
    }
    return text;
}

bool Printable(const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t byte : bytes) {
        if (byte < 0x20 || byte > 0x7e) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string Value::ToString() const {
    std::string text = TypeName(type_);
    switch (type_) {
        case Type::Integer:
            return text + ": " + std::to_string(std::get<std::int32_t>(data_));
        case Type::Counter:
        case Type::Gauge:
        case Type::TimeTicks:
            return text + ": " + std::to_string(std::get<std::uint32_t>(data_));
        case Type::ObjectId:
            return text + ": " + std::get<Oid>(data_).ToString();
        case Type::IpAddress: {
            const auto& bytes = std::get<std::vector<std::uint8_t>>(data_);
            return text + ": " + std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                   std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
        }
        case Type::OctetString: {
            const auto& bytes = std::get<std::vector<std::uint8_t>>(data_);
            if (Printable(bytes)) {  // an empty string prints as ""
                return text + ": \"" + std::string(bytes.begin(), bytes.end()) + "\"";
            }
            return text + ": " + Hex(bytes);
        }
        case Type::Opaque:
            return text + ": " + Hex(std::get<std::vector<std::uint8_t>>(data_));
        case Type::Unusable: {
            char tag[8];
            std::snprintf(tag, sizeof tag, "0x%02x", unusableTag_);
            const auto& bytes = std::get<std::vector<std::uint8_t>>(data_);
            return text + " " + tag + (bytes.empty() ? "" : ": " + Hex(bytes));
        }
        case Type::Null:
        case Type::NoSuchObject:
        case Type::NoSuchInstance:
        case Type::EndOfMibView:
            break;
    }
    return text;
}

}  // namespace snmp
