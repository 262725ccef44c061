// nvinstall-run as an installer's user runs it: the library loaded with dlopen, the wizard on
// the offscreen platform walked through by the autopilot, the port in the registry. The cases
// with a printer run the simulator on UDP port 161 of loopback: root, and one at a time with
// the discovery tests (RESOURCE_LOCK udp8003).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/linux/include/nvplatform.h"
#include "tests/discover/peers.h"
#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace nvtest {
namespace {

const std::u16string kPortsPath =
    W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports");

class NvinstallRun : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // A spooler host of the test's own (none runs there): no restart reaches a real one.
        setenv("NORVA_SPOOLER_SOCKET", dir_.file("spooler.sock").c_str(), 1);
    }

    static ToolResult Run(const std::vector<std::string>& args) {
        return RunTool("nvinstall-run", args);
    }

    static void CreatePortsKey() {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPortsPath.c_str(), 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegCloseKey(key);
    }

    // A value of the port's key as text ("" when there is none).
    static std::string PortValue(const std::string& port, const char* name) {
        std::u16string path = kPortsPath + W("\\" + port);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return "";
        }
        BYTE data[256] = {};
        DWORD type = 0;
        DWORD size = sizeof data;
        LONG status = RegQueryValueExW(key, W(name).c_str(), nullptr, &type, data, &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) {
            return "";
        }
        if (type == REG_DWORD) {
            DWORD value = 0;
            memcpy(&value, data, sizeof value);
            return std::to_string(value);
        }
        return U8(reinterpret_cast<const char16_t*>(data));
    }

    TempDir dir_;
    ScopedRegistry registry_;
};

#define SKIP_WITHOUT_PORT_161()                                   \
    do {                                                          \
        const std::string missing = PrivilegedPortsUnavailable(); \
        if (!missing.empty()) {                                   \
            GTEST_SKIP() << missing;                              \
        }                                                         \
    } while (0)

// --- The command line ---

TEST_F(NvinstallRun, HelpNamesBothWizardsAndTheAutopilotSteps) {
    ToolResult result = Run({"--help"});
    EXPECT_EQ(0, result.exitCode);
    for (const char* word : {"QornSearchAll", "QornSearchByIP", "--autopilot", "ip=A.B.C.D",
                             "yes, no, ok", "QT_QPA_PLATFORM=offscreen", "Exit status"}) {
        EXPECT_NE(std::string::npos, result.out.find(word)) << word;
    }
}

TEST_F(NvinstallRun, RefusesABadCommandLine) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"some"},
                                               {"all", "byip"},
                                               {"byip", "--autopilot", "ip=1.2.3.4,jump"},
                                               {"byip", "--autopilot", "row=-1"},
                                               {"byip", "--autopilot", "next=1"}}) {
        ToolResult result = Run(args);
        EXPECT_EQ(2, result.exitCode) << result.err;
        EXPECT_NE(std::string::npos, result.err.find("Try 'nvinstall-run --help'")) << result.err;
    }
    ToolResult missing = Run({"--library", dir_.file("none.so"), "all"});
    EXPECT_EQ(2, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.err.find("cannot load")) << missing.err;
}

// Without a display the library shows no wizard (Qt would abort the process): the export
// returns 0 with no port, as for a cancel, but the library says why in one line on standard
// error and the tool exits with its own status.
TEST_F(NvinstallRun, WithoutADisplayTheLibrarySaysSoAndTheToolFails) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ToolResult result = Run({"all"});
    EXPECT_EQ(4, result.exitCode) << result.err;
    EXPECT_EQ("result: 0\nport: -\n", result.out);
    EXPECT_EQ(
        "nvinstall: the wizard cannot be shown: no display (QT_QPA_PLATFORM, DISPLAY and "
        "WAYLAND_DISPLAY are unset)\n",
        result.err);
}

// A display that is named but cannot be reached, or a platform whose plugin is not installed,
// would end the process inside Qt (exit 134): the library shows no wizard and says why, and so
// does the tool before its autopilot starts Qt. A list whose later entry works uses that one.
TEST_F(NvinstallRun, ADisplayThatCannotBeReachedShowsNoWizardAndEndsNothing) {
    const struct {
        const char* variable;
        const char* value;
        const char* why;
    } cases[] = {
        {"DISPLAY", ":97", "xcb: the X display \":97\" cannot be reached"},
        {"WAYLAND_DISPLAY", "nv-no-such-wayland", "xcb: DISPLAY is unset; wayland: "},
        {"QT_QPA_PLATFORM", "bogus", "bogus: no such Qt platform plugin is installed"},
    };
    for (const auto& c : cases) {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
            unsetenv(name);
        }
        setenv(c.variable, c.value, 1);
        const std::string line = "the wizard cannot be shown: no Qt platform can start (";
        ToolResult library = Run({"all"});
        EXPECT_EQ(4, library.exitCode) << c.variable << ": " << library.err;
        EXPECT_EQ("result: 0\nport: -\n", library.out) << c.variable;
        EXPECT_EQ(0u, library.err.find("nvinstall: " + line + c.why)) << library.err;
        EXPECT_EQ(1, std::count(library.err.begin(), library.err.end(), '\n')) << library.err;
        ToolResult tool = Run({"byip", "--autopilot", "escape"});
        EXPECT_EQ(4, tool.exitCode) << c.variable << ": " << tool.err;
        EXPECT_EQ(0u, tool.err.find("nvinstall-run: " + line + c.why)) << tool.err;
    }
    unsetenv("WAYLAND_DISPLAY");
    setenv("QT_QPA_PLATFORM", "bogus;offscreen", 1);
    ToolResult listed = Run({"byip", "--autopilot", "escape"});
    EXPECT_EQ(1, listed.exitCode) << listed.err;
    EXPECT_EQ("autopilot: press Escape\nresult: 0\nport: -\n", listed.out);
}

