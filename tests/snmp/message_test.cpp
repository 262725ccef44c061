// snmp::Encode / Decode: whole SNMPv1 messages, round trips and malformed datagrams.
#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>

#include "snmp/message.h"
#include "tests/snmp/hex.h"

using namespace snmp;
using snmptest::FromHex;
using snmptest::ToHex;

namespace {

// Hand-built BER, so that each malformed case below states its one fault structurally.
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}
Bytes Tlv(std::uint8_t tag, const Bytes& contents) {
    Bytes out = {tag};
    if (contents.size() < 0x80) {
        out.push_back(static_cast<std::uint8_t>(contents.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(contents.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(contents.size()));
    }
    return Cat({out, contents});
}
Bytes Seq(std::initializer_list<Bytes> parts) {
    return Tlv(0x30, Cat(parts));
}
Bytes Int(const char* hex) {
    return Tlv(0x02, FromHex(hex));
}
Bytes Str(const std::string& text) {
    return Tlv(0x04, Bytes(text.begin(), text.end()));
}
const Bytes kIfPhysAddress1 = Tlv(0x06, FromHex("2b06010201020201060 1"));
const Bytes kNull = FromHex("0500");
const Bytes kBinding = Seq({kIfPhysAddress1, kNull});
Bytes PduTlv(std::uint8_t tag, const Bytes& list, const Bytes& requestId = Int("2420ac52")) {
    return Tlv(tag, Cat({requestId, Int("00"), Int("00"), list}));
}
Bytes Msg(const Bytes& pdu, const Bytes& version = Int("00")) {
    return Seq({version, Str("commro"), pdu});
}

// A GetRequest from net-snmp's snmpget for ifPhysAddress.1, community "commro".
const Bytes kGetRequest = FromHex(
    "302b0201000406636f6d6d726fa01e02042420ac520201000201003010300e060a2b060102010202"
    "0106010500");

// One binding of every value type the codec knows.
Message EveryTypeResponse() {
    Message message;
    message.community = std::string("comm\0ro\xff", 8);  // octets, not C text
    message.pdu.type = PduType::GetResponse;
    message.pdu.requestId = std::numeric_limits<std::int32_t>::min();
    message.pdu.errorStatus = kNoSuchName;
    message.pdu.errorIndex = 3;
    const Oid base{1, 3, 6, 1, 4, 1, 99999};
    const std::vector<Value> values = {
        Value::Integer(-129),
        Value::Integer(std::numeric_limits<std::int32_t>::max()),
        Value::OctetString(std::string(300, 'x')),  // long-form lengths at every level
        Value::OctetString(""),
        Value::Null(),
        Value::ObjectId(Oid{2, 999, 4294967295u}),
        Value::IpAddress({192, 168, 77, 11}),
        Value::Counter(4294967295u),
        Value::Gauge(0),
        Value::TimeTicks(0x80000000u),
        Value::Opaque(FromHex("9f78043f800000")),
        Value::Exception(Type::NoSuchObject),
        Value::Exception(Type::NoSuchInstance),
        Value::Exception(Type::EndOfMibView),
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        message.pdu.varbinds.push_back({base.Child({static_cast<std::uint32_t>(i), 0}), values[i]});
    }
    return message;
}

Bytes Encoded(const Message& message) {
    Result<Bytes> bytes = Encode(message);
    EXPECT_TRUE(bytes.ok()) << ErrorText(bytes.error());
    return bytes.ok() ? *bytes : Bytes{};
}

}  // namespace

TEST(MessageRoundTrip, EveryValueTypeSurvives) {
    const Message message = EveryTypeResponse();
    Result<Message> decoded = Decode(Encoded(message));
    ASSERT_TRUE(decoded.ok()) << ErrorText(decoded.error());
    EXPECT_EQ(*decoded, message);
}

TEST(MessageRoundTrip, EveryPduTypeSurvives) {
    for (PduType type : {PduType::GetRequest, PduType::GetNextRequest, PduType::GetResponse,
                         PduType::SetRequest}) {
        Message message;
        message.community = "public";
        message.pdu.type = type;
        message.pdu.requestId = 42;
        message.pdu.varbinds.push_back({Oid{1, 3, 6, 1, 2, 1, 1, 5, 0}, Value::OctetString("x")});
        Result<Message> decoded = Decode(Encoded(message));
        ASSERT_TRUE(decoded.ok()) << PduTypeName(type);
        EXPECT_EQ(*decoded, message);
    }
}

TEST(MessageRoundTrip, EmptyBindingListAndEmptyCommunity) {
    Message message;
    message.pdu.type = PduType::GetNextRequest;
    EXPECT_EQ(ToHex(Encoded(message)), "30120201000400a10b0201000201000201003000");
    EXPECT_EQ(*Decode(Encoded(message)), message);
}

TEST(EncodeRequest, BuildsNullBindingsForEveryName) {
    const Oid names[] = {*Oid::Parse("2.2.1.6.1")};
    Result<Bytes> request = EncodeRequest(PduType::GetRequest, "commro", 0x2420ac52, names);
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(ToHex(*request), ToHex(kGetRequest));
}

TEST(EncodeRequest, RefusesNamesBerCannotCarry) {
    const Oid names[] = {Oid{1, 3, 6}, Oid{1}};
    EXPECT_EQ(EncodeRequest(PduType::GetRequest, "commro", 1, names).error(), Error::InvalidOid);
}

TEST(Encode, RefusesWhatSnmpv1CannotSay) {
    Message message;
    message.pdu.varbinds.push_back({Oid{1, 3}, Value::ObjectId(Oid{7, 1})});
    EXPECT_EQ(Encode(message).error(), Error::InvalidOid);

    message.pdu.varbinds.clear();
    message.version = 1;
    EXPECT_EQ(Encode(message).error(), Error::UnsupportedVersion);

    message.version = kVersion1;
    message.pdu.type = static_cast<PduType>(0xa4);
    EXPECT_EQ(Encode(message).error(), Error::UnsupportedPdu);

    message.pdu.type = PduType::GetResponse;
    message.community.assign(kMaxMessageSize, 'c');
    EXPECT_EQ(Encode(message).error(), Error::TooLarge);
}

TEST(DecodeResponse, AcceptsOnlyGetResponse) {
    EXPECT_EQ(DecodeResponse(kGetRequest).error(), Error::NotAResponse);
    EXPECT_TRUE(DecodeResponse(Encoded(EveryTypeResponse())).ok());
}

TEST(DecodeMalformed, TheBuildersMakeAValidRequest) {
    // Guards the cases below: unchanged, the builders give exactly net-snmp's request.
    EXPECT_EQ(ToHex(Msg(PduTlv(0xa0, Seq({kBinding})))), ToHex(kGetRequest));
}

TEST(DecodeMalformed, EveryTruncationIsRejected) {
    const Bytes full = Encoded(EveryTypeResponse());
    for (std::size_t size = 0; size < full.size(); ++size) {
        Result<Message> decoded = Decode(std::span(full).first(size));
        EXPECT_FALSE(decoded.ok()) << "accepted the first " << size << " octets";
    }
}

TEST(DecodeMalformed, RejectsEachBrokenPart) {
    const Bytes list = Seq({kBinding});
    Bytes indefinite = Msg(PduTlv(0xa0, list));
    indefinite[1] = 0x80;
    indefinite.insert(indefinite.end(), {0x00, 0x00});
    Bytes outerTooLong = kGetRequest;
    ++outerTooLong[1];
    Bytes pduTooLong = kGetRequest;
    ++pduTooLong[14];

    struct Case {
        const char* what;
        Bytes datagram;
        Error error;
    } cases[] = {
        {"indefinite outer length", indefinite, Error::BadLength},
        {"outer length past the datagram", outerTooLong, Error::Truncated},
        {"PDU length past the message", pduTooLong, Error::Truncated},
        {"octets after the message", Cat({kGetRequest, {0x00}}), Error::TrailingData},
        {"not a SEQUENCE at all", Tlv(0x31, Cat({Int("00"), Str("commro")})), Error::UnexpectedTag},
        {"SNMPv2c version", Msg(PduTlv(0xa0, list), Int("01")), Error::UnsupportedVersion},
        {"overlong version", Msg(PduTlv(0xa0, list), Int("0100000000")), Error::BadInteger},
        {"community not an OCTET STRING",
         Seq({Int("00"), Tlv(0x06, FromHex("2b06")), PduTlv(0xa0, list)}), Error::UnexpectedTag},
        {"Trap PDU", Msg(PduTlv(0xa4, list)), Error::UnsupportedPdu},
        {"GetBulk PDU", Msg(PduTlv(0xa5, list)), Error::UnsupportedPdu},
        {"a SEQUENCE where the PDU belongs", Msg(PduTlv(0x30, list)), Error::UnexpectedTag},
        {"PDU missing", Seq({Int("00"), Str("commro")}), Error::Truncated},
        {"octets after the PDU", Seq({Int("00"), Str("commro"), PduTlv(0xa0, list), kNull}),
         Error::TrailingData},
        {"request id of five significant octets", Msg(PduTlv(0xa0, list, Int("012420ac52"))),
         Error::BadInteger},
        {"empty request id", Msg(PduTlv(0xa0, list, Int(""))), Error::BadInteger},
        {"request id an OCTET STRING", Msg(PduTlv(0xa0, list, Str("1"))), Error::UnexpectedTag},
        {"error fields missing", Msg(Tlv(0xa0, Cat({Int("01"), list}))), Error::UnexpectedTag},
        {"binding list a SET", Msg(PduTlv(0xa0, Tlv(0x31, kBinding))), Error::UnexpectedTag},
        {"octets after the binding list",
         Msg(Tlv(0xa0, Cat({Int("01"), Int("00"), Int("00"), list, kNull}))), Error::TrailingData},
        {"binding not a SEQUENCE", Msg(PduTlv(0xa0, Seq({kIfPhysAddress1}))), Error::UnexpectedTag},
        {"name not an OID", Msg(PduTlv(0xa0, Seq({Seq({Str("1.3.6"), kNull})}))),
         Error::UnexpectedTag},
        {"name with a padded arc",
         Msg(PduTlv(0xa0, Seq({Seq({Tlv(0x06, FromHex("2b0680 01")), kNull})}))), Error::BadOid},
        {"name with an arc over 32 bits",
         Msg(PduTlv(0xa0, Seq({Seq({Tlv(0x06, FromHex("2b06 9080808000")), kNull})}))),
         Error::BadOid},
        {"binding without a value", Msg(PduTlv(0xa0, Seq({Seq({kIfPhysAddress1})}))),
         Error::Truncated},
        {"binding with two values", Msg(PduTlv(0xa0, Seq({Seq({kIfPhysAddress1, kNull, kNull})}))),
         Error::TrailingData},
    };
    for (const Case& c : cases) {
        Result<Message> decoded = Decode(c.datagram);
        ASSERT_FALSE(decoded.ok()) << c.what;
        EXPECT_EQ(decoded.error(), c.error)
            << c.what << ": got \"" << ErrorText(decoded.error()) << "\"";
    }
}

// A value that is a whole element but cannot be read costs only its own binding: it decodes as
// unusable with its tag and octets, the other bindings as they are, and it encodes back to the
// same octets.
TEST(DecodeUnusableValue, LeavesTheRestOfTheMessage) {
    const struct {
        const char* what;
        Bytes value;
    } cases[] = {
        {"IpAddress of three octets", Tlv(0x40, FromHex("7f0000"))},
        {"IpAddress of five octets", Tlv(0x40, FromHex("ffffff0000"))},
        {"NULL with contents", Tlv(0x05, FromHex("00"))},
        {"endOfMibView with contents", Tlv(0x82, FromHex("00"))},
        {"Gauge over 32 bits", Tlv(0x42, FromHex("0100000000"))},
        {"empty INTEGER", Tlv(0x02, {})},
        {"OID value with an unfinished arc", Tlv(0x06, FromHex("2b0681"))},
        {"unknown value type (Counter64)", Tlv(0x46, FromHex("01"))},
        {"constructed OCTET STRING", Tlv(0x24, Str("ab"))},
    };
    const Bytes mask = Tlv(0x40, FromHex("ffffff00"));
    for (const auto& c : cases) {
        const Bytes datagram =
            Msg(PduTlv(0xa2, Seq({Seq({kIfPhysAddress1, c.value}), Seq({kIfPhysAddress1, mask})})));
        Result<Message> decoded = Decode(datagram);
        ASSERT_TRUE(decoded.ok()) << c.what << ": " << ErrorText(decoded.error());
        ASSERT_EQ(decoded->pdu.varbinds.size(), 2u) << c.what;
        const Value& odd = decoded->pdu.varbinds[0].value;
        EXPECT_EQ(odd.type(), Type::Unusable) << c.what;
        EXPECT_EQ(odd.Tag(), c.value[0]) << c.what;
        EXPECT_EQ(*odd.UnusableContents(), Bytes(c.value.begin() + 2, c.value.end())) << c.what;
        EXPECT_EQ(odd.AsBytes(), nullptr) << c.what;
        EXPECT_FALSE(odd.AsIpAddress().has_value()) << c.what;
        EXPECT_EQ(decoded->pdu.varbinds[1].value, Value::IpAddress({255, 255, 255, 0})) << c.what;
        EXPECT_EQ(ToHex(Encoded(*decoded)), ToHex(datagram)) << c.what;
    }
}

TEST(DecodeMalformed, RefusesDatagramsLargerThanUdpCarries) {
    Bytes huge = Msg(PduTlv(0xa0, Seq({kBinding})));
    huge.resize(kMaxMessageSize + 1);
    EXPECT_EQ(Decode(huge).error(), Error::TooLarge);
}

TEST(DecodeLenient, AcceptsLongLengthFormsAndRedundantSignOctets) {
    // Every length of net-snmp's request rewritten in the 0x82 form, request id padded.
    auto tlv82 = [](std::uint8_t tag, const Bytes& contents) {
        return Cat({{tag, 0x82, static_cast<std::uint8_t>(contents.size() >> 8),
                     static_cast<std::uint8_t>(contents.size())},
                    contents});
    };
    const Bytes binding =
        tlv82(0x30, Cat({tlv82(0x06, FromHex("2b060102010202010601")), tlv82(0x05, {})}));
    const Bytes pdu =
        tlv82(0xa0, Cat({tlv82(0x02, FromHex("00002420ac52")), tlv82(0x02, FromHex("00")),
                         tlv82(0x02, FromHex("00")), tlv82(0x30, binding)}));
    const Bytes request =
        tlv82(0x30, Cat({tlv82(0x02, FromHex("00")), tlv82(0x04, FromHex("636f6d6d726f")), pdu}));
    Result<Message> decoded = Decode(request);
    ASSERT_TRUE(decoded.ok()) << ErrorText(decoded.error());
    EXPECT_EQ(*decoded, *Decode(kGetRequest));
}

TEST(DecodeLenient, ReadsCounterWithoutLeadingZeroAsUnsigned) {
    // Some agents write 4294967295 as ff ff ff ff; it is meant as the unsigned value.
    Result<Message> decoded =
        Decode(Msg(PduTlv(0xa2, Seq({Seq({kIfPhysAddress1, Tlv(0x41, FromHex("ffffffff"))})}))));
    ASSERT_TRUE(decoded.ok()) << ErrorText(decoded.error());
    EXPECT_EQ(decoded->pdu.varbinds[0].value, Value::Counter(4294967295u));
}

TEST(ValueAccessors, AnswerOnlyForTheirOwnType) {
    EXPECT_EQ(Value::Integer(-5).AsInteger(), -5);
    EXPECT_FALSE(Value::Counter(5).AsInteger().has_value());
    EXPECT_EQ(Value::TimeTicks(5).AsUnsigned(), 5u);
    EXPECT_FALSE(Value::Integer(5).AsUnsigned().has_value());
    EXPECT_EQ(Value::OctetString("Lab").AsText(), "Lab");
    EXPECT_FALSE(Value::Opaque({0x41}).AsText().has_value());
    EXPECT_EQ(Value::IpAddress({10, 0, 0, 1}).AsIpAddress(),
              (std::array<std::uint8_t, 4>{10, 0, 0, 1}));
    EXPECT_EQ(Value::ObjectId(Oid{1, 3}).AsOid()->ToString(), ".1.3");
    EXPECT_EQ(Value::Null().AsOid(), nullptr);
    EXPECT_EQ(Value::Exception(Type::Counter), Value::Null());  // not an exception type
}

TEST(ValueToString, ShowsTextOrHex) {
    EXPECT_EQ(Value::OctetString("Lab Printer 1").ToString(), "OctetString: \"Lab Printer 1\"");
    EXPECT_EQ(Value::OctetString(FromHex("021a2b3c4d5e")).ToString(),
              "OctetString: 02 1a 2b 3c 4d 5e");
    EXPECT_EQ(Value::IpAddress({255, 255, 255, 0}).ToString(), "IpAddress: 255.255.255.0");
    EXPECT_EQ(Value::Counter(4294967295u).ToString(), "Counter: 4294967295");
    EXPECT_EQ(Value::Unusable(0x40, FromHex("7f0000")).ToString(), "unusable 0x40: 7f 00 00");
}
