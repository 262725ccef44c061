// Discovery on a real (if virtual) Ethernet segment: each case builds its own broadcast lab of
// network namespaces, starts its printers there (the simulator, or net-snmp's snmpd) and runs
// the search inside the lab's client namespace, whose first address is 192.168.77.1: the
// broadcast goes to 192.168.77.255 and stays in the lab. Needs root and ip netns.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discover/discovery.h"
#include "discover/ipaddress.h"
#include "platform/winsock.h"
#include "platform/linux/include/nvplatform.h"
#include "tests/discover/peers.h"
#include "tests/discover/scripted_agent.h"
#include "tests/support/run_tool.h"

namespace {

using nvtest::NetnsLab;

DWORD HostOrder(const std::string& dotted) {
    return ntohl(inet_addr(dotted.c_str()));
}

class LabTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = nvtest::LabUnavailable();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        StartDiscovery();
        StopDiscovery();
    }
    void TearDown() override {
        StopDiscovery();
        NvSetHostAddresses(nullptr);
    }
};

#define SKIP_WITHOUT(program)                                        \
    do {                                                             \
        const std::string missing = nvtest::ProgramMissing(program); \
        if (!missing.empty()) {                                      \
            GTEST_SKIP() << missing;                                 \
        }                                                            \
    } while (0)

// The simulator in printer k's namespace, answering broadcasts and its own address.
std::unique_ptr<nvtest::Simulator> StartPrinter(const NetnsLab& lab, int k,
                                                std::vector<std::string> options) {
    options.insert(options.end(), {"--gateway", NetnsLab::kClientAddress});
    return std::make_unique<nvtest::Simulator>("0.0.0.0:161", options, lab.printer(k));
}

// Scripted agents in the printers' namespaces, so that the order of the answers is certain:
// the second printer answers each request only after the first has answered one.
TEST_F(LabTest, TwoPrintersAreListedNewestFirstAndLinked) {
    NetnsLab lab(2);
    ASSERT_TRUE(lab.ok()) << lab.error();
    std::unique_ptr<nvtest::ScriptedAgent> agents[2];
    for (int k = 1; k <= 2; ++k) {
        nvtest::InNamespace printer(lab.printer(k));
        ASSERT_TRUE(printer.ok());
        agents[k - 1] = std::make_unique<nvtest::ScriptedAgent>("0.0.0.0", 161);
        ASSERT_TRUE(agents[k - 1]->ok());
        const std::array<std::uint8_t, 4> address = {192, 168, 77,
                                                     static_cast<std::uint8_t>(10 + k)};
        nvtest::FillPrinter(*agents[k - 1], address, 2, {192, 168, 77, 1});
        agents[k - 1]->Set(*snmp::Oid::Parse("2.2.1.6.1"),
                           snmp::Value::OctetString(std::vector<std::uint8_t>{
                               0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(0xb0 + k)}));
    }
    auto firstAnswered = std::make_shared<std::atomic<bool>>(false);
    agents[0]->SetHook([firstAnswered](const snmp::Message&, snmp::Message&) {
        *firstAnswered = true;
        return true;
    });
    agents[1]->SetHook([firstAnswered](const snmp::Message&, snmp::Message&) {
        while (!*firstAnswered) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return true;
    });

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    PrinterRecord* newest = BroadcastSearch(nullptr, 0);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->ipAddress, HostOrder(NetnsLab::PrinterAddress(2)));
    EXPECT_STREQ(newest->hardwareAddress.get(), "0200000000b2");
    ASSERT_NE(newest->link, nullptr);
    EXPECT_EQ(newest->link->ipAddress, HostOrder(NetnsLab::PrinterAddress(1)));
    EXPECT_STREQ(newest->link->hardwareAddress.get(), "0200000000b1");
    EXPECT_EQ(newest->link->link, nullptr);
    EXPECT_EQ(PrinterList::Instance().Count(), 2u);
    for (const PrinterRecord* p = newest; p != nullptr; p = p->link) {
        EXPECT_EQ(p->subnetMask, HostOrder("255.255.255.0"));
        EXPECT_EQ(p->gateway, HostOrder(NetnsLab::kClientAddress));
        EXPECT_STREQ(p->description.get(), "Scripted Printer");
    }
    // The broadcast went to the class C broadcast address of 192.168.77.1, from port 8003.
    EXPECT_EQ(agents[0]->Requests().front().destination, NetnsLab::kSubnetBroadcast);
}

