// The checks of a port's new input: which texts are a printer's address, how the monitor reads
// a stored one, and the forms of a hardware address.
#include <gtest/gtest.h>

#include "net/portcheck.h"

namespace {

using portcfg::AddressFault;

TEST(PortCheck, OnlyPlainDecimalUnicastAddressesAreAPrintersAddress) {
    const struct {
        const char* text;
        AddressFault fault;
    } cases[] = {
        {"192.168.1.10", AddressFault::kNone},
        {"127.0.0.1", AddressFault::kNone},
        {"223.255.255.255", AddressFault::kNone},
        {"1.0.0.0", AddressFault::kNone},
        {"192.168.001.010", AddressFault::kLeadingZero},
        {"00.1.2.3", AddressFault::kLeadingZero},
        {"0x7f.0.0.1", AddressFault::kLeadingZero},
        {"10.0.0.01", AddressFault::kLeadingZero},
        {"1.2.3", AddressFault::kNotDotted},
        {"1.2.3.4.", AddressFault::kNotDotted},
        {"1..2.3", AddressFault::kNotDotted},
        {" 1.2.3.4", AddressFault::kNotDotted},
        {"1.2.3.256", AddressFault::kNotDotted},
        {"1.2.3.4/24", AddressFault::kNotDotted},
        {"1.2.3.1000", AddressFault::kNotDotted},
        {"", AddressFault::kNotDotted},
        {"printer.lan", AddressFault::kNotDotted},
        {"0.0.0.0", AddressFault::kThisNetwork},
        {"0.1.2.3", AddressFault::kThisNetwork},
        {"224.0.0.1", AddressFault::kMulticast},
        {"239.255.255.255", AddressFault::kMulticast},
        {"240.0.0.1", AddressFault::kReserved},
        {"255.255.255.255", AddressFault::kBroadcast},
    };
    for (const auto& c : cases) {
        DWORD address = 0xdeadbeef;
        EXPECT_EQ(c.fault, portcfg::CheckPrinterAddress(c.text, &address)) << c.text;
        if (c.fault != AddressFault::kNone) {
            EXPECT_EQ(0xdeadbeefu, address) << c.text;
        }
    }
    DWORD address = 0;
    ASSERT_EQ(AddressFault::kNone, portcfg::CheckPrinterAddress("192.168.1.10", &address));
    EXPECT_EQ(0xC0A8010Au, address);
}

TEST(PortCheck, AStoredAddressIsReadAsTheMonitorReadsIt) {
    EXPECT_EQ(0x7F000008u, portcfg::AddressAsRead("127.0.0.010"));
    EXPECT_EQ(0x0A000001u, portcfg::AddressAsRead("10.1"));
    EXPECT_EQ(0xFFFFFFFFu, portcfg::AddressAsRead("printer.lan"));
    EXPECT_TRUE(portcfg::HasLeadingZeroOctet(WSTR("127.0.0.010")));
    EXPECT_FALSE(portcfg::HasLeadingZeroOctet(WSTR("10.0.0.0")));
}

TEST(PortCheck, HardwareAddressesInEitherCaseWithOrWithoutSeparators) {
    for (const char* text :
         {"021a2b3c4d5e", "021A2B3C4D5E", "02:1a:2b:3c:4d:5e", "02-1A-2B-3C-4D-5E"}) {
        char stored[13] = {};
        EXPECT_TRUE(portcfg::NormalizeHardwareAddress(text, stored)) << text;
        EXPECT_STREQ("021a2b3c4d5e", stored) << text;
    }
    for (const char* text : {"", "021a2b3c4d5", "021a2b3c4d5e0", "0g1a2b3c4d5e", ":021a2b3c4d5e",
                             "02:1a:2b:3c:4d:5e:", "02:1a-2b:3c:4d:5e", "021a2b:3c4d5e",
                             "02::1a:2b:3c:4d:5e", "0:21a:2b:3c:4d:5e"}) {
        char stored[13] = {};
        EXPECT_FALSE(portcfg::NormalizeHardwareAddress(text, stored)) << text;
    }
}

}  // namespace
