#include "tools/cli/text.h"

#include <cstdio>
#include <cstdlib>

namespace cli {

std::string Utf8(const WCHAR* text) {
    if (text == nullptr || text[0] == 0) {
        return std::string();
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return std::string();
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes) - 1);
    return out;
}

WideString Wide(const std::string& text) {
    if (text.empty()) {
        return WideString();
    }
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (chars <= 1) {
        return WideString();
    }
    WideString out(static_cast<size_t>(chars), 0);
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), chars);
    out.resize(static_cast<size_t>(chars) - 1);
    return out;
}

namespace {

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t follow;
        if (c < 0x80) {
            follow = 0;
        } else if ((c & 0xe0) == 0xc0) {
            follow = 1;
        } else if ((c & 0xf0) == 0xe0) {
            follow = 2;
        } else if ((c & 0xf8) == 0xf0) {
            follow = 3;
        } else {
            return false;
        }
        if (i + follow >= text.size() && follow > 0) {
            return false;
        }
        for (size_t k = 1; k <= follow; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}

}  // namespace

std::string JsonString(const std::string& text) {
    const bool utf8 = IsUtf8(text);
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

bool ParseNumber(const std::string& text, DWORD max, DWORD* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    // Decimal, or hexadecimal after 0x; a leading zero does not make it octal.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    unsigned long long n = strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (end == nullptr || *end != 0 || n > max) {
        return false;
    }
    *value = static_cast<DWORD>(n);
    return true;
}

bool SameName(const WCHAR* a, const WCHAR* b) {
    return a != nullptr && b != nullptr && _wcsicmp(a, b) == 0;
}

}  // namespace cli