TEST_F(LabTest, AnAddressSearchSendsNoBroadcast) {
    NetnsLab lab(2);
    ASSERT_TRUE(lab.ok()) << lab.error();
    auto asked = StartPrinter(lab, 1, {});
    auto other = StartPrinter(lab, 2, {});
    ASSERT_TRUE(asked->ready() && other->ready());

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    const std::string address = NetnsLab::PrinterAddress(1);
    PrinterRecord* found = FindPrinter(nullptr, address.c_str(), SearchByIpAddress);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, HostOrder(address));
    EXPECT_EQ(other->Log().find("Request"), std::string::npos) << other->Log();
    EXPECT_EQ(asked->Log().find("192.168.77.255"), std::string::npos) << asked->Log();
    EXPECT_EQ(asked->Log().find(":8003"), std::string::npos) << asked->Log();
}

// Text that does not parse asks 255.255.255.255, which the queries cannot send to (no socket of
// theirs may broadcast): nothing is found, and nothing leaves the lab's client.
TEST_F(LabTest, AnAddressSearchForTextThatDoesNotParseFindsNothing) {
    NetnsLab lab(1);
    ASSERT_TRUE(lab.ok()) << lab.error();
    auto printer = StartPrinter(lab, 1, {});
    ASSERT_TRUE(printer->ready());

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    testing::internal::CaptureStdout();
    EXPECT_EQ(FindPrinter(nullptr, "printer-7", SearchByIpAddress), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "error on SnmpMgrRequest 10013\nerror: SNMPRequest error\n");
    EXPECT_EQ(PrinterList::Instance().Count(), 0u);
    EXPECT_EQ(printer->Log().find("Request"), std::string::npos) << printer->Log();
}

TEST_F(LabTest, AHardwareAddressSearchPicksThatPrinter) {
    NetnsLab lab(2);
    ASSERT_TRUE(lab.ok()) << lab.error();
    auto first = StartPrinter(lab, 1, {"--mac", "0200000000c1"});
    auto second = StartPrinter(lab, 2, {"--mac", "0200000000c2"});
    ASSERT_TRUE(first->ready() && second->ready());

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    PrinterRecord* found = FindPrinter(nullptr, "0200000000c1", SearchByHardwareAddress);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, HostOrder(NetnsLab::PrinterAddress(1)));
    EXPECT_STREQ(found->hardwareAddress.get(), "0200000000c1");
    EXPECT_EQ(FindPrinter(nullptr, "0200000000C1", SearchByHardwareAddress), nullptr);
}

// snmpd answers a request to the subnet broadcast address from that address, which no manager
// takes for an answer; the printer's namespace rewrites the destination before routing.
TEST_F(LabTest, SnmpdIsFoundByTheSubnetBroadcast) {
    SKIP_WITHOUT("snmpd");
    SKIP_WITHOUT("nft");
    NetnsLab lab(1);
    ASSERT_TRUE(lab.ok()) << lab.error();
    ASSERT_TRUE(lab.RewriteSubnetBroadcast(1)) << lab.error();
    nvtest::Snmpd::Config config;
    config.mac = "0200000000d1";
    config.deviceIndex = 327681;
    config.description = "Lab Printer 1";
    nvtest::Snmpd snmpd(config, lab.printer(1));
    ASSERT_TRUE(snmpd.ready()) << snmpd.Log();

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    PrinterRecord* found = BroadcastSearch(nullptr, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, HostOrder(NetnsLab::PrinterAddress(1)));
    EXPECT_STREQ(found->hardwareAddress.get(), "0200000000d1");
    EXPECT_STREQ(found->description.get(), "Lab Printer 1");
    EXPECT_EQ(found->deviceIndex, 327680);
    EXPECT_EQ(found->gateway, HostOrder(NetnsLab::kClientAddress));
    // snmpd's first ipAddrTable row is its loopback address 127.0.0.1, the lowest it has; the
    // row of the printer's own address is then asked for directly.
    EXPECT_EQ(found->subnetMask, HostOrder("255.255.255.0"));
    EXPECT_EQ(found->link, nullptr);
}

