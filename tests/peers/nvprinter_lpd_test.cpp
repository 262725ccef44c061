// nvprinter lpd as a black box: the built simulator, driven by a hand-written client over
// loopback (its checks and its faults, step by step) and by the monitor through nvspool (jobs
// from the real client, which needs root for its source ports 721..731).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "tests/peers/peer_support.h"
#include "tests/support/fake_lpd.h"
#include "tests/support/test_env.h"

namespace nvtest {
namespace {

// The pieces of a conversation as a client sends them.
std::string ReceiveJob(const std::string& queue) {
    return "\x02" + queue + "\n";
}
std::string ControlCommand(size_t size, const std::string& name) {
    return "\x02" + std::to_string(size) + " " + name + "\n";
}
std::string DataCommand(size_t size, const std::string& name) {
    return "\x03" + std::to_string(size) + " " + name + "\n";
}
std::string FileBytes(const std::string& content) {
    return content + std::string(1, '\0');
}

const std::string kControl = "Hpc7\nPalice\nJdoc\nTdoc\nldfA001pc7\nUdfA001pc7\nNdoc\n";
const std::string kData = "%!PS\nshowpage\n";

// A whole job, one piece per step 1..5.
std::vector<std::string> GoodJob() {
    return {ReceiveJob("lp"), ControlCommand(kControl.size(), "cfA001pc7"), FileBytes(kControl),
            DataCommand(kData.size(), "dfA001pc7"), FileBytes(kData)};
}

class LpdSimulator : public ::testing::Test {
  protected:
    // A simulator on 127.0.0.1 storing into jobs_; clients from any port unless `strictPort`.
    std::unique_ptr<Simulator> Start(std::vector<std::string> options = {},
                                     bool strictPort = false) {
        std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--out", jobs_.path()};
        if (!strictPort) {
            args.push_back("--any-source-port");
        }
        args.insert(args.end(), options.begin(), options.end());
        return std::make_unique<Simulator>("lpd", args);
    }

    // Sends each piece and collects the answer to it; stops at the first that is not 0x00.
    static std::vector<int> Converse(LoopbackClient& client, const std::vector<std::string>& job,
                                     int timeoutMs = 5000) {
        std::vector<int> answers;
        for (const std::string& piece : job) {
            client.send(piece);
            answers.push_back(client.answer(timeoutMs));
            if (answers.back() != 0) {
                break;
            }
        }
        return answers;
    }

    std::string Stored(int job, const char* extension) const {
        char name[32];
        snprintf(name, sizeof name, "job-%04d.%s", job, extension);
        return ReadFile(jobs_.file(name));
    }

    TempDir jobs_;
};

TEST_F(LpdSimulator, AWholeJobIsAcknowledgedStoredAndSummarised) {
    auto lpd = Start();
    LoopbackClient client(lpd->port());
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0}), Converse(client, GoodJob()));
    client.close();
    ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
    const std::string summary = lpd->summary(1);
    EXPECT_EQ(0u, summary.find("job 1: status 0 (received) from 127.0.0.1:")) << summary;
    EXPECT_NE(std::string::npos,
              summary.find("queue \"lp\", cfA001pc7 " + std::to_string(kControl.size()) +
                           " bytes, dfA001pc7 " + std::to_string(kData.size()) + " bytes"))
        << summary;
    EXPECT_EQ(kControl, Stored(1, "cf"));
    EXPECT_EQ(kData, Stored(1, "df"));
}

TEST_F(LpdSimulator, CreatesEveryMissingLevelOfTheOutputDirectory) {
    auto lpd = Start({"--out", jobs_.file("deep/er")});
    LoopbackClient client(lpd->port());
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0}), Converse(client, GoodJob()));
    client.close();
    ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
    EXPECT_EQ(kData, ReadFile(jobs_.file("deep/er/job-0001.df")));
}

TEST_F(LpdSimulator, AnEmptyDataFileEndsTheJobAtItsCommand) {
    auto lpd = Start();
    LoopbackClient client(lpd->port());
    std::vector<std::string> job = GoodJob();
    job[3] = DataCommand(0, "dfA001pc7");
    job.pop_back();  // no bytes, no 0x00, no answer
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), Converse(client, job));
    client.close();
    ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
    EXPECT_NE(std::string::npos, lpd->summary(1).find("status 0 (received)")) << lpd->log();
    EXPECT_EQ("", Stored(1, "df"));
}

