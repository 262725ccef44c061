// The listening socket and the connection list the TCP modes (raw, lpd) share.
#pragma once

#include <netinet/in.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/nvprinter/options.h"

namespace nvprinter {

// A non-blocking TCP socket bound to `at`, listening unless `listening` is false (a port held
// without listening refuses every connection). The endpoint bound, with the port the system
// chose for port 0, goes to *bound. A `receiveBuffer` above 0 is the SO_RCVBUF of every
// connection accepted (set before listen, so that the window offered from the first segment
// on is a printer's few KB). Returns -1 with errno set on failure.
int OpenListener(const Endpoint& at, bool listening, Endpoint* bound, int receiveBuffer = 0);

// "ADDR:PORT" of an accepted peer.
std::string FormatPeer(const sockaddr_in& peer);

// Drops the connections whose socket has been closed (fd < 0).
template <class Connection>
void ReapClosed(std::vector<std::unique_ptr<Connection>>* connections) {
    std::vector<std::unique_ptr<Connection>> open;
    for (auto& c : *connections) {
        if (c->fd >= 0) {
            open.push_back(std::move(c));
        }
    }
    connections->swap(open);
}

}  // namespace nvprinter
