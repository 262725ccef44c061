// The installer's exports end to end: the wizard walked through by a scripted user, a real
// search against the printer simulator, net-snmp's snmpd or a broadcast lab, the port written
// into the registry and the "Spooler" service (a running `nvspool serve`) restarted.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "discover/exports.h"
#include "platform/linux/include/nvplatform.h"
#include "resources/wizard_ids.h"
#include "tests/discover/peers.h"
#include "tests/support/run_tool.h"
#include "tests/wizard/fake_wizard.h"

namespace nvtest {
namespace {

constexpr char16_t kPorts[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports";

class Exports : public ::testing::Test {
  protected:
    void SetUp() override {
        socket_ = dir_.file("spooler.sock");
        setenv("NORVA_SPOOLER_SOCKET", socket_.c_str(), 1);
        // The spooler: it keeps the monitor loaded, which also makes the "Ports" key.
        spooler_ = std::make_unique<PeerProcess>(
            std::vector<std::string>{BuildDir() + "/bin/nvspool", "serve", "--control", socket_});
        ASSERT_TRUE(spooler_->WaitFor("control socket", 10000)) << spooler_->Log();
    }
    void TearDown() override {
        wizard::SetDefaultFrame(nullptr);
        wizard::SetDiscovery(nullptr);
        NvFaultClear();
        spooler_.reset();
        unsetenv("NORVA_SPOOLER_SOCKET");
    }

    // The address wizard: the user types the address, presses Next, then Next on the
    // settings page; the message boxes are answered from `answers`.
    static FakeFrame ByAddress(int a, int b, int c, int d) {
        return FakeFrame([=](FakeFrame& f) {
            f.Current().address = {a, b, c, d};
            f.Current().texts[IDC_IP_ADDRESS] = wizard::DottedText(Ip(a, b, c, d));
            f.Next();
            f.Next();
        });
    }

    // The names, types and sizes of the port's values, in the order they were written.
    static std::vector<std::string> Values(const std::u16string& port) {
        std::vector<std::string> values;
        HKEY key = nullptr;
        std::u16string path = std::u16string(kPorts) + u"\\" + port;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != 0) {
            return values;
        }
        for (DWORD i = 0;; ++i) {
            WCHAR name[64];
            DWORD nameLength = 64;
            DWORD type = 0;
            BYTE data[256];
            DWORD size = sizeof data;
            if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != 0) {
                break;
            }
            std::string text = NvToUtf8(name) + ":" + std::to_string(type) + ":";
            text += type == REG_DWORD
                        ? std::to_string(*reinterpret_cast<DWORD*>(data))
                        : NvToUtf8(reinterpret_cast<WCHAR*>(data)) + "/" + std::to_string(size);
            values.push_back(text);
        }
        RegCloseKey(key);
        return values;
    }

    static std::vector<std::string> ExpectedValues(const std::string& address) {
        return {"HWAddress:1:/2",
                "Protocol:4:1",
                "HostName:1:/2",
                "IPAddress:1:" + address + "/" + std::to_string((address.size() + 1) * 2),
                "PortNumber:4:9100",
                "SnmpEnabled:4:1",
                "SnmpCommunity:1:commro/14",
                "SnmpIndex:4:1",
                "SnmpVersion:4:1",
                "SnmpTimeOut:4:15000"};
    }

    bool Restarted() { return spooler_->WaitFor("started, ", 5000); }

