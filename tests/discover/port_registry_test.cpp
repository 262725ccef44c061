// PortRegistry over the registry stand-in: the ten values of a new port as the monitor reads
// them, a port written again, the results 87 and 183, and PortExists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discover/portregistry.h"
#include "platform/linux/include/nvplatform.h"
#include "tests/support/test_env.h"

namespace {

using nvtest::U8;
using nvtest::W;

const std::u16string kPortsPath =
    W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports");

template <size_t N>
void Fill(WCHAR (&field)[N], const std::string& text) {
    const std::u16string wide = W(text);
    CopyBounded(field, N, wide.c_str());
}

// The record both installer exports write for a printer.
PortEntry InstallerEntry(const std::string& address) {
    PortEntry entry;
    std::memset(&entry, 0xcc, sizeof entry);  // nothing unwritten may reach the registry
    Fill(entry.PortName, "NORVA_" + address);
    entry.Protocol = 1;
    Fill(entry.IPAddress, address);
    Fill(entry.HostName, "");
    Fill(entry.HWAddress, "");
    entry.PortNumber = 9100;
    entry.SnmpVersion = 1;
    entry.SnmpTimeOut = 15000;
    entry.SnmpEnabled = 1;
    Fill(entry.SnmpCommunity, "commro");
    entry.SnmpIndex = 1;
    return entry;
}

struct StoredValue {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

std::vector<StoredValue> ValuesOf(const std::string& portName) {
    std::vector<StoredValue> values;
    HKEY key = nullptr;
    const std::u16string path = kPortsPath + W("\\" + portName);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD nameLength = 256;
        BYTE data[512];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        values.push_back({U8(name), type, std::vector<BYTE>(data, data + dataSize)});
    }
    RegCloseKey(key);
    return values;
}

std::vector<BYTE> Sz(const std::string& text) {
    const std::u16string wide = W(text);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
    return std::vector<BYTE>(bytes, bytes + (wide.size() + 1) * 2);
}

std::vector<BYTE> Dword(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

class PortRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { CreateKey(kPortsPath); }
    void TearDown() override { NvFaultClear(); }

    static void CreateKey(const std::u16string& path) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    nvtest::ScopedRegistry registry_;
};

TEST_F(PortRegistryTest, ANewPortHoldsExactlyTheTenValuesInWritingOrder) {
    const PortEntry entry = InstallerEntry("192.168.0.20");
    PortRegistry ports;
    ASSERT_EQ(ports.RegisterPort(&entry), 0u);
    EXPECT_NE(ports.HeldKey(), nullptr);

    const std::vector<StoredValue> values = ValuesOf("NORVA_192.168.0.20");
    const std::vector<StoredValue> expected = {
        {"HWAddress", REG_SZ, Sz("")},
        {"Protocol", REG_DWORD, Dword(1)},
        {"HostName", REG_SZ, Sz("")},
        {"IPAddress", REG_SZ, Sz("192.168.0.20")},
        {"PortNumber", REG_DWORD, Dword(9100)},
        {"SnmpEnabled", REG_DWORD, Dword(1)},
        {"SnmpCommunity", REG_SZ, Sz("commro")},
        {"SnmpIndex", REG_DWORD, Dword(1)},
        {"SnmpVersion", REG_DWORD, Dword(1)},
        {"SnmpTimeOut", REG_DWORD, Dword(15000)},
    };
    ASSERT_EQ(values.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(values[i].name, expected[i].name) << i;
        EXPECT_EQ(values[i].type, expected[i].type) << expected[i].name;
        EXPECT_EQ(values[i].data, expected[i].data) << expected[i].name;
    }
    EXPECT_EQ(values[0].data.size(), 2u);  // an empty REG_SZ is its terminator
}

TEST_F(PortRegistryTest, AnExistingPortGetsTheTenValuesAndKeepsItsOthers) {
    PortEntry first = InstallerEntry("10.0.0.5");
    first.PortNumber = 515;
    Fill(first.HostName, "old-name");
    PortRegistry writer;
    ASSERT_EQ(writer.RegisterPort(&first), 0u);
    const DWORD zero = 0;
    ASSERT_EQ(RegSetValueExW(writer.HeldKey(), WSTR("QueueName"), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(u"lp"), 6),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(writer.HeldKey(), WSTR("DoubleSpool"), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&zero), 4),
              ERROR_SUCCESS);

    const PortEntry second = InstallerEntry("10.0.0.5");
    PortRegistry again;
    EXPECT_EQ(again.RegisterPort(&second), 0u);

