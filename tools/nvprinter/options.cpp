#include "tools/nvprinter/options.h"

#include <arpa/inet.h>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace nvprinter {

std::optional<Ipv4> ParseIpv4(std::string_view text) {
    // "1.2.3.4" is at most 15 characters; inet_pton needs a terminated copy.
    char buffer[16];
    if (text.empty() || text.size() >= sizeof buffer) {
        return std::nullopt;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    Ipv4 address;
    if (inet_pton(AF_INET, buffer, address.data()) != 1) {
        return std::nullopt;
    }
    return address;
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::optional<Ipv4> address = ParseIpv4(text.substr(0, colon));
    std::optional<std::uint32_t> port = ParseNumber(text.substr(colon + 1), UINT16_MAX);
    if (!address || !port) {
        return std::nullopt;
    }
    return Endpoint{*address, static_cast<std::uint16_t>(*port)};
}

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > max) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::string FormatIpv4(const Ipv4& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
           std::to_string(address[2]) + "." + std::to_string(address[3]);
}

std::string FormatEndpoint(const Endpoint& endpoint) {
    return FormatIpv4(endpoint.address) + ":" + std::to_string(endpoint.port);
}

bool IsAnyAddress(const Ipv4& address) {
    return address == Ipv4{0, 0, 0, 0};
}

bool MakeOutputDirectory(const std::string& path, std::string* error) {
    std::error_code code;
    std::filesystem::create_directories(path, code);
    if (!code && !std::filesystem::is_directory(path, code)) {
        code = std::make_error_code(std::errc::not_a_directory);
    }
    if (code) {
        *error = code.message();
        return false;
    }
    return true;
}

}  // namespace nvprinter
