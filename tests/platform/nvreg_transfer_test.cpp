// nvreg import and export, run as a user runs them: .reg files in and out of a store of the
// test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "platform/win32.h"
#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace {

using Result = nvtest::ToolResult;

Result Nvreg(const std::vector<std::string>& args) {
    return nvtest::RunTool("nvreg", args);
}

struct Stored {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
};

std::vector<BYTE> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

std::vector<BYTE> Text(const std::u16string& text) {  // with its terminator
    return Bytes(text.c_str(), (text.size() + 1) * 2);
}

std::string Utf16Le(const std::u16string& text, bool mark = true) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::u16string FromUtf16Le(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

HKEY CreateKey(const std::u16string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    return key;
}

void Set(HKEY key, const Stored& value) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size())));
}

std::vector<Stored> Missing() {
    return {{u"missing", REG_NONE, {}}};
}

// Every value of a key, in order; Missing() when the key is not there.
std::vector<Stored> ValuesOf(const std::u16string& path) {
    HKEY key = nullptr;
    std::vector<Stored> values;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return Missing();
    }
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        BYTE data[512];
        DWORD length = 256;
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        values.push_back({std::u16string(name, length), type, Bytes(data, size)});
    }
    RegCloseKey(key);
    return values;
}

bool operator==(const Stored& a, const Stored& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

void PrintTo(const Stored& value, std::ostream* out) {
    *out << NvToUtf8(value.name.c_str()) << " type " << value.type << " " << value.data.size()
         << " bytes";
}

class NvregTransferTest : public ::testing::Test {
  protected:
    nvtest::ScopedRegistry store_;
    nvtest::TempDir dir_;
};

// Every type as the store may hold it, odd data included: what export writes, import gives
// back byte for byte, and the file written again is the same file.
TEST_F(NvregTransferTest, ExportImportsBackByteForByte) {
    const DWORD number = 0x238c;
    const unsigned long long big = 0x0102030405060708ULL;
    std::vector<BYTE> blob;
    for (int i = 0; i < 60; ++i) {
        blob.push_back(static_cast<BYTE>(i * 37));
    }
    const std::vector<Stored> values = {
        {u"", REG_SZ, Text(u"default")},
        {u"Text", REG_SZ, Text(u"C:\\dir \"quoted\" \u00e9\u4e2d")},
        {u"Name \"with\" \\", REG_SZ, Text(u"")},
        {u"NoEnd", REG_SZ, Bytes(u"ab", 4)},
        {u"Odd", REG_SZ, Bytes("abc", 3)},
        {u"Lines", REG_SZ, Text(u"a\r\nb")},
        {u"Expand", REG_EXPAND_SZ, Text(u"%SystemRoot%\\x")},
        {u"Multi", REG_MULTI_SZ, Bytes(u"a\0b\0", 10)},
        {u"Number", REG_DWORD, Bytes(&number, 4)},
        {u"Short", REG_DWORD, Bytes("\x01\x02", 2)},
        {u"Big", REG_QWORD, Bytes(&big, 8)},
        {u"Blob", REG_BINARY, blob},
        {u"None", REG_NONE, {}},
        {u"Odd type", 0x12345, Bytes("\xFF", 1)},
    };
    HKEY key = CreateKey(u"SYSTEM\\Norva");
    for (const Stored& value : values) {
        Set(key, value);
    }
    RegCloseKey(key);
    RegCloseKey(CreateKey(u"SYSTEM\\Norva\\Empty"));
    key = CreateKey(u"SYSTEM\\Norva\\Ports\\NORVA_10.0.0.1");
    Set(key, {u"IPAddress", REG_SZ, Text(u"10.0.0.1")});
    RegCloseKey(key);

    const std::string first = dir_.file("first.reg");
    Result r = Nvreg({"export", "hklm\\system\\NORVA", first});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string bytes = ReadFile(first);
    ASSERT_EQ("\xFF\xFE", bytes.substr(0, 2));
    const std::u16string text = FromUtf16Le(bytes);
    for (const char16_t* line : {
             u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Norva]\r\n"
             u"@=\"default\"\r\n",
             u"\r\n\"Text\"=\"C:\\\\dir \\\"quoted\\\" \u00e9\u4e2d\"\r\n",
             u"\r\n\"Name \\\"with\\\" \\\\\"=\"\"\r\n",
             u"\r\n\"NoEnd\"=hex(1):61,00,62,00\r\n",
             u"\r\n\"Number\"=dword:0000238c\r\n",
             u"\r\n\"Short\"=hex(4):01,02\r\n",
             u"\r\n\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n",
             u"\r\n\"None\"=hex(0):\r\n",
             u"\r\n\"Odd type\"=hex(12345):ff\r\n",
             u"\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Norva\\Empty]\r\n\r\n",
             u"\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Norva\\Ports\\NORVA_10.0.0.1]\r\n"
             u"\"IPAddress\"=\"10.0.0.1\"\r\n\r\n",
         }) {
        EXPECT_NE(std::u16string::npos, text.find(line)) << NvToUtf8(line);
    }
    // Hex lists go on over lines of at most 80 columns, each but the last ending in a backslash.
    const size_t blobAt = text.find(u"\"Blob\"=hex:");
    ASSERT_NE(std::u16string::npos, blobAt);
    const std::u16string blobLines = text.substr(blobAt, text.find(u"\"None\"") - blobAt);
    EXPECT_EQ(std::u16string::npos, blobLines.find(u",\r\n")) << "a line ends without '\\'";
    EXPECT_NE(std::u16string::npos, blobLines.find(u",\\\r\n  "));
    for (size_t start = 0; start < blobLines.size();) {
        size_t end = blobLines.find(u"\r\n", start);
        EXPECT_LE(end - start, 80u);
        start = end + 2;
    }

    ASSERT_EQ(0, Nvreg({"delete", "HKLM\\SYSTEM\\Norva", "/f"}).exitCode);
    r = Nvreg({"import", first});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("The operation completed successfully.\n", r.out);
    EXPECT_EQ(values, ValuesOf(u"SYSTEM\\Norva"));
    EXPECT_TRUE(ValuesOf(u"SYSTEM\\Norva\\Empty").empty());
    const std::string second = dir_.file("second.reg");
    ASSERT_EQ(0, Nvreg({"export", "HKLM\\SYSTEM\\Norva", second}).exitCode);
    EXPECT_EQ(bytes, ReadFile(second));

    r = Nvreg({"export", "HKLM\\SYSTEM\\Norva", second});  // no /y, nobody to ask
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("/y")) << r.err;
    EXPECT_EQ(0, Nvreg({"export", "HKLM\\SYSTEM\\Norva", second, "/y"}).exitCode);
    r = Nvreg({"export", "HKLM\\SYSTEM\\Missing", dir_.file("missing.reg")});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("error 2")) << r.err;
}

