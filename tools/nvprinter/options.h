// Command-line helpers shared by the nvprinter modes: IPv4 addresses, endpoints, numbers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nvprinter {

// An IPv4 address as its four octets, in network order.
using Ipv4 = std::array<std::uint8_t, 4>;

struct Endpoint {
    Ipv4 address{};
    std::uint16_t port = 0;
};

// Dotted quad only ("192.168.77.11"); host names are not looked up.
std::optional<Ipv4> ParseIpv4(std::string_view text);
// "ADDR:PORT", port 0..65535 (0 lets the system choose).
std::optional<Endpoint> ParseEndpoint(std::string_view text);
// A decimal number in [0, max], nothing else around it.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max);

std::string FormatIpv4(const Ipv4& address);
std::string FormatEndpoint(const Endpoint& endpoint);

bool IsAnyAddress(const Ipv4& address);

// The --out directory, with every missing level of its path created (mode 0755 before the
// umask); false with the reason in *error when it cannot be made or is not a directory.
bool MakeOutputDirectory(const std::string& path, std::string* error);

}  // namespace nvprinter
