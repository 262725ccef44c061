// TCP_INFO for the Winsock stand-in's SIO_TCP_INFO. A translation unit of its own: the
// kernel's struct tcp_info (with the RFC 4898 byte counters) and the C library's older one in
// <netinet/tcp.h> cannot be seen together.
#include <errno.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/linux/src/posix_shim.h"

namespace px {

// Linux's tcp_states to Windows' TCPSTATE (CLOSED 0, LISTEN 1, SYN_SENT 2, SYN_RCVD 3,
// ESTABLISHED 4, FIN_WAIT_1 5, FIN_WAIT_2 6, CLOSE_WAIT 7, CLOSING 8, LAST_ACK 9,
// TIME_WAIT 10).
static int WindowsTcpState(int linuxState) {
    static const int kStates[] = {
        0,   // (none)
        4,   // ESTABLISHED
        2,   // SYN_SENT
        3,   // SYN_RECV
        5,   // FIN_WAIT1
        6,   // FIN_WAIT2
        10,  // TIME_WAIT
        0,   // CLOSE
        7,   // CLOSE_WAIT
        9,   // LAST_ACK
        1,   // LISTEN
        8,   // CLOSING
    };
    return linuxState >= 0 && linuxState < static_cast<int>(sizeof kStates / sizeof kStates[0])
               ? kStates[linuxState]
               : 0;
}

int TcpInfo(int fd, TcpCounters* counters) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) {
        return -errno;
    }
    // Kernels before 4.19 have no byte counters for what was sent: the stand-in then cannot
    // tell, as Windows before 1703 cannot.
    if (length < offsetof(tcp_info, tcpi_bytes_retrans) + sizeof info.tcpi_bytes_retrans) {
        return -EOPNOTSUPP;
    }
    counters->state = WindowsTcpState(info.tcpi_state);
    counters->mss = info.tcpi_snd_mss;
    counters->rttUs = info.tcpi_rtt;
    counters->minRttUs = info.tcpi_min_rtt;
    counters->cwnd = info.tcpi_snd_cwnd * info.tcpi_snd_mss;
    counters->sendWindow = info.tcpi_snd_wnd;
    counters->receiveWindow = info.tcpi_rcv_space;
    counters->receiveBuffer = info.tcpi_rcv_space;
    counters->bytesSent = info.tcpi_bytes_sent;
    counters->bytesRetransmitted = info.tcpi_bytes_retrans;
    counters->bytesAcked = info.tcpi_bytes_acked;
    counters->bytesReceived = info.tcpi_bytes_received;
    counters->retransmitTimeouts = info.tcpi_total_retrans;
    return 0;
}

}  // namespace px
