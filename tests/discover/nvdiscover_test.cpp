// nvdiscover as a user runs it, where no network is needed: the port writer (--register) on a
// registry store of the test's own, the command line and its exit codes. The searches are
// covered by discover_loopback_test and discover_lab_test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/linux/include/nvplatform.h"
#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace {

using nvtest::RunTool;
using nvtest::ToolResult;
using nvtest::W;

const std::u16string kPortsPath =
    W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports");

void CreatePortsKey() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPortsPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::u16string ReadText(HKEY key, const char* name) {
    WCHAR text[128] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    if (RegQueryValueExW(key, W(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return u"<missing>";
    }
    return text;
}

DWORD ReadDword(HKEY key, const char* name) {
    DWORD value = 0xdeadbeef;
    DWORD size = sizeof value;
    RegQueryValueExW(key, W(name).c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                     &size);
    return value;
}

TEST(NvdiscoverRegister, WritesThePortAsTheInstallerDoes) {
    nvtest::ScopedRegistry registry;
    CreatePortsKey();
    const ToolResult first = RunTool("nvdiscover", {"--register", "192.168.0.20"});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, "registered port NORVA_192.168.0.20 (192.168.0.20, raw TCP port 9100)\n");

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kPortsPath + u"\\NORVA_192.168.0.20").c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadText(key, "IPAddress"), u"192.168.0.20");
    EXPECT_EQ(ReadText(key, "HostName"), u"");
    EXPECT_EQ(ReadText(key, "HWAddress"), u"");
    EXPECT_EQ(ReadText(key, "SnmpCommunity"), u"commro");
    EXPECT_EQ(ReadDword(key, "Protocol"), 1u);
    EXPECT_EQ(ReadDword(key, "PortNumber"), 9100u);
    EXPECT_EQ(ReadDword(key, "SnmpVersion"), 1u);
    EXPECT_EQ(ReadDword(key, "SnmpTimeOut"), 15000u);
    EXPECT_EQ(ReadDword(key, "SnmpEnabled"), 1u);
    EXPECT_EQ(ReadDword(key, "SnmpIndex"), 1u);
    RegCloseKey(key);

    const ToolResult again = RunTool("nvdiscover", {"--register", "192.168.0.20"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, "rewrote port NORVA_192.168.0.20 (192.168.0.20, raw TCP port 9100)\n");
}

// Before the spooler first loaded the monitor there is no Ports key, and maybe no store: the
// line says which, and how they come to be; no store is made for a port that cannot be written.
TEST(NvdiscoverRegister, WithoutTheMonitorsKeySaysHowItIsMade) {
    nvtest::ScopedRegistry registry;
    ToolResult result = RunTool("nvdiscover", {"--register", "10.0.0.5"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("the registry store " + registry.path() + " does not exist yet"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(access(registry.path().c_str(), F_OK), -1) << "no store was made";

    HKEY key = nullptr;  // a store, without the monitor's key
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\Other").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    result = RunTool("nvdiscover", {"--register", "10.0.0.5"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Ports does not exist in the registry store " + registry.path() +
                              "; the spooler makes it when it first loads the monitor (nvspool "
                              "serve): error 2: "),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
}

TEST(NvdiscoverCommandLine, HelpAndVersion) {
    const ToolResult help = RunTool("nvdiscover", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.find("Usage: nvdiscover "), 0u);
    const ToolResult version = RunTool("nvdiscover", {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.find("nvdiscover (NORVA TCP/IP Port) "), 0u) << version.out;
}

TEST(NvdiscoverCommandLine, BadArgumentsExitWithTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {"--ip", "192.168.0"},
        {"--ip", "192.168.0.256"},
        {"--mac", "021a2b3c4d5"},
        {"--mac", "021a2b3c4d5g"},
        {"--ip", "10.0.0.1", "--mac", "021a2b3c4d5e"},
        {"--register", "10.0.0.1", "--json"},
        {"--register", "printer"},
        {"--register", "192.168.001.010"},
        {"--ip", "224.0.0.1"},
        {"--loud"},
        {"extra"},
        {"--ip"},
    };
    for (const std::vector<std::string>& args : bad) {
        const ToolResult result = RunTool("nvdiscover", args);
        EXPECT_EQ(result.exitCode, 2) << args[0] << ": " << result.err;
        EXPECT_NE(result.err.find("(see nvdiscover --help)\n"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
        EXPECT_EQ(result.out, "");
    }
}

}  // namespace
