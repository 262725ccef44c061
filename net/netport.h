// CNetPort: the port class of the network monitor. It holds the address part of the port's
// settings and hands every job to a transport object, chosen anew from "Protocol" at the start
// of each job.
#pragma once

#include <condition_variable>
#include <mutex>

#include "monitor/port.h"
#include "net/netproto.h"

class CNetPort : public CPort {
  public:
    CNetPort(CPrintMonitor* monitor, LPCWSTR name);
    ~CNetPort() override;

    BOOL ReadConfig() override;
    BOOL WriteConfig() override;
    BOOL StartDoc() override;
    BOOL Write(LPBYTE data, DWORD size, LPDWORD written) override;
    BOOL Read(LPBYTE data, DWORD size, LPDWORD read) override;
    BOOL DeviceControl(DWORD code, LPBYTE in, DWORD inSize, LPBYTE out, DWORD outSize,
                       LPDWORD returned) override;
    BOOL EndDoc() override;
    BOOL Configure(LPBYTE config) override;
    PrinterState GetPrinterState() override;

    // The job's JOB_INFO_1W or JOB_INFO_2W (the level StartDocPort received), allocated with
    // AllocMem; null when the spooler cannot give it.
    LPBYTE GetJobInfo();

    // Replaces the transport (the port owns it); null destroys the current one.
    void SetTransport(CNetProtocol* transport);
    CNetProtocol* GetTransport() const { return m_transport; }

    // The port's job gate: held from the start of a job's transport to its end, and by the
    // requests that replace the transport, so that a job's transport is never destroyed
    // under it. Waits at most `milliseconds` (INFINITE: no limit); FALSE when it timed out.
    BOOL EnterJobGate(DWORD milliseconds = INFINITE);
    void LeaveJobGate();

    DWORD m_protocol;
    char m_ipAddress[portcfg::kIPAddressBytes];
    char m_hwAddress[portcfg::kHWAddressBytes];
    char m_hostName[portcfg::kHostNameBytes];

  private:
    BOOL HasFileOutput() const;
    // The monitor's poller asks this port's printer while the job lasts (SnmpEnabled not 0).
    void WatchPrinter();
    void StopWatchingPrinter();

    CNetProtocol* m_transport;
    std::mutex m_gateMutex;
    std::condition_variable m_gateFree;
    bool m_gateHeld;
    bool m_watched;  // the poller asks the printer of this job
};