// A machine whose first address is of class D or above broadcasts to 255.255.255.255, which
// snmpd answers without any rewriting.
TEST_F(LabTest, SnmpdAnswersTheAllOnesBroadcast) {
    SKIP_WITHOUT("snmpd");
    NetnsLab lab(1);
    ASSERT_TRUE(lab.ok()) << lab.error();
    nvtest::Snmpd snmpd(nvtest::Snmpd::Config{}, lab.printer(1));
    ASSERT_TRUE(snmpd.ready()) << snmpd.Log();

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    NvSetHostAddresses("224.0.0.1");
    PrinterRecord* found = BroadcastSearch(nullptr, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, HostOrder(NetnsLab::PrinterAddress(1)));
    EXPECT_STREQ(found->hardwareAddress.get(), "021a2b3c4d5e");
}

// Without a default route the first row of snmpd's route table is the subnet's own, whose
// next hop is 0.0.0.0: no gateway.
TEST_F(LabTest, SnmpdWithoutADefaultRouteGivesNoGateway) {
    SKIP_WITHOUT("snmpd");
    NetnsLab lab(1, false);
    ASSERT_TRUE(lab.ok()) << lab.error();
    nvtest::Snmpd snmpd(nvtest::Snmpd::Config{}, lab.printer(1));
    ASSERT_TRUE(snmpd.ready()) << snmpd.Log();

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    const std::string address = NetnsLab::PrinterAddress(1);
    PrinterRecord* found = FindPrinter(nullptr, address.c_str(), SearchByIpAddress);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->gateway, 0u);
    EXPECT_STREQ(found->description.get(), "Lab Printer 1");
}

TEST_F(LabTest, NvdiscoverListsTheLabsPrinters) {
    NetnsLab lab(2);
    ASSERT_TRUE(lab.ok()) << lab.error();
    auto first = StartPrinter(lab, 1, {"--description", "First"});
    auto second = StartPrinter(lab, 2, {"--description", "Second", "--mac", "0200000000e2"});
    ASSERT_TRUE(first->ready() && second->ready());

    nvtest::InNamespace inside(lab.client());  // the tool starts in the lab's client namespace
    ASSERT_TRUE(inside.ok());
    const nvtest::ToolResult result = nvtest::RunTool("nvdiscover", {});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.find("ADDRESS          SUBNET MASK      GATEWAY          HARDWARE "
                              "ADDRESS  DESCRIPTION\n"),
              0u)
        << result.out;
    EXPECT_NE(result.out.find("\n192.168.77.11    255.255.255.0    192.168.77.1     "
                              "021a2b3c4d5e      First\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\n192.168.77.12    255.255.255.0    192.168.77.1     "
                              "0200000000e2      Second\n"),
              std::string::npos)
        << result.out;
}

// --- Every printer that answers ---

// The addresses of a search's records, newest first.
std::vector<std::string> Addresses(const PrinterRecord* newest) {
    std::vector<std::string> addresses;
    for (const PrinterRecord* p = newest; p != nullptr; p = p->link) {
        char text[16];
        FormatDotted(p->ipAddress, text, sizeof text);
        addresses.push_back(text);
    }
    return addresses;
}

