// The application object and the routines every part of the monitor uses.
#include <gtest/gtest.h>

#include <filesystem>

#include "monitor/app.h"
#include "monitor/util.h"
#include "tests/support/test_env.h"
#include "tools/spoolhost/spooler_host.h"

namespace nvtest {
namespace {

TEST(Classifiers, RecogniseLocalPortNames) {
    EXPECT_TRUE(IsComPort(u"COM1:"));
    EXPECT_TRUE(IsComPort(u"com12:"));
    EXPECT_FALSE(IsComPort(u"COM1"));
    EXPECT_FALSE(IsComPort(u"CO:"));
    EXPECT_TRUE(IsLptPort(u"lpt2:"));
    EXPECT_FALSE(IsLptPort(u"LPX1:"));
    EXPECT_TRUE(IsFilePort(u"file:"));
    EXPECT_FALSE(IsFilePort(u"FILE:X"));
    EXPECT_FALSE(IsComPort(nullptr));
}

TEST(Memory, AllocMemZeroFillsAndDupStringCopiesTheTerminator) {
    auto* block = static_cast<BYTE*>(AllocMem(64));
    ASSERT_NE(nullptr, block);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(0, block[i]);
    }
    FreeMem(block);
    FreeMem(nullptr);
    LPWSTR copy = DupString(u"NORVA");
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(u"NORVA", std::u16string(copy));
    FreeMem(copy);
    EXPECT_EQ(nullptr, DupString(nullptr));
}

TEST(Lock, CheckLockedTracesOnlyOutsideTheLock) {
    CQornApp* app = GetApp(nullptr);
    TraceCapture trace;
    app->CheckLocked();
    EXPECT_TRUE(trace.contains("Not in spooler semaphore\n"));
    trace.clear();
    app->Lock();
    app->Lock();  // the lock is recursive
    app->Unlock();
    app->Unlock();
    EXPECT_FALSE(trace.contains("Not in spooler semaphore"));
}

// --- SpoolerPortExists ---

TEST(SpoolerPortExists, WithoutASpoolerItReportsTheLoadErrorAndFalse) {
    DWORD error = 0xdeadbeef;
    EXPECT_FALSE(GetApp(nullptr)->SpoolerPortExists(nullptr, u"LPT1:", &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), error);
}

TEST(SpoolerPortExists, MissingEnumPortsEntryIsALoadErrorAndRetriedLater) {
    nvspool::SpoolerHost host;
    NvFaultSet("GetProcAddress", ERROR_PROC_NOT_FOUND, 1);
    DWORD error = 0;
    EXPECT_FALSE(GetApp(nullptr)->SpoolerPortExists(nullptr, u"LPT1:", &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), error);
    EXPECT_TRUE(GetApp(nullptr)->SpoolerPortExists(nullptr, u"LPT1:", &error));
    EXPECT_EQ(0u, error);
    NvFaultClear();
}

TEST(SpoolerPortExists, AnswersForThePortsOfEveryMonitorIgnoringCase) {
    nvspool::SpoolerHost host;
    DWORD error = 0xdeadbeef;
    EXPECT_TRUE(GetApp(nullptr)->SpoolerPortExists(nullptr, u"lpt1:", &error));
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(GetApp(nullptr)->SpoolerPortExists(nullptr, u"FILE:", &error));
    EXPECT_FALSE(GetApp(nullptr)->SpoolerPortExists(nullptr, u"NORVA_1.2.3.4", &error));
    EXPECT_EQ(0u, error);
}

TEST(SpoolerPortExists, AnEnumerationFailingForAnotherReasonCountsAsExisting) {
    nvspool::SpoolerHost host;
    NvFaultSet("EnumPortsW", RPC_S_SERVER_UNAVAILABLE);
    DWORD error = 0xdeadbeef;
    EXPECT_TRUE(GetApp(nullptr)->SpoolerPortExists(nullptr, u"NORVA_1.2.3.4", &error));
    EXPECT_EQ(0u, error);
    NvFaultClear();
}

// --- IsPortValid ---

TEST(IsPortValid, RefusesLocalPortNames) {
    CQornApp* app = GetApp(nullptr);
    EXPECT_FALSE(app->IsPortValid(u"COM1:"));
    EXPECT_FALSE(app->IsPortValid(u"lpt2:"));
    EXPECT_FALSE(app->IsPortValid(u"file:"));
    EXPECT_FALSE(app->IsPortValid(nullptr));
}

TEST(IsPortValid, AcceptsAWritablePathAndLeavesNoFileBehind) {
    TempDir dir;
    std::string path = dir.file("probe.prn");
    EXPECT_TRUE(GetApp(nullptr)->IsPortValid(W(path).c_str()));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(IsPortValid, KeepsAnExistingFile) {
    TempDir dir;
    std::string path = dir.file("existing.prn");
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs("keep", f);
    fclose(f);
    EXPECT_TRUE(GetApp(nullptr)->IsPortValid(W(path).c_str()));
    EXPECT_EQ(4u, std::filesystem::file_size(path));
}

TEST(IsPortValid, APathInAMissingDirectoryFailsWithItsError) {
    TempDir dir;
    SetLastError(0);
    EXPECT_FALSE(GetApp(nullptr)->IsPortValid(W(dir.file("no/such/dir/x.prn")).c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

}  // namespace
}  // namespace nvtest
