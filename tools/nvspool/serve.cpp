// nvspool serve: the spooler as a long-running service. It keeps the monitor loaded and
// answers the service control of the "Spooler" service on a local socket: "stop" shuts the
// monitor down, "start" loads it again (so that it reads its ports anew), "status" tells which.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/nvspool/common.h"

namespace nvspool {

namespace {

volatile sig_atomic_t gStop = 0;

void OnStopSignal(int) {
    gStop = 1;
}

std::string ControlPath(const std::vector<std::string>& args, int* exitCode) {
    std::string path;
    if (const char* env = getenv("NORVA_SPOOLER_SOCKET")) {
        path = env;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--control" && i + 1 < args.size()) {
            path = args[++i];
        } else {
            *exitCode = Usage(("unknown option for serve: " + args[i]).c_str());
            return std::string();
        }
    }
    return path.empty() ? "/run/norva/spooler.sock" : path;
}

// A listening UNIX socket at the path; a stale socket of a host that is gone is replaced.
int Listen(const std::string& path) {
    std::string dir = path.substr(0, path.find_last_of('/'));
    if (!dir.empty()) {
        mkdir(dir.c_str(), 0755);
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        close(fd);
        errno = ENAMETOOLONG;
        return -1;
    }
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        close(fd);
        errno = EADDRINUSE;  // another host answers there
        return -1;
    }
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The monitor's ports, as EnumPorts reports them.
DWORD MonitorPorts(SpoolerHost& host) {
    const MONITOR2* table = host.Table();
    DWORD needed = 0;
    DWORD returned = 0;
    if (table == nullptr || !host.Running()) {
        return 0;
    }
    table->pfnEnumPorts(host.MonitorHandle(), nullptr, 1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed);
    table->pfnEnumPorts(host.MonitorHandle(), nullptr, 1, buffer.data(), needed, &needed,
                        &returned);
    return returned;
}

std::string Handle(SpoolerHost& host, const std::string& command) {
    if (command == "stop" && host.Running()) {
        host.StopMonitors();
        printf("nvspool serve: stopped\n");
    } else if (command == "start" && !host.Running()) {
        std::string message;
        DWORD error = host.StartMonitors(&message);
        if (error == ERROR_SUCCESS) {
            printf("nvspool serve: started, %u ports\n", static_cast<unsigned>(MonitorPorts(host)));
        } else {
            printf("nvspool serve: the monitor failed to start: %s\n", message.c_str());
        }
    }
    fflush(stdout);
    return host.Running() ? "RUNNING" : "STOPPED";
}

}  // namespace

int Serve(const std::vector<std::string>& args, const Options& options) {
    int exitCode = 0;
    std::string path = ControlPath(args, &exitCode);
    if (path.empty()) {
        return exitCode;
    }
    SpoolerHost host;
    if (!LoadMonitor(host, options, &exitCode)) {
        return exitCode;
    }
    int listener = Listen(path);
    if (listener < 0) {
        fprintf(stderr, "nvspool: cannot listen on %s: %s\n", path.c_str(), strerror(errno));
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    printf("nvspool serve: running, %u ports, control socket %s\n",
           static_cast<unsigned>(MonitorPorts(host)), path.c_str());
    fflush(stdout);
    while (!gStop) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 500) <= 0) {
            continue;
        }
        int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        timeval timeout{5, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buffer[64] = {};
        ssize_t n = recv(client, buffer, sizeof buffer - 1, 0);
        std::string command(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        command = command.substr(0, command.find('\n'));
        std::string answer = Handle(host, command) + "\n";
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(client);
    }
    close(listener);
    unlink(path.c_str());
    host.ShutdownMonitors();
    printf("nvspool serve: ended\n");
    return 0;
}

}  // namespace nvspool