// Each case: the pieces a client sends, the step whose answer must be 0x01, and what the
// report says.
struct ViolationCase {
    const char* what;
    std::vector<std::string> pieces;
    size_t refusedAt;  // 1-based index of the piece answered with 0x01
    const char* reported;
};

TEST_F(LpdSimulator, EveryDepartureFromTheProtocolIsReportedAndRefused) {
    const std::string noH = "Palice\nldfA001pc7\n";
    const std::string withCr = "Hpc7\nJdo\rc\nldfA001pc7\n";
    const std::string noLf = "Hpc7\nldfA001pc7";
    const std::string bare = "Hpc7\ndfA001pc7\nUdfA001pc7\n";  // 'd' + fA001pc7: no such file
    const std::string unprinted = "Hpc7\nUdfA001pc7\n";
    const std::vector<ViolationCase> cases = {
        {"another daemon command", {"\x04lp\n"}, 1, "is not receive-job"},
        {"no queue", {"\x02\n"}, 1, "names no queue"},
        {"a data file first",
         {ReceiveJob("lp"), DataCommand(5, "dfA001pc7")},
         2,
         "comes before the control file"},
        {"not count SP name",
         {ReceiveJob("lp"),
          "\x02"
          "12x cfA001pc7\n"},
         2,
         "is not 'count SP name'"},
        {"an unknown subcommand",
         {ReceiveJob("lp"),
          "\x05"
          "1 x\n"},
         2,
         "not a receive-job sub"},
        {"no job number",
         {ReceiveJob("lp"), ControlCommand(10, "cfApc7")},
         2,
         "has no three-digit job number"},
        {"no host", {ReceiveJob("lp"), ControlCommand(10, "cfA001")}, 2, "has no host name"},
        {"a data file named as control file",
         {ReceiveJob("lp"), ControlCommand(10, "dfA001pc7")},
         2,
         "does not start with 'cf'"},
        {"a control file longer than announced",
         {ReceiveJob("lp"), ControlCommand(4, "cfA001pc7"), FileBytes("Hpc7\n")},
         3,
         "is 0x0A, not the 0x00 that ends the file"},
        {"a control line with a CR",
         {ReceiveJob("lp"), ControlCommand(withCr.size(), "cfA001pc7"), FileBytes(withCr)},
         3,
         "holds the control character \\x0D"},
        {"a control file without its last LF",
         {ReceiveJob("lp"), ControlCommand(noLf.size(), "cfA001pc7"), FileBytes(noLf)},
         3,
         "does not end with LF"},
        {"no H line",
         {ReceiveJob("lp"), ControlCommand(noH.size(), "cfA001pc7"), FileBytes(noH)},
         3,
         "has no H (host) line"},
        {"a print line naming a file never sent",
         {ReceiveJob("lp"), ControlCommand(bare.size(), "cfA001pc7"), FileBytes(bare),
          DataCommand(5, "dfA001pc7")},
         4,
         "names the file 'fA001pc7', which this job did not send"},
        {"a data file that nothing prints",
         {ReceiveJob("lp"), ControlCommand(unprinted.size(), "cfA001pc7"), FileBytes(unprinted),
          DataCommand(5, "dfA001pc7")},
         4,
         "no line of the control file prints the data file"},
        {"a data file of another job",
         {ReceiveJob("lp"), ControlCommand(kControl.size(), "cfA001pc7"), FileBytes(kControl),
          DataCommand(5, "dfA002pc7")},
         4,
         "has another job number or host"},
        {"a data file longer than announced",
         {ReceiveJob("lp"), ControlCommand(kControl.size(), "cfA001pc7"), FileBytes(kControl),
          DataCommand(2, "dfA001pc7"), FileBytes("abc")},
         5,
         "the byte after the 2 announced bytes of dfA001pc7 is 0x63"},
    };
    auto lpd = Start();
    int job = 0;
    for (const ViolationCase& c : cases) {
        SCOPED_TRACE(c.what);
        ++job;
        LoopbackClient client(lpd->port());
        std::vector<int> answers = Converse(client, c.pieces);
        std::vector<int> expected(c.refusedAt - 1, 0);
        expected.push_back(1);
        EXPECT_EQ(expected, answers);
        EXPECT_EQ("", client.rest()) << "the printer closes after its 0x01";
        client.close();
        ASSERT_TRUE(lpd->waitForSummaries(job)) << lpd->log();
        const std::string summary = lpd->summary(job);
        EXPECT_NE(std::string::npos, summary.find("status 1 (violation: ")) << summary;
        EXPECT_NE(std::string::npos, summary.find(c.reported)) << summary;
        EXPECT_NE(std::string::npos,
                  lpd->log().find("job " + std::to_string(job) + ": violation: "))
            << "reported on a line of its own";
    }

    // A second data file after a whole job is refused too, though the job was acknowledged.
    ++job;
    LoopbackClient client(lpd->port());
    std::vector<std::string> twice = GoodJob();
    twice.push_back(DataCommand(1, "dfB001pc7"));
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 1}), Converse(client, twice));
    client.close();
    ASSERT_TRUE(lpd->waitForSummaries(job)) << lpd->log();
    EXPECT_NE(std::string::npos, lpd->summary(job).find("a second data file")) << lpd->log();
}

