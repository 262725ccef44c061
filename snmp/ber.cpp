#include "snmp/ber.h"

namespace snmp::ber {

Result<Element> Reader::Read() {
    if (rest_.size() < 2) {
        return Error::Truncated;
    }
    Element element;
    element.tag = rest_[0];
    if ((element.tag & kHighTagNumber) == kHighTagNumber) {
        return Error::UnexpectedTag;
    }
    std::size_t length = rest_[1];
    std::size_t header = 2;
    if (length & 0x80) {
        // Long form: the low bits count the length octets that follow. Zero of them is the
        // indefinite form, which SNMP forbids.
        std::size_t count = length & 0x7f;
        if (count == 0 || count > kMaxLengthOctets) {
            return Error::BadLength;
        }
        if (rest_.size() - header < count) {
            return Error::Truncated;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | rest_[header + i];
        }
        header += count;
    }
    if (length > rest_.size() - header) {
        return Error::Truncated;
    }
    element.contents = rest_.subspan(header, length);
    rest_ = rest_.subspan(header + length);
    return element;
}

Result<std::span<const std::uint8_t>> Reader::Read(std::uint8_t tag) {
    Result<Element> element = Read();
    if (!element) {
        return element.error();
    }
    if (element->tag != tag) {
        return Error::UnexpectedTag;
    }
    return element->contents;
}

Result<std::int32_t> DecodeInteger(std::span<const std::uint8_t> contents) {
    if (contents.empty()) {
        return Error::BadInteger;
    }
    // Octets that only repeat the sign (00 before a clear top bit, ff before a set one) do not
    // change the value; drop them before judging the width.
    while (contents.size() > 1 && ((contents[0] == 0x00 && !(contents[1] & 0x80)) ||
                                   (contents[0] == 0xff && (contents[1] & 0x80)))) {
        contents = contents.subspan(1);
    }
    if (contents.size() > 4) {
        return Error::BadInteger;
    }
    std::uint32_t bits = (contents[0] & 0x80) ? UINT32_MAX : 0;
    for (std::uint8_t octet : contents) {
        bits = (bits << 8) | octet;
    }
    return static_cast<std::int32_t>(bits);
}

Result<std::uint32_t> DecodeUnsigned(std::span<const std::uint8_t> contents) {
    if (contents.empty()) {
        return Error::BadInteger;
    }
    while (contents.size() > 1 && contents[0] == 0x00) {
        contents = contents.subspan(1);
    }
    if (contents.size() > 4) {
        return Error::BadInteger;
    }
    std::uint32_t value = 0;
    for (std::uint8_t octet : contents) {
        value = (value << 8) | octet;
    }
    return value;
}

Result<Oid> DecodeOid(std::span<const std::uint8_t> contents) {
    if (contents.empty()) {
        return Error::BadOid;
    }
    // The first sub-identifier holds two arcs as 40 * first + second, where a first arc of 2
    // lets the second one go past 39; so it may be up to 80 above the 32-bit arc limit.
    constexpr std::uint64_t kMaxFirst = std::uint64_t{UINT32_MAX} + 80;
    std::vector<std::uint32_t> arcs;
    std::size_t pos = 0;
    while (pos < contents.size()) {
        // Base 128, high bit set on every octet but the last; a leading 0x80 would only pad.
        if (contents[pos] == 0x80) {
            return Error::BadOid;
        }
        const std::uint64_t limit = arcs.empty() ? kMaxFirst : UINT32_MAX;
        std::uint64_t value = 0;
        bool done = false;
        while (pos < contents.size() && !done) {
            std::uint8_t octet = contents[pos++];
            value = (value << 7) | (octet & 0x7f);
            if (value > limit) {
                return Error::BadOid;
            }
            done = !(octet & 0x80);
        }
        if (!done) {
            return Error::BadOid;
        }
        if (arcs.empty()) {
            std::uint32_t first = value < 40 ? 0 : value < 80 ? 1 : 2;
            arcs.push_back(first);
            arcs.push_back(static_cast<std::uint32_t>(value - 40 * first));
        } else {
            if (arcs.size() == Oid::kMaxArcs) {
                return Error::BadOid;
            }
            arcs.push_back(static_cast<std::uint32_t>(value));
        }
    }
    return Oid(std::move(arcs));
}

void AppendLength(Bytes& out, std::size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    std::uint8_t octets[sizeof(std::size_t)];
    std::size_t count = 0;
    for (; length != 0; length >>= 8) {
        octets[count++] = static_cast<std::uint8_t>(length & 0xff);
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    while (count > 0) {
        out.push_back(octets[--count]);
    }
}

void AppendElement(Bytes& out, std::uint8_t tag, std::span<const std::uint8_t> contents) {
    out.push_back(tag);
    AppendLength(out, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
}

void AppendInteger(Bytes& out, std::uint8_t tag, std::int64_t value) {
    // Shortest two's complement form: drop leading octets while the next one still carries
    // the sign. An unsigned 32-bit value with its top bit set thus gets its leading 0x00.
    std::uint8_t octets[8];
    for (int i = 0; i < 8; ++i) {
        octets[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (56 - 8 * i));
    }
    std::size_t first = 0;
    while (first < 7 && ((octets[first] == 0x00 && !(octets[first + 1] & 0x80)) ||
                         (octets[first] == 0xff && (octets[first + 1] & 0x80)))) {
        ++first;
    }
    AppendElement(out, tag, std::span<const std::uint8_t>(octets + first, 8 - first));
}

namespace {

void AppendSubidentifier(Bytes& out, std::uint64_t value) {
    std::uint8_t groups[10];
    std::size_t count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7f);
        value >>= 7;
    } while (value != 0);
    while (count > 1) {
        out.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    }
    out.push_back(groups[0]);
}

}  // namespace

bool AppendOid(Bytes& out, const Oid& oid) {
    if (!oid.IsEncodable()) {
        return false;
    }
    Bytes contents;
    AppendSubidentifier(contents, std::uint64_t{oid[0]} * 40 + oid[1]);
    for (std::size_t i = 2; i < oid.size(); ++i) {
        AppendSubidentifier(contents, oid[i]);
    }
    AppendElement(out, kObjectId, contents);
    return true;
}

}  // namespace snmp::ber