const PrinterRecord* RecordOf(const PrinterRecord* newest, const std::string& address) {
    for (const PrinterRecord* p = newest; p != nullptr; p = p->link) {
        if (p->ipAddress == HostOrder(address)) {
            return p;
        }
    }
    return nullptr;
}

// A PC at 10.1.2.5/24. Its class-based broadcast address 10.255.255.255 has no route (the send
// fails) or leaves by the default route to a gateway that is not there (nothing answers); the
// subnet's own broadcast address reaches the printer either way.
class ClasslessLabTest : public LabTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ClasslessLabTest, FindsThePrinterOnItsSubnet) {
    nvtest::LabLayout layout;
    layout.segments = {{"10.1.2.5", 24, {"10.1.2.77"}}};
    layout.clientDefaultRoute = GetParam() ? "via 10.1.2.1" : "";
    NetnsLab lab(layout);
    ASSERT_TRUE(lab.ok()) << lab.error();
    nvtest::Simulator printer("0.0.0.0:161", {"--mac", "0200000000f1", "--gateway", "10.1.2.1"},
                              lab.printer(1));
    ASSERT_TRUE(printer.ready()) << printer.Log();

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    const PrinterRecord* found = BroadcastSearch(nullptr, 0);
    ASSERT_EQ(Addresses(found), std::vector<std::string>{"10.1.2.77"});
    EXPECT_STREQ(found->hardwareAddress.get(), "0200000000f1");
    EXPECT_EQ(found->subnetMask, HostOrder("255.255.255.0"));
    EXPECT_EQ(found->gateway, HostOrder("10.1.2.1"));
    EXPECT_NE(printer.Log().find(" -> 10.1.2.255: GetNextRequest"), std::string::npos)
        << printer.Log();
}

INSTANTIATE_TEST_SUITE_P(DefaultRoute, ClasslessLabTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& route) {
                             return route.param ? std::string("ViaAnAbsentGateway")
                                                : std::string("None");
                         });

// A PC with two adapters, 192.168.9.5/24 listed first and 192.168.5.3/24: the simulator on
// the first segment, beside a device that answers broadcasts and drops every directed SNMP
// datagram; snmpd on the second segment, whose first ipAddrTable row is 127.0.0.1. Both
// printers are listed, the bad device alone is dropped, and snmpd shows its real mask.
TEST_F(LabTest, TwoAdaptersAndADeviceThatAnswersOnlyBroadcasts) {
    SKIP_WITHOUT("snmpd");
    SKIP_WITHOUT("nft");
    nvtest::LabLayout layout;
    layout.segments = {{"192.168.9.5", 24, {"192.168.9.11", "192.168.9.12"}},
                       {"192.168.5.3", 24, {"192.168.5.21"}}};
    NetnsLab lab(layout);
    ASSERT_TRUE(lab.ok()) << lab.error();
    nvtest::Simulator healthy("0.0.0.0:161", {"--mac", "0200000000a1", "--description", "First"},
                              lab.printer(1));
    nvtest::Simulator deaf("0.0.0.0:161", {"--mac", "0200000000a2"}, lab.printer(2));
    ASSERT_TRUE(healthy.ready() && deaf.ready());
    ASSERT_TRUE(lab.DropUnicastSnmp(2)) << lab.error();
    ASSERT_TRUE(lab.RewriteSubnetBroadcast(3)) << lab.error();
    nvtest::Snmpd::Config config;
    config.mac = "0200000000a3";
    nvtest::Snmpd snmpd(config, lab.printer(3));
    ASSERT_TRUE(snmpd.ready()) << snmpd.Log();

    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    testing::internal::CaptureStdout();
    const PrinterRecord* newest = BroadcastSearch(nullptr, 0);
    testing::internal::GetCapturedStdout();
    const std::vector<std::string> listed = Addresses(newest);
    EXPECT_EQ(listed.size(), 2u) << testing::PrintToString(listed);
    const PrinterRecord* first = RecordOf(newest, "192.168.9.11");
    const PrinterRecord* second = RecordOf(newest, "192.168.5.21");
    ASSERT_NE(first, nullptr) << testing::PrintToString(listed);
    ASSERT_NE(second, nullptr) << testing::PrintToString(listed);
    EXPECT_STREQ(first->description.get(), "First");
    EXPECT_EQ(first->subnetMask, HostOrder("255.255.255.0"));
    EXPECT_STREQ(second->hardwareAddress.get(), "0200000000a3");
    EXPECT_STREQ(second->description.get(), "Lab Printer 1");
    EXPECT_EQ(second->subnetMask, HostOrder("255.255.255.0"));
    EXPECT_EQ(PrinterList::Instance().Count(), 2u);
    // The bad device did answer the broadcast: it was dropped after its queries failed.
    EXPECT_NE(deaf.Log().find(" -> 192.168.9.255: GetNextRequest"), std::string::npos)
        << deaf.Log();
    EXPECT_EQ(RecordOf(newest, "192.168.9.12"), nullptr);
}

