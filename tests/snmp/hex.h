// Hex text to bytes and back, for wire constants in the SNMP tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace snmptest {

// Accepts hex digits with optional spaces between octets.
inline std::vector<std::uint8_t> FromHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        int nibble;
        if (c >= '0' && c <= '9') {
            nibble = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            nibble = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            nibble = c - 'A' + 10;
        } else if (c == ' ') {
            continue;
        } else {
            throw std::invalid_argument("bad hex digit");
        }
        if (high < 0) {
            high = nibble;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::invalid_argument("odd number of hex digits");
    }
    return bytes;
}

inline std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char octet[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(octet, sizeof octet, "%02x", byte);
        text += octet;
    }
    return text;
}

}  // namespace snmptest