TEST_F(NvregTransferTest, ImportDeletesKeysWithTheirSubkeysAndValues) {
    HKEY key = CreateKey(u"Norva\\Old\\Deep");
    Set(key, {u"x", REG_SZ, Text(u"1")});
    RegCloseKey(key);
    key = CreateKey(u"Norva\\Keep");
    Set(key, {u"a", REG_SZ, Text(u"1")});
    Set(key, {u"b", REG_SZ, Text(u"2")});
    RegCloseKey(key);
    const std::string file = dir_.file("changes.reg");
    WriteFile(file,
              "Windows Registry Editor Version 5.00\n\n"
              "[-HKEY_LOCAL_MACHINE\\Norva\\Old]\n\n"
              "[-HKEY_LOCAL_MACHINE\\Norva\\Never]\n\n"
              "[HKEY_LOCAL_MACHINE\\Norva\\Keep]\n"
              "\"a\"=-\n"
              "\"never\"=-\n"
              "\"c\"=\"3\"\n");
    Result r = Nvreg({"import", file});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(Missing(), ValuesOf(u"Norva\\Old"));
    EXPECT_EQ((std::vector<Stored>{{u"b", REG_SZ, Text(u"2")}, {u"c", REG_SZ, Text(u"3")}}),
              ValuesOf(u"Norva\\Keep"));
}

