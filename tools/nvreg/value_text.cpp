#include "tools/nvreg/value_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "platform/linux/include/nvplatform.h"

namespace nvreg {
namespace {

struct TypeEntry {
    DWORD type;
    const char* name;
    bool writable;  // reg add accepts it with /t
};

constexpr TypeEntry kTypes[] = {
    {REG_NONE, "REG_NONE", true},
    {REG_SZ, "REG_SZ", true},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ", true},
    {REG_BINARY, "REG_BINARY", true},
    {REG_DWORD, "REG_DWORD", true},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN", false},
    {REG_LINK, "REG_LINK", false},
    {REG_MULTI_SZ, "REG_MULTI_SZ", true},
    {8, "REG_RESOURCE_LIST", false},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR", false},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST", false},
    {REG_QWORD, "REG_QWORD", true},
};

std::string Hex(const std::vector<BYTE>& data) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (BYTE b : data) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

// UTF-16 code units of stored data (an odd last byte is no character).
std::u16string Units(const std::vector<BYTE>& data) {
    std::u16string units;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return units;
}

void AppendUnits(const std::u16string& text, std::vector<BYTE>* data) {
    for (char16_t c : text) {
        data->push_back(static_cast<BYTE>(c & 0xFF));
        data->push_back(static_cast<BYTE>(c >> 8));
    }
}

bool ParseNumber(const std::string& text, uint64_t maximum, uint64_t* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long number = strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || number > maximum) {
        return false;
    }
    *value = number;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string TypeName(DWORD type) {
    for (const TypeEntry& entry : kTypes) {
        if (entry.type == type) {
            return entry.name;
        }
    }
    char number[16];
    std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(type));
    return number;
}

bool TypeFromName(const std::string& name, DWORD* type) {
    for (const TypeEntry& entry : kTypes) {
        if (entry.writable && strcasecmp(entry.name, name.c_str()) == 0) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

std::string DataText(DWORD type, const std::vector<BYTE>& data) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_LINK: {
            std::u16string text = Units(data);
            return NvToUtf8(text.substr(0, text.find(u'\0')).c_str());
        }
        case REG_MULTI_SZ: {
            // The strings, joined with a literal \0; the empty string that ends the list is
            // not one of them.
            std::u16string units = Units(data);
            while (!units.empty() && units.back() == u'\0') {
                units.pop_back();
            }
            std::string text;
            size_t start = 0;
            while (start <= units.size() && !units.empty()) {
                size_t end = units.find(u'\0', start);
                std::u16string item =
                    units.substr(start, end == std::u16string::npos ? end : end - start);
                text += (start == 0 ? "" : "\\0") + NvToUtf8(item.c_str());
                if (end == std::u16string::npos) {
                    break;
                }
                start = end + 1;
            }
            return text;
        }
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            if (data.size() == 4) {
                DWORD value = type == REG_DWORD
                                  ? data[0] | data[1] << 8 | data[2] << 16 | DWORD(data[3]) << 24
                                  : data[3] | data[2] << 8 | data[1] << 16 | DWORD(data[0]) << 24;
                char text[16];
                std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
                return text;
            }
            return Hex(data);
        case REG_QWORD:
            if (data.size() == 8) {
                uint64_t value = 0;
                for (int i = 7; i >= 0; --i) {
                    value = value << 8 | data[i];
                }
                char text[24];
                std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
                return text;
            }
            return Hex(data);
        default:
            return Hex(data);
    }
}

bool DataFromText(DWORD type, const std::string& text, const std::string& separator,
                  std::vector<BYTE>* data, std::string* error) {
    data->clear();
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            AppendUnits(NvFromUtf8(text.c_str()), data);
            AppendUnits(std::u16string(1, u'\0'), data);
            return true;
        case REG_MULTI_SZ: {
            // Each string with its terminator, then the empty string that ends the list.
            if (separator.empty()) {
                *error = "the separator given with /s is empty";
                return false;
            }
            size_t start = 0;
            while (!text.empty()) {
                size_t end = text.find(separator, start);
                std::string item = text.substr(start, end == std::string::npos ? end : end - start);
                AppendUnits(NvFromUtf8(item.c_str()), data);
                AppendUnits(std::u16string(1, u'\0'), data);
                if (end == std::string::npos) {
                    break;
                }
                start = end + separator.size();
            }
            AppendUnits(std::u16string(1, u'\0'), data);
            return true;
        }
        case REG_DWORD: {
            uint64_t value = 0;
            if (!ParseNumber(text, 0xFFFFFFFFull, &value)) {
                *error =
                    "REG_DWORD data must be a number from 0 to 4294967295 (or 0x0 to "
                    "0xffffffff), not '" +
                    text + "'";
                return false;
            }
            for (int i = 0; i < 4; ++i) {
                data->push_back(static_cast<BYTE>(value >> (8 * i)));
            }
            return true;
        }
        case REG_QWORD: {
            uint64_t value = 0;
            if (!ParseNumber(text, ~0ull, &value)) {
                *error = "REG_QWORD data must be a number from 0 to 18446744073709551615, not '" +
                         text + "'";
                return false;
            }
            for (int i = 0; i < 8; ++i) {
                data->push_back(static_cast<BYTE>(value >> (8 * i)));
            }
            return true;
        }
        default: {
            // REG_BINARY and REG_NONE: hex digits, two a byte; an odd count starts with a
            // single digit.
            size_t i = 0;
            if (text.size() % 2 == 1) {
                int digit = HexDigit(text[0]);
                if (digit < 0) {
                    *error = "binary data must be hex digits, not '" + text + "'";
                    return false;
                }
                data->push_back(static_cast<BYTE>(digit));
                i = 1;
            }
            for (; i < text.size(); i += 2) {
                int high = HexDigit(text[i]);
                int low = HexDigit(text[i + 1]);
                if (high < 0 || low < 0) {
                    *error = "binary data must be hex digits, not '" + text + "'";
                    return false;
                }
                data->push_back(static_cast<BYTE>(high << 4 | low));
            }
            return true;
        }
    }
}

}  // namespace nvreg
