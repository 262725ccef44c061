// The UDP socket of the broadcast search, in four layers:
//
//   CSocketBase           the handle, the last Winsock error met, the non-blocking flag;
//                         receive on a connected socket (not used here), destroy (closes),
//                         set non-blocking (FIONBIO), bytes available (FIONREAD)
//   CDatagramSocketBase   declares send-to, receive-from, a hook and bind-for-broadcast
//   CIpv4DatagramSocket   creates the IPv4 datagram socket; send-to and receive-from
//   DatagramSocket        the broadcast socket: the (empty) hook and bind-for-broadcast
//
// Send-to, bind-for-broadcast and set-non-blocking raise DiscoveryError when they fail;
// receive-from never raises and answers a negative length when nothing is waiting.
#pragma once

#include "discover/discoveryerror.h"
#include "discover/ipaddress.h"
#include "platform/winsock.h"

class CSocketBase {
  public:
    CSocketBase();
    CSocketBase(const CSocketBase&) = delete;
    CSocketBase& operator=(const CSocketBase&) = delete;

    // Receives from a connected socket: the length, or a negative value.
    virtual int Receive(char* buffer, int size);
    // Closes the socket.
    virtual ~CSocketBase();
    // Switches the socket to non-blocking reads.
    virtual void SetNonBlocking();
    // The octets waiting to be read, or a negative value when that cannot be asked.
    virtual int BytesAvailable();

    SOCKET Handle() const { return m_socket; }
    int LastError() const { return m_lastError; }
    bool IsNonBlocking() const { return m_nonBlocking; }

  protected:
    // Saves the thread's last Winsock error, right after the call that failed.
    int SaveError();

    SOCKET m_socket;
    int m_lastError;
    bool m_nonBlocking;
};

class CDatagramSocketBase : public CSocketBase {
  public:
    // Sends one datagram of size octets to the address.
    virtual int SendTo(const char* data, int size, const IpAddress& to) = 0;
    // Reads one datagram and fills from with its sender: the length, or a negative value.
    virtual int ReceiveFrom(char* buffer, int size, IpAddress& from) = 0;
    virtual void Hook() = 0;
    // Binds to every local interface on port and allows sending to broadcast addresses.
    virtual void BindForBroadcast(USHORT port) = 0;
};

class CIpv4DatagramSocket : public CDatagramSocketBase {
  public:
    // A failure to create the socket leaves it invalid; every later operation then fails.
    CIpv4DatagramSocket();
    int SendTo(const char* data, int size, const IpAddress& to) override;
    int ReceiveFrom(char* buffer, int size, IpAddress& from) override;
};

class DatagramSocket : public CIpv4DatagramSocket {
  public:
    void Hook() override {}
    void BindForBroadcast(USHORT port) override;
};