    ScopedRegistry registry_;
    TempDir dir_;
    std::string socket_;
    std::unique_ptr<PeerProcess> spooler_;
};

TEST_F(Exports, ByAddressAgainstTheSimulatorWritesThePortAndRestartsTheSpooler) {
    std::string missing = PrivilegedPortsUnavailable();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    Simulator printer("127.0.0.61:161", {"--description", "Lab Printer"});
    ASSERT_TRUE(printer.ready());
    FakeFrame frame = ByAddress(127, 0, 0, 61);
    wizard::SetDefaultFrame(&frame);
    char name[128];
    memset(name, 'x', sizeof name);
    EXPECT_EQ(0, QornSearchByIP(name));
    EXPECT_STREQ("NORVA_127.0.0.61", name);
    EXPECT_EQ(ExpectedValues("127.0.0.61"), Values(u"NORVA_127.0.0.61"));
    ASSERT_TRUE(Restarted()) << spooler_->Log();
    EXPECT_NE(std::string::npos, spooler_->Output().find("stopped"));
    EXPECT_NE(std::string::npos, spooler_->Output().find("started, 1 ports"))
        << "the monitor loaded the new port";
}

TEST_F(Exports, ByAddressAgainstSnmpd) {
    std::string missing = PrivilegedPortsUnavailable() + ProgramMissing("snmpd");
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    Snmpd::Config config;
    config.agentAddress = "udp:127.0.0.62:161";
    Snmpd snmpd(config);
    ASSERT_TRUE(snmpd.ready()) << snmpd.Log();
    FakeFrame frame = ByAddress(127, 0, 0, 62);
    wizard::SetDefaultFrame(&frame);
    char name[128];
    EXPECT_EQ(0, QornSearchByIP(name));
    EXPECT_STREQ("NORVA_127.0.0.62", name);
    EXPECT_EQ(ExpectedValues("127.0.0.62"), Values(u"NORVA_127.0.0.62"));
}

TEST_F(Exports, AnAddressWithoutAPrinterAndNoEndsWithAnEmptyNameAndNothingWritten) {
    FakeDiscovery discovery;  // no printer answers (a real search would wait 4 × 6 s)
    discovery.searches = {{}};
    ScopedDiscovery scoped(&discovery);
    FakeFrame frame = ByAddress(127, 0, 0, 63);
    frame.answers = {Answer::kNo};
    wizard::SetDefaultFrame(&frame);
    char name[128] = "garbage";
    EXPECT_EQ(0, QornSearchByIP(name));
    EXPECT_STREQ("", name);
    EXPECT_TRUE(Values(u"NORVA_127.0.0.63").empty());
    EXPECT_FALSE(spooler_->WaitFor("stopped", 200)) << "the spooler is left alone";
}

// A key that cannot be made and values that cannot be written are both 183, the one failure
// an installer knows, with last error 183: the port name comes back and the spooler is not
// restarted.
TEST_F(Exports, APortThatCannotBeWrittenIsReportedWithTheNameAndNoRestart) {
    FakeDiscovery discovery;
    discovery.searches = {{{Ip(192, 168, 0, 20), 0, 0, nullptr, "Lab"}},
                          {{Ip(192, 168, 0, 20), 0, 0, nullptr, "Lab"}}};
    discovery.existingPorts = {u"NORVA_192.168.0.20"};
    ScopedDiscovery scoped(&discovery);
    for (const char* call : {"RegCreateKeyExW", "RegSetValueExW"}) {
        FakeFrame frame([](FakeFrame& f) {
            f.Next();
            f.Next();
        });
        frame.answers = {Answer::kYes};
        wizard::SetDefaultFrame(&frame);
        NvFaultSet(call, ERROR_ACCESS_DENIED);
        char name[128];
        SetLastError(0);
        EXPECT_EQ(ERROR_ALREADY_EXISTS, QornSearchAll(name)) << call;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << call;
        EXPECT_STREQ("NORVA_192.168.0.20", name);
        NvFaultClear();
    }
    EXPECT_FALSE(spooler_->WaitFor("stopped", 300)) << "no restart after a failed write";
}

TEST_F(Exports, AnExistingPortIsOverwrittenAndKeepsItsOtherValues) {
    FakeDiscovery discovery;
    discovery.searches = {{{Ip(192, 168, 0, 20), 0, 0, nullptr, "Lab"}}};
    discovery.existingPorts = {u"NORVA_192.168.0.20"};
    ScopedDiscovery scoped(&discovery);
    HKEY key = nullptr;
    std::u16string path = std::u16string(kPorts) + u"\\NORVA_192.168.0.20";
    ASSERT_EQ(0, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr));
    DWORD lpr = 2;
    RegSetValueExW(key, u"Protocol", 0, REG_DWORD, reinterpret_cast<BYTE*>(&lpr), 4);
    RegSetValueExW(key, u"QueueName", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"lp"), 6);
    RegCloseKey(key);
    FakeFrame frame([](FakeFrame& f) {
        f.Next();
        f.Next();
    });
    frame.answers = {Answer::kYes};
    wizard::SetDefaultFrame(&frame);
    char name[128];
    EXPECT_EQ(0, QornSearchAll(name));
    std::vector<std::string> values = Values(u"NORVA_192.168.0.20");
    EXPECT_EQ("Protocol:4:1", values[0]) << "overwritten in place";
    EXPECT_EQ("QueueName:1:lp/6", values[1]) << "a value the installer does not write stays";
}

TEST_F(Exports, CancelledSearchAllReturnsAnEmptyName) {
    FakeDiscovery discovery;
    discovery.searches = {{}};
    ScopedDiscovery scoped(&discovery);
    FakeFrame frame([](FakeFrame& f) { f.Next(); });
    frame.answers = {Answer::kNo};
    wizard::SetDefaultFrame(&frame);
    char name[128] = "garbage";
    EXPECT_EQ(0, QornSearchAll(name));
    EXPECT_STREQ("", name);
}

// The whole search-all path on a network segment: a broadcast inside the lab finds the
// simulator in a printer namespace, a printer without a description, and its port is
// written. nvdiscover lists the same record.
TEST_F(Exports, SearchAllFindsAPrinterByBroadcastInALab) {
    std::string missing = LabUnavailable();
    if (!missing.empty()) {
        GTEST_SKIP() << missing;
    }
    NetnsLab lab(1);
    ASSERT_TRUE(lab.ok()) << lab.error();
    Simulator printer("0.0.0.0:161", {"--description", "", "--gateway", NetnsLab::kClientAddress},
                      lab.printer(1));
    ASSERT_TRUE(printer.ready());
    std::vector<std::vector<Text>> rows;
    FakeFrame frame([&rows](FakeFrame& f) {
        rows = f.Current().rows;
        f.Next();
        f.Next();
    });
    wizard::SetDefaultFrame(&frame);
    char name[128];
    int result = -1;
    ToolResult listed;
    {
        InNamespace inside(lab.client());
        ASSERT_TRUE(inside.ok());
        result = QornSearchAll(name);
        listed = RunTool("nvdiscover", {"--json"});
    }
    EXPECT_EQ(0, result);
    std::string address = NetnsLab::PrinterAddress(1);
    EXPECT_EQ("NORVA_" + address, std::string(name));
    EXPECT_EQ(ExpectedValues(address), Values(NvFromUtf8(("NORVA_" + address).c_str())));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ((std::vector<Text>{u"", NvFromUtf8(address.c_str()), u"192.168.77.1",
                                 u"255.255.255.0", u"021a2b3c4d5e"}),
              rows[0]);
    EXPECT_EQ("[\n  {\"address\": \"" + address +
                  "\", \"subnetMask\": \"255.255.255.0\", \"gateway\": \"192.168.77.1\", "
                  "\"hardwareAddress\": \"021a2b3c4d5e\", \"description\": \"\", "
                  "\"hrDeviceIndex\": 1, \"deviceIndex\": 0}\n]\n",
              listed.out)
        << listed.err;
}

}  // namespace
}  // namespace nvtest
