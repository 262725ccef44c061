// The codec against datagrams captured between net-snmp 5.9.3's snmpget/snmpgetnext and snmpd
// on loopback (tests/snmp/capture-netsnmp.sh makes them again). Each request must come out of
// EncodeRequest octet for octet, each response must decode to the values the tools printed and
// encode back to the same octets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snmp/message.h"
#include "tests/snmp/hex.h"

using namespace snmp;
using snmptest::FromHex;
using snmptest::ToHex;

namespace {

struct Exchange {
    const char* what;
    PduType requestType;
    std::int32_t requestId;
    std::vector<const char*> names;  // absolute OID text
    const char* request;             // hex as captured
    const char* response;            // hex as captured, or nullptr for no answer
    std::int32_t errorStatus;
    std::int32_t errorIndex;
    std::vector<Value> values;  // the values answered, in order
};

const Oid kPrivate{1, 3, 6, 1, 4, 1, 99999, 1};

const std::vector<Exchange>& Exchanges() {
    static const std::vector<Exchange> exchanges = {
        {"Get ifPhysAddress.1 (OctetString)",
         PduType::GetRequest,
         0x2420ac52,
         {".1.3.6.1.2.1.2.2.1.6.1"},
         "302b0201000406636f6d6d726fa01e02042420ac520201000201003010300e060a2b06010201020201060105"
         "00",
         "30310201000406636f6d6d726fa22402042420ac5202010002010030163014060a2b06010201020201060104"
         "06020000000001",
         kNoError,
         0,
         {Value::OctetString(FromHex("020000000001"))}},
        {"GetNext of the Printer MIB root (Counter)",
         PduType::GetNextRequest,
         0x239bfe75,
         {".1.3.6.1.2.1.43"},
         "30270201000406636f6d6d726fa11a0204239bfe75020100020100300c300a06062b060102012b0500",
         "302d0201000406636f6d6d726fa2200204239bfe7502010002010030123010060b2b060102012b05010101014"
         "101"
         "07",
         kNoError,
         0,
         {Value::Counter(7)}},
        {"Get of an hrDeviceTable row (INTEGER, OID, OctetString)",
         PduType::GetRequest,
         0x7963bb51,
         {".1.3.6.1.2.1.25.3.2.1.1.327681", ".1.3.6.1.2.1.25.3.2.1.2.327681",
          ".1.3.6.1.2.1.25.3.2.1.3.327681"},
         "30540201000406636f6d6d726fa04702047963bb5102010002010030393011060d2b060102011903020101948"
         "001"
         "05003011060d2b06010201190302010294800105003011060d2b0601020119030201039480010500",
         "306d0201000406636f6d6d726fa26002047963bb5102010002010030523014060d2b060102011903020101948"
         "001"
         "0203050001301a060d2b06010201190302010294800106092b0601020119030105301e060d2b0601020119030"
         "2"
         "0103948001040d4c6162205072696e7465722031",
         kNoError,
         0,
         {Value::Integer(327681), Value::ObjectId(Oid{1, 3, 6, 1, 2, 1, 25, 3, 1, 5}),
          Value::OctetString("Lab Printer 1")}},
        {"Get of ipAdEntNetMask and sysUpTime (IpAddress, TimeTicks)",
         PduType::GetRequest,
         0x48ea1a8b,
         {".1.3.6.1.2.1.4.20.1.3.127.0.0.1", ".1.3.6.1.2.1.1.3.0"},
         "303c0201000406636f6d6d726fa02f020448ea1a8b02010002010030213011060d2b06010201041401037f000"
         "001"
         "0500300c06082b060102010103000500",
         "30420201000406636f6d6d726fa235020448ea1a8b02010002010030273015060d2b06010201041401037f000"
         "001"
         "4004ff000000300e06082b06010201010300430200ce",
         kNoError,
         0,
         {Value::IpAddress({255, 0, 0, 0}), Value::TimeTicks(206)}},
        {"Get with the last of seven names missing (noSuchName, index 7, long form lengths)",
         PduType::GetRequest,
         0x6caab9fc,
         {".1.3.6.1.4.1.99999.1.1.0", ".1.3.6.1.4.1.99999.1.2.0", ".1.3.6.1.4.1.99999.1.3.0",
          ".1.3.6.1.4.1.99999.1.4.0", ".1.3.6.1.4.1.99999.1.5.0", ".1.3.6.1.4.1.99999.1.6.0",
          ".1.3.6.1.4.1.99999.1.8.0"},
         "3081930201000406636f6d6d726fa0818502046caab9fc0201000201003077300f060b2b06010401868d1f010"
         "1"
         "000500300f060b2b06010401868d1f0102000500300f060b2b06010401868d1f0103000500300f060b2b0601"
         "0401868d1f0104000500300f060b2b06010401868d1f0105000500300f060b2b06010401868d1f0106000500"
         "300f060b2b06010401868d1f0108000500",
         "3081930201000406636f6d6d726fa2818502046caab9fc0201020201073077300f060b2b06010401868d1f010"
         "1"
         "000500300f060b2b06010401868d1f0102000500300f060b2b06010401868d1f0103000500300f060b2b0601"
         "0401868d1f0104000500300f060b2b06010401868d1f0105000500300f060b2b06010401868d1f0106000500"
         "300f060b2b06010401868d1f0108000500",
         kNoSuchName,
         7,
         std::vector<Value>(7, Value::Null())},
        {"Get of integer edges, Counter and Gauge with a leading zero, an OID with 2.999 and a "
         "32-bit arc",
         PduType::GetRequest,
         0x6caab9fd,
         {".1.3.6.1.4.1.99999.1.1.0", ".1.3.6.1.4.1.99999.1.2.0", ".1.3.6.1.4.1.99999.1.3.0",
          ".1.3.6.1.4.1.99999.1.4.0", ".1.3.6.1.4.1.99999.1.5.0", ".1.3.6.1.4.1.99999.1.6.0"},
         "3081810201000406636f6d6d726fa07402046caab9fd0201000201003066300f060b2b06010401868d1f0101"
         "000500300f060b2b06010401868d1f0102000500300f060b2b06010401868d1f0103000500300f060b2b0601"
         "0401868d1f0104000500300f060b2b06010401868d1f0105000500300f060b2b06010401868d1f0106000500",
         "30819d0201000406636f6d6d726fa2818f02046caab9fd0201000201003081803011060b2b06010401868d1f0"
         "1"
         "01000202ff7f3013060b2b06010401868d1f0102000204800000003013060b2b06010401868d1f0103000204"
         "7fffffff3014060b2b06010401868d1f010400410500ffffffff3011060b2b06010401868d1f010500420200"
         "803018060b2b06010401868d1f010600060988378fffffff7fff7f",
         kNoError,
         0,
         {Value::Integer(-129), Value::Integer(INT32_MIN), Value::Integer(INT32_MAX),
          Value::Counter(4294967295u), Value::Gauge(128),
          Value::ObjectId(Oid{2, 999, 4294967295u, 16383})}},
        {"Get of a 200-octet string (0x81 lengths)",
         PduType::GetRequest,
         0x6c02b5f5,
         {".1.3.6.1.4.1.99999.1.7.0"},
         "302c0201000406636f6d6d726fa01f02046c02b5f50201000201003011300f060b2b06010401868d1f0107000"
         "5"
         "00",
         "3081f80201000406636f6d6d726fa281ea02046c02b5f50201000201003081db3081d8060b2b06010401868d"
         "1f0107000481c878787878787878787878787878787878787878787878787878787878787878787878787878"
         "7878787878787878787878787878787878787878787878787878787878787878787878787878787878787878"
         "7878787878787878787878787878787878787878787878787878787878787878787878787878787878787878"
         "7878787878787878787878787878787878787878787878787878787878787878787878787878787878787878"
         "78787878787878787878787878787878787878787878787878787878787878",
         kNoError,
         0,
         {Value::OctetString(std::string(200, 'x'))}},
        {"Get with the second of two names missing (noSuchName, index 2)",
         PduType::GetRequest,
         0x4c0ec7bf,
         {".1.3.6.1.2.1.2.2.1.6.1", ".1.3.6.1.2.1.43.99.0"},
         "30390201000406636f6d6d726fa02c02044c0ec7bf020100020100301e300e060a2b060102010202010601050"
         "03"
         "00c06082b060102012b63000500",
         "30390201000406636f6d6d726fa22c02044c0ec7bf020102020102301e300e060a2b060102010202010601050"
         "03"
         "00c06082b060102012b63000500",
         kNoSuchName,
         2,
         {Value::Null(), Value::Null()}},
        {"GetNext past the end of the agent's view (first arc 2, second past 39)",
         PduType::GetNextRequest,
         0x0e42d794,
         {".2.999"},
         "30230201000406636f6d6d726fa11602040e42d79402010002010030083006060288370500",
         "30230201000406636f6d6d726fa21602040e42d79402010202010130083006060288370500",
         kNoSuchName,
         1,
         {Value::Null()}},
        {"Get with a wrong community (snmpd does not answer)",
         PduType::GetRequest,
         0x5978fb67,
         {".1.3.6.1.2.1.1.3.0"},
         "3028020100040577726f6e67a01c02045978fb67020100020100300e300c06082b060102010103000500",
         nullptr,
         0,
         0,
         {}},
    };
    return exchanges;
}

std::vector<Oid> Names(const Exchange& exchange) {
    std::vector<Oid> names;
    for (const char* text : exchange.names) {
        names.push_back(*Oid::Parse(text));
    }
    return names;
}

}  // namespace

