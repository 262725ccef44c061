// CNetProtocol: the base of the transports that carry a job to the printer (raw TCP, LPR).
// A port creates one per job from its "Protocol" value; the Xcv requests that read or write a
// port's settings create one to hold them.
#pragma once

#include "monitor/template.h"
#include "monitor/util.h"
#include "net/portentry.h"
#include "platform/winsock.h"

class CNetPort;
class CRegKey;

class CNetProtocol : public CQornTemplate {
  public:
    CNetProtocol();
    ~CNetProtocol() override;

    LPCWSTR GetClassDescription() const override { return WSTR("CNetProtocol"); }
    virtual BOOL StartDoc(CNetPort*) { return TRUE; }
    virtual BOOL EndDoc(CNetPort*) { return TRUE; }
    virtual BOOL Write(CNetPort*, LPBYTE, DWORD, LPDWORD) { return TRUE; }
    virtual BOOL ReadConfig(CNetPort*) { return TRUE; }
    virtual BOOL WriteConfig(CNetPort*) { return TRUE; }
    virtual void SetDefaults() {}
    virtual BOOL Connect(CNetPort*) { return TRUE; }
    virtual BOOL Close() { return TRUE; }

    // The SNMP settings: kept and reported, never used to send anything.
    DWORD m_snmpEnabled;
    char m_snmpCommunity[portcfg::kCommunityBytes];
    DWORD m_snmpIndex;
    DWORD m_snmpVersion;

  protected:
    // "SnmpEnabled", "SnmpCommunity", "SnmpIndex" and "SnmpVersion" with their defaults.
    void ReadSnmpSettings(CRegKey& key);

    // Where a connection started by a non-blocking connect stands after a wait.
    enum class ConnectWait {
        kConnected,  // the socket became writable
        kPending,    // not decided within the wait (*error: WSAETIMEDOUT, or select's error)
        kFailed,     // the attempt failed (*error: the socket's error)
    };
    // Waits up to `milliseconds` for the connection. Windows reports a failed attempt in the
    // exception set and never as writable, so both sets are watched and a refused or
    // unreachable printer is known at once, not at the end of the wait.
    static ConnectWait WaitForConnection(SOCKET socket, DWORD milliseconds, DWORD* error);
};
