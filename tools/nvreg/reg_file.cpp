#include "tools/nvreg/reg_file.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace nvreg {
namespace {

constexpr char16_t kHeader[] = u"Windows Registry Editor Version 5.00";
constexpr char16_t kLineEnd[] = u"\r\n";
// regedit's hex lists: a line is broken after a comma once it is longer than this, and goes on
// indented by two spaces, so that no line passes 80 columns with its backslash.
constexpr size_t kHexLineLimit = 76;
constexpr char16_t kHexIndent[] = u"  ";

// The file is read in pieces of this size.
constexpr DWORD kReadSize = 1 << 16;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

bool HasNul(const std::u16string& name) {
    return name.find(u'\0') != std::u16string::npos;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

std::u16string Trimmed(const std::u16string& text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && IsBlank(text[start])) {
        ++start;
    }
    while (end > start && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(start, end - start);
}

bool StartsWithNoCase(const std::u16string& text, size_t at, const char* word) {
    for (size_t i = 0; word[i] != 0; ++i) {
        char16_t c = at + i < text.size() ? text[at + i] : 0;
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (c != static_cast<char16_t>(word[i])) {
            return false;
        }
    }
    return true;
}

// The lines of a file, decoded as they are read: UTF-16LE after its byte order mark, else strict
// UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF), its mark skipped.
class LineReader {
  public:
    explicit LineReader(ReadBytes read) : read_(std::move(read)) {}

    // The next physical line without its line end (LF or CR LF); after the last line end comes
    // one more, empty or not. False at the end of the file (fault->code stays ERROR_SUCCESS),
    // or at a fault.
    bool Next(std::u16string* line, RegFileFault* fault) {
        line->clear();
        if (ended_ || (!started_ && !Start(fault))) {
            return false;
        }
        ++number_;
        for (;;) {
            char16_t units[2];
            size_t count = 0;
            if (!Decode(units, &count, fault)) {
                return false;
            }
            if (count == 0) {
                ended_ = true;
                break;
            }
            if (units[0] == u'\n') {
                break;
            }
            line->append(units, count);
        }
        if (!line->empty() && line->back() == u'\r') {
            line->pop_back();
        }
        return true;
    }

    // The number of the line last returned (1 is the first).
    int Line() const { return number_; }

  private:
    bool Start(RegFileFault* fault) {
        started_ = true;
        if (!Fill(3, fault)) {
            return false;
        }
        if (StartsWith("\xFF\xFE")) {
            utf16_ = true;
            pos_ += 2;
        } else if (StartsWith("\xEF\xBB\xBF")) {
            pos_ += 3;
        }
        return true;
    }

    bool StartsWith(const char* mark) const {
        return buffer_.compare(pos_, strlen(mark), mark) == 0;
    }

    size_t Available() const { return buffer_.size() - pos_; }

    // At least `count` bytes from pos_ on, unless the file ends first.
    bool Fill(size_t count, RegFileFault* fault) {
        while (Available() < count && !eof_) {
            buffer_.erase(0, pos_);
            pos_ = 0;
            const size_t have = buffer_.size();
            buffer_.resize(have + kReadSize);
            DWORD got = 0;
            const LONG result = read_(&buffer_[have], kReadSize, &got);
            buffer_.resize(have + (result == ERROR_SUCCESS ? got : 0));
            if (result != ERROR_SUCCESS) {
                *fault = {0, "cannot be read", result};
                return false;
            }
            eof_ = got == 0;
        }
        return true;
    }

    // One character as one or two UTF-16 units; none at the end of the file.
    bool Decode(char16_t units[2], size_t* count, RegFileFault* fault) {
        if (!Fill(utf16_ ? 2 : 4, fault)) {  // a UTF-8 sequence is at most 4 bytes
            return false;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.data() + pos_);
        const size_t have = Available();
        *count = 0;
        if (have == 0) {
            return true;
        }
        if (utf16_) {
            if (have == 1) {
                *fault = {0, "the file ends in half a UTF-16 character", ERROR_INVALID_DATA};
                return false;
            }
            units[(*count)++] = static_cast<char16_t>(bytes[0] | bytes[1] << 8);
            pos_ += 2;
            return true;
        }
        const unsigned char lead = bytes[0];
        const size_t length = lead < 0x80                    ? 1
                              : lead >= 0xC2 && lead <= 0xDF ? 2
                              : (lead & 0xF0) == 0xE0        ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                             : 0;
        uint32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool ok = length != 0 && length <= have;
        for (size_t k = 1; ok && k < length; ++k) {
            ok = (bytes[k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[k] & 0x3F);
        }
        const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || code < smallest[length] || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            *fault = {number_, "the text is not UTF-8 (nor UTF-16LE with a byte order mark)",
                      ERROR_INVALID_DATA};
            return false;
        }
        if (code >= 0x10000) {
            units[(*count)++] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units[(*count)++] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units[(*count)++] = static_cast<char16_t>(code);
        }
        pos_ += length;
        return true;
    }

    ReadBytes read_;
    std::string buffer_;  // bytes read and not yet decoded from pos_ on
    size_t pos_ = 0;
    bool started_ = false;
    bool utf16_ = false;
    bool eof_ = false;    // the read found the end of the file
    bool ended_ = false;  // the last line was returned
    int number_ = 0;
};

}  // namespace

// Reads the lines of one file and turns them into changes.
class RegFileReader::Parser {
  public:
    explicit Parser(ReadBytes read) : lines_(std::move(read)) {}