TEST(NetSnmpWire, RequestsEncodeOctetForOctet) {
    for (const Exchange& exchange : Exchanges()) {
        const std::string community = exchange.response ? "commro" : "wrong";
        Result<Bytes> request =
            EncodeRequest(exchange.requestType, community, exchange.requestId, Names(exchange));
        ASSERT_TRUE(request.ok()) << exchange.what;
        EXPECT_EQ(ToHex(*request), exchange.request) << exchange.what;
    }
}

TEST(NetSnmpWire, RequestsDecodeToWhatWasAsked) {
    for (const Exchange& exchange : Exchanges()) {
        Result<Message> request = Decode(FromHex(exchange.request));
        ASSERT_TRUE(request.ok()) << exchange.what << ": " << ErrorText(request.error());
        EXPECT_EQ(request->pdu.type, exchange.requestType) << exchange.what;
        EXPECT_EQ(request->pdu.requestId, exchange.requestId) << exchange.what;
        std::vector<Oid> names;
        for (const VarBind& varbind : request->pdu.varbinds) {
            EXPECT_EQ(varbind.value, Value::Null()) << exchange.what;
            names.push_back(varbind.name);
        }
        EXPECT_EQ(names, Names(exchange)) << exchange.what;
    }
}

TEST(NetSnmpWire, ResponsesDecodeToWhatSnmpgetPrinted) {
    for (const Exchange& exchange : Exchanges()) {
        if (exchange.response == nullptr) {
            continue;
        }
        Result<Message> response = DecodeResponse(FromHex(exchange.response));
        ASSERT_TRUE(response.ok()) << exchange.what << ": " << ErrorText(response.error());
        EXPECT_EQ(response->community, "commro");
        EXPECT_EQ(response->pdu.requestId, exchange.requestId) << exchange.what;
        EXPECT_EQ(response->pdu.errorStatus, exchange.errorStatus) << exchange.what;
        EXPECT_EQ(response->pdu.errorIndex, exchange.errorIndex) << exchange.what;
        ASSERT_EQ(response->pdu.varbinds.size(), exchange.values.size()) << exchange.what;
        for (std::size_t i = 0; i < exchange.values.size(); ++i) {
            EXPECT_EQ(response->pdu.varbinds[i].value, exchange.values[i])
                << exchange.what << ", binding " << i + 1;
        }
    }
}

TEST(NetSnmpWire, GetNextAnswerNamesTheNextObject) {
    Result<Message> response = DecodeResponse(FromHex(Exchanges()[1].response));
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response->pdu.varbinds[0].name.ToString(), ".1.3.6.1.2.1.43.5.1.1.1.1");
    EXPECT_TRUE(response->pdu.varbinds[0].name.StartsWith(*Oid::Parse("43")));
}

TEST(NetSnmpWire, ResponsesEncodeBackOctetForOctet) {
    for (const Exchange& exchange : Exchanges()) {
        if (exchange.response == nullptr) {
            continue;
        }
        Result<Message> response = Decode(FromHex(exchange.response));
        ASSERT_TRUE(response.ok()) << exchange.what;
        Result<Bytes> again = Encode(*response);
        ASSERT_TRUE(again.ok()) << exchange.what;
        EXPECT_EQ(ToHex(*again), exchange.response) << exchange.what;
    }
}
