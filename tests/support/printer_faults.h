// One vocabulary of printer faults for the tests of job outcomes: each case is a printer
// simulator (`nvprinter MODE OPTIONS`) and one job, with what the spooler and the printer must
// observe at its end. The monitor's own test (tests/monitor/job_outcome_test.cpp) and the job
// host under Wine (tests/win32/job_host.cpp) run the same table, with printer-sized TCP
// buffers (8 KB) around the monitor.
//
// Plain C++ only: the Windows job host includes it too.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace nvtest {

// What the spooler sees at the end of the job.
enum class JobEnd {
    kSent,        // EndDocPort succeeded; the job was reported sent to the printer, once
    kRestarted,   // EndDocPort failed; the job was restarted, never reported sent
    kStartFails,  // StartDocPort failed; no job command at all
    kDeleted,     // deleted by the user mid-way: EndDocPort fails, no job command
};

inline const char* JobEndName(JobEnd end) {
    switch (end) {
        case JobEnd::kSent:
            return "sent";
        case JobEnd::kRestarted:
            return "restarted";
        case JobEnd::kStartFails:
            return "start-fails";
        case JobEnd::kDeleted:
            return "deleted";
    }
    return "?";
}

struct PrinterFault {
    const char* name;
    const char* mode;     // "raw" or "lpd"
    const char* options;  // the simulator's fault options
    unsigned jobBytes;
    unsigned block;          // bytes per WritePort
    unsigned timeOutMs;      // the port's "SnmpTimeOut"
    unsigned deleteAfterMs;  // the user deletes the job this long after its start (0: never)
    JobEnd end;              // where the printer's TCP acknowledgements can be read
    JobEnd endUnprovable;    // where they cannot (Windows before 1703, Wine): "cannot tell"
    int wholeCopies;         // whole copies the printer holds at the end
};

// (A reset "in the last buffer", after every byte has left the monitor and before the printer
// read them all, has no case here: whether the bytes had all left when the reset came depends
// on the moment, and what cannot be proven counts as sent. bench/job-outcomes.sh counts such
// jobs.) A printer that closes its side early and reads no more ("half-close") shows the difference
// between the two platforms' evidence: where acknowledgements can be read, the bytes it never
// acknowledged provably did not reach it; where they cannot, its orderly close is all there is.
inline constexpr PrinterFault kPrinterFaults[] = {
    // name                       mode   options
    //   bytes  block  time-out delete  acknowledgements known / not known  copies
    {"raw-plain", "raw", "",  //
     300000, 16384, 5000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"raw-reset-after-job", "raw", "--reset-after 100000",  //
     100000, 16384, 2000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"raw-reset-mid-job", "raw", "--rcvbuf 65536 --reset-after 300000",  //
     1000000, 16384, 2000, 0, JobEnd::kRestarted, JobEnd::kRestarted, 0},
    {"raw-half-close", "raw", "--rcvbuf 4096 --read-size 1024 --half-close-after 14000",  //
     20000, 1024, 1000, 0, JobEnd::kRestarted, JobEnd::kSent, 0},
    {"raw-pause-near-end", "raw",
     "--rcvbuf 4096 --read-size 1024 --pause-after 190000 --pause-ms 6000",  //
     200000, 1024, 2000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"raw-pause-mid-job", "raw", "--pause-after 100000 --pause-ms 5000",  //
     2000000, 65536, 1000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"raw-talk-back", "raw", "--status-on-connect 40 --slow 3000000",  //
     300000, 65536, 5000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"raw-close-early", "raw", "--rcvbuf 65536 --close-early 50000",  //
     1000000, 16384, 2000, 0, JobEnd::kRestarted, JobEnd::kRestarted, 0},
    {"raw-refused", "raw", "--refuse",  //
     1000, 1000, 2000, 0, JobEnd::kStartFails, JobEnd::kStartFails, 0},
    {"raw-stalled-deleted", "raw", "--stall-after 0",  //
     2000000, 65536, 1000, 3000, JobEnd::kDeleted, JobEnd::kDeleted, 0},
    {"lpd-plain", "lpd", "",  //
     100000, 16384, 5000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"lpd-nak-at-1", "lpd", "--nak-at 1",  //
     10000, 4096, 2000, 0, JobEnd::kRestarted, JobEnd::kRestarted, 0},
    {"lpd-nak-at-5", "lpd", "--nak-at 5",  //
     10000, 4096, 2000, 0, JobEnd::kRestarted, JobEnd::kRestarted, 0},
    {"lpd-close-at-3", "lpd", "--close-at 3",  //
     10000, 4096, 2000, 0, JobEnd::kRestarted, JobEnd::kRestarted, 0},
    {"lpd-silent-at-3", "lpd", "--silent-at 3",  //
     10000, 4096, 1000, 0, JobEnd::kRestarted, JobEnd::kRestarted, 0},
    {"lpd-silent-at-5", "lpd", "--silent-at 5",  //
     100000, 16384, 1000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"lpd-close-at-5", "lpd", "--close-at 5",  //
     100000, 16384, 2000, 0, JobEnd::kSent, JobEnd::kSent, 1},
    {"lpd-slow-deleted", "lpd", "--slow 20000",  //
     400000, 65536, 2000, 3000, JobEnd::kDeleted, JobEnd::kDeleted, 0},
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The whole copies of `data` that the simulator holds in `outDir` (job-NNNN.prn of the raw
// port, job-NNNN.df of the LPD). A data file the daemon refused (its summary in `log` says it
// answered 0x01) is no copy: a daemon prints only what it accepted.
inline int WholeCopies(const std::string& outDir, const std::string& log, bool lpd,
                       const std::string& data) {
    int copies = 0;
    for (int number = 1;; ++number) {
        char name[32];
        snprintf(name, sizeof name, "/job-%04d.%s", number, lpd ? "df" : "prn");
        std::ifstream probe(outDir + name, std::ios::binary);
        if (!probe.good()) {
            return copies;
        }
        if (ReadWholeFile(outDir + name) != data) {
            continue;
        }
        std::string prefix = "job " + std::to_string(number) + ": ";
        size_t at = log.find(prefix);
        size_t end = at == std::string::npos ? at : log.find('\n', at);
        bool refused = at != std::string::npos &&
                       log.substr(at, end - at).find("answered 0x01") != std::string::npos;
        copies += refused ? 0 : 1;
    }
}

}  // namespace nvtest
