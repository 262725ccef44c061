// The "Spooler" service through the service control manager: a running `nvspool serve` is
// stopped and started (and reloads the monitor's ports); without one, stop and start succeed
// and change nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/test_env.h"

extern char** environ;

namespace nvtest {
namespace {

class Service : public ::testing::Test {
  protected:
    void SetUp() override {
        socket_ = dir_.file("spooler.sock");
        setenv("NORVA_SPOOLER_SOCKET", socket_.c_str(), 1);
    }
    void TearDown() override {
        if (host_ > 0) {
            kill(host_, SIGTERM);
            waitpid(host_, nullptr, 0);
        }
        unsetenv("NORVA_SPOOLER_SOCKET");
    }

    // Starts `nvspool serve` and waits until it answers.
    void StartHost() {
        std::string tool = BuildDir() + "/bin/nvspool";
        std::string log = dir_.file("serve.log");
        std::vector<std::string> args = {tool, "serve", "--control", socket_};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        ASSERT_EQ(0, posix_spawn(&host_, tool.c_str(), &actions, nullptr, argv.data(), environ));
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 200 && Log().find("control socket") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(std::string::npos, Log().find("control socket")) << Log();
    }

    std::string Log() {
        std::ifstream file(dir_.file("serve.log"));
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    static DWORD State(SC_HANDLE service) {
        SERVICE_STATUS status{};
        EXPECT_TRUE(QueryServiceStatus(service, &status));
        return status.dwCurrentState;
    }

    ScopedRegistry registry_;
    TempDir dir_;
    std::string socket_;
    pid_t host_ = 0;
};

TEST_F(Service, OnlyTheSpoolerOfThisMachineIsKnown) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, u"ServicesActive", SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager);
    EXPECT_EQ(nullptr, OpenServiceW(manager, u"Fax", SERVICE_STOP));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
    SC_HANDLE service = OpenServiceW(manager, u"spooler", SERVICE_STOP);
    EXPECT_NE(nullptr, service);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_EQ(nullptr, OpenSCManagerW(u"\\\\OTHER", nullptr, SC_MANAGER_ALL_ACCESS));
}

TEST_F(Service, WithoutAHostStopAndStartSucceedAndChangeNothing) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, u"Spooler", SERVICE_STOP | SERVICE_START);
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_TRUE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(Service, ARunningHostStopsAndStartsAndReadsItsPortsAgain) {
    StartHost();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, u"Spooler", SERVICE_STOP | SERVICE_START);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State(service));
    EXPECT_NE(std::string::npos, Log().find("running, 0 ports"));
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), GetLastError());
    // A port written while the spooler is stopped is loaded when it starts again.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA "
                              u"TCP/IP Port\\Ports\\NORVA_10.1.1.1",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State(service));
    EXPECT_NE(std::string::npos, Log().find("started, 1 ports")) << Log();
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

}  // namespace
}  // namespace nvtest
