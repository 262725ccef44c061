// nvspool as an administrator uses it: its exit codes, its one-line errors and what it does.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "net/portentry.h"
#include "tests/support/fake_printer.h"
#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"
#include "tools/spoolhost/spooler_host.h"

namespace nvtest {
namespace {

// The tools run with this store path while it lives.
class StorePath {
  public:
    explicit StorePath(const std::string& path) : saved_(getenv("NORVA_REGISTRY")) {
        setenv("NORVA_REGISTRY", path.c_str(), 1);
    }
    ~StorePath() { setenv("NORVA_REGISTRY", saved_.c_str(), 1); }

  private:
    std::string saved_;
};

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
    // A port stored as an installer or an older version wrote it, without the tools' checks.
    void StorePort(const std::string& name, const std::string& address, DWORD portNumber) {
        const std::string key = std::string(kPortsKey) + "\\" + name;
        for (const char* value : {"HostName", "HWAddress"}) {
            ASSERT_EQ(0, RunTool("nvreg", {"add", key, "/v", value, "/d", "", "/f"}).exitCode);
        }
        ASSERT_EQ(0,
                  RunTool("nvreg", {"add", key, "/v", "IPAddress", "/d", address, "/f"}).exitCode);
        ASSERT_EQ(0, RunTool("nvreg", {"add", key, "/v", "PortNumber", "/t", "REG_DWORD", "/d",
                                       std::to_string(portNumber), "/f"})
                         .exitCode);
    }
    // An Xcv request with a record, as a port user interface sends it; the tool's output.
    ToolResult XcvRecord(const char* request, const std::string& name, const std::string& address) {
        PortEntry record{};
        std::u16string wideName = W(name), wideAddress = W(address);
        std::copy(wideName.begin(), wideName.end(), record.PortName);
        std::copy(wideAddress.begin(), wideAddress.end(), record.IPAddress);
        record.Protocol = PROTOCOL_RAW;
        record.PortNumber = 9100;
        std::string bytes(reinterpret_cast<const char*>(&record), sizeof record);
        return Run({"xcv", request, "--input-file", File("record.bin", bytes)});
    }

    static constexpr char kPortsKey[] =
        "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports";

    ScopedRegistry registry_;
    TempDir dir_;
};

TEST_F(Nvspool, EveryVerbHasItsHelpAndTheToolItsVersion) {
    ToolResult help = Run({"--help"});
    EXPECT_EQ(0, help.exitCode);
    for (const char* verb : {"list", "ports", "add", "config", "show", "delete", "exists",
                             "test-page", "export", "import", "xcv", "print", "serve"}) {
        EXPECT_NE(std::string::npos, help.out.find(std::string("\n  ") + verb + " ")) << verb;
        ToolResult r = Run({verb, "--help"});
        EXPECT_EQ(0, r.exitCode) << verb << ": " << r.err;
        EXPECT_EQ(0u, r.out.find(std::string("Usage: nvspool ") + verb + " ")) << r.out;
        EXPECT_EQ("", r.err);
    }
    // The first line as help2man reads it: NAME (PACKAGE) VERSION.
    for (const char* tool : {"nvspool", "nvreg", "nvprinter", "nvdiscover"}) {
        ToolResult version = RunTool(tool, {"--version"});
        EXPECT_EQ(0, version.exitCode) << tool;
        EXPECT_TRUE(std::regex_match(
            version.out,
            std::regex(std::string(tool) + " \\(NORVA TCP/IP Port\\) [0-9]+\\.[0-9]+\\.[0-9]+\n")))
            << version.out;
    }
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
    EXPECT_EQ("nvspool: OpenPort NOWHERE: error 1796: The specified port is unknown.\n", r.err);

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

    r = Run({"print", "--port", "FILE:", File("doc.prn", "x")});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("needs the file to print into: give --output-file "
                                            "PATH: error 63: "))
        << r.err;
    r = Run({"print", "--port", "FILE:", "--output-file", dir_.file("out.prn"),
             File("doc.prn", "to a file")});
    EXPECT_EQ(0, r.exitCode) << r.err;

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
    options.receiveBuffer = 32 * 1024;  // a printer's: the job's end never leaves the sender
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
    // In the progress bar's unit, MiB, beside the bytes.
    EXPECT_NE(std::string::npos, r.out.find("Printed 9.5 MiB (10000000 bytes) to PAUSE")) << r.out;
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

