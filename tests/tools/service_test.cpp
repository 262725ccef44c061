// The "Spooler" service through the service control manager: a running `nvspool serve` is
// stopped and started (and reloads the monitor's ports); without one, stop and start succeed
// and change nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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
        SpawnHost();
        for (int i = 0; i < 200 && Log().find("control socket") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(std::string::npos, Log().find("control socket")) << Log();
    }

    // Starts `nvspool serve` without waiting for it.
    void SpawnHost() {
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
        posix_spawn_file_actions_addopen(&actions, 2, dir_.file("serve.err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(0, posix_spawn(&host_, tool.c_str(), &actions, nullptr, argv.data(), environ));
        posix_spawn_file_actions_destroy(&actions);
    }

    // Ends the host and returns its exit status.
    int StopHost(int signal = SIGTERM) {
        int status = 0;
        if (signal != 0) {
            kill(host_, signal);
        }
        waitpid(host_, &status, 0);
        host_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    static std::string Read(const std::string& path) {
        std::ifstream file(path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::string Log() {
        std::ifstream file(dir_.file("serve.log"));
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // Runs body in a child process as "nobody" (only calls that are safe after fork()) and
    // returns its exit code: body's, or 10 when the account could not be changed.
    template <class Body>
    static int AsNobody(Body body) {
        pid_t child = fork();
        if (child == 0) {
            _exit(setgid(65534) != 0 || setuid(65534) != 0 ? 10 : body());
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    static void ExpectRunning() {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceW(manager, u"Spooler", SERVICE_QUERY_STATUS);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State(service)) << "still running";
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
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

// The control path is the host's only if it made the socket there: anything else at that path is
// refused and left as it is, and at the end only the host's own socket is removed.
TEST_F(Service, TheHostNeverRemovesWhatItDidNotMake) {
    std::ofstream(socket_) << "precious";
    SpawnHost();
    EXPECT_EQ(1, StopHost(0));
    EXPECT_NE(std::string::npos, Read(dir_.file("serve.err")).find("error 183")) << Log();
    EXPECT_EQ("precious", Read(socket_));

    unlink(socket_.c_str());
    StartHost();
    unlink(socket_.c_str());
    std::ofstream(socket_) << "made meanwhile";
    EXPECT_EQ(0, StopHost());
    EXPECT_EQ("made meanwhile", Read(socket_));
}

// Whatever the umask, the socket is 0660; and even through a socket opened up to everyone,
// only root or the host's own account may stop or start the service.
TEST_F(Service, OnlyRootOrTheHostsAccountMayStopIt) {
    mode_t before = umask(0);
    StartHost();
    umask(before);
    struct stat made {};
    ASSERT_EQ(0, stat(socket_.c_str(), &made));
    EXPECT_EQ(static_cast<mode_t>(S_IFSOCK | 0660), made.st_mode);

    ASSERT_EQ(0, chmod(socket_.c_str(), 0666));
    ASSERT_EQ(0, chmod(dir_.path().c_str(), 0711));
    std::string path = socket_;
    const int code = AsNobody([&] {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return 11;
        }
        char answer[16] = {};
        if (write(fd, "stop\n", 5) != 5 || read(fd, answer, sizeof answer - 1) <= 0) {
            return 12;
        }
        return memcmp(answer, "DENIED\n", 7) == 0 ? 0 : 13;
    });
    EXPECT_EQ(0, code);
    ExpectRunning();
}

// An account that may not open the control socket (0660, root's) learns just that: it is
// not told that the service stopped, nor that it is stopped, while the host runs.
TEST_F(Service, AnAccountThatMayNotReachTheHostIsDeniedNotToldItStopped) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to ask as another account";
    }
    StartHost();
    ASSERT_EQ(0, chmod(dir_.path().c_str(), 0711));
    const int code = AsNobody([] {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service =
            OpenServiceW(manager, u"Spooler", SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
        SERVICE_STATUS status{};
        auto denied = [](BOOL ok) { return !ok && GetLastError() == ERROR_ACCESS_DENIED; };
        SetLastError(0);
        if (!denied(ControlService(service, SERVICE_CONTROL_STOP, &status))) {
            return 11;
        }
        SetLastError(0);
        if (!denied(QueryServiceStatus(service, &status))) {
            return 12;
        }
        SetLastError(0);
        return denied(StartServiceW(service, 0, nullptr)) ? 0 : 13;
    });
    EXPECT_EQ(0, code);
    ExpectRunning();
}

// Clients that connect and say nothing do not keep the others waiting: with more of them than
// the host once served at once and queued together, a status asked meanwhile is answered while
// every one of them is still connected. A command may end in CR LF.
TEST_F(Service, SilentClientsDoNotHoldUpARequest) {
    StartHost();
    auto connected = [&] {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, socket_.c_str(), socket_.size() + 1);
        EXPECT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
        return fd;
    };
    std::vector<int> silent;
    for (int i = 0; i < 64; ++i) {
        silent.push_back(connected());
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, u"Spooler", SERVICE_STOP);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    int dropped = 0;
    for (int fd : silent) {
        char byte = 0;
        dropped += recv(fd, &byte, 1, MSG_DONTWAIT) >= 0 || errno != EAGAIN ? 1 : 0;
        close(fd);
    }
    EXPECT_EQ(0, dropped) << "the answer waited for silent clients to be dropped";

    int fd = connected();
    char answer[16] = {};
    ASSERT_EQ(6, write(fd, "stop\r\n", 6));
    EXPECT_GT(read(fd, answer, sizeof answer - 1), 0);
    EXPECT_STREQ("STOPPED\n", answer);
    close(fd);
}

}  // namespace
}  // namespace nvtest