// The whole file or nothing: a file with a fault anywhere leaves the store as it was, and
// the error names the line. The files begin with changes that must not happen.
TEST_F(NvregTransferTest, BrokenFileChangesNothingAndNamesItsLine) {
    HKEY key = CreateKey(u"Norva");
    Set(key, {u"Keep", REG_SZ, Text(u"1")});
    RegCloseKey(key);
    std::string deep;  // 15,000 levels: a registry holds no more than 512
    for (int i = 0; i < 15000; ++i) {
        deep += "\\k";
    }
    const std::string start =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[-HKEY_LOCAL_MACHINE\\Norva]\r\n"
        "[HKEY_LOCAL_MACHINE\\Norva\\New]\r\n"
        "\"a\"=\"x\"\r\n";  // lines 1 to 5
    const struct {
        std::string file;
        int line;
    } cases[] = {
        {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Norva\\New]\r\n", 1},
        {start + "\"b\"=dword:1234567g\r\n", 6},
        {start + "\"b\"=\"not closed\r\n", 6},
        {start + "\"b\"=\"bad \\n escape\"\r\n", 6},
        {start + "\"b\"=hex:01,2,zz\r\n", 6},
        {start + "\"b\"=hex(7):61,00,\\\r\n\"c\"=\"not hex\"\r\n", 7},
        {start + "b=\"no quotes\"\r\n", 6},
        {start + "[HKEY_LOCAL_MACHINE\\Norva\\Unclosed\r\n", 6},
        {start + "[HKEY_NOWHERE\\Norva]\r\n", 6},
        {start + "[-HKEY_LOCAL_MACHINE]\r\n", 6},
        {start + "[HKEY_LOCAL_MACHINE\\Norva" + deep + "]\r\n", 6},
        {start + "[-HKEY_LOCAL_MACHINE\\Norva" + deep + "]\r\n", 6},
        {start + "\r\n\"b\"=\"\xC3\x28\"\r\n", 7},
        {"Windows Registry Editor Version 5.00\r\n\"a\"=\"before any key\"\r\n", 2},
        {start + "[-HKEY_LOCAL_MACHINE\\Norva\\New]\r\n\"b\"=\"under a deleted key\"\r\n", 7},
        // Faults that only the store finds roll back what the file did before them.
        {start + "[HKEY_LOCAL_MACHINE\\Norva\\" + std::string(256, 'K') + "]\r\n", 6},
        {start + "[HKEY_LOCAL_MACHINE\\Norva\\\\Empty name]\r\n", 6},
    };
    const std::string file = dir_.file("broken.reg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile(file, c.file);
        Result r = Nvreg({"import", file});
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(0u, r.err.find("ERROR: " + file + ", line " + std::to_string(c.line) + ": "))
            << r.err;
        EXPECT_EQ(1u, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
        EXPECT_EQ((std::vector<Stored>{{u"Keep", REG_SZ, Text(u"1")}}), ValuesOf(u"Norva"));
        EXPECT_EQ(Missing(), ValuesOf(u"Norva\\New"));
    }
}

// A NUL inside a name would cut it where the registry functions read it, so that the change
// lands on another key or value: a port rewritten, a whole tree deleted. Such a file is refused
// whole, UTF-8 and UTF-16 alike, and the error names the line.
TEST_F(NvregTransferTest, ANulInANameIsRefusedAndChangesNothing) {
    using namespace std::string_literals;
    HKEY key = CreateKey(u"SYSTEM\\Ports\\P1");
    Set(key, {u"IPAddress", REG_SZ, Text(u"10.0.0.1")});
    RegCloseKey(key);
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
    const struct {
        std::string body;
        int line;
    } cases[] = {
        {"[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\P1\0-copy]\r\n\"IPAddress\"=\"10.6.6.6\"\r\n"s, 3},
        {"[-HKEY_LOCAL_MACHINE\\SYSTEM\\\0OldBackup]\r\n"s, 3},
        {"[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\P1]\r\n\"IPAddress\0x\"=\"10.6.6.6\"\r\n"s, 4},
    };
    const std::string file = dir_.file("nul.reg");
    for (const auto& c : cases) {
        const std::string text = header + c.body;
        for (const std::string& bytes : {text, Utf16Le(std::u16string(text.begin(), text.end()))}) {
            SCOPED_TRACE(c.line);
            WriteFile(file, bytes);
            Result r = Nvreg({"import", file});
            EXPECT_EQ(1, r.exitCode);
            EXPECT_EQ(0u, r.err.find("ERROR: " + file + ", line " + std::to_string(c.line) + ": "))
                << r.err;
            EXPECT_EQ((std::vector<Stored>{{u"IPAddress", REG_SZ, Text(u"10.0.0.1")}}),
                      ValuesOf(u"SYSTEM\\Ports\\P1"));
        }
    }
}

// The peak resident memory of one run of nvreg, in kB, as GNU time measures it from a process
// of its own: a tool started by the test itself would count the test's memory too.
long NvregPeakKb(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                 const std::string& report) {
    std::vector<std::string> timed = {"-f", "%M", "-o", report, nvtest::BuildDir() + "/bin/nvreg"};
    timed.insert(timed.end(), args.begin(), args.end());
    Result r = nvtest::RunTool("/usr/bin/time", timed, "", environment);
    EXPECT_EQ(0, r.exitCode) << r.err;
    return std::atol(ReadFile(report).c_str());
}

// An import holds one line of the file at a time, not the file: once the store's own cache is
// full, a file twice as long takes no more memory. (Held whole, with a copy of its key's path
// for every value, this file took about eight times its size.)
TEST_F(NvregTransferTest, AnImportsMemoryDoesNotGrowWithTheFile) {
    auto regFile = [](int values) {
        std::string key = "[HKEY_LOCAL_MACHINE\\Norva";
        for (char name : {'A', 'B', 'C', 'D'}) {
            key += "\\" + std::string(150, name);
        }
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
        for (int i = 0; i < values; ++i) {
            if (i % 100 == 0) {
                text += key + "\\K" + std::to_string(i / 100) + "]\r\n";
            }
            text += "\"v" + std::to_string(i % 100) + "\"=\"" + std::string(1000, 'x') + "\"\r\n";
        }
        return text;
    };
    // AddressSanitizer keeps what is freed for a while: that is not the import's memory.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        "ASAN_OPTIONS=" + std::string(asan != nullptr ? std::string(asan) + ":" : "") +
        "quarantine_size_mb=1";
    const std::string texts[2] = {regFile(1500), regFile(3000)};
    long peakKb[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string name = dir_.file("import" + std::to_string(i));
        WriteFile(name + ".reg", texts[i]);
        peakKb[i] = NvregPeakKb({"import", name + ".reg"},
                                {asanOptions, "NORVA_REGISTRY=" + name + ".db"}, name + ".kB");
        ASSERT_GT(peakKb[i], 0);
    }
    const long grownKb = static_cast<long>((texts[1].size() - texts[0].size()) / 1024);
    EXPECT_LT(peakKb[1] - peakKb[0], grownKb)
        << "a file " << grownKb << " kB longer took " << peakKb[1] - peakKb[0] << " kB more";
}

// A port file made by hand the way reg.exe writes one (UTF-16LE with its mark, CR LF, hex
// lists over two lines, escapes, a comment), and the same text in UTF-8 with and without a mark.
TEST_F(NvregTransferTest, ReadsFilesAsRegExeWritesThemAndUtf8) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n"
        u"\r\n"
        u"; a port, written by hand\r\n"
        u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\"
        u"NORVA TCP/IP Port\\Ports\\NORVA_192.168.0.20]\r\n"
        u"\"Protocol\"=dword:00000001\r\n"
        u"\"IPAddress\"=\"192.168.0.20\"\r\n"
        u"\"HostName\"=\"\"\r\n"
        u"\"QueueName\"=\"lp \\\"main\\\" \\\\ \u961f\u5217\"\r\n"
        u"@=\"\u9ed8\u8ba4\"\r\n"
        u"\"List\"=hex(7):61,00,00,00,62,00,\\\r\n"
        u"  00,00,00,00\r\n"
        u"\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        u"\r\n";
    const std::u16string port =
        u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports\\"
        u"NORVA_192.168.0.20";
    const DWORD one = 1;
    const std::vector<Stored> expected = {
        {u"Protocol", REG_DWORD, Bytes(&one, 4)},
        {u"IPAddress", REG_SZ, Text(u"192.168.0.20")},
        {u"HostName", REG_SZ, Text(u"")},
        {u"QueueName", REG_SZ, Text(u"lp \"main\" \\ \u961f\u5217")},
        {u"", REG_SZ, Text(u"\u9ed8\u8ba4")},
        {u"List", REG_MULTI_SZ, Bytes(u"a\0b\0", 10)},
        {u"Path", REG_EXPAND_SZ, Text(u"%A%")},
    };
    const std::string utf8 = NvToUtf8(text.c_str());
    const std::string file = dir_.file("port.reg");
    for (const std::string& bytes : {Utf16Le(text), "\xEF\xBB\xBF" + utf8, utf8}) {
        WriteFile(file, bytes);
        Result r = Nvreg({"import", file});
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(expected, ValuesOf(port));
        ASSERT_EQ(0, Nvreg({"delete", "HKLM\\" + NvToUtf8(port.c_str()), "/f"}).exitCode);
    }
}

}  // namespace
