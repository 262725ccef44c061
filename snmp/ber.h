// The BER layer of the codec: reading and writing tag-length-value elements and the primitive
// contents that SNMPv1 uses. Only the definite length forms and low tag numbers occur in SNMP;
// everything else is rejected. Reading never looks outside the span it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "snmp/oid.h"
#include "snmp/result.h"

namespace snmp::ber {

// Universal tags used by SNMP.
constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kNull = 0x05;
constexpr std::uint8_t kObjectId = 0x06;
constexpr std::uint8_t kSequence = 0x30;

// The low five bits all set announce a multi-octet tag number, which SNMP never uses.
constexpr std::uint8_t kHighTagNumber = 0x1f;
// The longest length form we read: 0x84 and four octets, as far as any SNMP message can go.
constexpr std::size_t kMaxLengthOctets = 4;

using Bytes = std::vector<std::uint8_t>;

// One element: its tag octet and a view of its contents inside the input.
struct Element {
    std::uint8_t tag = 0;
    std::span<const std::uint8_t> contents;
};

// Walks the elements of one level of an encoding, front to back.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : rest_(data) {}

    bool AtEnd() const { return rest_.empty(); }

    // The next element, whatever its tag.
    Result<Element> Read();
    // The contents of the next element, which must carry this tag.
    Result<std::span<const std::uint8_t>> Read(std::uint8_t tag);

  private:
    std::span<const std::uint8_t> rest_;
};

// Contents decoders. INTEGER accepts redundant leading sign octets but not a value outside
// 32 bits. The unsigned types (Counter, Gauge, TimeTicks) accept the leading 0x00 that a value
// with its top bit set needs, and also read a top bit set without it as part of the magnitude
// (some agents write 4294967295 as ff ff ff ff).
Result<std::int32_t> DecodeInteger(std::span<const std::uint8_t> contents);
Result<std::uint32_t> DecodeUnsigned(std::span<const std::uint8_t> contents);
Result<Oid> DecodeOid(std::span<const std::uint8_t> contents);

// Writers append one whole element to out, always with the shortest length form.
void AppendLength(Bytes& out, std::size_t length);
void AppendElement(Bytes& out, std::uint8_t tag, std::span<const std::uint8_t> contents);
void AppendInteger(Bytes& out, std::uint8_t tag, std::int64_t value);
// Appends nothing and returns false for an OID that is not IsEncodable().
bool AppendOid(Bytes& out, const Oid& oid);

}  // namespace snmp::ber
