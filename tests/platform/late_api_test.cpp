// The fallbacks of the later Windows functions, as the test switch no-late-api makes the
// libraries take them on any machine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/late_api.h"

namespace nvtest {
namespace {

TEST(TickCount64, ExtendsGetTickCountByItsWraps) {
    struct Case {
        ULONGLONG last;
        DWORD now;
        ULONGLONG expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {0, 5000, 5000},
        {5000, 5000, 5000},                                          // read twice in one tick
        {0xFFFFFFF0ull, 0x10, 0x100000010ull},                       // the first wrap
        {0x100000010ull, 0x20, 0x100000020ull},                      // after it, no second one
        {0x7FFFFFFF80000000ull, 0x7FFFFFFF, 0x800000007FFFFFFFull},  // a late wrap
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ExtendTickCount(c.last, c.now)) << std::hex << c.last << " " << c.now;
    }
}

// A reading that another thread has overtaken must not count as a wrap (49.7 days forward).
TEST(TickCount64, FallbackNeverJumpsOrGoesBackAcrossThreads) {
    setenv("NORVA_TEST", "no-late-api", 1);
    const ULONGLONG start = LateGetTickCount64();
    std::vector<std::thread> threads;
    std::vector<int> faults(4, 0);
    for (int& fault : faults) {
        threads.emplace_back([&fault, start] {
            ULONGLONG previous = start;
            for (int i = 0; i < 1000000; ++i) {
                const ULONGLONG now = LateGetTickCount64();
                fault += now < previous || now - start > 60000;
                previous = now;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int fault : faults) {
        EXPECT_EQ(0, fault);
    }
    EXPECT_EQ(static_cast<DWORD>(LateGetTickCount64()), GetTickCount() & 0xFFFFFFFFu)
        << "the fallback counts GetTickCount's milliseconds";
}

TEST(LateApi, SwitchTakesTheLaterFunctionsAway) {
    setenv("NORVA_TEST", "no-late-api", 1);
    SetLastError(0);
    EXPECT_FALSE(LateCancelIoEx(reinterpret_cast<HANDLE>(1), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
    ULONG64 transmitted = 0;
    ULONG64 acknowledged = 0;
    EXPECT_FALSE(QueryTcpProgress(INVALID_SOCKET, &transmitted, &acknowledged));
    EXPECT_EQ(WSAEOPNOTSUPP, WSAGetLastError());
}

}  // namespace
}  // namespace nvtest