TEST_F(LpdSimulator, AClientThatGivesUpMidFileEndsTheJobIncomplete) {
    auto lpd = Start();
    {
        // Fewer bytes than announced: the 0x00 is taken as data and no answer comes.
        LoopbackClient client(lpd->port());
        std::vector<std::string> job = {ReceiveJob("lp"), ControlCommand(40, "cfA001pc7"),
                                        FileBytes("Hpc7\n")};
        EXPECT_EQ((std::vector<int>{0, 0, -2}), Converse(client, job, 300));
    }
    ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
    const std::string summary = lpd->summary(1);
    EXPECT_NE(std::string::npos, summary.find("status 2 (incomplete: ")) << summary;
    EXPECT_NE(std::string::npos, summary.find("after 6 of the 40 announced bytes of cfA001pc7"))
        << summary;
    EXPECT_NE(std::string::npos, summary.find("fewer bytes than announced?")) << summary;
}

TEST_F(LpdSimulator, OnlySourcePorts721To731AreServedUnlessToldOtherwise) {
    auto lpd = Start({}, /*strictPort=*/true);
    {
        LoopbackClient client(lpd->port());
        EXPECT_EQ(std::vector<int>{1}, Converse(client, {ReceiveJob("lp")}));
        const uint16_t sourcePort = client.sourcePort();
        client.close();
        ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
        EXPECT_NE(std::string::npos,
                  lpd->summary(1).find("source port " + std::to_string(sourcePort) +
                                       " is outside 721..731"))
            << lpd->log();
    }
    if (!CanBindReservedPorts()) {
        GTEST_SKIP() << "a client from 721..731 needs root";
    }
    LoopbackClient reserved(lpd->port(), 731);
    ASSERT_TRUE(reserved.connected());
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0}), Converse(reserved, GoodJob()));
}

TEST_F(LpdSimulator, FaultOptionsActAtTheirStep) {
    for (int step = 1; step <= 5; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        std::vector<int> before(step - 1, 0);
        const std::string at = std::to_string(step);
        {
            auto lpd = Start({"--nak-at", at});
            LoopbackClient client(lpd->port());
            std::vector<int> expected = before;
            expected.push_back(1);
            EXPECT_EQ(expected, Converse(client, GoodJob()));
            client.close();
            ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
            EXPECT_NE(std::string::npos,
                      lpd->summary(1).find("status 3 (printer fault: answered 0x01 at step " + at))
                << lpd->log();
        }
        {
            auto lpd = Start({"--close-at", at});
            LoopbackClient client(lpd->port());
            std::vector<int> expected = before;
            expected.push_back(-1);
            EXPECT_EQ(expected, Converse(client, GoodJob()));
            ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
            EXPECT_NE(std::string::npos, lpd->summary(1).find("closed at step " + at))
                << lpd->log();
        }
        {
            auto lpd = Start({"--silent-at", at});
            LoopbackClient client(lpd->port());
            std::vector<int> expected = before;
            expected.push_back(-2);
            EXPECT_EQ(expected, Converse(client, GoodJob(), 300));
            EXPECT_TRUE(client.send("more")) << "the silent printer keeps the connection open";
            client.close();
            ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
            EXPECT_NE(std::string::npos, lpd->summary(1).find("never answered at step " + at))
                << lpd->log();
        }
    }
}