    for (const std::vector<std::string>& args : {std::vector<std::string>{"show", "LPT1:"},
                                                 {"delete", "LPT1:"},
                                                 {"config", "LPT1:", "--timeout", "1000"}}) {
        const std::string& verb = args[0];
        r = Run(args);
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

// Input that is accepted would print to another printer than the one meant, or to none:
// refused with 87 and a line that says why, and no port is left behind.
TEST_F(Nvspool, InputThatWouldPrintElsewhereIsRefused) {
    struct Case {
        std::vector<std::string> settings;
        const char* why;
    };
    const Case cases[] = {
        {{"--ip", "127.0.0.010"}, "127.0.0.010 would reach 127.0.0.8"},
        {{"--ip", "192.168.001.010"}, "leading zero"},
        {{"--ip", "0x7f.0.0.1"}, "leading zero"},
        {{"--ip", "224.0.0.1"}, "multicast"},
        {{"--ip", "255.255.255.255"}, "broadcast"},
        {{"--ip", "0.0.0.0"}, "this network"},
        {{"--ip", "10.0.0.1", "--port-number", "70000"}, "the monitor would connect to 4464"},
        {{"--ip", "10.0.0.1", "--port-number", "0"}, "a TCP port is 1 to 65535"},
        {{"--ip", "10.0.0.1", "--queue", "q1"}, "--queue is a setting of LPR ports"},
        {{"--ip", "10.0.0.1", "--mail", "a@b"}, "--mail is a setting of LPR ports"},
        {{"--ip", "10.0.0.1", "--hw-address", "zz"}, "not a hardware address"},
        {{"--ip", "10.0.0.1", "--hw-address", "02:1a-2b:3c:4d:5e"}, "not a hardware address"},
        {{"--ip", "10.0.0.1", "--hw-address", "021a2b3c4d5e0"}, "not a hardware address"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"add", "NEW"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        ToolResult r = Run(args);
        EXPECT_EQ(1, r.exitCode) << c.why;
        EXPECT_NE(std::string::npos, r.err.find(c.why)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(": error 87: ")) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(1, Run({"exists", "NEW"}).exitCode) << c.why;
    }
    ASSERT_EQ(0, Run({"add", "RAW", "--ip", "10.0.0.1"}).exitCode);
    ToolResult r = Run({"config", "RAW", "--queue", "q1"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("give --lpr too): error 87")) << r.err;
    EXPECT_EQ(0, Run({"config", "RAW", "--lpr", "--queue", "q1"}).exitCode);
    EXPECT_EQ(2, Run({"config", "RAW"}).exitCode) << "no setting to change";
}

// The monitor itself refuses a leading-zero octet as new input, from any port user interface.
TEST_F(Nvspool, TheMonitorRefusesALeadingZeroOctetAsNewInput) {
    ToolResult r = XcvRecord("AddPort", "OCTAL", "127.0.0.010");
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("status 87")) << r.out;
    EXPECT_EQ(1, Run({"exists", "OCTAL"}).exitCode);
    ASSERT_EQ(0, Run({"add", "P", "--ip", "127.0.0.8"}).exitCode);
    r = XcvRecord("ConfigPort", "P", "127.0.0.010");
    EXPECT_NE(std::string::npos, r.out.find("status 87")) << r.out;
    EXPECT_NE(std::string::npos, Run({"show", "P"}).out.find("IPAddress      127.0.0.8\n"));
}

// Stored data is not read anew: a port stored with 127.0.0.010 goes on printing to 127.0.0.8,
// show says so, and its other settings can still be changed.
TEST_F(Nvspool, AStoredLeadingZeroKeepsPrintingWhereItPrintsAndShowSaysHow) {
    FakeRawPrinter::Options options;
    options.address = "127.0.0.8";
    FakeRawPrinter printer(options);
    StorePort("OLD", "127.0.0.010", printer.port());
    ToolResult show = Run({"show", "OLD"});
    EXPECT_EQ(0, show.exitCode) << show.err;
    EXPECT_NE(std::string::npos, show.out.find("127.0.0.010 is read as 127.0.0.8")) << show.out;
    EXPECT_NE(std::string::npos,
              Run({"show", "OLD", "--json"}).out.find("\"IPAddressReadAs\": \"127.0.0.8\""));
    ToolResult config = Run({"config", "OLD", "--timeout", "3000"});
    EXPECT_EQ(0, config.exitCode) << config.err;
    ToolResult print = Run({"print", "--port", "OLD", File("doc.prn", "to 127.0.0.8")});
    EXPECT_EQ(0, print.exitCode) << print.err;
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_EQ("to 127.0.0.8", printer.Jobs()[0]);
}

TEST_F(Nvspool, HardwareAddressesAreStoredAsTwelveLowerCaseDigits) {
    ASSERT_EQ(0, Run({"add", "HW", "--ip", "10.0.0.1"}).exitCode);
    for (const char* given : {"021A2B3C4D5E", "02:1a:2b:3c:4d:5e", "02-1A-2B-3C-4D-5E"}) {
        ToolResult r = Run({"config", "HW", "--hw-address", given});
        EXPECT_EQ(0, r.exitCode) << given << ": " << r.err;
        EXPECT_NE(std::string::npos,
                  Run({"show", "HW", "--json"}).out.find("\"HWAddress\": \"021a2b3c4d5e\""))
            << given;
    }
}

TEST_F(Nvspool, ARawXcvRequestShowsItsStatusAndOutput) {
    ToolResult r = Run({"xcv", "MonitorUI", "--output-size", "26"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("status 0"));
    EXPECT_NE(std::string::npos, r.out.find("6e 00 76 00 74 00"));
    EXPECT_EQ(1, Run({"xcv", "MonitorUI", "--output-size", "25"}).exitCode);
}

TEST_F(Nvspool, ChangesNeedTheRightToChangeTheStoreWhichTheLineNames) {
    ASSERT_EQ(0, Run({"add-port", "RO", "--ip", "10.0.0.1"}).exitCode);
    ASSERT_EQ(0, chmod(registry_.path().c_str(), 0444));
    ToolResult r = Run({"delete-port", "RO"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("the registry store " + registry_.path() +
                                            " is read-only: error 5: Access is denied."))
        << r.err;
    EXPECT_EQ(0, Run({"show-port", "RO"}).exitCode) << "reading needs no right";
    chmod(registry_.path().c_str(), 0644);

    StorePath missing(dir_.file("no/such/r.db"));
    r = Run({"add", "P", "--ip", "10.0.0.1"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("the registry store " + dir_.file("no/such/r.db") +
                                            " cannot be made: the directory " +
                                            dir_.file("no/such") + " does not exist: error "))
        << r.err;
}

// Where there is no store yet, a verb that only reads answers as on an empty registry and
// leaves no store behind.
TEST_F(Nvspool, AVerbThatOnlyReadsMakesNoStore) {
    const std::string other = dir_.file("fresh.db");
    StorePath fresh(other);
    ToolResult list = Run({"list"});
    EXPECT_EQ(0, list.exitCode);
    EXPECT_EQ("", list.out);
    EXPECT_NE(std::string::npos, list.err.find(other + " does not exist yet: no ports"));
    EXPECT_EQ(1, Run({"show", "P"}).exitCode);
    EXPECT_EQ(0, Run({"exists", "LPT1:"}).exitCode);
    EXPECT_EQ(0, Run({"ports", "--json"}).exitCode);
    EXPECT_EQ(1, Run({"print", "--port", "P", File("doc.prn", "x")}).exitCode);
    EXPECT_EQ(0, Run({"export", dir_.file("none.reg")}).exitCode);
    EXPECT_EQ(-1, access(other.c_str(), F_OK)) << "the store was made";
    EXPECT_EQ(0, Run({"add", "P", "--ip", "10.0.0.1"}).exitCode);
    EXPECT_EQ("P\n", Run({"list"}).out);
}

// What scripts read instead of scraping the screen.
TEST_F(Nvspool, ListAndPortsForScripts) {
    ASSERT_EQ(0, Run({"add", "RAW1", "--ip", "192.0.2.1", "--port-number", "9101"}).exitCode);
    ASSERT_EQ(0, Run({"add", "LPR1", "--ip", "192.0.2.2", "--lpr", "--queue", "q\"x"}).exitCode);
    ToolResult r = Run({"list", "--long"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(
        "NAME  ADDRESS          PROTOCOL  PORT   QUEUE     STATUS\n"
        "LPR1  192.0.2.2        lpr       515    q\"x       -\n"
        "RAW1  192.0.2.1        raw       9101   -         -\n",
        r.out);
    r = Run({"list", "--json"});
    EXPECT_EQ(
        "[\n"
        "  {\"name\": \"LPR1\", \"address\": \"192.0.2.2\", \"protocol\": \"lpr\", "
        "\"portNumber\": 515, \"queue\": \"q\\\"x\", \"status\": null},\n"
        "  {\"name\": \"RAW1\", \"address\": \"192.0.2.1\", \"protocol\": \"raw\", "
        "\"portNumber\": 9101, \"queue\": null, \"status\": null}\n"
        "]\n",
        r.out);
    r = Run({"ports", "--json"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_NE(std::string::npos,
              r.out.find("{\"name\": \"FILE:\", \"monitor\": \"Local Port\", \"description\": "
                         "\"Print to File\", \"type\": [\"write\"], \"status\": null}"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("{\"name\": \"RAW1\", \"monitor\": \"NORVA TCP/IP "
                                            "Port\""));
    EXPECT_EQ(2, Run({"list", "--long", "--json"}).exitCode);

    // What a monitor says of a port's printer while it prints (SetPortW level 3) shows in every
    // process's lists until it is cleared.
    nvspool::SpoolerHost host;
    std::u16string raw1 = u"RAW1";
    PORT_INFO_3W paperOut{PORT_STATUS_PAPER_OUT, nullptr, PORT_STATUS_TYPE_ERROR};
    ASSERT_TRUE(host.SetPort(nullptr, raw1.data(), 3, reinterpret_cast<LPBYTE>(&paperOut)));
    EXPECT_NE(std::string::npos, Run({"list", "--long"}).out.find("-         paper out (error)"));
    EXPECT_NE(std::string::npos,
              Run({"ports", "--json"}).out.find("\"status\": \"paper out (error)\"}"));
    PORT_INFO_3W cleared{};
    ASSERT_TRUE(host.SetPort(nullptr, raw1.data(), 3, reinterpret_cast<LPBYTE>(&cleared)));
    EXPECT_EQ(std::string::npos, Run({"list", "--long"}).out.find("paper out"));
}

// A .reg export brings every port back, through this tool's import (the monitor's own
// requests) or through nvreg (the store itself), with every setting.
TEST_F(Nvspool, ExportedPortsComeBackByImportWithEverySetting) {
    ASSERT_EQ(0, Run({"add", "R", "--ip", "192.0.2.1", "--hw-address", "02:1a:2b:3c:4d:5e",
                      "--timeout", "4000"})
                     .exitCode);
    ASSERT_EQ(0, Run({"add", "L", "--ip", "192.0.2.2", "--lpr", "--queue", "lab", "--mail",
                      "ops@example.com", "--community", "secret"})
                     .exitCode);
    const std::string before = Run({"show", "R", "--json"}).out + Run({"show", "L", "--json"}).out;
    const std::string file = dir_.file("ports.reg");
    ToolResult r = Run({"export", file});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("Exported 2 ports to " + file + ".\n", r.out);
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(0u, bytes.find("\xff\xfeW\0i\0n\0d\0o\0w\0s\0")) << "UTF-16 as reg.exe writes";

    ASSERT_EQ(0, Run({"delete", "R"}).exitCode);
    ASSERT_EQ(0, Run({"config", "L", "--queue", "other"}).exitCode);
    r = Run({"import", file});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("Imported 2 ports from " + file + " (1 added, 1 changed).\n", r.out);
    EXPECT_EQ(before, Run({"show", "R", "--json"}).out + Run({"show", "L", "--json"}).out);

    ScopedRegistry fresh;  // another machine's store, filled by nvreg
    ASSERT_EQ(0, RunTool("nvreg", {"import", file}).exitCode);
    EXPECT_EQ(before, Run({"show", "R", "--json"}).out + Run({"show", "L", "--json"}).out);
}

// A file is checked whole before any port changes.
TEST_F(Nvspool, AnImportThatCannotBeTakenWholeChangesNothing) {
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string key =
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\"
        "Monitors\\NORVA TCP/IP Port\\Ports\\";
    const struct {
        std::string text;
        const char* why;
    } cases[] = {
        {key + "A]\r\n\"IPAddress\"=\"10.0.0.1\"\r\n\r\n" + key +
             "B]\r\n\"IPAddress\"=\"127.0.0.010\"\r\n",
         "B: --ip \"127.0.0.010\": an octet has a leading zero"},
        {key + "A]\r\n\"IPAddress\"=\"10.0.0.1\"\r\n\"Color\"=\"red\"\r\n",
         "line 5: \"Color\" is not a value of a port"},
        {key + "A]\r\n\"IPAddress\"=\"10.0.0.1\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n",
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X] is not a port of the monitor"},
        {key + "A]\r\n\"IPAddress\"=\"10.0.0.1\"\r\n\"PortNumber\"=\"9100\"\r\n",
         "PortNumber is a dword"},
    };
    for (const auto& c : cases) {
        ToolResult r = Run({"import", File("bad.reg", header + c.text)});
        EXPECT_EQ(1, r.exitCode) << c.why;
        EXPECT_NE(std::string::npos, r.err.find(c.why)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("nothing was changed: error 87: ")) << r.err;
        EXPECT_EQ("", Run({"list"}).out) << c.why;
    }
}

// The page goes through the monitor's job path like any job, and reports as any job does.
TEST_F(Nvspool, ATestPageReachesThePrinterAndSaysWhichPortItCameThrough) {
    FakeRawPrinter printer;
    AddPort("TP", printer);
    ToolResult r = Run({"test-page", "TP"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find(" bytes to TP (job ")) << r.out;
    ASSERT_TRUE(printer.WaitForJobs(1));
    const std::string page = printer.Jobs()[0];
    EXPECT_EQ(0u, page.find("NORVA TCP/IP Port test page\r\n")) << page;
    EXPECT_NE(std::string::npos, page.find("Port TP, printed 2")) << page;
    EXPECT_NE(std::string::npos,
              page.find("PortNumber     " + std::to_string(printer.port()) + "\r\n"));
    EXPECT_EQ('\f', page.back());

    FakeRawPrinter::Options options;
    options.listen = false;
    FakeRawPrinter refusing(options);
    AddPort("OFF", refusing);
    r = Run({"test-page", "OFF"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("StartDocPort on OFF: error 10061")) << r.err;
    EXPECT_EQ(1, Run({"test-page", "NOPE"}).exitCode);
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
