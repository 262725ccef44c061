// snmp::ber: length forms, integer widths and OID sub-identifiers, in both directions.
#include <gtest/gtest.h>

#include "snmp/ber.h"
#include "tests/snmp/hex.h"

using snmp::Error;
using snmp::Oid;
using snmptest::FromHex;
using snmptest::ToHex;
namespace ber = snmp::ber;

namespace {

std::string LengthHex(std::size_t length) {
    ber::Bytes out;
    ber::AppendLength(out, length);
    return ToHex(out);
}

std::string IntegerHex(std::int64_t value, std::uint8_t tag = ber::kInteger) {
    ber::Bytes out;
    ber::AppendInteger(out, tag, value);
    return ToHex(out);
}

std::string OidHex(const Oid& oid) {
    ber::Bytes out;
    EXPECT_TRUE(ber::AppendOid(out, oid));
    return ToHex(out);
}

// The first element of hex. Its contents point into a buffer that lives until the next call.
snmp::Result<ber::Element> ReadOne(std::string_view hex) {
    static ber::Bytes storage;
    storage = FromHex(hex);
    ber::Reader reader(storage);
    return reader.Read();
}

}  // namespace

TEST(BerLength, EncoderWritesTheShortestForm) {
    EXPECT_EQ(LengthHex(0), "00");
    EXPECT_EQ(LengthHex(127), "7f");
    EXPECT_EQ(LengthHex(128), "8180");
    EXPECT_EQ(LengthHex(255), "81ff");
    EXPECT_EQ(LengthHex(256), "820100");
    EXPECT_EQ(LengthHex(65535), "82ffff");
    EXPECT_EQ(LengthHex(65536), "83010000");
}

TEST(BerLength, DecoderAcceptsEveryDefiniteForm) {
    // The same three-octet string with the length written in each form.
    for (const char* hex : {"0403616263", "048103616263", "04820003616263", "0483000003616263",
                            "048400000003616263"}) {
        auto element = ReadOne(hex);
        ASSERT_TRUE(element.ok()) << hex;
        EXPECT_EQ(element->tag, 0x04);
        EXPECT_EQ(std::string(element->contents.begin(), element->contents.end()), "abc");
    }
}

TEST(BerLength, DecoderRejectsIndefiniteAndOversizedForms) {
    EXPECT_EQ(ReadOne("3080020100 0000").error(), Error::BadLength);  // indefinite
    EXPECT_EQ(ReadOne("04850000000003616263").error(), Error::BadLength);
    EXPECT_EQ(ReadOne("04ff").error(), Error::BadLength);
}

TEST(BerLength, DecoderRejectsLengthsPastTheEnd) {
    EXPECT_EQ(ReadOne("04046162").error(), Error::Truncated);
    EXPECT_EQ(ReadOne("0404616263").error(), Error::Truncated);
    EXPECT_EQ(ReadOne("0482ff").error(), Error::Truncated);          // length octets cut off
    EXPECT_EQ(ReadOne("0484ffffffff61").error(), Error::Truncated);  // no wrap-around
    EXPECT_EQ(ReadOne("04").error(), Error::Truncated);
    EXPECT_EQ(ReadOne("").error(), Error::Truncated);
}

TEST(BerLength, ElementLengthStopsAtItsParent) {
    // A SEQUENCE of 3 octets whose inner string claims 5: the inner read sees only the 3.
    auto outer = ReadOne("3003040561626364650000");
    ASSERT_TRUE(outer.ok());
    ber::Reader inner(outer->contents);
    EXPECT_EQ(inner.Read().error(), Error::Truncated);
}

TEST(BerTag, MultiOctetTagNumbersAreRejected) {
    EXPECT_EQ(ReadOne("1f8101 00").error(), Error::UnexpectedTag);
    EXPECT_EQ(ReadOne("bf0100").error(), Error::UnexpectedTag);
}

TEST(BerInteger, EncodesShortestTwosComplement) {
    EXPECT_EQ(IntegerHex(0), "020100");
    EXPECT_EQ(IntegerHex(127), "02017f");
    EXPECT_EQ(IntegerHex(128), "02020080");
    EXPECT_EQ(IntegerHex(-1), "0201ff");
    EXPECT_EQ(IntegerHex(-128), "020180");
    EXPECT_EQ(IntegerHex(-129), "0202ff7f");
    EXPECT_EQ(IntegerHex(INT32_MIN), "020480000000");
    EXPECT_EQ(IntegerHex(INT32_MAX), "02047fffffff");
    // Unsigned 32-bit types need a leading zero once the top bit is set: five octets.
    EXPECT_EQ(IntegerHex(UINT32_MAX, 0x41), "410500ffffffff");
    EXPECT_EQ(IntegerHex(0x80000000u, 0x43), "43050080000000");
}

