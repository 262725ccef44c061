// nvspool serve: the spooler as a long-running service. It keeps the monitor loaded and
// answers the service control of the "Spooler" service on a local socket: "stop" shuts the
// monitor down, "start" loads it again (so that it reads its ports anew), "status" tells which.
//
// The socket is the service's door, so it is kept as such: it is made with mode 0660 whatever
// the umask, "stop" and "start" are obeyed only from root or the account that runs the host
// (anyone else is answered "DENIED"), a path that holds anything but a socket is never touched,
// and at the end only the socket this host made is removed.
//
// Clients are served side by side by one poll loop, so that one that connects and says nothing
// cannot keep the others waiting: up to kMaxClients at once, each dropped if its command has not
// come within kClientTimeout; when every slot is taken and another client connects, the one that
// has waited longest is dropped to make room (a real client speaks as soon as it is connected),
// so that no number of silent clients keeps a request out. A command is one line, ending in LF
// or CR LF.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/nvspool/common.h"

namespace nvspool {

namespace {

constexpr mode_t kSocketMode = 0660;
// A client has this long to send its one-line command.
constexpr auto kClientTimeout = std::chrono::seconds(5);
// Clients served at once, and connections that may wait to be accepted.
constexpr size_t kMaxClients = 128;
constexpr int kListenQueue = 128;
// A command is one short line.
constexpr size_t kMaxCommandBytes = 64;
constexpr char kDenied[] = "DENIED";

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

// The control socket this host made, and the file it is, so that the end removes that socket
// and nothing else.
struct ControlSocket {
    int fd = -1;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
};

bool SameFile(const ControlSocket& control) {
    struct stat now;
    return lstat(control.path.c_str(), &now) == 0 && S_ISSOCK(now.st_mode) &&
           now.st_dev == control.device && now.st_ino == control.inode;
}

// A listening UNIX socket at the path. A socket that no host answers on any more is replaced;
// anything else at the path is refused (*code is then the Win32 code to report).
bool Listen(const std::string& path, ControlSocket* control, DWORD* code) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *code = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    std::string dir = path.substr(0, path.find_last_of('/'));
    if (!dir.empty() && path.find('/') != std::string::npos) {
        mkdir(dir.c_str(), 0755);
    }
    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            *code = ERROR_ALREADY_EXISTS;  // a file of someone's: never removed
            return false;
        }
        int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool answered = probe >= 0 &&
                        connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (probe >= 0) {
            close(probe);
        }
        if (answered) {
            *code = ERROR_SERVICE_ALREADY_RUNNING;  // another host answers there
            return false;
        }
        unlink(path.c_str());  // the socket of a host that is gone
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *code = NvWin32FromErrno(errno);
        return false;
    }
    // The socket is born with no more than its final mode, whatever the caller's umask.
    mode_t umaskBefore = umask(0777 & ~kSocketMode);
    int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int bindError = errno;
    umask(umaskBefore);
    struct stat made;
    if (bound != 0 || chmod(path.c_str(), kSocketMode) != 0 || lstat(path.c_str(), &made) != 0 ||
        listen(fd, kListenQueue) != 0) {
        *code = NvWin32FromErrno(bound != 0 ? bindError : errno);
        if (bound == 0) {
            unlink(path.c_str());
        }
        close(fd);
        return false;
    }
    control->fd = fd;
    control->path = path;
    control->device = made.st_dev;
    control->inode = made.st_ino;
    return true;
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

// Whether the peer may change the service's state: root, or the account that runs the host.
bool MayControl(int client) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return false;
    }
    return peer.uid == 0 || peer.uid == geteuid();
}

std::string Handle(SpoolerHost& host, const std::string& command, bool mayControl) {
    if ((command == "stop" || command == "start") && !mayControl) {
        return kDenied;
    }
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

struct Client {
    int fd;
    std::chrono::steady_clock::time_point deadline;
    std::string received;
};

// Reads what the client sent; true when its command line is complete (or it closed, or sent
// more than a command holds).
bool Receive(Client& client) {
    char buffer[kMaxCommandBytes];
    ssize_t n = recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) {
        return n == 0 || (errno != EAGAIN && errno != EINTR);
    }
    client.received.append(buffer, static_cast<size_t>(n));
    return client.received.find('\n') != std::string::npos ||
           client.received.size() >= kMaxCommandBytes;
}

void Answer(SpoolerHost& host, Client& client) {
    std::string command = client.received.substr(0, client.received.find('\n'));
    if (!command.empty() && command.back() == '\r') {
        command.pop_back();
    }
    std::string answer = Handle(host, command, MayControl(client.fd)) + "\n";
    send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    close(client.fd);
}

void DropOldest(std::vector<Client>* clients) {
    close(clients->front().fd);
    clients->erase(clients->begin());
}

// Accepts the connections waiting (at most a slot's worth per pass, so that a flood cannot keep
// the loop here). With every slot taken, or no descriptor left for another, the client that has
// waited longest makes room.
void Admit(int listener, std::chrono::steady_clock::time_point now, std::vector<Client>* clients) {
    for (size_t i = 0; i < kMaxClients; ++i) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE) && !clients->empty()) {
            DropOldest(clients);
            continue;
        }
        if (fd < 0) {
            return;
        }
        if (clients->size() >= kMaxClients) {
            DropOldest(clients);
        }
        clients->push_back({fd, now + kClientTimeout, std::string()});
    }
}

// The clients in the order they came, the longest waiting first.
void ServeClients(SpoolerHost& host, int listener) {
    std::vector<Client> clients;
    while (!gStop) {
        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        for (const Client& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR) {
            break;
        }
        auto now = std::chrono::steady_clock::now();
        std::vector<Client> waiting;
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& client = clients[i];
            if ((fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && Receive(client)) {
                Answer(host, client);
            } else if (now >= client.deadline) {
                close(client.fd);  // said nothing in time
            } else {
                waiting.push_back(std::move(client));
            }
        }
        clients = std::move(waiting);
        if ((fds[0].revents & POLLIN) != 0) {
            Admit(listener, now, &clients);
        }
    }
    for (const Client& client : clients) {
        close(client.fd);
    }
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
    ControlSocket control;
    DWORD code = ERROR_SUCCESS;
    if (!Listen(path, &control, &code)) {
        return Fail("serve: cannot listen on " + path, code);
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    printf("nvspool serve: running, %u ports, control socket %s\n",
           static_cast<unsigned>(MonitorPorts(host)), path.c_str());
    fflush(stdout);
    ServeClients(host, control.fd);
    close(control.fd);
    if (SameFile(control)) {
        unlink(path.c_str());
    }
    host.ShutdownMonitors();
    printf("nvspool serve: ended\n");
    return 0;
}

}  // namespace nvspool
