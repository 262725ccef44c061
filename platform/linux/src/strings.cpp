// Code-page conversion (the ANSI code page is UTF-8 here) and the wide-string functions for
// 16-bit WCHAR.
#include <locale.h>
#include <wctype.h>

#include <cstring>

#include "platform/linux/src/internal.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Reads one code point from UTF-16; unpaired surrogates read as U+FFFD.
char32_t NextFromUtf16(const WCHAR* text, size_t length, size_t* pos) {
    char32_t c = text[(*pos)++];
    if (IsHighSurrogate(c)) {
        if (*pos < length && IsLowSurrogate(text[*pos])) {
            char32_t low = text[(*pos)++];
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
        return kReplacement;
    }
    return IsLowSurrogate(c) ? kReplacement : c;
}

void AppendUtf8(std::string* out, char32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Reads one code point from UTF-8; every byte of an invalid sequence reads as U+FFFD.
char32_t NextFromUtf8(const unsigned char* text, size_t length, size_t* pos) {
    unsigned char lead = text[(*pos)++];
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        return kReplacement;
    }
    size_t start = *pos;
    for (int i = 0; i < extra; ++i) {
        if (start + i >= length || (text[start + i] & 0xC0) != 0x80) {
            return kReplacement;
        }
        c = (c << 6) | (text[start + i] & 0x3F);
    }
    *pos = start + extra;
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return kReplacement;
    }
    return c;
}

void AppendUtf16(std::u16string* out, char32_t c) {
    if (c < 0x10000) {
        out->push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

bool IsSupportedCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_UTF8;
}

}  // namespace

std::string NvUtf16ToUtf8(const WCHAR* text, ptrdiff_t length) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    size_t n = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    for (size_t pos = 0; pos < n;) {
        AppendUtf8(&out, NextFromUtf16(text, n, &pos));
    }
    return out;
}

std::u16string NvUtf8ToUtf16(const char* text, ptrdiff_t length) {
    std::u16string out;
    if (text == nullptr) {
        return out;
    }
    size_t n = length < 0 ? strlen(text) : static_cast<size_t>(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t pos = 0; pos < n;) {
        AppendUtf16(&out, NextFromUtf8(bytes, n, &pos));
    }
    return out;
}

std::string NvToUtf8(const WCHAR* text) {
    return NvUtf16ToUtf8(text);
}

std::u16string NvFromUtf8(const char* text) {
    return NvUtf8ToUtf16(text);
}

// With a length of -1 the terminator is converted too and counted in the result, as on
// Windows. A destination size of 0 asks for the size needed.
int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength, LPSTR multi,
                        int multiLength, LPCSTR, LPBOOL usedDefaultChar) {
    if (!IsSupportedCodePage(codePage) || wide == nullptr || wideLength == 0 || wideLength < -1 ||
        multiLength < 0 || (multiLength > 0 && multi == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string out =
        NvUtf16ToUtf8(wide, wideLength == -1 ? static_cast<ptrdiff_t>(wcslen(wide)) : wideLength);
    if (wideLength == -1) {
        out.push_back('\0');
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = FALSE;
    }
    if (multiLength == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(multiLength)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(multi, out.data(), out.size());
    return static_cast<int>(out.size());
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR multi, int multiLength, LPWSTR wide,
                        int wideLength) {
    if (!IsSupportedCodePage(codePage) || multi == nullptr || multiLength == 0 ||
        multiLength < -1 || wideLength < 0 || (wideLength > 0 && wide == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string out = NvUtf8ToUtf16(
        multi, multiLength == -1 ? static_cast<ptrdiff_t>(strlen(multi)) : multiLength);
    if (multiLength == -1) {
        out.push_back(u'\0');
    }
    if (wideLength == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(wideLength)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(wide, out.data(), out.size() * sizeof(WCHAR));
    return static_cast<int>(out.size());
}

// --- Wide strings ---

WCHAR towupper16(WCHAR c) {
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
        return c;
    }
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0)) {
        return c;
    }
    wint_t upper = towupper_l(static_cast<wint_t>(c), utf8);
    return upper <= 0xFFFF ? static_cast<WCHAR>(upper) : c;
}

size_t wcslen(const WCHAR* s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
    return wcsncmp(a, b, static_cast<size_t>(-1));
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
        if (a[i] == 0) {
            break;
        }
    }
    return 0;
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        WCHAR ca = towupper16(a[i]);
        WCHAR cb = towupper16(b[i]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == 0) {
            break;
        }
    }
    return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
    return _wcsnicmp(a, b, static_cast<size_t>(-1));
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
    for (;; ++s) {
        if (*s == c) {
            return s;
        }
        if (*s == 0) {
            return nullptr;
        }
    }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) {
    return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c));
}

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
    const WCHAR* found = nullptr;
    for (;; ++s) {
        if (*s == c) {
            found = s;
        }
        if (*s == 0) {
            return found;
        }
    }
}

WCHAR* wcsrchr(WCHAR* s, WCHAR c) {
    return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(s), c));
}

int lstrlenW(LPCWSTR s) {
    return s == nullptr ? 0 : static_cast<int>(wcslen(s));
}

// lstrcmp(i)W accept null strings (a null string sorts first), as on Windows.
int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr || b == nullptr) {
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    }
    return wcscmp(a, b);
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr || b == nullptr) {
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    }
    return _wcsicmp(a, b);
}