TEST_F(LpdSimulator, StopsCleanlyOnSigtermAndReportsTheJobItWasIn) {
    auto lpd = Start();
    LoopbackClient client(lpd->port());
    EXPECT_EQ(std::vector<int>{0}, Converse(client, {ReceiveJob("lp")}));
    EXPECT_EQ(0, lpd->stop(SIGTERM));
    EXPECT_NE(std::string::npos, lpd->summary(1).find("status 4 (stopped")) << lpd->log();
}

TEST_F(LpdSimulator, HelpAndBadCommandLines) {
    ToolResult help = RunTool("nvprinter", {"lpd", "--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("Usage: nvprinter lpd --listen ADDR:PORT"));
    EXPECT_NE(std::string::npos, RunTool("nvprinter", {"--help"}).out.find("lpd "));
    const std::string out = jobs_.path();
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"lpd", "--listen", "127.0.0.1:0"},
             {"lpd", "--out", out},
             {"lpd", "--listen", "localhost:515", "--out", out},
             {"lpd", "--listen", "127.0.0.1:0", "--out", out, "--nak-at", "6"},
             {"lpd", "--listen", "127.0.0.1:0", "--out", out, "--close-at", "0"},
             {"lpd", "--listen", "127.0.0.1:0", "--out", out, "--slow", "0"},
             {"lpd", "--listen", "127.0.0.1:0", "--out", out, "stray"},
         }) {
        ToolResult r = RunTool("nvprinter", bad);
        EXPECT_EQ(2, r.exitCode) << bad.back() << ": " << r.err;
    }
}

// Jobs from the monitor itself, printed with nvspool. The monitor binds 721..731.
class LpdSimulatorWithMonitor : public LpdSimulator {
  protected:
    void SetUp() override {
        if (!CanBindReservedPorts()) {
            GTEST_SKIP() << "the monitor's source ports 721..731 need root";
        }
    }

    ToolResult Print(const std::string& port, int jobId, const std::string& data,
                     const std::string& document = "doc") {
        const std::string path = files_.file("job" + std::to_string(jobId));
        WriteFile(path, data);
        return RunTool("nvspool",
                       {"print", "--port", port, "--job-id", std::to_string(jobId), "--user",
                        "alice", "--machine", "pc7", "--document", document, path});
    }

    // The lines of a stored control file by their command letter.
    std::map<char, std::string> ControlLines(int job) const {
        std::map<char, std::string> lines;
        std::istringstream text(Stored(job, "cf"));
        for (std::string line; std::getline(text, line);) {
            if (!line.empty()) {
                lines.emplace(line[0], line.substr(1));
            }
        }
        return lines;
    }

    ScopedRegistry registry_;
    TempDir files_;
};

TEST_F(LpdSimulatorWithMonitor, JobsArriveWholeWithTheirNames) {
    auto lpd = Start({}, /*strictPort=*/true);
    ASSERT_EQ(0, AddLprPort("LPD", lpd->port(), "lp", 5000).exitCode);
    const std::vector<size_t> sizes = {0, 1, 1025, 300000, 3 * 1024 * 1024 + 5};
    for (size_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE("size " + std::to_string(sizes[i]));
        const int jobId = 40 + static_cast<int>(i);
        const std::string data = TestData(sizes[i], static_cast<uint32_t>(i));
        ToolResult r = Print("LPD", jobId, data, "Report " + std::to_string(i));
        EXPECT_EQ(0, r.exitCode) << r.err;
        const int job = static_cast<int>(i) + 1;
        ASSERT_TRUE(lpd->waitForSummaries(job)) << lpd->log();
        EXPECT_NE(std::string::npos, lpd->summary(job).find("status 0 (received)"))
            << lpd->summary(job);
        EXPECT_TRUE(Stored(job, "df") == data) << "the data file differs";
        std::map<char, std::string> lines = ControlLines(job);
        EXPECT_EQ("pc7", lines['H']);
        EXPECT_EQ("alice", lines['P']);
        EXPECT_EQ("Report " + std::to_string(i), lines['J']);
        EXPECT_EQ(lines['J'], lines['T']);
        EXPECT_EQ(lines['J'], lines['N']);
        EXPECT_EQ("dfA0" + std::to_string(jobId) + "pc7", lines['U']);
    }
}

