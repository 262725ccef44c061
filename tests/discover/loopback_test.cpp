// Discovery against agents on UDP port 161 of loopback addresses: the simulator (nvprinter
// snmp), net-snmp's snmpd and the scripted agent. Needs root for port 161; the cases run one at
// a time (RESOURCE_LOCK udp8003), since ports 161 and 8003 are the machine's.
//
// Every case gives the machine the address 127.255.0.1, whose class-based broadcast address is
// the loopback broadcast 127.255.255.255: a broadcast never leaves this machine, and an agent
// bound to 0.0.0.0:161 receives it and answers from 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "discover/broadcast.h"
#include "discover/discovery.h"
#include "discover/snmpquery.h"
#include "platform/linux/include/nvplatform.h"
#include "tests/discover/peers.h"
#include "tests/discover/scripted_agent.h"
#include "tests/support/run_tool.h"

namespace {

using snmp::Oid;
using snmp::Value;

constexpr char kLoopbackHost[] = "127.255.0.1";
constexpr char kLoopbackBroadcast[] = "127.255.255.255";

DWORD HostOrder(const char* dotted) {
    return ntohl(inet_addr(dotted));
}

size_t CountOf(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

class LoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = nvtest::PrivilegedPortsUnavailable();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        NvSetHostAddresses(kLoopbackHost);
        StartDiscovery();
        StopDiscovery();
    }
    void TearDown() override {
        StopDiscovery();
        NvFaultClear();
        NvSetHostAddresses(nullptr);
    }
};

// --- QueryPrinter: one printer's details ---

using QueryPrinterTest = LoopbackTest;

PrinterRecord RecordFor(const char* dotted) {
    PrinterRecord record;
    record.ipAddress = HostOrder(dotted);
    return record;
}

