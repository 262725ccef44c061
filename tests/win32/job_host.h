// The job host: a small spooler that loads the monitor library as the print spooler does and
// prints jobs through its MONITOR2 table to printer simulators. The same cases run on Windows
// (under Wine) and on Linux, and print the same outcome lines, so the two builds can be compared.
//
// What differs between the two lives behind JobMachine: the spooler functions that answer the
// monitor (on Windows a test-only spoolss.dll beside the host, on Linux the spooler host of the
// tools) and the place and protection of the LPR spool directories.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace jobhost {

using WString = std::basic_string<WCHAR>;

class JobMachine {
  public:
    virtual ~JobMachine() = default;

    // Makes the spooler side ready once the monitor library is loaded (its imports are then
    // resolved); false with the reason when it cannot answer the monitor.
    virtual bool Ready(std::string* why) = 0;
    // A job the monitor can open its printer for and query.
    virtual void AddJob(DWORD id, const WString& printer, const WString& machine,
                        const WString& user, const WString& document) = 0;
    // Every SetJobW command the job received, in order.
    virtual std::vector<DWORD> JobCommands(DWORD id) = 0;
    // Printer handles that the monitor holds open.
    virtual size_t OpenPrinters() = 0;
    // Makes GetJobW fail with `error` until called again with 0.
    virtual void FailGetJob(DWORD error) = 0;
    // What the spooler's user does to a job (JOB_STATUS_DELETING: deleted while it prints).
    virtual void SetJobStatus(DWORD id, DWORD status) = 0;
    // Every status the monitor set for the port (SetPortW level 3): status and severity.
    virtual std::vector<std::pair<DWORD, DWORD>> PortStatus(const std::string& port) = 0;
    // The LPR spool directories present now (full paths).
    virtual std::vector<std::string> SpoolDirectories() = 0;
    // Whether only the owner (and the system's own administrators) may use the directory; the
    // reason when not.
    virtual bool IsPrivate(const std::string& directory, std::string* why) = 0;
    // The handles (file descriptors on Linux) the process holds open.
    virtual size_t Handles() = 0;
};

std::unique_ptr<JobMachine> NewJobMachine();

}  // namespace jobhost
