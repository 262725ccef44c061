// nvprinter printer as a black box: one printer with its raw port, LPD and SNMP agent, whose
// conditions change on a schedule and on command, read with the status query the monitor and
// the tools use.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <thread>

#include "snmp/printer_status.h"
#include "tests/peers/peer_support.h"

namespace nvtest {
namespace {

using snmp::PrinterCondition;
namespace mib = snmp::printer_mib;

// "nvprinter printer ..." in the background, with the ports of its ready lines.
class Printer {
  public:
    explicit Printer(std::vector<std::string> options) {
        std::vector<std::string> argv = {BuildDir() + "/bin/nvprinter", "printer"};
        argv.insert(argv.end(), options.begin(), options.end());
        process_ = std::make_unique<BackgroundProcess>(argv, dir_.file("log"));
        for (std::string line; !(line = process_->readLine(10000)).empty();) {
            const size_t space = line.find(' ');
            ports_[line.substr(0, space)] =
                static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
            if (ports_.size() == expected(options)) {
                break;
            }
        }
    }
    uint16_t port(const std::string& service) { return ports_[service]; }
    std::string log() const { return ReadFile(dir_.file("log")); }
    int stop() { return process_->stop(); }

    snmp::PrinterStatus Ask() {
        snmp::PrinterStatusQuery query;
        query.agent = "127.0.0.1";
        query.community = "commro";
        query.timeoutMs = 2000;
        query.retries = 1;
        query.port = port("snmp");
        return snmp::QueryPrinterStatus(query);
    }

  private:
    static size_t expected(const std::vector<std::string>& options) {
        size_t services = 0;
        for (const std::string& o : options) {
            services += o == "--raw" || o == "--lpd" || o == "--snmp";
        }
        return services;
    }

    TempDir dir_;
    std::unique_ptr<BackgroundProcess> process_;
    std::map<std::string, uint16_t> ports_;
};

// Paper runs out for the first 2 s: the agent says so, neither port reads a byte meanwhile,
// and both take their jobs once it ends.
TEST(PrinterSimulator, APaperOutWindowHoldsBothPortsAndTheAgentSaysSo) {
    Printer printer({"--raw", "127.0.0.1:0", "--lpd", "127.0.0.1:0", "--snmp", "127.0.0.1:0",
                     "--discard", "--any-source-port", "--condition", "noPaper@0-2000"});
    snmp::PrinterStatus out = printer.Ask();
    ASSERT_TRUE(out.answered);
    EXPECT_TRUE(out.Has(PrinterCondition::NoPaper));
    EXPECT_EQ(mib::kDeviceDown, out.deviceStatus);
    EXPECT_EQ(mib::kPrinterOther, out.printerStatus);

    LoopbackClient raw(printer.port("raw"));
    ASSERT_TRUE(raw.send("a whole raw job"));
    raw.close();
    LoopbackClient lpd(printer.port("lpd"));
    ASSERT_TRUE(lpd.send("\x02lp\n"));
    EXPECT_EQ(-2, lpd.answer(500)) << "no answer while the paper is out";
    EXPECT_EQ(std::string::npos, printer.log().find("job 1: 15 bytes"));

    EXPECT_EQ(0, lpd.answer(5000)) << "the receive-job command is answered once paper is back";
    EXPECT_TRUE(
        WaitUntil([&] { return printer.log().find("job 1: 15 bytes") != std::string::npos; }, 5000))
        << printer.log();
    snmp::PrinterStatus back = printer.Ask();
    EXPECT_EQ(snmp::PrinterConditions{0}, back.conditions);
    EXPECT_EQ(mib::kDeviceRunning, back.deviceStatus);
    lpd.close();
    EXPECT_EQ(0, printer.stop());
    EXPECT_NE(std::string::npos, printer.log().find("stopped; 2 SNMP datagrams received"))
        << printer.log();
}

TEST(PrinterSimulator, TheControlFifoSetsAndClearsConditions) {
    TempDir dir;
    const std::string fifo = dir.file("control");
    Printer printer({"--snmp", "127.0.0.1:0", "--control", fifo, "--quiet"});
    auto command = [&](const std::string& line) { std::ofstream(fifo) << line << "\n"; };
    auto shows = [&](snmp::PrinterConditions conditions) {
        return WaitUntil([&] { return printer.Ask().conditions == conditions; }, 3000);
    };
    command("set jammed");
    command("set lowToner");
    EXPECT_TRUE(shows(snmp::ConditionBit(PrinterCondition::Jammed) |
                      snmp::ConditionBit(PrinterCondition::LowToner)));
    command("clear jammed");
    EXPECT_TRUE(shows(snmp::ConditionBit(PrinterCondition::LowToner)));
    EXPECT_EQ(mib::kDeviceWarning, printer.Ask().deviceStatus) << "a warning only";
    command("jam now");
    command("clear");
    EXPECT_TRUE(shows(0));
    command("report");
    EXPECT_TRUE(
        WaitUntil([&] { return printer.log().find("state: ready;") != std::string::npos; }, 3000))
        << printer.log();
    EXPECT_NE(std::string::npos, printer.log().find("control: 'jam now' is not"));
    EXPECT_EQ(0, printer.stop());
    EXPECT_FALSE(std::ifstream(fifo).good()) << "the FIFO it made is gone";
}

TEST(PrinterSimulator, BadCommandLines) {
    const std::string out = "--discard";
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"printer", out},
             {"printer", "--raw", "127.0.0.1:0"},
             {"printer", "--snmp", "127.0.0.1:0", "--listen", "127.0.0.1:0"},
             {"printer", "--snmp", "127.0.0.1:0", "--condition", "paperOut"},
             {"printer", "--snmp", "127.0.0.1:0", "--condition", "noPaper@5000-2000"},
             {"snmp", "--listen", "127.0.0.1:0", "--condition", "noPaper@"},
             {"raw", "--listen", "127.0.0.1:0", out, "--nak-at", "1"},
         }) {
        ToolResult r = RunTool("nvprinter", bad);
        EXPECT_EQ(2, r.exitCode) << testing::PrintToString(bad) << ": " << r.err;
    }
}

}  // namespace
}  // namespace nvtest