TEST_F(QueryPrinterTest, FillsEveryFieldFromTheSimulator) {
    nvtest::Simulator printer("127.0.0.2:161",
                              {"--mac", "02:1A:2B:3C:4D:5E", "--gateway", "10.9.8.7", "--mask",
                               "255.255.0.0", "--description", "Front desk"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    PrinterRecord record = RecordFor("127.0.0.2");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(QueryPrinter(&record));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no diagnostics
    ASSERT_NE(record.hardwareAddress, nullptr);
    EXPECT_STREQ(record.hardwareAddress.get(), "021a2b3c4d5e");
    ASSERT_NE(record.description, nullptr);
    EXPECT_STREQ(record.description.get(), "Front desk");
    EXPECT_EQ(record.subnetMask, HostOrder("255.255.0.0"));
    EXPECT_EQ(record.gateway, HostOrder("10.9.8.7"));
    EXPECT_EQ(record.deviceIndex, 0);  // the printer's hrDeviceIndex 1, less one
}

class PhysicalAddressLengthTest : public QueryPrinterTest,
                                  public ::testing::WithParamInterface<const char*> {};

TEST_P(PhysicalAddressLengthTest, OtherThanSixOctetsLeavesNoHardwareAddress) {
    nvtest::Simulator printer("127.0.0.2:161", {"--mac-length", GetParam()});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    PrinterRecord record = RecordFor("127.0.0.2");
    EXPECT_TRUE(QueryPrinter(&record));
    EXPECT_EQ(record.hardwareAddress, nullptr);
    EXPECT_NE(record.description, nullptr);  // the rest is still read
}

INSTANTIATE_TEST_SUITE_P(Octets, PhysicalAddressLengthTest, ::testing::Values("0", "8"));

// The GetNext for the description names the instance before the printer's.
TEST_F(QueryPrinterTest, PrinterAtDeviceIndexThreeIsAskedForDescriptionTwo) {
    nvtest::Simulator printer("127.0.0.2:161", {"--device-index", "3"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    PrinterRecord record = RecordFor("127.0.0.2");
    ASSERT_TRUE(QueryPrinter(&record));
    EXPECT_EQ(record.deviceIndex, 2);
    EXPECT_NE(printer.Log().find("GetNextRequest id="), std::string::npos);
    EXPECT_NE(printer.Log().find(" .1.3.6.1.2.1.25.3.2.1.3.2, .1.3.6.1.2.1.4.20.1.3, "
                                 ".1.3.6.1.2.1.4.21.1.7 -> .1.3.6.1.2.1.25.3.2.1.3.3 = "),
              std::string::npos)
        << printer.Log();
    ASSERT_NE(record.description, nullptr);
    EXPECT_STREQ(record.description.get(), "NORVA Laser Printer (simulated)");
}

// The first ipAddrTable row is the printer's own: taken, and nothing more is asked. A first
// row of another address is followed by one Get of the printer's own row, which may be
// missing too.
TEST_F(QueryPrinterTest, TheMaskIsThePrintersOwnRow) {
    const std::array<std::uint8_t, 4> address = {127, 0, 0, 2};
    const std::array<std::uint8_t, 4> gateway = {127, 0, 0, 254};
    const Oid maskColumn = *Oid::Parse("4.20.1.3");
    auto maskGets = [&maskColumn](const nvtest::ScriptedAgent& agent) {
        std::vector<Oid> asked;
        for (const nvtest::AgentRequest& request : agent.Requests()) {
            if (request.type == snmp::PduType::GetRequest &&
                request.names.front().StartsWith(maskColumn)) {
                asked.push_back(request.names.front());
            }
        }
        return asked;
    };
    {
        nvtest::ScriptedAgent agent("127.0.0.2", 161);
        ASSERT_TRUE(agent.ok());
        nvtest::FillPrinter(agent, address, 5, gateway);
        PrinterRecord record = RecordFor("127.0.0.2");
        ASSERT_TRUE(QueryPrinter(&record));
        EXPECT_EQ(record.subnetMask, HostOrder("255.255.255.0"));
        EXPECT_TRUE(maskGets(agent).empty());
    }
    {
        nvtest::ScriptedAgent agent("127.0.0.2", 161);
        ASSERT_TRUE(agent.ok());
        nvtest::FillPrinter(agent, address, 5, gateway);
        agent.Set(maskColumn.Child({127, 0, 0, 1}), Value::IpAddress({255, 0, 0, 0}));
        PrinterRecord record = RecordFor("127.0.0.2");
        ASSERT_TRUE(QueryPrinter(&record));
        EXPECT_EQ(record.subnetMask, HostOrder("255.255.255.0"));
        EXPECT_EQ(maskGets(agent), std::vector<Oid>{maskColumn.Child({127, 0, 0, 2})});
    }
    nvtest::Simulator printer("127.0.0.2:161", {"--address", "127.0.0.9"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    PrinterRecord record = RecordFor("127.0.0.2");
    ASSERT_TRUE(QueryPrinter(&record));
    EXPECT_EQ(record.subnetMask, 0u);
    EXPECT_NE(record.description, nullptr);
}

// An agent's error-status is no failure: the query succeeds and sets nothing.
TEST_F(QueryPrinterTest, AnAgentThatAnswersWithErrorsLeavesTheFieldsUnset) {
    nvtest::Simulator printer("127.0.0.2:161", {"--error-status", "5"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    PrinterRecord record = RecordFor("127.0.0.2");
    EXPECT_TRUE(QueryPrinter(&record));
    EXPECT_EQ(record.hardwareAddress, nullptr);
    EXPECT_EQ(record.description, nullptr);
    EXPECT_EQ(record.subnetMask, 0u);
    EXPECT_EQ(record.gateway, 0u);
    EXPECT_EQ(record.deviceIndex, 0);
}

// One odd part of an answer leaves only its field unset, and the printer is found: a mask that
// is no IpAddress of four octets, or an answer to the three objects that carries two.
TEST_F(QueryPrinterTest, AnOddValueOrAShortAnswerLeavesOnlyItsFieldUnset) {
    const std::array<std::uint8_t, 4> address = {127, 0, 0, 2};
    const std::array<std::uint8_t, 4> gateway = {127, 0, 0, 254};
    for (bool shortAnswer : {false, true}) {
        nvtest::ScriptedAgent agent("127.0.0.2", 161);
        ASSERT_TRUE(agent.ok());
        nvtest::FillPrinter(agent, address, 2, gateway);
        if (shortAnswer) {
            agent.SetHook([](const snmp::Message& request, snmp::Message& response) {
                if (request.pdu.varbinds.size() == 3) {
                    response.pdu.varbinds.resize(2);
                }
                return true;
            });
        } else {
            agent.Set(*Oid::Parse("4.20.1.3.127.0.0.2"), Value::Unusable(0x40, {255, 255, 255}));
        }
        PrinterRecord record = RecordFor("127.0.0.2");
        ASSERT_TRUE(QueryPrinter(&record)) << shortAnswer;
        EXPECT_STREQ(record.hardwareAddress.get(), "021a2b3c4d5e");
        EXPECT_STREQ(record.description.get(), "Scripted Printer");
        EXPECT_EQ(record.subnetMask, shortAnswer ? HostOrder("255.255.255.0") : 0u);
        EXPECT_EQ(record.gateway, shortAnswer ? 0u : HostOrder("127.0.0.254"));
    }
}

// The first route's next hop 0.0.0.0 (a directly connected route) is no gateway; a next hop
// with zero octets such as 10.0.0.1 is one.
TEST_F(QueryPrinterTest, ANextHopOfZeroLeavesTheGatewayZero) {
    for (const std::array<std::uint8_t, 4> gateway :
         {std::array<std::uint8_t, 4>{0, 0, 0, 0}, std::array<std::uint8_t, 4>{10, 0, 0, 1}}) {
        nvtest::ScriptedAgent agent("127.0.0.2", 161);
        ASSERT_TRUE(agent.ok());
        const std::array<std::uint8_t, 4> address = {127, 0, 0, 2};
        nvtest::FillPrinter(agent, address, 5, gateway);
        PrinterRecord record = RecordFor("127.0.0.2");
        ASSERT_TRUE(QueryPrinter(&record));
        EXPECT_EQ(record.gateway, gateway[0] == 0 ? 0u : HostOrder("10.0.0.1"))
            << static_cast<int>(gateway[0]);
        EXPECT_EQ(record.subnetMask, HostOrder("255.255.255.0"));
        EXPECT_EQ(record.deviceIndex, 4);
    }
}

TEST_F(QueryPrinterTest, ADescriptionOfMoreThan256OctetsIsDropped) {
    for (size_t length : {256u, 257u}) {
        nvtest::ScriptedAgent agent("127.0.0.2", 161);
        ASSERT_TRUE(agent.ok());
        const std::array<std::uint8_t, 4> address = {127, 0, 0, 2};
        const std::array<std::uint8_t, 4> gateway = {127, 0, 0, 254};
        nvtest::FillPrinter(agent, address, 5, gateway);
        agent.Set(*Oid::Parse("25.3.2.1.3.5"), Value::OctetString(std::string(length, 'd')));
        PrinterRecord record = RecordFor("127.0.0.2");
        ASSERT_TRUE(QueryPrinter(&record));
        if (length == 256) {
            ASSERT_NE(record.description, nullptr);
            EXPECT_EQ(std::string(record.description.get()), std::string(256, 'd'));
        } else {
            EXPECT_EQ(record.description, nullptr);
        }
    }
}

// Without a printer device the walk runs to the end of the column, and the description is
// that of the agent's first device (the GetNext of hrDeviceDescr.0).
TEST_F(QueryPrinterTest, WithoutAPrinterDeviceTheFirstDeviceIsDescribed) {
    nvtest::ScriptedAgent agent("127.0.0.2", 161);
    ASSERT_TRUE(agent.ok());
    const Oid device = *Oid::Parse("25.3.2.1");
    agent.Set(device.Child({2, 7}), Value::ObjectId(*Oid::Parse("25.3.1.3")));
    agent.Set(device.Child({2, 9}), Value::ObjectId(*Oid::Parse("25.3.1.4")));
    agent.Set(device.Child({3, 7}), Value::OctetString("CPU"));
    agent.Set(device.Child({3, 9}), Value::OctetString("eth0"));
    agent.Set(*Oid::Parse("43.5.1.1.1.1"), Value::Counter(7));
    PrinterRecord record = RecordFor("127.0.0.2");
    ASSERT_TRUE(QueryPrinter(&record));
    EXPECT_EQ(record.deviceIndex, 0);
    ASSERT_NE(record.description, nullptr);
    EXPECT_STREQ(record.description.get(), "CPU");
}

// An SNMPv1 agent whose objects end inside hrDeviceType answers the last GetNext with
// noSuchName and the name it was given; the walk must end there rather than ask forever.
TEST_F(QueryPrinterTest, AWalkThatReachesTheEndOfTheAgentEnds) {
    nvtest::ScriptedAgent agent("127.0.0.2", 161);
    ASSERT_TRUE(agent.ok());
    agent.Set(*Oid::Parse("2.2.1.6.1"), Value::OctetString("\x02\x1a\x2b\x3c\x4d\x5e"));
    agent.Set(*Oid::Parse("25.3.2.1.2.1"), Value::ObjectId(*Oid::Parse("25.3.1.3")));
    PrinterRecord record = RecordFor("127.0.0.2");
    EXPECT_TRUE(QueryPrinter(&record));
    EXPECT_STREQ(record.hardwareAddress.get(), "021a2b3c4d5e");
    EXPECT_EQ(record.deviceIndex, 0);
    EXPECT_LE(agent.Requests().size(), 5u);
}

// An agent whose hrDeviceType names keep growing (each GetNext answered with the next device)
// is walked for 1,000 objects and no more; the printer is found, described by its first device.
TEST_F(QueryPrinterTest, TheDeviceWalkEndsAfterAThousandObjects) {
    nvtest::ScriptedAgent agent("127.0.0.2", 161);
    ASSERT_TRUE(agent.ok());
    const Oid type = *Oid::Parse("25.3.2.1.2");
    const Value processor = Value::ObjectId(*Oid::Parse("25.3.1.3"));
    agent.Set(*Oid::Parse("2.2.1.6.1"), Value::OctetString("\x02\x1a\x2b\x3c\x4d\x5e"));
    agent.Set(type.Child({1}), processor);
    agent.SetHook([type, processor](const snmp::Message& request, snmp::Message& response) {
        const Oid& asked = request.pdu.varbinds[0].name;
        if (request.pdu.type == snmp::PduType::GetNextRequest && asked.size() == type.size() + 1 &&
            asked.StartsWith(type) && asked.arcs().back() < 5000) {
            response.pdu.errorStatus = snmp::kNoError;
            response.pdu.errorIndex = 0;
            response.pdu.varbinds = {{type.Child({asked.arcs().back() + 1}), processor}};
        }
        return true;
    });
    PrinterRecord record = RecordFor("127.0.0.2");
    EXPECT_TRUE(QueryPrinter(&record));
    EXPECT_EQ(record.deviceIndex, 0);
    size_t walked = 0;
    for (const nvtest::AgentRequest& request : agent.Requests()) {
        walked += request.names.size() == 1 && request.names[0].StartsWith(type) ? 1 : 0;
    }
    EXPECT_EQ(walked, 1000u);
}

TEST_F(QueryPrinterTest, ARequestThatCannotBeSentFailsWithItsDiagnostics) {
    PrinterRecord record = RecordFor("127.0.0.2");
    NvFaultSet("sendto", WSAENETUNREACH);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(QueryPrinter(&record));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "error on SnmpMgrRequest 10051\nerror: SNMPRequest error\n");
}

TEST_F(QueryPrinterTest, AgainstSnmpd) {
    const std::string missing = nvtest::ProgramMissing("snmpd");
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    nvtest::Snmpd::Config config;
    config.agentAddress = "udp:127.0.0.1:161";
    config.mac = "0200000000a1";
    nvtest::Snmpd snmpd(config);
    ASSERT_TRUE(snmpd.ready()) << snmpd.Log();
    PrinterRecord record = RecordFor("127.0.0.1");
    ASSERT_TRUE(QueryPrinter(&record));
    ASSERT_NE(record.hardwareAddress, nullptr);
    EXPECT_STREQ(record.hardwareAddress.get(), "0200000000a1");
    EXPECT_EQ(record.deviceIndex, 327680);
    ASSERT_NE(record.description, nullptr);
    EXPECT_STREQ(record.description.get(), "Lab Printer 1");
}

// --- The broadcast search on loopback ---

using LoopbackBroadcastTest = LoopbackTest;

TEST_F(LoopbackBroadcastTest, APrinterAnsweringAllThreePassesIsListedOnce) {
    nvtest::Simulator printer("0.0.0.0:161", {});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    PrinterRecord* newest = BroadcastSearch(nullptr, 0);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(PrinterList::Instance().Count(), 1u);
    EXPECT_EQ(newest->ipAddress, HostOrder("127.0.0.1"));
    EXPECT_EQ(newest->link, nullptr);
    EXPECT_STREQ(newest->hardwareAddress.get(), "021a2b3c4d5e");
    // Three passes, each the same request from port 8003 to the broadcast address.
    const std::string log = printer.Log();
    const std::string request = ":8003 -> " + std::string(kLoopbackBroadcast) +
                                ": GetNextRequest id=" + std::to_string(DiscoveryRequestId()) +
                                " .1.3.6.1.2.1.43 ->";
    EXPECT_EQ(CountOf(log, request), 3u) << log;
}

TEST_F(LoopbackBroadcastTest, ADeviceWithoutThePrinterMibIsNotListed) {
    nvtest::Simulator device("0.0.0.0:161", {"--not-a-printer"});
    ASSERT_TRUE(device.ready()) << device.Log();
    EXPECT_EQ(BroadcastSearch(nullptr, 0), nullptr);
    EXPECT_EQ(PrinterList::Instance().Count(), 0u);
    EXPECT_EQ(CountOf(device.Log(), "GetRequest"), 0u);  // and nothing was queried
}

// A scripted agent on the broadcast whose answer to the broadcast request is changed by fix.
void ExpectNotListed(void (*fix)(snmp::Message& response)) {
    nvtest::ScriptedAgent agent("0.0.0.0", 161);
    ASSERT_TRUE(agent.ok());
    const std::array<std::uint8_t, 4> address = {127, 0, 0, 1};
    const std::array<std::uint8_t, 4> gateway = {127, 0, 0, 254};
    nvtest::FillPrinter(agent, address, 2, gateway);
    agent.SetHook([fix](const snmp::Message& request, snmp::Message& response) {
        if (request.pdu.varbinds.size() == 1 &&
            request.pdu.varbinds[0].name == Oid{1, 3, 6, 1, 2, 1, 43}) {
            fix(response);
        }
        return true;
    });
    EXPECT_EQ(BroadcastSearch(nullptr, 0), nullptr);
    EXPECT_EQ(PrinterList::Instance().Count(), 0u);
    EXPECT_EQ(agent.Requests().size(), 3u);  // the three broadcasts, no queries
}

TEST_F(LoopbackBroadcastTest, AnAnswerWithExactlyThePrinterMibRootIsNotListed) {
    ExpectNotListed([](snmp::Message& r) { r.pdu.varbinds[0].name = Oid{1, 3, 6, 1, 2, 1, 43}; });
}

TEST_F(LoopbackBroadcastTest, AnAnswerWithTheRequestIdOfAnEarlierSearchIsDropped) {
    ExpectNotListed([](snmp::Message& r) { r.pdu.requestId -= 1; });
}

TEST_F(LoopbackBroadcastTest, RecordsAlreadyListedStayAndTheNewestComesFirst) {
    nvtest::Simulator printer("0.0.0.0:161", {});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    AddSender(IpAddress("127.0.0.5"));  // the agent answers there too: it is bound to 0.0.0.0
    PrinterRecord* newest = BroadcastSearch(nullptr, 0);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->ipAddress, HostOrder("127.0.0.1"));
    ASSERT_NE(newest->link, nullptr);
    EXPECT_EQ(newest->link->ipAddress, HostOrder("127.0.0.5"));
    EXPECT_EQ(newest->link->link, nullptr);
    EXPECT_NE(newest->link->hardwareAddress, nullptr);  // queried as well
}

// The three broadcasts go out, then the first query sent (of 127.0.0.5 or 127.0.0.1: they are
// queried at the same time) cannot be sent: that printer alone is dropped.
TEST_F(LoopbackBroadcastTest, AQueryThatFailsDropsOnlyThatPrinter) {
    nvtest::Simulator printer("0.0.0.0:161", {});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    AddSender(IpAddress("127.0.0.5"));
    NvFaultSet("sendto", WSAENETUNREACH, 1, 3);
    testing::internal::CaptureStdout();
    PrinterRecord* newest = BroadcastSearch(nullptr, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "error on SnmpMgrRequest 10051\nerror: SNMPRequest error\n");
    ASSERT_NE(newest, nullptr);
    EXPECT_TRUE(newest->ipAddress == HostOrder("127.0.0.1") ||
                newest->ipAddress == HostOrder("127.0.0.5"));
    EXPECT_EQ(newest->link, nullptr);
    EXPECT_STREQ(newest->hardwareAddress.get(), "021a2b3c4d5e");
    EXPECT_EQ(PrinterList::Instance().Count(), 1u);
}

TEST_F(LoopbackBroadcastTest, PortInUseEndsTheSearchWithoutPrinters) {
    nvtest::Simulator printer("0.0.0.0:161", {});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    DatagramSocket holder;
    holder.BindForBroadcast(kDiscoveryPort);
    AddSender(IpAddress("127.0.0.5"));
    PrinterRecord* found = nullptr;
    EXPECT_NO_THROW(found = BroadcastSearch(nullptr, 0));
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(PrinterList::Instance().Count(), 0u);
    EXPECT_EQ(CountOf(printer.Log(), "GetNextRequest"), 0u) << printer.Log();
}

// A first pass that can send to no destination ends the search: nothing can answer. A send
// that fails in a later pass leaves what the first pass found.
TEST_F(LoopbackBroadcastTest, ASendThatFailsEndsTheSearchOnlyWhenNothingWasSent) {
    nvtest::Simulator printer("0.0.0.0:161", {});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    NvFaultSet("sendto", WSAENETUNREACH, 1);
    EXPECT_EQ(BroadcastSearch(nullptr, 0), nullptr);
    EXPECT_EQ(CountOf(printer.Log(), "GetNextRequest"), 0u) << printer.Log();

    NvFaultSet("sendto", WSAENOBUFS, 1, 1);  // the second pass
    PrinterRecord* found = BroadcastSearch(nullptr, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, HostOrder("127.0.0.1"));
}

// The printers of one search are queried at the same time. This agent answers none of three
// printers until all three are asking at once: queried one after the other, each would wait
// for the others in vain (24 s apiece) and be dropped.
TEST_F(LoopbackBroadcastTest, ThePrintersOfASearchAreQueriedAtTheSameTime) {
    nvtest::ScriptedAgent agent("0.0.0.0", 161);
    ASSERT_TRUE(agent.ok());
    nvtest::FillPrinter(agent, {127, 0, 0, 1}, 2, {127, 0, 0, 254});
    const std::set<std::string> printers = {"127.0.0.11", "127.0.0.12", "127.0.0.13"};
    agent.SetHook([&agent, &printers](const snmp::Message&, snmp::Message&) {
        const std::vector<nvtest::AgentRequest> seen = agent.Requests();
        std::set<std::string> asking;
        for (const nvtest::AgentRequest& request : seen) {
            if (printers.count(request.destination) != 0) {
                asking.insert(request.destination);
            }
        }
        return printers.count(seen.back().destination) == 0 || asking == printers;
    });
    for (const std::string& address : printers) {
        AddSender(IpAddress(address.c_str()));
    }
    ASSERT_NE(BroadcastSearch(nullptr, 0), nullptr);
    std::set<std::string> listed;
    for (size_t i = 0; i < PrinterList::Instance().Count(); ++i) {
        PrinterRecord* record = PrinterList::Instance().At(i);
        EXPECT_STREQ(record->hardwareAddress.get(), "021a2b3c4d5e");
        char text[16];
        FormatDotted(record->ipAddress, text, sizeof text);
        listed.insert(text);
    }
    EXPECT_EQ(listed,
              (std::set<std::string>{"127.0.0.1", "127.0.0.11", "127.0.0.12", "127.0.0.13"}));
}

// CancelSearch, from another thread (here the agent's, as it sees a request), ends the search
// that runs: no further pass of the broadcast, no further attempt of a query, and no printers.
TEST_F(LoopbackBroadcastTest, ACancelledSearchSendsNothingMoreAndFindsNothing) {
    for (bool duringQueries : {false, true}) {
        nvtest::ScriptedAgent agent("0.0.0.0", 161);
        ASSERT_TRUE(agent.ok());
        nvtest::FillPrinter(agent, {127, 0, 0, 1}, 2, {127, 0, 0, 254});
        agent.SetHook([duringQueries](const snmp::Message& request, snmp::Message&) {
            const bool query = request.pdu.type == snmp::PduType::GetRequest;
            if (query == duringQueries) {
                CancelSearch();
                return !query;  // a query's answer does not come
            }
            return true;
        });
        EXPECT_EQ(BroadcastSearch(nullptr, 0), nullptr) << duringQueries;
        EXPECT_EQ(PrinterList::Instance().Count(), 0u);
        EXPECT_EQ(agent.Requests().size(), duringQueries ? 4u : 1u)
            << "three passes and one attempt, or one pass";
        StopDiscovery();
    }
}

// --- FindPrinter ---

using FindPrinterTest = LoopbackTest;

TEST_F(FindPrinterTest, ByIpAddressAsksOnlyThatAddress) {
    nvtest::ScriptedAgent agent("0.0.0.0", 161);
    ASSERT_TRUE(agent.ok());
    const std::array<std::uint8_t, 4> address = {127, 0, 0, 3};
    const std::array<std::uint8_t, 4> gateway = {127, 0, 0, 254};
    nvtest::FillPrinter(agent, address, 2, gateway);
    AddSender(IpAddress("127.0.0.5"));  // cleared first
    PrinterRecord* found = FindPrinter(nullptr, "127.0.0.3", SearchByIpAddress);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, HostOrder("127.0.0.3"));
    EXPECT_EQ(found->link, nullptr);
    EXPECT_EQ(found->subnetMask, HostOrder("255.255.255.0"));
    EXPECT_EQ(PrinterList::Instance().Count(), 1u);
    for (const nvtest::AgentRequest& request : agent.Requests()) {
        EXPECT_EQ(request.destination, "127.0.0.3");  // no broadcast
        EXPECT_NE(request.names.front(), (Oid{1, 3, 6, 1, 2, 1, 43}));
    }
}

TEST_F(FindPrinterTest, ByHardwareAddressMatchesTheLowerCaseDigitsOnly) {
    nvtest::Simulator printer("0.0.0.0:161", {"--mac", "02AB0000CDEF"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    PrinterRecord* found = FindPrinter(nullptr, "02ab0000cdef", SearchByHardwareAddress);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, HostOrder("127.0.0.1"));

    // Upper case finds nothing, and the list of the broadcast stays.
    EXPECT_EQ(FindPrinter(nullptr, "02AB0000CDEF", SearchByHardwareAddress), nullptr);
    EXPECT_EQ(PrinterList::Instance().Count(), 1u);
    EXPECT_EQ(FindPrinter(nullptr, "02ab0000cdee", SearchByHardwareAddress), nullptr);
}

// --- nvdiscover on loopback ---

std::vector<std::string> LoopbackEnvironment() {
    return {std::string("NORVA_HOST_ADDRESSES=") + kLoopbackHost};
}

TEST_F(LoopbackTest, NvdiscoverPrintsTheBroadcastResultAsJson) {
    nvtest::Simulator printer("0.0.0.0:161", {"--description", "Quote \" and\ttab"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    const nvtest::ToolResult result =
        nvtest::RunTool("nvdiscover", {"--json"}, "", LoopbackEnvironment());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "[\n  {\"address\": \"127.0.0.1\", \"subnetMask\": \"255.255.255.0\", \"gateway\": "
              "\"0.0.0.0\", \"hardwareAddress\": \"021a2b3c4d5e\", \"description\": \"Quote \\\" "
              "and\\u0009tab\", \"hrDeviceIndex\": 1, \"deviceIndex\": 0}\n]\n");
}

TEST_F(LoopbackTest, NvdiscoverFindsByAddressAndByHardwareAddress) {
    nvtest::Simulator printer("0.0.0.0:161", {"--gateway", "127.1.1.1"});
    ASSERT_TRUE(printer.ready()) << printer.Log();
    nvtest::ToolResult byIp = nvtest::RunTool("nvdiscover", {"--ip", "127.0.0.1"});
    EXPECT_EQ(byIp.exitCode, 0) << byIp.err;
    EXPECT_NE(byIp.out.find("127.0.0.1        255.255.255.0    127.1.1.1        021a2b3c4d5e"),
              std::string::npos)
        << byIp.out;

    nvtest::ToolResult byMac =
        nvtest::RunTool("nvdiscover", {"--mac", "021a2b3c4d5e"}, "", LoopbackEnvironment());
    EXPECT_EQ(byMac.exitCode, 0) << byMac.err;
    EXPECT_NE(byMac.out.find("021a2b3c4d5e"), std::string::npos);

    // The tool writes the address as printers report it, whatever its case and separators.
    nvtest::ToolResult upper =
        nvtest::RunTool("nvdiscover", {"--mac", "02:1A:2B:3C:4D:5E"}, "", LoopbackEnvironment());
    EXPECT_EQ(upper.exitCode, 0) << upper.err;
    EXPECT_NE(upper.out.find("021a2b3c4d5e"), std::string::npos);
}

// Without any answer the broadcast takes its full six seconds and finds nothing.
TEST_F(LoopbackTest, NvdiscoverWithNothingAnsweringExitsWithOne) {
    const nvtest::ToolResult result =
        nvtest::RunTool("nvdiscover", {"--json"}, "", LoopbackEnvironment());
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out, "[]\n");
}

}  // namespace
