// nvprinter raw as a black box: the built simulator in the background, stopped by its pid.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/peers/peer_support.h"

namespace nvtest {
namespace {

// The CPU time (user and system, in clock ticks) that a process has used so far.
long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long user = 0;
    long system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            user = std::stol(field);
        } else if (i == 15) {
            system = std::stol(field);
        }
    }
    return user + system;
}

// A refusing printer holds its port without listening: it waits idle, not spinning, and a
// SIGTERM stops it cleanly.
TEST(RawSimulator, ARefusingPrinterIdlesAndStopsOnSigterm) {
    Simulator printer("raw", {"--listen", "127.0.0.1:0", "--discard", "--refuse"});
    const pid_t pid = printer.process().pid();
    const long before = CpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long used = CpuTicks(pid) - before;
    EXPECT_LE(used, sysconf(_SC_CLK_TCK) / 20) << "CPU ticks in one second of waiting";
    EXPECT_EQ(0, printer.stop(SIGTERM)) << "ended by SIGKILL after ignoring SIGTERM";
}

}  // namespace
}  // namespace nvtest
