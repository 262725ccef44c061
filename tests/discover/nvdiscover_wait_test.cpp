// nvdiscover when nothing answers, as a user sees it: on a terminal, what is asked and how
// long is left while it waits; at the end one line with a Win32 code (the SNMP library's own
// code 40 is none), and none of the installer's own diagnostics.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <string>

#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace {

using nvtest::RunTool;
using nvtest::ToolResult;

// The tool with its standard error on a terminal of its own: everything written there.
std::string OnTerminal(const std::vector<std::string>& args) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        return "<no terminal>";
    }
    const std::string slave = ptsname(master);
    const std::string path = nvtest::BuildDir() + "/bin/nvdiscover";
    pid_t pid = fork();
    if (pid == 0) {
        int terminal = open(slave.c_str(), O_RDWR);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(terminal, 2);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 60000) <= 0) {
            break;
        }
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) {
            break;  // the tool closed its terminal: it has ended
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    waitpid(pid, nullptr, 0);
    close(master);
    return text;
}

// Both searches wait their full time, so they run side by side.
TEST(NvdiscoverWaits, NothingAnsweringIsSaidInOneLineWithAWin32Code) {
    auto silent = std::async(std::launch::async, [] { return OnTerminal({"--ip", "127.0.0.99"}); });
    const ToolResult broadcast =
        RunTool("nvdiscover", {}, "", {"NORVA_HOST_ADDRESSES=127.255.0.1"});
    EXPECT_EQ(broadcast.exitCode, 1);
    EXPECT_EQ(broadcast.out, "");
    EXPECT_NE(broadcast.err.find("nvdiscover: no printer answered the SNMP broadcast to "
                                 "127.255.255.255 in 6 s (community commro): error 1460: "),
              std::string::npos)
        << broadcast.err;
    EXPECT_EQ(broadcast.err.find('\n'), broadcast.err.size() - 1) << broadcast.err;

    const std::string terminal = silent.get();
    EXPECT_NE(terminal.find("asking 127.0.0.99 by SNMP (community commro): 24 s left"),
              std::string::npos)
        << terminal;
    EXPECT_NE(terminal.find(" s left for an answer"), std::string::npos);
    EXPECT_NE(terminal.find("nvdiscover: no SNMP answer from 127.0.0.99 in 24 s (community "
                            "commro): error 1460: "),
              std::string::npos)
        << terminal;
    EXPECT_EQ(terminal.find("SnmpMgrRequest"), std::string::npos) << terminal;
    EXPECT_EQ(terminal.find("error 40"), std::string::npos) << terminal;
}

}  // namespace
