// The pieces of discovery that need no agent: the broadcast address, the broadcast request
// and the check of its replies, the printer list, addresses, binding lists and the socket.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "discover/broadcast.h"
#include "discover/discovery.h"
#include "discover/interfaces.h"
#include "discover/snmpquery.h"
#include "platform/linux/include/nvplatform.h"
#include "snmp/message.h"

namespace {

using snmp::Oid;
using snmp::PduType;
using snmp::Value;

// Every case starts with Windows Sockets up, an empty list and the machine's real addresses.
class DiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StartDiscovery();
        StopDiscovery();
    }
    void TearDown() override {
        StopDiscovery();
        NvSetHostAddresses(nullptr);
    }
};

// --- The broadcast address ---

using BroadcastAddressTest = DiscoveryTest;

std::string ClassBroadcast(const char* dotted) {
    char text[kBroadcastAddressSize];
    EXPECT_TRUE(ClassBroadcastAddress(ntohl(inet_addr(dotted)), text, sizeof text));
    return text;
}

TEST_F(BroadcastAddressTest, FollowsTheAddressClassNotTheNetmask) {
    EXPECT_EQ(ClassBroadcast("10.1.2.3"), "10.255.255.255");
    EXPECT_EQ(ClassBroadcast("172.16.5.9"), "172.16.255.255");
    EXPECT_EQ(ClassBroadcast("192.168.1.7"), "192.168.1.255");
    EXPECT_EQ(ClassBroadcast("127.0.0.1"), "127.0.255.255");
    EXPECT_EQ(ClassBroadcast("224.0.0.1"), "255.255.255.255");
    // The edges of the classes.
    EXPECT_EQ(ClassBroadcast("126.9.9.9"), "126.255.255.255");
    EXPECT_EQ(ClassBroadcast("191.9.9.9"), "191.9.255.255");
    EXPECT_EQ(ClassBroadcast("223.9.9.9"), "223.9.9.255");
    EXPECT_EQ(ClassBroadcast("255.1.1.1"), "255.255.255.255");
}

TEST_F(BroadcastAddressTest, ComesFromTheFirstAddressOfTheMachinesName) {
    NvSetHostAddresses("172.16.5.9,10.1.2.3");
    char text[kBroadcastAddressSize];
    ASSERT_TRUE(BuildBroadcastAddress(text, sizeof text));
    EXPECT_STREQ(text, "172.16.255.255");
}

TEST_F(BroadcastAddressTest, NeedsABufferOfFifteenBytes) {
    NvSetHostAddresses("10.1.2.3");
    char text[kBroadcastAddressSize];
    EXPECT_FALSE(BuildBroadcastAddress(text, kMinBroadcastAddressSize - 1));
    EXPECT_TRUE(BuildBroadcastAddress(text, kMinBroadcastAddressSize));
    EXPECT_STREQ(text, "10.255.255.255");
}

// The class-based address first, then each interface's own broadcast address once. Under the
// test override only its "A.B.C.D/N" entries are interfaces, so a test never reaches a real one.
TEST_F(BroadcastAddressTest, DestinationsAreTheClassAddressThenEveryInterfacesOwn) {
    DatagramSocket socket;
    auto destinations = [&socket](const char* host) {
        NvSetHostAddresses(host);
        std::vector<std::string> texts;
        for (DWORD address : BroadcastDestinations(socket.Handle())) {
            char text[kBroadcastAddressSize];
            FormatDotted(address, text, sizeof text);
            texts.push_back(text);
        }
        return texts;
    };
    EXPECT_EQ(destinations("10.1.2.5/24"),
              (std::vector<std::string>{"10.255.255.255", "10.1.2.255"}));
    EXPECT_EQ(destinations("192.168.9.5/24,192.168.5.3/24"),
              (std::vector<std::string>{"192.168.9.255", "192.168.5.255"}));
    EXPECT_EQ(destinations("172.16.5.9/20"),
              (std::vector<std::string>{"172.16.255.255", "172.16.15.255"}));
    EXPECT_EQ(destinations("127.255.0.1"), (std::vector<std::string>{"127.255.255.255"}));
}

