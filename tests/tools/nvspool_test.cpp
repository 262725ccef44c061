// nvspool as an administrator uses it: its exit codes, its one-line errors and what it does.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/fake_printer.h"
#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace nvtest {
namespace {

class Nvspool : public ::testing::Test {
  protected:
    ToolResult Run(const std::vector<std::string>& args, const std::string& input = "",
                   const std::vector<std::string>& environment = {}) {
        return RunTool("nvspool", args, input, environment);
    }
    // A raw port to the printer, added through the monitor.
    void AddPort(const std::string& name, const FakeRawPrinter& printer) {
        ToolResult r = Run({"add-port", name, "--ip", printer.address(), "--port-number",
                            std::to_string(printer.port()), "--timeout", "2000"});
        ASSERT_EQ(0, r.exitCode) << r.err;
    }
    std::string File(const std::string& name, const std::string& content) {
        std::string path = dir_.file(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    ScopedRegistry registry_;
    TempDir dir_;
};

TEST_F(Nvspool, HelpAndUsage) {
    ToolResult help = Run({"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("print --port NAME FILE"));
    EXPECT_EQ(2, Run({}).exitCode);
    EXPECT_EQ(2, Run({"frobnicate"}).exitCode);
    EXPECT_EQ(2, Run({"print", "--level", "3", "--port", "P", "x"}).exitCode);
}

TEST_F(Nvspool, PrintsAFileAndStandardInputByteForByte) {
    FakeRawPrinter printer;
    AddPort("RAW", printer);
    std::string data(300000, 'x');
    data[1234] = '\0';
    ToolResult r = Run({"print", "--port", "RAW", File("doc.prn", data)});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Printed 300000 bytes to RAW"));
    r = Run({"print", "--quiet", "--port", "RAW", "-"}, "from stdin");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("", r.out);
    ASSERT_TRUE(printer.WaitForJobs(2));
    auto jobs = printer.Jobs();
    EXPECT_TRUE(jobs[0] == data || jobs[1] == data);
    EXPECT_TRUE(jobs[0] == "from stdin" || jobs[1] == "from stdin");
}

TEST_F(Nvspool, FailuresAreOneLineWithTheWin32CodeAndItsMeaning) {
    ToolResult r = Run({"print", "--port", "NOWHERE", File("doc.prn", "x")});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("nvspool: OpenPort NOWHERE: the monitor has no such port\n", r.err);

    // The tools refuse the broadcast address; a port may still have it in the registry.
    EXPECT_EQ(1, Run({"add-port", "BAD", "--ip", "255.255.255.255"}).exitCode);
    ASSERT_EQ(0, Run({"add-port", "BAD", "--ip", "192.0.2.9"}).exitCode);
    ASSERT_EQ(0, RunTool("nvreg", {"add",
                                   "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\"
                                   "NORVA TCP/IP Port\\Ports\\BAD",
                                   "/v", "IPAddress", "/d", "255.255.255.255", "/f"})
                     .exitCode);
    r = Run({"print", "--port", "BAD", File("doc.prn", "x")});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("StartDocPort on BAD: error 1015: The registry is"))
        << r.err;
    // The monitor cannot read such a port; the settings are not written over nothing.
    r = Run({"config", "BAD", "--timeout", "5000"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("does not parse (IPAddress): error 1015: The registry"))
        << r.err;

    r = Run({"add-port", "LPT1:", "--ip", "10.0.0.1"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(
        "nvspool: AddPort \"LPT1:\": error 183: Cannot create a file when that file "
        "already exists.\n",
        r.err);
}

TEST_F(Nvspool, ARefusingPrinterFailsAtOnce) {
    FakeRawPrinter::Options options;
    options.listen = false;
    FakeRawPrinter printer(options);
    AddPort("REFUSED", printer);
    ToolResult r = Run({"print", "--port", "REFUSED", File("doc.prn", "x")});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("StartDocPort on REFUSED: error 10061: No connection"))
        << r.err;
}

// Every connection is reset part-way: each attempt fails at its end and the job is printed
// again from its start, a bounded number of times, and never reported as printed.
TEST_F(Nvspool, AJobThatFailsAtItsEndIsRestartedABoundedNumberOfTimes) {
    FakeRawPrinter::Options options;
    options.resetAfter = 100000;
    FakeRawPrinter printer(options);
    AddPort("RESET", printer);
    ToolResult r = Run(
        {"print", "--restarts", "2", "--port", "RESET", File("doc.prn", std::string(300000, 'r'))});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("(after 2 job restarts) on RESET: error ")) << r.err;
    EXPECT_TRUE(r.err.find("error 10054") != std::string::npos ||
                r.err.find("error 10053") != std::string::npos)
        << "the connection was reset or aborted: " << r.err;
    ASSERT_TRUE(printer.WaitForJobs(3));
    EXPECT_EQ(3u, printer.Connections()) << "the first attempt and two restarts";
}

// The printer stops reading for a while after 100 kB: a WritePort times out part-way through
// a block, having handed some of it to the socket. The job goes on after what it took.
TEST_F(Nvspool, AWriteThatTimesOutPartWaySendsNoByteTwice) {
    FakeRawPrinter::Options options;
    options.stallAfter = 100000;
    options.receiveBuffer = 32 * 1024;
    FakeRawPrinter printer(options);
    ToolResult added = Run({"add-port", "PAUSE", "--ip", printer.address(), "--port-number",
                            std::to_string(printer.port()), "--timeout", "300"});
    ASSERT_EQ(0, added.exitCode) << added.err;
    std::string data(10000000, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 + i / 4096);
    }
    std::thread resume([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        printer.Resume();
    });
    ToolResult r = Run({"print", "--retries", "50", "--port", "PAUSE", File("doc.prn", data)});
    resume.join();
    EXPECT_EQ(0, r.exitCode) << r.err;
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_EQ(data.size(), printer.Jobs()[0].size());
    EXPECT_TRUE(printer.Jobs()[0] == data);
}

TEST_F(Nvspool, PortsAreManagedOverXcv) {
    ASSERT_EQ(0, Run({"add-port", "Q1", "--ip", "192.0.2.10", "--lpr", "--queue", "q7", "--mail",
                      "ops@example.com"})
                     .exitCode);
    ToolResult show = Run({"show-port", "Q1", "--json"});
    EXPECT_EQ(0, show.exitCode);
    EXPECT_NE(std::string::npos, show.out.find("\"Protocol\": 2"));
    EXPECT_NE(std::string::npos, show.out.find("\"PortNumber\": 515"));
    EXPECT_NE(std::string::npos, show.out.find("\"QueueName\": \"q7\""));
    EXPECT_EQ(0, Run({"config-port", "Q1", "--raw"}).exitCode);
    show = Run({"show-port", "Q1"});
    EXPECT_NE(std::string::npos, show.out.find("PortNumber     9100"));
    EXPECT_EQ(0, Run({"port-exists", "q1"}).exitCode);
    EXPECT_EQ(0, Run({"delete-port", "Q1"}).exitCode);
    EXPECT_EQ(1, Run({"port-exists", "Q1"}).exitCode);
    ToolResult missing = Run({"delete-port", "Q1"});
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_EQ("nvspool: DeletePort \"Q1\": error 1796: The specified port is unknown.\n",
              missing.err);
}

// The verbs nvport shares: nothing is made or touched unless every part of the request holds.
TEST_F(Nvspool, PortVerbsRefuseBeforeTheyChangeAnything) {
    ToolResult r =
        Run({"add", "T2", "--ip", "127.0.0.1", "--lpr", "--queue", std::string(40, 'q')});
    EXPECT_EQ(2, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("--queue is longer than its field")) << r.err;
    EXPECT_EQ(1, Run({"exists", "T2"}).exitCode) << "a bad setting leaves no port behind";
    for (const char* address : {"printer.lan", "10.0.0", "10.0.0.256", "0.0.0.0"}) {
        r = Run({"add", "T2", "--ip", address});
        EXPECT_EQ(1, r.exitCode) << address;
        EXPECT_NE(std::string::npos, r.err.find("error 87:")) << r.err;
    }
    EXPECT_EQ(1, Run({"exists", "T2"}).exitCode);

    for (const std::string name : {"a\\b", "new\nline"}) {
        r = Run({"add", name, "--ip", "127.0.0.1"});
        EXPECT_EQ(1, r.exitCode) << name;
        EXPECT_NE(std::string::npos, r.err.find("error 123:")) << r.err;
        EXPECT_EQ(1, Run({"exists", name}).exitCode) << name;
    }

    for (const char* verb : {"show", "delete", "config"}) {
        r = Run({verb, "LPT1:"});
        EXPECT_EQ(1, r.exitCode) << verb;
        EXPECT_NE(std::string::npos, r.err.find("the port belongs to the monitor \"Local Port\": "
                                                "error 50:"))
            << r.err;
    }
    EXPECT_EQ(0, Run({"exists", "LPT1:"}).exitCode);

    ASSERT_EQ(0, Run({"add", "MINE", "--ip", "192.0.2.1"}).exitCode);
    r = Run({"list"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ("MINE\n", r.out) << "only the monitor's own ports";
}

TEST_F(Nvspool, ARawXcvRequestShowsItsStatusAndOutput) {
    ToolResult r = Run({"xcv", "MonitorUI", "--output-size", "26"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("status 0"));
    EXPECT_NE(std::string::npos, r.out.find("6e 00 76 00 74 00"));
    EXPECT_EQ(1, Run({"xcv", "MonitorUI", "--output-size", "25"}).exitCode);
}

TEST_F(Nvspool, ChangesNeedTheRightToChangeTheStore) {
    ASSERT_EQ(0, Run({"add-port", "RO", "--ip", "10.0.0.1"}).exitCode);
    ASSERT_EQ(0, chmod(registry_.path().c_str(), 0444));
    ToolResult r = Run({"delete-port", "RO"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("error 5: Access is denied.")) << r.err;
    EXPECT_EQ(0, Run({"show-port", "RO"}).exitCode) << "reading needs no right";
    chmod(registry_.path().c_str(), 0644);
}

// A port that lacks a required value (its writer was killed half-way) is reported as what it
// is, by show-port and by a print.
TEST_F(Nvspool, APortMissingARequiredValueIsInvalidData) {
    ASSERT_EQ(0, Run({"add-port", "HALF", "--ip", "10.0.0.1"}).exitCode);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP "
                            u"Port\\Ports\\HALF",
                            0, KEY_ALL_ACCESS, &key));
    RegDeleteValueW(key, u"HWAddress");
    RegCloseKey(key);
    ToolResult show = Run({"show-port", "HALF"});
    EXPECT_EQ(1, show.exitCode);
    EXPECT_NE(std::string::npos, show.err.find("error 13: The data is invalid.")) << show.err;
    ToolResult print = Run({"print", "--port", "HALF", File("doc.prn", "x")});
    EXPECT_EQ(1, print.exitCode);
    EXPECT_NE(std::string::npos, print.err.find("error 13:")) << print.err;
}

// The trace path may lie where others can write: a symbolic link there is not followed, and
// a FIFO is neither waited for nor written.
TEST_F(Nvspool, TheTraceGoesOnlyToARegularFileOrATerminal) {
    std::string target = File("root-only", "");
    std::string link = dir_.file("trace-link");
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
    std::string fifo = dir_.file("trace-fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    for (const std::string& path : {link, fifo}) {
        ToolResult r = Run({"ports"}, "", {"NORVA_TRACE=" + path});
        EXPECT_EQ(0, r.exitCode) << path;
    }
    std::ifstream in(target);
    EXPECT_EQ(std::string(), std::string(std::istreambuf_iterator<char>(in), {}));
    std::string plain = dir_.file("trace.txt");
    EXPECT_EQ(0, Run({"ports"}, "", {"NORVA_TRACE=" + plain}).exitCode);
    std::ifstream traced(plain);
    EXPECT_NE(std::string::npos,
              std::string(std::istreambuf_iterator<char>(traced), {}).find("EnumPorts("));
}

}  // namespace
}  // namespace nvtest
