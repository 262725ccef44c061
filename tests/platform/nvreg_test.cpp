// nvreg, run as a user runs it: against a store of its own, with standard input that is not a
// terminal.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "platform/win32.h"
#include "tests/support/run_tool.h"
#include "tests/support/test_env.h"

namespace {

using Result = nvtest::ToolResult;

// Runs the built tool with the test's environment (NORVA_REGISTRY included); standard input
// is /dev/null.
Result Nvreg(const std::vector<std::string>& args) {
    return nvtest::RunTool("nvreg", args);
}

constexpr char kDone[] = "The operation completed successfully.\n";

class NvregTest : public ::testing::Test {
  protected:
    nvtest::ScopedRegistry store_;
};

TEST_F(NvregTest, AddQueryAndDeleteRoundTrip) {
    const std::string key = "HKLM\\SYSTEM\\Norva\\Ports\\IP_10.0.0.5";
    Result r = Nvreg({"add", key, "/v", "HostName", "/d", "10.0.0.5"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(kDone, r.out);
    r = Nvreg({"add", key, "-v", "PortNumber", "-t", "REG_DWORD", "-d", "9100"});
    EXPECT_EQ(0, r.exitCode) << r.err;

    // The libraries read what the tool wrote: one store for every process.
    HKEY port = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Norva\\Ports\\IP_10.0.0.5",
                                           0, KEY_READ, &port));
    DWORD number = 0;
    DWORD size = sizeof number;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(port, u"PortNumber", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(&number), &size));
    EXPECT_EQ(9100u, number);
    RegCloseKey(port);

    r = Nvreg({"query", "HKEY_LOCAL_MACHINE\\SYSTEM\\Norva\\Ports\\IP_10.0.0.5", "/v", "hostname"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(
        "\nHKEY_LOCAL_MACHINE\\SYSTEM\\Norva\\Ports\\IP_10.0.0.5\n"
        "    HostName    REG_SZ    10.0.0.5\n\n",
        r.out);

    r = Nvreg({"delete", key, "/v", "HostName", "/f"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    r = Nvreg({"query", key, "/v", "HostName"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(
        std::string::npos,
        r.err.find("ERROR: The system was unable to find the specified registry key or value."))
        << r.err;

    r = Nvreg({"delete", "HKLM\\SYSTEM\\Norva", "/f"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(kDone, r.out);
    r = Nvreg({"query", "HKLM\\SYSTEM\\Norva"});
    EXPECT_EQ(1, r.exitCode);
}

TEST_F(NvregTest, QueryShowsValuesAndSubkeysAsRegExeDoes) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const DWORD number = 42;
    const BYTE blob[] = {0x01, 0xAB};
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"root"), 10));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Text", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(u"hello world"), 24));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Number", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"List", 0, REG_MULTI_SZ,
                                            reinterpret_cast<const BYTE*>(u"a\0b\0"), 10));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob, sizeof blob));
    HKEY sub = nullptr;
    for (const WCHAR* name : {u"beta", u"Alpha"}) {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &sub, nullptr));
    }
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(sub, u"Inner", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), 4));
    RegCloseKey(sub);
    RegCloseKey(key);

    const std::string values =
        "    (Default)    REG_SZ    root\n"
        "    Text    REG_SZ    hello world\n"
        "    Number    REG_DWORD    0x2a\n"
        "    List    REG_MULTI_SZ    a\\0b\n"
        "    Blob    REG_BINARY    01AB\n";
    Result r = Nvreg({"query", "HKLM\\Norva"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Norva\n" + values +
                  "\nHKEY_LOCAL_MACHINE\\Norva\\Alpha\nHKEY_LOCAL_MACHINE\\Norva\\beta\n",
              r.out);

    r = Nvreg({"query", "HKLM\\Norva", "/s"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Norva\n" + values +
                  "\nHKEY_LOCAL_MACHINE\\Norva\\Alpha\n"
                  "    Inner    REG_DWORD    0x2a\n\n"
                  "HKEY_LOCAL_MACHINE\\Norva\\beta\n",
              r.out);
}

TEST_F(NvregTest, RefusesToOverwriteOrDeleteWithoutForceWhenNobodyCanBeAsked) {
    const std::string key = "HKCU\\Norva";
    ASSERT_EQ(0, Nvreg({"add", key, "/v", "Name", "/d", "first"}).exitCode);

    Result r = Nvreg({"add", key, "/v", "Name", "/d", "second"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("/f")) << r.err;
    r = Nvreg({"delete", key, "/v", "Name"});
    EXPECT_EQ(1, r.exitCode);
    r = Nvreg({"delete", key});
    EXPECT_EQ(1, r.exitCode);

    r = Nvreg({"query", key, "/v", "Name"});
    EXPECT_NE(std::string::npos, r.out.find("REG_SZ    first")) << r.out;

    EXPECT_EQ(0, Nvreg({"add", key, "/v", "Name", "/d", "second", "/f"}).exitCode);
    r = Nvreg({"query", key, "/v", "Name"});
    EXPECT_NE(std::string::npos, r.out.find("REG_SZ    second")) << r.out;
}

TEST_F(NvregTest, DamagedStoreGivesOneClearLine) {
    {
        std::ofstream garbage(store_.path(), std::ios::binary);
        garbage << std::string(4096, '\x5A');
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"query", "HKLM\\Norva"},
          std::vector<std::string>{"add", "HKLM\\Norva", "/v", "x", "/d", "y", "/f"}}) {
        Result r = Nvreg(args);
        EXPECT_EQ(1, r.exitCode) << "no crash, no success";
        EXPECT_EQ(
            "ERROR: The configuration registry database is corrupt. (error 1009; "
            "registry store " +
                store_.path() + ")\n",
            r.err);
    }
}