    RegFileReader::Step Next(RegChange* change) {
        if (!done_) {
            done_ = !Advance(change);
        }
        return !done_ ? Step::kChange : fault_.code != ERROR_SUCCESS ? Step::kFault : Step::kEnd;
    }

    const RegFileFault& Fault() const { return fault_; }

  private:
    // False at the end of the file or at a fault.
    bool Advance(RegChange* change) {
        std::u16string raw;
        if (!headerRead_) {
            headerRead_ = true;
            if (lines_.Next(&raw, &fault_) && Trimmed(raw) != kHeader) {
                return Fail(&fault_, 1,
                            "the first line must be \"Windows Registry Editor Version 5.00\"");
            }
        }
        while (fault_.code == ERROR_SUCCESS && lines_.Next(&raw, &fault_)) {
            const std::u16string line = Trimmed(raw);
            if (line.empty() || line[0] == u';') {
                continue;
            }
            *change = RegChange();
            change->line = lines_.Line();
            return line[0] == u'[' ? Section(line, change, &fault_) : Value(line, change, &fault_);
        }
        return false;
    }

    bool Fail(RegFileFault* fault, int line, const std::string& what) {
        *fault = {line, what, ERROR_INVALID_DATA};
        return false;
    }
    bool Fail(RegFileFault* fault, const std::string& what) {
        return Fail(fault, lines_.Line(), what);
    }

    // [KEY] or [-KEY]; the name runs to the last ']', which ends the line.
    bool Section(const std::u16string& line, RegChange* change, RegFileFault* fault) {
        if (line.back() != u']') {
            return Fail(fault, "a key's line must end with ']'");
        }
        const bool remove = line.size() > 1 && line[1] == u'-';
        std::u16string key = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
        if (key.empty()) {
            return Fail(fault, "the key has no name");
        }
        // The registry functions read a name up to its first NUL: the rest would be lost, and
        // the change would land on another key.
        if (HasNul(key)) {
            return Fail(fault, "a key's name cannot hold a NUL character");
        }
        change->kind = remove ? RegChange::Kind::kDeleteKey : RegChange::Kind::kKey;
        change->key = key;
        currentKey_ = key;
        keyDeleted_ = remove;
        return true;
    }