    std::vector<StoredValue> values = ValuesOf("NORVA_10.0.0.5");
    ASSERT_EQ(values.size(), 12u);
    auto find = [&values](const std::string& name) -> const StoredValue* {
        for (const StoredValue& value : values) {
            if (value.name == name) {
                return &value;
            }
        }
        return nullptr;
    };
    ASSERT_NE(find("PortNumber"), nullptr);
    EXPECT_EQ(find("PortNumber")->data, Dword(9100));
    EXPECT_EQ(find("HostName")->data, Sz(""));
    ASSERT_NE(find("QueueName"), nullptr);
    EXPECT_EQ(find("QueueName")->data, Sz("lp"));
    ASSERT_NE(find("DoubleSpool"), nullptr);
}

TEST_F(PortRegistryTest, WithoutAnEntryIsInvalidParameter) {
    PortRegistry ports;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ports.RegisterPort(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PortRegistryTest, ASubkeyThatCannotBeCreatedIsAlreadyExists) {
    NvFaultSet("RegCreateKeyExW", ERROR_ACCESS_DENIED, 1);
    const PortEntry entry = InstallerEntry("10.0.0.6");
    PortRegistry ports;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ports.RegisterPort(&entry), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(ValuesOf("NORVA_10.0.0.6").empty());
}

// Writes that fail are reported (the first failure's code), never taken for a written port;
// the writes after a failure are still made.
TEST_F(PortRegistryTest, AFailedValueWriteIsTheResult) {
    NvFaultSet("RegSetValueExW", ERROR_DISK_FULL, 1, /*skip=*/3);
    const PortEntry entry = InstallerEntry("10.0.0.7");
    PortRegistry ports;
    SetLastError(0);
    EXPECT_EQ(ports.RegisterPort(&entry), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(ValuesOf("NORVA_10.0.0.7").size(), 9u) << "only the IPAddress write failed";
}

TEST_F(PortRegistryTest, ANameThatIsNotOneKeyIsInvalidName) {
    PortEntry entry = InstallerEntry("10.0.0.8");
    Fill(entry.PortName, "NORVA\\10.0.0.8");
    PortRegistry ports;
    EXPECT_EQ(ports.RegisterPort(&entry), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(ports.PortExists(W("NORVA").c_str()), 0u);
}

TEST_F(PortRegistryTest, ExistsOnlyForTheExactName) {
    const PortEntry entry = InstallerEntry("192.168.0.20");
    PortRegistry writer;
    ASSERT_EQ(writer.RegisterPort(&entry), 0u);
    CreateKey(kPortsPath + W("\\A_first"));
    CreateKey(kPortsPath + W("\\z_last"));

    PortRegistry ports;
    EXPECT_EQ(ports.PortExists(WSTR("NORVA_192.168.0.20")), 1u);
    EXPECT_EQ(ports.PortExists(WSTR("z_last")), 1u);
    EXPECT_EQ(ports.PortExists(WSTR("norva_192.168.0.20")), 0u);  // letter case counts
    EXPECT_EQ(ports.PortExists(WSTR("NORVA_192.168.0.2")), 0u);
    EXPECT_EQ(ports.PortExists(WSTR("NORVA_192.168.0.200")), 0u);
    EXPECT_EQ(ports.PortExists(WSTR("")), 0u);
}

// Subkey names beyond the first 128-character buffer are read again with twice the room.
TEST_F(PortRegistryTest, ExistsForANameLongerThanTheFirstBuffer) {
    const std::string longName(200, 'p');
    CreateKey(kPortsPath + W("\\" + longName));
    CreateKey(kPortsPath + W("\\" + std::string(127, 'a')));  // just fits the first buffer
    CreateKey(kPortsPath + W("\\zz"));
    PortRegistry ports;
    EXPECT_EQ(ports.PortExists(W(longName).c_str()), 1u);
    EXPECT_EQ(ports.PortExists(W(std::string(127, 'a')).c_str()), 1u);
    EXPECT_EQ(ports.PortExists(WSTR("zz")), 1u);  // enumerated past the long ones
}

TEST(PortRegistryWithoutMonitor, NoPortsKeyMeansNoPortAndNoWrite) {
    nvtest::ScopedRegistry registry;
    const PortEntry entry = InstallerEntry("192.168.0.20");
    PortRegistry ports;
    EXPECT_EQ(ports.PortExists(WSTR("NORVA_192.168.0.20")), 0u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ports.RegisterPort(&entry), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsPath.c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

}  // namespace
