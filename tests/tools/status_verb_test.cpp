// nvspool status: what an administrator reads of a port's printer, from the printer simulator
// and from net-snmp's snmpd playing a printer (override lines), driven by one table.
#include <gtest/gtest.h>

#include <memory>

#include "tests/discover/peers.h"
#include "tests/support/fake_printer.h"
#include "tests/support/in_process_printer.h"
#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace nvtest {
namespace {

// One state of the printer and what the verb shows of it. snmpd is told the agent's values;
// the simulator works them out from the conditions as a printer does.
struct Case {
    std::vector<std::string> conditions;  // and "warmup"
    std::string errorState;               // hrPrinterDetectedErrorState for snmpd
    int deviceStatus;
    int printerStatus;
    int tonerLevel;  // of 1000
    int exitCode;
    std::vector<std::string> lines;  // "Key value" lines of the text output
};

const Case kCases[] = {
    {{},
     "0x00",
     2,
     3,
     800,
     0,
     {"DeviceStatus running (2)", "PrinterStatus idle (3)", "Conditions none",
      "Supply Black Toner Cartridge: 80 % (800 of 1000)", "State ready"}},
    {{"noPaper"},
     "0x40",
     5,
     1,
     800,
     3,
     {"DeviceStatus down (5)", "PrinterStatus other (1)", "Conditions noPaper",
      "State needs attention: noPaper, device down (5)"}},
    {{"doorOpen", "jammed"},
     "0x0c",
     5,
     1,
     800,
     3,
     {"Conditions doorOpen, jammed", "State needs attention: doorOpen, jammed, device down (5)"}},
    {{"lowToner"},
     "0x20",
     3,
     3,
     50,
     3,
     {"DeviceStatus warning (3)", "Conditions lowToner",
      "Supply Black Toner Cartridge: 5 % (50 of 1000), low",
      "State needs attention: lowToner, device warning (3), Black Toner Cartridge at 5 %"}},
    {{"offline"}, "0x02", 5, 1, 800, 3, {"Conditions offline"}},
    {{"inputTrayMissing", "overduePreventMaint"},
     "0x0082",
     5,
     1,
     800,
     3,
     {"Conditions inputTrayMissing, overduePreventMaint"}},
    {{"warmup"}, "0x00", 2, 5, 800, 0, {"PrinterStatus warmup (5)", "State ready"}},
};

// "Key value" as the verb aligns it.
std::string Aligned(const std::string& line) {
    const size_t space = line.find(' ');
    std::string key = line.substr(0, space);
    key.resize(std::max<size_t>(key.size(), 14), ' ');
    return key + " " + line.substr(space + 1) + "\n";
}

std::string JsonConditions(const Case& c) {
    std::string text = "\"conditions\": [";
    for (const std::string& name : c.conditions) {
        if (name != "warmup") {
            text += (text.back() == '[' ? "\"" : ", \"") + name + "\"";
        }
    }
    return text + "]";
}

nvprinter::PrinterSetup Simulated(bool silent = false, bool refuse = false) {
    nvprinter::PrinterSetup setup;
    setup.mode = nvprinter::kModePrinter;
    setup.raw = setup.snmp = true;
    setup.rawConfig.listen = {{127, 0, 0, 1}, 0};
    setup.rawConfig.refuse = refuse;
    setup.snmpConfig.listen = {{127, 0, 0, 1}, 0};
    setup.snmpConfig.agent.description = "Lab Printer 1";
    setup.snmpConfig.silent = silent;
    return setup;
}

class StatusVerb : public ::testing::Test {
  protected:
    // The port P to 127.0.0.1:rawPort, asked with the agent on snmpPort.
    ToolResult Status(uint16_t rawPort, uint16_t snmpPort,
                      const std::vector<std::string>& more = {}, const std::string& enabled = "1") {
        ToolResult added = RunTool("nvspool", {"add", "P", "--ip", "127.0.0.1", "--port-number",
                                               std::to_string(rawPort), "--snmp-enabled", enabled});
        EXPECT_EQ(0, added.exitCode) << added.err;
        std::vector<std::string> args = {"status", "P"};
        args.insert(args.end(), more.begin(), more.end());
        ToolResult r =
            RunTool("nvspool", args, "", {"NORVA_TEST=snmp-port=" + std::to_string(snmpPort)});
        RunTool("nvspool", {"delete", "P"});
        return r;
    }

