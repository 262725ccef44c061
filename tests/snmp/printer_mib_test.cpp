// hrPrinterDetectedErrorState: the bits of each condition as printers (and net-snmp's
// override lines) send them, and the answer to one status Get as a manager reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snmp/printer_status.h"

using namespace snmp;

namespace {

// The names as text (the table's pointers are not the test's literals).
std::vector<std::string> Names(PrinterConditions conditions) {
    std::vector<const char*> names = ConditionNames(conditions);
    return std::vector<std::string>(names.begin(), names.end());
}

struct Bits {
    const char* name;
    std::vector<std::uint8_t> octets;
};

// The first bit of the first octet is 0x80 (RFC 3805 BITS).
const Bits kBits[] = {
    {"lowPaper", {0x80}},
    {"noPaper", {0x40}},
    {"lowToner", {0x20}},
    {"noToner", {0x10}},
    {"doorOpen", {0x08}},
    {"jammed", {0x04}},
    {"offline", {0x02}},
    {"serviceRequested", {0x01}},
    {"inputTrayMissing", {0x00, 0x80}},
    {"outputTrayMissing", {0x00, 0x40}},
    {"markerSupplyMissing", {0x00, 0x20}},
    {"outputNearFull", {0x00, 0x10}},
    {"outputFull", {0x00, 0x08}},
    {"inputTrayEmpty", {0x00, 0x04}},
    {"overduePreventMaint", {0x00, 0x02}},
};

}  // namespace

TEST(PrinterErrorState, EachConditionHasItsBitBothWays) {
    ASSERT_EQ(std::size(kBits), kPrinterConditionCount);
    for (const Bits& b : kBits) {
        std::optional<PrinterCondition> condition = ConditionFromName(b.name);
        ASSERT_TRUE(condition.has_value()) << b.name;
        EXPECT_EQ(DecodeErrorState(b.octets), ConditionBit(*condition)) << b.name;
        EXPECT_EQ(EncodeErrorState(ConditionBit(*condition)), b.octets) << b.name;
        EXPECT_EQ(Names(ConditionBit(*condition)), std::vector<std::string>{b.name});
    }
}

TEST(PrinterErrorState, UnknownBitsAndOctetsAreIgnored) {
    EXPECT_EQ(DecodeErrorState({}), 0u);
    EXPECT_EQ(EncodeErrorState(0), std::vector<std::uint8_t>{0x00});
    // The unassigned last bit of the second octet, and a third octet.
    const std::vector<std::uint8_t> extra = {0x48, 0x01, 0xff};
    EXPECT_EQ(Names(DecodeErrorState(extra)), (std::vector<std::string>{"noPaper", "doorOpen"}));
    EXPECT_FALSE(ConditionFromName("NoPaper").has_value());
}

TEST(PrinterStatusAnswer, ValuesAreTakenOnlyUnderTheirOwnNames) {
    const std::vector<Oid> names = PrinterStatusNames(3);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], *Oid::Parse("25.3.2.1.5.3"));
    EXPECT_EQ(names[2], *Oid::Parse("25.3.5.1.2.3"));
    std::vector<VarBind> answer = {{names[0], Value::Integer(5)},
                                   {names[1], Value::Integer(1)},
                                   {names[2], Value::OctetString(std::vector<std::uint8_t>{0x04})}};
    PrinterStatus status = ReadPrinterStatus(3, answer, kNoError);
    EXPECT_TRUE(status.answered);
    EXPECT_EQ(status.deviceStatus, printer_mib::kDeviceDown);
    EXPECT_EQ(status.printerStatus, printer_mib::kPrinterOther);
    EXPECT_TRUE(status.Has(PrinterCondition::Jammed));

    answer[1].name = names[0];            // another object's name
    answer[2].value = Value::Integer(4);  // BITS come as an OCTET STRING
    status = ReadPrinterStatus(3, answer, kNoError);
    EXPECT_FALSE(status.printerStatus.has_value());
    EXPECT_FALSE(status.conditions.has_value());

    status = ReadPrinterStatus(3, answer, kNoSuchName);
    EXPECT_TRUE(status.answered);
    EXPECT_FALSE(status.deviceStatus.has_value());
}
