// snmp::Oid: text parsing with the MIB-2 relative rule, ordering, prefixes, formatting.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "snmp/oid.h"

using snmp::Oid;

TEST(OidParse, TextWithoutLeadingDotIsRelativeToMib2) {
    EXPECT_EQ(Oid::Parse("2.2.1.6.1"), (Oid{1, 3, 6, 1, 2, 1, 2, 2, 1, 6, 1}));
    EXPECT_EQ(Oid::Parse("43"), (Oid{1, 3, 6, 1, 2, 1, 43}));
    // "1.3.6.1..." without the dot is relative too: the rule is about the dot, not the arcs.
    EXPECT_EQ(Oid::Parse("1.3.6"), (Oid{1, 3, 6, 1, 2, 1, 1, 3, 6}));
}

TEST(OidParse, TextWithLeadingDotIsAbsolute) {
    EXPECT_EQ(Oid::Parse(".1.3.6.1.2.1.43"), (Oid{1, 3, 6, 1, 2, 1, 43}));
    EXPECT_EQ(Oid::Parse(".0.0"), (Oid{0, 0}));
    EXPECT_EQ(Oid::Parse(".2.999.4294967295"), (Oid{2, 999, 4294967295u}));
}

TEST(OidParse, RejectsMalformedText) {
    for (const char* text :
         {"", ".", "..1.3", ".1..3", ".1.3.", "1.3.", ".1.3.x", ".1.-3", ".1.+3", " .1.3", ".1.3 ",
          ".1.4294967296", "4294967296", ".1.3.99999999999999999999"}) {
        EXPECT_FALSE(Oid::Parse(text).has_value()) << "\"" << text << "\"";
    }
}

TEST(OidParse, RejectsOidsThatBerCannotCarry) {
    EXPECT_FALSE(Oid::Parse(".1").has_value());     // one arc
    EXPECT_FALSE(Oid::Parse(".3.1").has_value());   // first arc above 2
    EXPECT_FALSE(Oid::Parse(".1.40").has_value());  // second arc of 0.x/1.x above 39
    EXPECT_TRUE(Oid::Parse(".1.39").has_value());
}

TEST(OidParse, HoldsTheArcLimit) {
    std::string text = ".1.3";
    for (std::size_t i = 2; i < Oid::kMaxArcs; ++i) {
        text += ".7";
    }
    ASSERT_TRUE(Oid::Parse(text).has_value());
    EXPECT_EQ(Oid::Parse(text)->size(), Oid::kMaxArcs);
    EXPECT_FALSE(Oid::Parse(text + ".7").has_value());
    // Relative text counts the six MIB-2 arcs too.
    std::string relative = "1";
    for (std::size_t i = 1; i < Oid::kMaxArcs - 6; ++i) {
        relative += ".1";
    }
    EXPECT_TRUE(Oid::Parse(relative).has_value());
    EXPECT_FALSE(Oid::Parse(relative + ".1").has_value());
}

TEST(OidFormat, IsAbsoluteDottedTextThatParsesBack) {
    Oid oid{1, 3, 6, 1, 2, 1, 2, 2, 1, 6, 1};
    EXPECT_EQ(oid.ToString(), ".1.3.6.1.2.1.2.2.1.6.1");
    EXPECT_EQ(Oid::Parse(oid.ToString()), oid);
    EXPECT_EQ((Oid{2, 4294967295u}).ToString(), ".2.4294967295");
    EXPECT_EQ(Oid().ToString(), "");
}

TEST(OidOrder, ComparesArcsAsUnsignedNumbers) {
    // 4294967295 would sort first if arcs were compared as signed 32-bit numbers.
    EXPECT_LT((Oid{1, 3, 0}), (Oid{1, 3, 4294967295u}));
    EXPECT_LT((Oid{1, 3, 2}), (Oid{1, 3, 10}));  // numbers, not text
    EXPECT_LT((Oid{1, 3, 6}), (Oid{1, 4}));
}

TEST(OidOrder, PrefixSortsBeforeItsExtensions) {
    Oid printer{1, 3, 6, 1, 2, 1, 43};
    EXPECT_LT(printer, printer.Child(0));
    EXPECT_GT(printer.Child(0), printer);
    EXPECT_EQ(printer, (Oid{1, 3, 6, 1, 2, 1, 43}));

    std::vector<Oid> walk = {Oid{1, 3, 6, 1, 2, 1, 43, 5}, Oid{1, 3, 6, 1, 2, 1, 2},
                             Oid{1, 3, 6, 1, 2, 1, 43}, Oid{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 1, 1},
                             Oid{1, 3, 6, 1, 2, 1, 4, 20, 1, 3, 127, 0, 0, 1}};
    std::sort(walk.begin(), walk.end());
    EXPECT_EQ(walk[0].ToString(), ".1.3.6.1.2.1.2");
    EXPECT_EQ(walk[1].ToString(), ".1.3.6.1.2.1.4.20.1.3.127.0.0.1");
    EXPECT_EQ(walk[2].ToString(), ".1.3.6.1.2.1.25.3.2.1.1.1");
    EXPECT_EQ(walk[3].ToString(), ".1.3.6.1.2.1.43");
    EXPECT_EQ(walk[4].ToString(), ".1.3.6.1.2.1.43.5");
}

TEST(OidPrefix, StartsWith) {
    Oid printer{1, 3, 6, 1, 2, 1, 43};
    EXPECT_TRUE(printer.Child({5, 1, 1, 1, 1}).StartsWith(printer));
    EXPECT_TRUE(printer.StartsWith(printer));
    EXPECT_TRUE(printer.StartsWith(Oid()));
    EXPECT_FALSE(printer.StartsWith(printer.Child(1)));
    // 1.3.6.1.2.1.430 is not inside 1.3.6.1.2.1.43, whatever the text looks like.
    EXPECT_FALSE((Oid{1, 3, 6, 1, 2, 1, 430}).StartsWith(printer));
}