// An X display that answers shows the wizard on it.
TEST_F(NvinstallRun, AnXDisplayThatAnswersShowsTheWizard) {
    const std::string missing = ProgramMissing("Xvfb");
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    PeerProcess xvfb({"Xvfb", "-displayfd", "1", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.WaitFor("\n", 10000)) << xvfb.Log();
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", (":" + xvfb.Output().substr(0, xvfb.Output().find('\n'))).c_str(), 1);
    ToolResult result = Run({"byip", "--autopilot", "escape"});
    unsetenv("DISPLAY");
    EXPECT_EQ(1, result.exitCode) << result.err;
    EXPECT_EQ("autopilot: press Escape\nresult: 0\nport: -\n", result.out);
}

// --- The autopilot ---

TEST_F(NvinstallRun, AutopilotAnswersTheAddressChecksAndEscapeCancels) {
    ToolResult result =
        Run({"byip", "--autopilot", "next,ok", "--autopilot", "ip=224.1.1.1,next,ok,escape"});
    EXPECT_EQ(1, result.exitCode) << result.err;
    EXPECT_NE(std::string::npos, result.out.find("autopilot: type 224.1.1.1 into the IPv4 address"))
        << result.out;
    EXPECT_NE(std::string::npos,
              result.out.find("answer OK to the message box NORVA网络打印机安装向导 - 错误: IP "
                              "地址非法,在IP地址第一栏中输入有效的数值"))
        << result.out;
    EXPECT_NE(std::string::npos, result.out.find("result: 0\nport: -\n")) << result.out;
}

// A message box that no step answers stops the autopilot: it cancels the wizard and says why.
TEST_F(NvinstallRun, AutopilotStopsAtAMessageBoxNoStepAnswers) {
    ToolResult result = Run({"byip", "--autopilot", "next,next"});
    EXPECT_EQ(3, result.exitCode) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("a message box where none was expected"))
        << result.err;
    EXPECT_NE(std::string::npos, result.err.find("IP地址第一栏")) << result.err;
    EXPECT_NE(std::string::npos, result.out.find("result: 0\nport: -\n")) << result.out;
}

// --- With a printer ---

// The printer found by its address becomes the port NORVA_<address> with the installer's
// values; a second run finds that port and No to the question writes nothing. Without the
// Ports key the export reports 183 with the name.
TEST_F(NvinstallRun, RegistersThePrinterFoundByAddress) {
    SKIP_WITHOUT_PORT_161();
    Simulator printer("127.0.0.7:161", {"--description", "Front desk"});
    ASSERT_TRUE(printer.ready()) << printer.Log();

    ToolResult noKey = Run({"byip", "--autopilot", "ip=127.0.0.7,next,next"});
    EXPECT_EQ(1, noKey.exitCode) << noKey.err;
    EXPECT_NE(std::string::npos, noKey.out.find("result: 183\nport: NORVA_127.0.0.7\n"))
        << noKey.out;

    CreatePortsKey();
    ToolResult first = Run({"byip", "--autopilot", "ip=127.0.0.7,next,next"});
    EXPECT_EQ(0, first.exitCode) << first.out << first.err;
    EXPECT_NE(std::string::npos, first.out.find("result: 0\nport: NORVA_127.0.0.7\n")) << first.out;
    EXPECT_EQ("127.0.0.7", PortValue("NORVA_127.0.0.7", "IPAddress"));
    EXPECT_EQ("9100", PortValue("NORVA_127.0.0.7", "PortNumber"));
    EXPECT_EQ("1", PortValue("NORVA_127.0.0.7", "Protocol"));

    ToolResult again = Run({"byip", "--autopilot", "ip=127.0.0.7,next,no"});
    EXPECT_EQ(1, again.exitCode) << again.out << again.err;
    EXPECT_NE(std::string::npos, again.out.find("端口已经存在")) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("result: 0\nport: -\n")) << again.out;
}

// The search of the whole network: the machine's address 127.255.0.1 makes the broadcast the
// loopback broadcast 127.255.255.255, which the simulator on 0.0.0.0:161 answers from
// 127.0.0.1. Next without a selection takes the one printer listed.
TEST_F(NvinstallRun, RegistersThePrinterTheSearchAllListsFirst) {
    SKIP_WITHOUT_PORT_161();
    Simulator printer("0.0.0.0:161", {"--description", "Front desk"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    CreatePortsKey();
    setenv("NORVA_HOST_ADDRESSES", "127.255.0.1", 1);
    ToolResult result = Run({"all", "--autopilot", "next,next"});
    unsetenv("NORVA_HOST_ADDRESSES");
    EXPECT_EQ(0, result.exitCode) << result.out << result.err;
    EXPECT_NE(std::string::npos, result.out.find("result: 0\nport: NORVA_127.0.0.1\n"))
        << result.out;
    EXPECT_EQ("127.0.0.1", PortValue("NORVA_127.0.0.1", "IPAddress"));
}

}  // namespace
}  // namespace nvtest
