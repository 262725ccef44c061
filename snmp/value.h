// The value of a variable binding: the SNMPv1 types, plus the ones a v1 manager may still see
// from a confused agent (Opaque, kept raw; the SNMPv2 exception markers).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "snmp/oid.h"

namespace snmp {

// The BER tag of each value type.
enum class Type : std::uint8_t {
    Integer = 0x02,
    OctetString = 0x04,
    Null = 0x05,
    ObjectId = 0x06,
    IpAddress = 0x40,
    Counter = 0x41,
    Gauge = 0x42,
    TimeTicks = 0x43,
    Opaque = 0x44,
    NoSuchObject = 0x80,    // SNMPv2 exception, no contents
    NoSuchInstance = 0x81,  // SNMPv2 exception, no contents
    EndOfMibView = 0x82,    // SNMPv2 exception, no contents
    // A value the decoder could not read: a tag it does not know (Counter64, a constructed
    // OCTET STRING) or contents that do not fit their type (an IpAddress not of four octets, a
    // number wider than 32 bits, NULL with contents). 0 is no value's tag (end-of-contents).
    Unusable = 0x00,
};

// A short name for logs ("INTEGER", "Counter", ...).
const char* TypeName(Type type);

class Value {
  public:
    Value() = default;  // NULL, what a request carries

    static Value Null() { return Value(); }
    static Value Integer(std::int32_t value) { return Value(Type::Integer, value); }
    static Value OctetString(std::vector<std::uint8_t> bytes) {
        return Value(Type::OctetString, std::move(bytes));
    }
    static Value OctetString(std::string_view text) {
        return OctetString(std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    static Value ObjectId(Oid oid) { return Value(Type::ObjectId, std::move(oid)); }
    static Value IpAddress(const std::array<std::uint8_t, 4>& address) {
        return Value(Type::IpAddress, std::vector<std::uint8_t>(address.begin(), address.end()));
    }
    static Value Counter(std::uint32_t value) { return Value(Type::Counter, value); }
    static Value Gauge(std::uint32_t value) { return Value(Type::Gauge, value); }
    static Value TimeTicks(std::uint32_t value) { return Value(Type::TimeTicks, value); }
    // Opaque carries a nested BER encoding that this codec does not interpret.
    static Value Opaque(std::vector<std::uint8_t> raw) {
        return Value(Type::Opaque, std::move(raw));
    }
    // type must be NoSuchObject, NoSuchInstance or EndOfMibView; anything else gives NULL.
    static Value Exception(Type type);
    // What a binding holds when its value could not be read: the element's tag and contents
    // as they came, so that it encodes back to the same octets. No accessor answers for it.
    static Value Unusable(std::uint8_t tag, std::vector<std::uint8_t> contents);

    Type type() const { return type_; }
    // The BER tag the value is written with: its type's, or an unusable value's own.
    std::uint8_t Tag() const;
    // The contents octets of an unusable value; null for any other.
    const std::vector<std::uint8_t>* UnusableContents() const;

    // Each accessor answers only for its own type(s) and gives nullopt/nullptr otherwise.
    std::optional<std::int32_t> AsInteger() const;
    std::optional<std::uint32_t> AsUnsigned() const;   // Counter, Gauge, TimeTicks
    const std::vector<std::uint8_t>* AsBytes() const;  // OctetString, Opaque, IpAddress
    std::optional<std::string> AsText() const;         // OctetString as a byte string
    std::optional<std::array<std::uint8_t, 4>> AsIpAddress() const;
    const Oid* AsOid() const;

    // One-line rendering for logs, e.g. "Counter: 7", "OctetString: 02 1a 2b 3c 4d 5e",
    // "OctetString: \"Lab Printer\"", "IpAddress: 255.255.255.0".
    std::string ToString() const;

    friend bool operator==(const Value&, const Value&) = default;

  private:
    using Data =
        std::variant<std::monostate, std::int32_t, std::uint32_t, std::vector<std::uint8_t>, Oid>;
    Value(Type type, Data data) : type_(type), data_(std::move(data)) {}

    Type type_ = Type::Null;
    Data data_;
    std::uint8_t unusableTag_ = 0;
};

}  // namespace snmp