INTERFACE_INFO Interface(const char* address, const char* mask, ULONG flags) {
    INTERFACE_INFO entry = {};
    entry.iiFlags = flags;
    entry.iiAddress.AddressIn.sin_family = AF_INET;
    entry.iiAddress.AddressIn.sin_addr.s_addr = inet_addr(address);
    entry.iiNetmask.AddressIn.sin_family = AF_INET;
    entry.iiNetmask.AddressIn.sin_addr.s_addr = inet_addr(mask);
    entry.iiBroadcastAddress.AddressIn.sin_family = AF_INET;
    entry.iiBroadcastAddress.AddressIn.sin_addr.s_addr = INADDR_BROADCAST;
    return entry;
}

TEST_F(BroadcastAddressTest, InterfacesThatCannotBroadcastToASubnetArePassedOver) {
    constexpr ULONG kUp = IFF_UP | IFF_BROADCAST | IFF_MULTICAST;
    const INTERFACE_INFO list[] = {
        Interface("127.0.0.1", "255.0.0.0", kUp | IFF_LOOPBACK),
        Interface("10.8.0.6", "255.255.255.0", IFF_UP | IFF_POINTTOPOINT),
        Interface("192.168.3.4", "255.255.255.0", IFF_BROADCAST),  // down
        Interface("192.168.4.4", "255.255.255.0", IFF_UP),         // no broadcast
        Interface("192.168.6.1", "255.255.255.255", kUp),          // a /32
        Interface("192.168.7.1", "255.255.255.254", kUp),          // a /31
        Interface("10.1.2.5", "255.255.255.0", kUp),
        Interface("10.1.2.6", "255.255.255.0", kUp),  // a second address on the same subnet
        Interface("172.20.1.9", "255.255.0.0", kUp),
    };
    EXPECT_EQ(BroadcastAddressesOf(list, std::size(list)),
              (std::vector<DWORD>{0x0a0102ffu, 0xac14ffffu}));
}

// --- The broadcast request ---

using DiscoveryRequestTest = DiscoveryTest;

snmp::Message DecodeRequest(const BYTE* bytes, int length) {
    snmp::Result<snmp::Message> message =
        snmp::Decode(std::span<const std::uint8_t>(bytes, static_cast<size_t>(length)));
    EXPECT_TRUE(message.ok());
    return message.ok() ? *message : snmp::Message{};
}

// Every request draws a new id at random: a fresh process does not start at 1, and no id
// follows from the one before, so a reply forged without the request is not taken.
TEST_F(DiscoveryRequestTest, IsAGetNextOfThePrinterMibWithANewRandomRequestId) {
    BYTE request[kDiscoveryDatagramSize];
    const int length = BuildDiscoveryRequest(request, sizeof request);
    ASSERT_GT(length, 0);
    const DWORD first = DiscoveryRequestId();
    EXPECT_NE(first, 1u);
    EXPECT_GE(first, 1u);
    EXPECT_LE(first, 0x7fffffffu);

    const snmp::Message message = DecodeRequest(request, length);
    EXPECT_EQ(message.version, snmp::kVersion1);
    EXPECT_EQ(message.community, "commro");
    EXPECT_EQ(message.pdu.type, PduType::GetNextRequest);
    EXPECT_EQ(message.pdu.requestId, static_cast<std::int32_t>(first));
    EXPECT_EQ(message.pdu.errorStatus, 0);
    EXPECT_EQ(message.pdu.errorIndex, 0);
    ASSERT_EQ(message.pdu.varbinds.size(), 1u);
    EXPECT_EQ(message.pdu.varbinds[0].name, (Oid{1, 3, 6, 1, 2, 1, 43}));
    EXPECT_EQ(message.pdu.varbinds[0].value, Value::Null());

    const int again = BuildDiscoveryRequest(request, sizeof request);
    const DWORD second = DiscoveryRequestId();
    EXPECT_EQ(DecodeRequest(request, again).pdu.requestId, static_cast<std::int32_t>(second));
    EXPECT_NE(second, first);
    EXPECT_NE(second, first + 1);
}

// The octets on the wire for request id 127: what "snmpgetnext -v1 -c commro
// .1.3.6.1.2.1.43" sends, but for its request id.
TEST_F(DiscoveryRequestTest, EncodesToTheSnmpV1Octets) {
    BYTE request[kDiscoveryDatagramSize];
    const int length = EncodeDiscoveryRequest(0x7f, request, sizeof request);
    const std::vector<BYTE> expected = {0x30, 0x24, 0x02, 0x01, 0x00, 0x04, 0x06, 0x63, 0x6f, 0x6d,
                                        0x6d, 0x72, 0x6f, 0xa1, 0x17, 0x02, 0x01, 0x7f, 0x02, 0x01,
                                        0x00, 0x02, 0x01, 0x00, 0x30, 0x0c, 0x30, 0x0a, 0x06, 0x06,
                                        0x2b, 0x06, 0x01, 0x02, 0x01, 0x2b, 0x05, 0x00};
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::vector<BYTE>(request, request + length), expected);
}