    bool Value(const std::u16string& line, RegChange* change, RegFileFault* fault) {
        if (currentKey_.empty()) {
            return Fail(fault, "a value before the first key");
        }
        if (keyDeleted_) {
            return Fail(fault, "a value under a key that is being deleted");
        }
        change->kind = RegChange::Kind::kValue;
        change->key = currentKey_;
        size_t at = 0;
        if (line[0] == u'@') {
            at = 1;
        } else if (line[0] != u'"' || !Quoted(line, &at, &change->name)) {
            return Fail(fault, "a value's line must start with its name in quotes, or @");
        }
        if (HasNul(change->name)) {
            return Fail(fault, "a value's name cannot hold a NUL character");
        }
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        if (at >= line.size() || line[at] != u'=') {
            return Fail(fault, "'=' must follow the value's name");
        }
        ++at;
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        return Data(line, at, change, fault);
    }

    // A quoted string from text[*at] (the opening quote) with its escapes undone; *at ends
    // after the closing quote.
    static bool Quoted(const std::u16string& text, size_t* at, std::u16string* out) {
        for (size_t i = *at + 1; i < text.size(); ++i) {
            if (text[i] == u'"') {
                *at = i + 1;
                return true;
            }
            if (text[i] == u'\\') {
                if (i + 1 >= text.size() || (text[i + 1] != u'\\' && text[i + 1] != u'"')) {
                    return false;
                }
                ++i;
            }
            out->push_back(text[i]);
        }
        return false;
    }

    bool Data(const std::u16string& line, size_t at, RegChange* change, RegFileFault* fault) {
        const std::u16string rest = line.substr(at);
        if (rest == u"-") {
            change->kind = RegChange::Kind::kDeleteValue;
            return true;
        }
        if (!rest.empty() && rest[0] == u'"') {
            std::u16string text;
            size_t end = 0;
            if (!Quoted(rest, &end, &text)) {
                return Fail(
                    fault,
                    "the string has no closing quote, or a backslash other than \\\\ or \\\"");
            }
            if (end != rest.size()) {
                return Fail(fault, "text after the string's closing quote");
            }
            change->type = REG_SZ;
            for (char16_t c : text + u'\0') {
                change->data.push_back(static_cast<BYTE>(c & 0xFF));
                change->data.push_back(static_cast<BYTE>(c >> 8));
            }
            return true;
        }
        if (StartsWithNoCase(rest, 0, "dword:")) {
            return Dword(rest.substr(6), change, fault);
        }
        if (StartsWithNoCase(rest, 0, "hex")) {
            return Hex(rest.substr(3), change, fault);
        }
        return Fail(fault, "the data must be \"text\", dword:, hex:, hex(TYPE): or -");
    }

    bool Dword(const std::u16string& digits, RegChange* change, RegFileFault* fault) {
        uint32_t value = 0;
        if (digits.empty() || digits.size() > 8) {
            return Fail(fault, "dword: takes one to eight hex digits");
        }
        for (char16_t c : digits) {
            int digit = HexDigit(c);
            if (digit < 0) {
                return Fail(fault, "dword: takes one to eight hex digits");
            }
            value = value << 4 | static_cast<uint32_t>(digit);
        }
        change->type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8) {
            change->data.push_back(static_cast<BYTE>(value >> shift));
        }
        return true;
    }

    // After "hex": ":" for REG_BINARY or "(TYPE):", then the byte list, which goes on to the next
    // line while a line ends with a backslash.
    bool Hex(const std::u16string& text, RegChange* change, RegFileFault* fault) {
        size_t at = 0;
        change->type = REG_BINARY;
        if (at < text.size() && text[at] == u'(') {
            uint64_t type = 0;
            size_t digits = 0;
            for (++at; at < text.size() && HexDigit(text[at]) >= 0; ++at, ++digits) {
                type = type << 4 | static_cast<uint64_t>(HexDigit(text[at]));
            }
            if (digits == 0 || digits > 8 || at >= text.size() || text[at] != u')') {
                return Fail(fault, "hex(TYPE): takes the type as one to eight hex digits");
            }
            change->type = static_cast<DWORD>(type);
            ++at;
        }
        if (at >= text.size() || text[at] != u':') {
            return Fail(fault, "':' must follow hex or hex(TYPE)");
        }
        std::u16string list = Trimmed(text.substr(at + 1));
        std::u16string next;
        while (!list.empty() && list.back() == u'\\') {
            list.pop_back();
            if (!lines_.Next(&next, fault)) {
                return fault->code != ERROR_SUCCESS
                           ? false
                           : Fail(fault, "the hex list goes on past the end of the file");
            }
            list += Trimmed(next);
        }
        return HexBytes(list, &change->data, fault);
    }