// A damaged store whose keys.parent makes a cycle: a root listed below itself, or below a key of
// its own subtree. Walking it must end with ERROR_BADDB, not run round the cycle.
TEST_F(NvregTest, AKeyCycleInADamagedStoreIsBadDb) {
    ASSERT_EQ(0, Nvreg({"add", "HKLM\\Norva\\Inner", "/v", "x", "/d", "y", "/f"}).exitCode);
    for (const char* damage :
         {"UPDATE keys SET parent = id WHERE id = 3",
          "UPDATE keys SET parent = (SELECT max(id) FROM keys) WHERE id = 3"}) {
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open(store_.path().c_str(), &db));
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "UPDATE keys SET parent = 0 WHERE id = 3", nullptr,
                                          nullptr, nullptr));
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, damage, nullptr, nullptr, nullptr));
        sqlite3_close(db);
        Result r = Nvreg({"query", "HKLM", "/s"});
        EXPECT_EQ(1, r.exitCode) << damage;
        EXPECT_NE(std::string::npos, r.err.find("(error 1009;")) << damage << ": " << r.err;
    }
}

// A store written before keys were held to 512 levels may hold deeper ones: such a tree is
// deleted whole, and query and export stop at the limit with an error instead of running out
// of stack.
TEST_F(NvregTest, KeysBeyondTheDepthLimitAreDeletedAndStopTheWalks) {
    ASSERT_EQ(0, Nvreg({"add", "HKLM\\Norva", "/f"}).exitCode);
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(store_.path().c_str(), &db));
    ASSERT_EQ(
        SQLITE_OK,
        sqlite3_exec(db,
                     "WITH RECURSIVE chain(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM chain "
                     "WHERE n < 15000) INSERT INTO keys(id, parent, name, fold, class, written) "
                     "SELECT 100000 + n, CASE n WHEN 1 THEN (SELECT id FROM keys WHERE parent "
                     "= 3) ELSE 99999 + n END, x'4B00', x'004B', x'', 0 FROM chain",
                     nullptr, nullptr, nullptr));
    sqlite3_close(db);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"query", "HKLM\\Norva", "/s"},
          std::vector<std::string>{"query", "HKLM\\Norva", "/v", "x", "/s"},
          std::vector<std::string>{"export", "HKLM\\Norva", store_.path() + ".reg"}}) {
        Result r = Nvreg(args);
        EXPECT_EQ(1, r.exitCode) << args[0];
        EXPECT_NE(std::string::npos, r.err.find("512 levels")) << r.err;
    }
    Result r = Nvreg({"delete", "HKLM\\Norva", "/f"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, &key));
}

TEST_F(NvregTest, RejectsBadSyntaxAndShowsHelp) {
    Result r = Nvreg({"--help"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(0u, r.out.find("Usage: nvreg query KEY"));
    r = Nvreg({"add", "HKLM\\Norva", "/v", "n", "/t", "REG_DWORD", "/d", "nine"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("Invalid syntax")) << r.err;
    r = Nvreg({"query", "HKXX\\Norva"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("Invalid key name")) << r.err;
    // Nothing was written by the refused add.
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, &key));
}

}  // namespace