TEST_F(DiscoveryRequestTest, ThatDoesNotFitIsNotBuilt) {
    BYTE request[8];
    EXPECT_EQ(BuildDiscoveryRequest(request, sizeof request), 0);
}

// --- Replies to the broadcast ---

class DiscoveryReplyTest : public DiscoveryTest {
  protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        BYTE request[kDiscoveryDatagramSize];
        ASSERT_GT(BuildDiscoveryRequest(request, sizeof request), 0);
        current_ = static_cast<std::int32_t>(DiscoveryRequestId());
    }

    // A GetResponse to the current request whose first binding is name.
    snmp::Message Reply(const Oid& name) const {
        snmp::Message reply;
        reply.community = "commro";
        reply.pdu.type = PduType::GetResponse;
        reply.pdu.requestId = current_;
        reply.pdu.varbinds.push_back({name, Value::Counter(7)});
        return reply;
    }

    static bool Check(const snmp::Message& reply) {
        snmp::Result<snmp::Bytes> bytes = snmp::Encode(reply);
        EXPECT_TRUE(bytes.ok());
        return CheckDiscoveryReply(bytes->data(), static_cast<int>(bytes->size()));
    }

    std::int32_t current_ = 0;
    const Oid insideMib_{1, 3, 6, 1, 2, 1, 43, 5, 1, 1, 1, 1};
};

TEST_F(DiscoveryReplyTest, FromInsideThePrinterMibIsAccepted) {
    EXPECT_TRUE(Check(Reply(insideMib_)));
    EXPECT_TRUE(Check(Reply(Oid{1, 3, 6, 1, 2, 1, 43, 0})));
}

TEST_F(DiscoveryReplyTest, ToAnEarlierRequestIsDropped) {
    snmp::Message reply = Reply(insideMib_);
    reply.pdu.requestId = current_ - 1;
    EXPECT_FALSE(Check(reply));
}

TEST_F(DiscoveryReplyTest, OutsideOrExactlyAtThePrinterMibIsDropped) {
    EXPECT_FALSE(Check(Reply(Oid{1, 3, 6, 1, 2, 1, 43})));             // the root itself
    EXPECT_FALSE(Check(Reply(Oid{1, 3, 6, 1, 2, 1, 44, 1})));          // past it
    EXPECT_FALSE(Check(Reply(Oid{1, 3, 6, 1, 6, 3, 1, 1, 6, 1, 0})));  // no Printer MIB
    EXPECT_FALSE(Check(Reply(Oid{1, 3, 6, 1, 2, 1, 42, 1, 1})));       // before it
    EXPECT_FALSE(Check(Reply(Oid{1, 3, 6, 1, 2, 1})));                 // shorter
}

TEST_F(DiscoveryReplyTest, WithAnErrorStatusOrWithoutBindingsIsDropped) {
    snmp::Message error = Reply(insideMib_);
    error.pdu.errorStatus = snmp::kNoSuchName;
    error.pdu.errorIndex = 1;
    EXPECT_FALSE(Check(error));
    snmp::Message empty = Reply(insideMib_);
    empty.pdu.varbinds.clear();
    EXPECT_FALSE(Check(empty));
}

TEST_F(DiscoveryReplyTest, OnlyTheFirstBindingCounts) {
    snmp::Message reply = Reply(Oid{1, 3, 6, 1, 2, 1, 1, 1, 0});
    reply.pdu.varbinds.push_back({insideMib_, Value::Counter(7)});
    EXPECT_FALSE(Check(reply));
    snmp::Message other = Reply(insideMib_);
    other.pdu.varbinds.push_back({Oid{1, 3, 6, 1, 2, 1, 1, 1, 0}, Value::Null()});
    EXPECT_TRUE(Check(other));
}