    // Two-digit hex bytes separated by commas (one digit is taken too); blanks around them and
    // one comma at the end are allowed.
    bool HexBytes(const std::u16string& list, std::vector<BYTE>* data, RegFileFault* fault) {
        size_t at = 0;
        while (at < list.size()) {
            size_t comma = list.find(u',', at);
            std::u16string item =
                Trimmed(list.substr(at, comma == std::u16string::npos ? comma : comma - at));
            if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 ||
                (item.size() == 2 && HexDigit(item[1]) < 0)) {
                return Fail(fault, "a hex list holds bytes of two hex digits separated by commas");
            }
            int value = HexDigit(item[0]);
            if (item.size() == 2) {
                value = value * 16 + HexDigit(item[1]);
            }
            data->push_back(static_cast<BYTE>(value));
            if (comma == std::u16string::npos) {
                break;
            }
            at = comma + 1;
        }
        return true;
    }

    LineReader lines_;
    RegFileFault fault_;
    bool headerRead_ = false;
    bool done_ = false;
    std::u16string currentKey_;
    bool keyDeleted_ = false;
};

RegFileReader::RegFileReader(ReadBytes read) : parser_(std::make_unique<Parser>(std::move(read))) {}

RegFileReader::~RegFileReader() = default;

RegFileReader::Step RegFileReader::Next(RegChange* change) {
    return parser_->Next(change);
}

const RegFileFault& RegFileReader::Fault() const {
    return parser_->Fault();
}

namespace {

std::u16string Escaped(const std::u16string& text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out.push_back(u'\\');
        }
        out.push_back(c);
    }
    return out + u"\"";
}

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string LowerHex(uint32_t value, int minimumDigits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(text.size()) < minimumDigits) {
        text.insert(text.begin(), '0');
    }
    return text;
}

// A REG_SZ written in quotes must read back to the same bytes: whole characters ending in one
// terminator, with no other NUL and no line break inside.
bool FitsInQuotes(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        const bool last = i + 2 == data.size();
        if ((c == 0) != last || c == u'\r' || c == u'\n') {
            return false;
        }
    }
    return true;
}

std::u16string HexLines(std::u16string line, const std::vector<BYTE>& data) {
    std::u16string out;
    for (size_t i = 0; i < data.size(); ++i) {
        line += Ascii(LowerHex(data[i], 2));
        if (i + 1 == data.size()) {
            break;
        }
        line += u',';
        if (line.size() > kHexLineLimit) {
            out += line + u"\\" + kLineEnd;
            line = kHexIndent;
        }
    }
    return out + line + kLineEnd;
}

}  // namespace

std::u16string RegFileHeader() {
    return std::u16string(kHeader) + kLineEnd + kLineEnd;
}

std::u16string KeyLine(const std::u16string& path) {
    return u"[" + path + u"]" + kLineEnd;
}

std::u16string ValueLines(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    const std::u16string prefix = (name.empty() ? u"@" : Escaped(name)) + u"=";
    if (type == REG_SZ && FitsInQuotes(data)) {
        std::u16string text;
        for (size_t i = 0; i + 2 < data.size(); i += 2) {
            text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
        }
        return prefix + Escaped(text) + kLineEnd;
    }
    if (type == REG_DWORD && data.size() == 4) {
        const uint32_t value =
            static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
            static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
        return prefix + u"dword:" + Ascii(LowerHex(value, 8)) + kLineEnd;
    }
    const std::u16string kind =
        type == REG_BINARY ? u"hex:" : u"hex(" + Ascii(LowerHex(type, 1)) + u"):";
    return HexLines(prefix + kind, data);
}

std::string RegFileBytes(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace nvreg