    void Check(const Case& c, uint16_t rawPort, uint16_t snmpPort) {
        ToolResult text = Status(rawPort, snmpPort);
        EXPECT_EQ(c.exitCode, text.exitCode) << text.out << text.err;
        EXPECT_NE(std::string::npos, text.out.find(Aligned("Description Lab Printer 1")))
            << text.out;
        for (const std::string& line : c.lines) {
            EXPECT_NE(std::string::npos, text.out.find(Aligned(line))) << line << "\n" << text.out;
        }
        ToolResult json = Status(rawPort, snmpPort, {"--json"});
        EXPECT_EQ(c.exitCode, json.exitCode);
        EXPECT_NE(std::string::npos, json.out.find(JsonConditions(c))) << json.out;
    }

    ScopedRegistry registry_;
};

TEST_F(StatusVerb, ShowsTheSimulatorsState) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::PrintToString(c.conditions));
        InProcessPrinter printer(Simulated());
        for (const std::string& name : c.conditions) {
            ASSERT_TRUE(printer.Set(name)) << name;
        }
        Check(c, printer.rawPort(), printer.snmpPort());
    }
}

TEST_F(StatusVerb, ShowsSnmpdsState) {
    const std::string missing = ProgramMissing("snmpd");
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    FakeRawPrinter tcp;
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::PrintToString(c.conditions));
        Snmpd::Config config;
        const uint16_t port = FreeLoopbackUdpPort();
        config.agentAddress = "udp:127.0.0.1:" + std::to_string(port);
        config.deviceIndex = 1;
        const std::string supply = "override 1.3.6.1.2.1.43.11.1.1.";
        config.lines = {
            "override 1.3.6.1.2.1.25.3.2.1.5.1 integer " + std::to_string(c.deviceStatus),
            "override 1.3.6.1.2.1.25.3.5.1.1.1 integer " + std::to_string(c.printerStatus),
            "override 1.3.6.1.2.1.25.3.5.1.2.1 octet_str " + c.errorState,
            "override 1.3.6.1.2.1.43.10.2.1.4.1.1 counter 1234",
            supply + "6.1.1 octet_str \"Black Toner Cartridge\"",
            supply + "8.1.1 integer 1000",
            supply + "9.1.1 integer " + std::to_string(c.tonerLevel),
        };
        Snmpd snmpd(config);
        ASSERT_TRUE(snmpd.ready()) << snmpd.Log();
        Check(c, tcp.port(), port);
    }
}

// The cases the agent cannot tell: SNMP off for the port (nothing is sent), an agent that does
// not answer (the printer is not called offline for it), a printer whose TCP port is closed.
TEST_F(StatusVerb, SaysWhatItCouldNotAsk) {
    struct Unknown {
        const char* what;
        bool silent;
        bool refuse;
        const char* enabled;
        int exitCode;
        std::vector<std::string> lines;
    } cases[] = {
        {"SNMP off",
         false,
         false,
         "0",
         0,
         {"Snmp SNMP is off for this port (SnmpEnabled 0): only the connection was checked",
          "State ready"}},
        {"no answer",
         true,
         false,
         "1",
         0,
         {"Snmp no status answer (community \"commro\", device 1): no answer within 2 s, 2 times",
          "State ready"}},
        {"refused", false, true, "1", 4, {"Conditions noPaper", "State not reachable"}},
    };
    for (const Unknown& c : cases) {
        SCOPED_TRACE(c.what);
        InProcessPrinter printer(Simulated(c.silent, c.refuse));
        printer.Set("noPaper");
        ToolResult r = Status(printer.rawPort(), printer.snmpPort(), {}, c.enabled);
        EXPECT_EQ(c.exitCode, r.exitCode) << r.out << r.err;
        for (const std::string& line : c.lines) {
            EXPECT_NE(std::string::npos, r.out.find(Aligned(line))) << line << "\n" << r.out;
        }
        EXPECT_EQ(std::string::npos, r.out.find("offline"));
        if (c.enabled[0] == '0') {
            EXPECT_EQ(0u, printer.Datagrams()) << "SnmpEnabled 0 sends no datagram";
        } else {
            EXPECT_GT(printer.Datagrams(), 0u);
        }
    }
    EXPECT_EQ(2, RunTool("nvspool", {"status"}).exitCode);
    EXPECT_EQ(1, RunTool("nvspool", {"status", "NOWHERE"}).exitCode);
}

}  // namespace
}  // namespace nvtest