// Neither the PDU type nor the community is looked at.
TEST_F(DiscoveryReplyTest, TypeAndCommunityAreNotChecked) {
    snmp::Message reply = Reply(insideMib_);
    reply.pdu.type = PduType::GetRequest;
    reply.community = "public";
    EXPECT_TRUE(Check(reply));
}

TEST_F(DiscoveryReplyTest, ThatDoesNotDecodeIsDropped) {
    snmp::Result<snmp::Bytes> bytes = snmp::Encode(Reply(insideMib_));
    ASSERT_TRUE(bytes.ok());
    for (size_t cut = 0; cut < bytes->size(); ++cut) {
        EXPECT_FALSE(CheckDiscoveryReply(bytes->data(), static_cast<int>(cut))) << cut;
    }
    const BYTE garbage[] = {0xde, 0xad, 0xbe, 0xef};
    EXPECT_FALSE(CheckDiscoveryReply(garbage, sizeof garbage));
    EXPECT_FALSE(CheckDiscoveryReply(nullptr, 10));
}

// --- The printer list ---

using PrinterListTest = DiscoveryTest;

TEST_F(PrinterListTest, SendersAreListedOnceNewestFirstAndLinked) {
    AddSender(IpAddress("192.168.77.11"));
    AddSender(IpAddress("192.168.77.12"));
    AddSender(IpAddress("192.168.77.11"));  // a second reply of the first printer
    PrinterList& list = PrinterList::Instance();
    ASSERT_EQ(list.Count(), 2u);
    const PrinterRecord* newest = list.Newest();
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->ipAddress, 0xc0a84d0cu);  // 192.168.77.12, host order
    ASSERT_NE(newest->link, nullptr);
    EXPECT_EQ(newest->link->ipAddress, 0xc0a84d0bu);
    EXPECT_EQ(newest->link->link, nullptr);
}

// A printer dropped from the middle leaves the others linked newest first.
TEST_F(PrinterListTest, ARemovedRecordIsSkippedByTheLinks) {
    AddSender(IpAddress("192.168.77.11"));
    AddSender(IpAddress("192.168.77.12"));
    AddSender(IpAddress("192.168.77.13"));
    PrinterList& list = PrinterList::Instance();
    list.RemoveAt(1);
    ASSERT_EQ(list.Count(), 2u);
    const PrinterRecord* newest = list.Newest();
    EXPECT_EQ(newest->ipAddress, 0xc0a84d0du);
    ASSERT_NE(newest->link, nullptr);
    EXPECT_EQ(newest->link->ipAddress, 0xc0a84d0bu);
    EXPECT_EQ(newest->link->link, nullptr);
    list.RemoveAt(1);  // the newest
    EXPECT_EQ(list.Newest()->ipAddress, 0xc0a84d0bu);
    EXPECT_EQ(list.Newest()->link, nullptr);
}

// --- Addresses ---

using IpAddressTest = DiscoveryTest;

TEST_F(IpAddressTest, DottedTextInHostOrder) {
    IpAddress address("192.0.2.10");
    PrinterRecord record;
    address.CopyTo(record);
    EXPECT_EQ(record.ipAddress, 0xc000020au);
    EXPECT_TRUE(address.Matches(record));
    EXPECT_STREQ(address.FormatText(), "192.0.2.10");
    record.ipAddress += 1;
    EXPECT_FALSE(address.Matches(record));
}

// The parser's error value is 255.255.255.255: an address search for bad text asks that.
TEST_F(IpAddressTest, TextThatDoesNotParseIsTheBroadcastAddress) {
    EXPECT_STREQ(IpAddress("printer").FormatText(), "255.255.255.255");
    EXPECT_STREQ(IpAddress("1.2.3.256").FormatText(), "255.255.255.255");
    EXPECT_STREQ(IpAddress("").FormatText(), "255.255.255.255");
}

TEST_F(IpAddressTest, SetResolvesWhatDoesNotParse) {
    IpAddress address;
    address.Set("255.255.255.255", 161);
    EXPECT_STREQ(address.FormatText(), "255.255.255.255");
    EXPECT_EQ(ntohs(address.SocketAddress().sin_port), 161);
    address.Set("localhost", 8003);
    EXPECT_STREQ(address.FormatText(), "127.0.0.1");
    EXPECT_THROW(address.Set(nullptr, 161), DiscoveryError);
}

// --- Binding lists ---

using BindingListTest = DiscoveryTest;

