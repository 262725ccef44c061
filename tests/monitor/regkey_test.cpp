// CRegKey: the registry key wrapper of the monitor.
#include <gtest/gtest.h>

#include "monitor/regkey.h"
#include "tests/support/test_env.h"

namespace nvtest {
namespace {

class RegKey : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, root_.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Test", nullptr, 0,
                                              KEY_ALL_ACCESS, nullptr, nullptr));
    }
    ScopedRegistry registry_;
    CRegKey root_;
};

TEST_F(RegKey, OpenOfAMissingKeyKeepsTheHeldKey) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root_, u"A", nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(7, u"V"));
    HKEY before = key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(root_, u"Missing", KEY_ALL_ACCESS));
    EXPECT_EQ(before, static_cast<HKEY>(key));
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(value, u"V"));
    EXPECT_EQ(7u, value);
}

TEST_F(RegKey, OpenOverAHeldKeyClosesTheOldOne) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root_, u"A", nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root_, u"B", nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr));
    HKEY old = key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(root_, u"A", KEY_ALL_ACCESS));
    EXPECT_NE(old, static_cast<HKEY>(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(old)) << "the old key was closed";
}

TEST_F(RegKey, CloseOfAnEmptyWrapperSucceeds) {
    CRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
}

TEST_F(RegKey, CreateReportsTheDisposition) {
    CRegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              key.Create(root_, u"New", nullptr, 0, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS,
              key.Create(root_, u"new", nullptr, 0, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
}

TEST_F(RegKey, RecurseDeleteKeyRemovesTwoLevelsOfChildren) {
    CRegKey key;
    for (const char16_t* path : {u"T\\A\\A1", u"T\\A\\A2", u"T\\B", u"T\\B\\B1"}) {
        ASSERT_EQ(ERROR_SUCCESS,
                  key.Create(root_, path, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr));
        key.SetDWORDValue(1, u"x");
    }
    key.Close();
    EXPECT_EQ(ERROR_SUCCESS, root_.RecurseDeleteKey(u"T"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(root_, u"T", KEY_READ));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, root_.RecurseDeleteKey(u"T"));
}

TEST_F(RegKey, EmptyStringIsStoredWithItsTerminator) {
    ASSERT_EQ(ERROR_SUCCESS, root_.SetStringValue(u"", u"Empty"));
    WCHAR buffer[8];
    DWORD size = sizeof buffer;
    ASSERT_EQ(ERROR_SUCCESS, root_.QueryStringValue(buffer, u"Empty", &size));
    EXPECT_EQ(2u, size);
}

TEST_F(RegKey, UnexpectedTypesAreReportedAndDeliveredAnyway) {
    TraceCapture trace;
    ASSERT_EQ(ERROR_SUCCESS, root_.SetStringValue(u"a", u"Text"));  // 4 bytes with terminator
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, root_.QueryDWORDValue(value, u"Text"));
    EXPECT_EQ(0x00000061u, value) << "the bytes of \"a\" and its terminator";
    EXPECT_TRUE(trace.contains("=== Assert Failed: File regkey.cpp, Line "));

    trace.clear();
    ASSERT_EQ(ERROR_SUCCESS, root_.SetDWORDValue(5, u"Number"));
    WCHAR buffer[8] = {};
    DWORD size = sizeof buffer;
    EXPECT_EQ(ERROR_SUCCESS, root_.QueryStringValue(buffer, u"Number", &size));
    EXPECT_EQ(4u, size);
    EXPECT_TRUE(trace.contains("=== Assert Failed: File regkey.cpp"));
}

TEST_F(RegKey, AttachOverAHeldKeyIsReportedFromTheHeader) {
    TraceCapture trace;
    CRegKey key;
    key.Attach(HKEY_LOCAL_MACHINE);
    key.Attach(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(trace.contains("=== Assert Failed: File regkey.h, Line "));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, key.Detach());
}

TEST_F(RegKey, TracesConstructionAndDestruction) {
    TraceCapture trace;
    { CRegKey key; }
    EXPECT_TRUE(trace.contains("CRegKey(0x"));
    EXPECT_TRUE(trace.contains("~CRegKey(0x"));
}

}  // namespace
}  // namespace nvtest