TEST(BerInteger, DecodesSignedValuesAndRedundantSignOctets) {
    struct Case {
        const char* contents;
        std::int32_t value;
    } cases[] = {{"00", 0},
                 {"7f", 127},
                 {"0080", 128},
                 {"ff", -1},
                 {"80", -128},
                 {"ff7f", -129},
                 {"80000000", INT32_MIN},
                 {"7fffffff", INT32_MAX},
                 {"000000000005", 5},
                 {"ffffffff80000000", INT32_MIN}};
    for (const auto& c : cases) {
        auto value = ber::DecodeInteger(FromHex(c.contents));
        ASSERT_TRUE(value.ok()) << c.contents;
        EXPECT_EQ(*value, c.value) << c.contents;
    }
}

TEST(BerInteger, RejectsEmptyAndOutOfRangeValues) {
    for (const char* contents : {"", "0080000000", "ff7fffffff", "0100000000", "800000000000"}) {
        auto value = ber::DecodeInteger(FromHex(contents));
        ASSERT_FALSE(value.ok()) << contents;
        EXPECT_EQ(value.error(), Error::BadInteger);
    }
}

TEST(BerUnsigned, DecodesFullRangeWithOrWithoutLeadingZero) {
    EXPECT_EQ(*ber::DecodeUnsigned(FromHex("00ffffffff")), UINT32_MAX);
    EXPECT_EQ(*ber::DecodeUnsigned(FromHex("ffffffff")), UINT32_MAX);  // lenient: no sign
    EXPECT_EQ(*ber::DecodeUnsigned(FromHex("80")), 128u);
    EXPECT_EQ(*ber::DecodeUnsigned(FromHex("0000000007")), 7u);
    EXPECT_EQ(ber::DecodeUnsigned(FromHex("0100000000")).error(), Error::BadInteger);
    EXPECT_EQ(ber::DecodeUnsigned(FromHex("")).error(), Error::BadInteger);
}

TEST(BerOid, PacksTheFirstTwoArcs) {
    EXPECT_EQ(OidHex({1, 3, 6, 1, 2, 1, 43}), "06062b060102012b");
    EXPECT_EQ(OidHex({0, 0}), "060100");
    EXPECT_EQ(OidHex({1, 39}), "06014f");
    EXPECT_EQ(OidHex({2, 39}), "060177");
    EXPECT_EQ(OidHex({2, 999}), "06028837");                // second arc past 39
    EXPECT_EQ(OidHex({2, 4294967295u}), "0605908080804f");  // 2^32 + 79 needs 33 bits
}

TEST(BerOid, WritesSubidentifiersInBase128) {
    EXPECT_EQ(OidHex({1, 3, 127, 128, 16383, 16384}), "06092b7f8100ff7f818000");
    EXPECT_EQ(OidHex({1, 3, 4294967295u}), "06062b8fffffff7f");
}

TEST(BerOid, RefusesOidsBerCannotCarry) {
    ber::Bytes out;
    EXPECT_FALSE(ber::AppendOid(out, Oid{1}));
    EXPECT_FALSE(ber::AppendOid(out, Oid{3, 1}));
    EXPECT_FALSE(ber::AppendOid(out, Oid{1, 40}));
    EXPECT_TRUE(out.empty());
}

TEST(BerOid, DecodesWhatItEncodes) {
    for (const Oid& oid : {Oid{0, 0}, Oid{1, 39}, Oid{2, 40}, Oid{2, 4294967295u, 0},
                           Oid{1, 3, 6, 1, 4, 1, 4294967295u, 128, 0}}) {
        ber::Bytes out;
        ASSERT_TRUE(ber::AppendOid(out, oid));
        auto decoded = ber::DecodeOid(std::span(out).subspan(2));
        ASSERT_TRUE(decoded.ok()) << oid.ToString();
        EXPECT_EQ(*decoded, oid);
    }
}

TEST(BerOid, RejectsMalformedContents) {
    for (const char* contents : {
             "",                          // empty
             "2b06 81",                   // last sub-identifier unfinished
             "2b 8001",                   // padded sub-identifier
             "2b 908080808001",           // arc of 2^35 + 1
             "2b 8fffffff8000",           // arc that only passes 32 bits in its last group
             "9080808050",                // first sub-identifier 2^32 + 80: second arc over 32 bits
             "ffffffffffffffffffffff7f",  // far too long for any arc
         }) {
        auto oid = ber::DecodeOid(FromHex(contents));
        ASSERT_FALSE(oid.ok()) << contents;
        EXPECT_EQ(oid.error(), Error::BadOid) << contents;
    }
}

TEST(BerOid, HoldsTheArcLimit) {
    ber::Bytes contents = {0x2b};  // 1.3
    contents.insert(contents.end(), Oid::kMaxArcs - 2, 0x01);
    EXPECT_EQ(ber::DecodeOid(contents)->size(), Oid::kMaxArcs);
    contents.push_back(0x01);
    EXPECT_EQ(ber::DecodeOid(contents).error(), Error::BadOid);
}