// An agent that holds its answers to the broadcast request back by delayMs; the queries that
// follow are answered at once.
std::unique_ptr<nvtest::ScriptedAgent> LateAgent(const NetnsLab& lab, int k, int delayMs) {
    nvtest::InNamespace printer(lab.printer(k));
    if (!printer.ok()) {
        return nullptr;
    }
    auto agent = std::make_unique<nvtest::ScriptedAgent>("0.0.0.0", 161);
    const std::array<std::uint8_t, 4> address = {192, 168, 77, static_cast<std::uint8_t>(10 + k)};
    nvtest::FillPrinter(*agent, address, 2, {192, 168, 77, 1});
    agent->SetHook([delayMs](const snmp::Message& request, snmp::Message&) {
        if (delayMs > 0 && request.pdu.varbinds.size() == 1 &&
            request.pdu.varbinds[0].name == snmp::Oid{1, 3, 6, 1, 2, 1, 43}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
        return true;
    });
    return agent;
}

// Beside a printer that answers at once, printers answering 300 ms and 1500 ms later are found
// in every search.
TEST_F(LabTest, LateAnswersAreListedInEverySearch) {
    NetnsLab lab(3);
    ASSERT_TRUE(lab.ok()) << lab.error();
    const int delays[] = {0, 300, 1500};
    std::unique_ptr<nvtest::ScriptedAgent> agents[3];
    for (int k = 1; k <= 3; ++k) {
        agents[k - 1] = LateAgent(lab, k, delays[k - 1]);
        ASSERT_TRUE(agents[k - 1] != nullptr && agents[k - 1]->ok());
    }
    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    constexpr int kRuns = 10;
    std::map<std::string, int> found;
    for (int run = 0; run < kRuns; ++run) {
        StartDiscovery();
        for (const std::string& address : Addresses(BroadcastSearch(nullptr, 0))) {
            ++found[address];
        }
        StopDiscovery();
    }
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(found[NetnsLab::PrinterAddress(k)], kRuns)
            << "answering " << delays[k - 1] << " ms late";
    }
}

// The search ends at its own time while the flood goes on, and the printer is still listed.
TEST_F(LabTest, AGarbageFloodDoesNotLengthenTheSearch) {
    NetnsLab lab(2);
    ASSERT_TRUE(lab.ok()) << lab.error();
    auto agent = LateAgent(lab, 1, 0);
    ASSERT_TRUE(agent != nullptr && agent->ok());
    nvtest::InNamespace inside(lab.client());
    ASSERT_TRUE(inside.ok());
    nvtest::GarbageFlood flood(lab.printer(2), NetnsLab::kClientAddress, 8003);
    const PrinterRecord* found = BroadcastSearch(nullptr, 0);
    EXPECT_TRUE(flood.running()) << "the search lasted as long as the flood";
    EXPECT_GT(flood.sent(), 1000);
    EXPECT_EQ(Addresses(found), std::vector<std::string>{NetnsLab::PrinterAddress(1)});
}

}  // namespace
