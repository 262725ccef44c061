// The monitor object's port list as the entries on one port change it.
#include <gtest/gtest.h>

#include <string>

#include "monitor/app.h"
#include "monitor/entries.h"
#include "monitor/pmobj.h"

namespace nvtest {
namespace {

// OpenPort of "FILE:" makes a temporary port for the handle it gives; with nowhere to give the
// handle it fails and keeps nothing, since nothing could ever close that port.
TEST(OpenPortEntry, ATemporaryPortIsKeptOnlyForAHandle) {
    CNetPrintMonitor monitor;
    std::u16string file = u"FILE:";
    auto temporaryPort = [&] {
        CAppLock lock;
        return monitor.FindPort(file.c_str());
    };
    EXPECT_FALSE(MonOpenPort(&monitor, file.data(), nullptr));
    EXPECT_EQ(nullptr, temporaryPort());
    HANDLE port = nullptr;
    ASSERT_TRUE(MonOpenPort(&monitor, file.data(), &port));
    EXPECT_NE(nullptr, temporaryPort());
    EXPECT_TRUE(MonClosePort(port));
    EXPECT_EQ(nullptr, temporaryPort());
}

}  // namespace
}  // namespace nvtest