TEST_F(BindingListTest, TextsBelowMib2OrAbsolute) {
    VarBindList list;
    const char* const texts[] = {"2.2.1.6.1", ".1.3.6.1.2.1.43"};
    ASSERT_EQ(BuildVarBindList(list, texts, 2), kBuildOk);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, (Oid{1, 3, 6, 1, 2, 1, 2, 2, 1, 6, 1}));
    EXPECT_EQ(list[1].name, (Oid{1, 3, 6, 1, 2, 1, 43}));
    EXPECT_EQ(list[0].value, Value::Null());
}

TEST_F(BindingListTest, AnInvalidTextEmptiesTheListAndSaysWhich) {
    VarBindList list = {{Oid{1, 3, 6}, Value::Integer(1)}};
    const char* const texts[] = {"4.20.1.3", "25.3.2.1.3.-1"};
    testing::internal::CaptureStdout();
    EXPECT_EQ(BuildVarBindList(list, texts, 2), kBuildBadOid);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error:Invalid oid, 25.3.2.1.3.-1,specified.\n");
    EXPECT_TRUE(list.empty());
}

// --- The broadcast socket ---

using DatagramSocketTest = DiscoveryTest;

TEST_F(DatagramSocketTest, NonBlockingReadOfNothingIsNegative) {
    DatagramSocket socket;
    socket.SetNonBlocking();
    EXPECT_TRUE(socket.IsNonBlocking());
    socket.BindForBroadcast(0);
    char buffer[kDiscoveryDatagramSize];
    IpAddress sender;
    EXPECT_LT(socket.ReceiveFrom(buffer, sizeof buffer, sender), 0);
    EXPECT_EQ(socket.LastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(socket.BytesAvailable(), 0);
}

TEST_F(DatagramSocketTest, BindForBroadcastAllowsBroadcasts) {
    DatagramSocket socket;
    socket.BindForBroadcast(0);
    BOOL on = FALSE;
    int size = sizeof on;
    ASSERT_EQ(
        getsockopt(socket.Handle(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&on), &size),
        0);
    EXPECT_TRUE(on);
}

TEST_F(DatagramSocketTest, APortInUseCannotBeBound) {
    DatagramSocket first;
    first.BindForBroadcast(0);
    sockaddr_in bound = {};
    int size = sizeof bound;
    ASSERT_EQ(getsockname(first.Handle(), reinterpret_cast<sockaddr*>(&bound), &size), 0);
    DatagramSocket second;
    try {
        second.BindForBroadcast(ntohs(bound.sin_port));
        ADD_FAILURE() << "the second bind succeeded";
    } catch (const DiscoveryError& error) {
        EXPECT_EQ(error.code(), static_cast<DWORD>(WSAEADDRINUSE));
        EXPECT_EQ(second.LastError(), WSAEADDRINUSE);
    }
}

// As on Windows, a datagram longer than the buffer fills it and fails with WSAEMSGSIZE: the
// rest of that datagram is lost, and the search reads on.
TEST_F(DatagramSocketTest, ADatagramLongerThanTheBufferIsAnError) {
    DatagramSocket receiver;
    receiver.SetNonBlocking();
    receiver.BindForBroadcast(0);
    sockaddr_in bound = {};
    int size = sizeof bound;
    ASSERT_EQ(getsockname(receiver.Handle(), reinterpret_cast<sockaddr*>(&bound), &size), 0);
    IpAddress to;
    to.Set("127.0.0.1", ntohs(bound.sin_port));
    DatagramSocket sender;
    const std::vector<char> big(kDiscoveryDatagramSize + 1, 'x');
    ASSERT_EQ(sender.SendTo(big.data(), static_cast<int>(big.size()), to),
              static_cast<int>(big.size()));
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(receiver.Handle(), &readable);
    timeval wait = {5, 0};
    ASSERT_EQ(select(0, &readable, nullptr, nullptr, &wait), 1);
    char buffer[kDiscoveryDatagramSize];
    IpAddress from;
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, from), SOCKET_ERROR);
    EXPECT_EQ(receiver.LastError(), WSAEMSGSIZE);
    EXPECT_STREQ(from.FormatText(), "127.0.0.1");
    EXPECT_LT(receiver.ReceiveFrom(buffer, sizeof buffer, from), 0);  // nothing left
    EXPECT_EQ(receiver.LastError(), WSAEWOULDBLOCK);
}

}  // namespace