TEST_F(LpdSimulatorWithMonitor, TwoPortsToOnePrinterPrintAtOnce) {
    // Both jobs leave from 721..731 of one address for one printer address and port: each
    // needs a local port of its own.
    auto lpd = Start({}, /*strictPort=*/true);
    ASSERT_EQ(0, AddLprPort("ONE", lpd->port(), "lp", 5000).exitCode);
    ASSERT_EQ(0, AddLprPort("TWO", lpd->port(), "lp", 5000).exitCode);
    const std::string first = TestData(2 * 1024 * 1024, 11);
    const std::string second = TestData(1024 * 1024, 12);
    ToolResult a;
    ToolResult b;
    std::thread one([&] { a = Print("ONE", 11, first); });
    std::thread two([&] { b = Print("TWO", 12, second); });
    one.join();
    two.join();
    EXPECT_EQ(0, a.exitCode) << a.err;
    EXPECT_EQ(0, b.exitCode) << b.err;
    ASSERT_TRUE(lpd->waitForSummaries(2, 10000)) << lpd->log();
    std::string log = lpd->log();
    EXPECT_NE(std::string::npos, log.find("dfA011pc7 2097152 bytes (")) << log;
    EXPECT_NE(std::string::npos, log.find("dfA012pc7 1048576 bytes (")) << log;
}

TEST_F(LpdSimulatorWithMonitor, APrinterThatStopsAnsweringCostsTheJobNotTheSpooler) {
    // Steps 1..3 come before anything the data file's name could be refused for.
    for (const char* step : {"1", "3"}) {
        SCOPED_TRACE(std::string("silent at step ") + step);
        auto lpd = Start({"--silent-at", step}, /*strictPort=*/true);
        ASSERT_EQ(0, AddLprPort("MUTE", lpd->port(), "lp", 1000).exitCode);
        const auto started = std::chrono::steady_clock::now();
        // The restarts' pauses are cut short: what is measured is the waits for an answer.
        setenv("NORVA_TEST", "pacing-ms=100,snmp-port=9", 1);
        Print("MUTE", 7, "data");
        setenv("NORVA_TEST", "snmp-port=9", 1);
        // Each wait for an answer is bounded by the port's 1000 ms; far more means no bound.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
        EXPECT_NE(std::string::npos,
                  lpd->summary(1).find(std::string("never answered at step ") + step))
            << lpd->log();
        ASSERT_EQ(0, RunTool("nvspool", {"delete-port", "MUTE"}).exitCode);
    }
}

TEST_F(LpdSimulatorWithMonitor, ARefusalOrACloseEndsTheJobAtThatStep) {
    for (const std::vector<std::string>& fault : std::vector<std::vector<std::string>>{
             {"--nak-at", "1"}, {"--nak-at", "3"}, {"--close-at", "2"}}) {
        SCOPED_TRACE(fault[0] + " " + fault[1]);
        auto lpd = Start(fault, /*strictPort=*/true);
        ASSERT_EQ(0, AddLprPort("FAULT", lpd->port(), "lp", 5000).exitCode);
        Print("FAULT", 8, "data");
        ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
        const std::string summary = lpd->summary(1);
        EXPECT_NE(std::string::npos, summary.find("status 3 (printer fault")) << summary;
        EXPECT_EQ(std::string::npos, summary.find("dfA")) << "no data file after the fault";
        ASSERT_EQ(0, RunTool("nvspool", {"delete-port", "FAULT"}).exitCode);
    }
}

TEST_F(LpdSimulatorWithMonitor, ASlowPrinterStillGetsTheWholeJob) {
    auto lpd = Start({"--slow", "200000"}, /*strictPort=*/true);
    ASSERT_EQ(0, AddLprPort("SLOW", lpd->port(), "lp", 5000).exitCode);
    const std::string data = TestData(400000, 9);
    ToolResult r = Print("SLOW", 9, data);
    EXPECT_EQ(0, r.exitCode) << r.err;
    ASSERT_TRUE(lpd->waitForSummaries(1)) << lpd->log();
    EXPECT_NE(std::string::npos, lpd->summary(1).find("status 0 (received)")) << lpd->log();
    EXPECT_TRUE(Stored(1, "df") == data);
}

}  // namespace
}  // namespace nvtest
