// The steps of the broadcast search (discovery.h has the operations built from them), and the
// process-wide state they share: the window of the last search and the request id counter.
#pragma once

#include <cstddef>

#include "discover/dgramsocket.h"
#include "discover/ipaddress.h"
#include "platform/win32.h"
#include "snmp/oid.h"

// The local UDP port that the broadcast leaves from and the replies come back to.
constexpr USHORT kDiscoveryPort = 8003;
// The agents' port.
constexpr USHORT kSnmpAgentPort = 161;
// The broadcast address text: "255.255.255.255" needs 16 bytes; below 15 there is no room
// for any class-based address.
constexpr int kBroadcastAddressSize = 20;
constexpr int kMinBroadcastAddressSize = 15;
// The request is built into, and every reply read into, a buffer of this size.
constexpr int kDiscoveryDatagramSize = 1024;
// Pass n waits up to n seconds for the first reply.
constexpr int kDiscoveryPasses = 3;
// The pause after each read, so that late replies of the same pass queue up.
constexpr DWORD kDrainPauseMs = 10;

// The Printer MIB, RFC 1759: a device that answers a GetNext of it with an object inside is
// a printer.
extern const snmp::Oid kPrinterMibRoot;

// The request id of the latest broadcast request; 0 before the first. It only grows.
DWORD DiscoveryRequestId();

// The class-based broadcast address of an address (host byte order), not the interface's
// real netmask: a.255.255.255 below 127, a.b.255.255 for 127 to 191, a.b.c.255 for 192 to
// 223, 255.255.255.255 from 224. False when it does not fit the buffer.
bool ClassBroadcastAddress(DWORD address, char* buffer, size_t size);

// The broadcast address of the first IPv4 address that the machine's own name resolves to.
// False for a buffer below 15 bytes, or when the name or its address cannot be had.
bool BuildBroadcastAddress(char* buffer, int size);

// The SNMPv1 GetNext request for 1.3.6.1.2.1.43 with community "commro" and the next request
// id (the counter is incremented first). Returns its length, or 0 when it does not fit.
int BuildDiscoveryRequest(BYTE* buffer, int capacity);

// Accepts a reply when it decodes as an SNMP message, carries the current request id and
// error-status 0, and its first binding's name lies inside the Printer MIB (longer than
// 1.3.6.1.2.1.43 and starting with it). The PDU type and community are not looked at.
bool CheckDiscoveryReply(const BYTE* datagram, int length);

// Adds the sender of an accepted reply to the printer list unless a record has its address.
void AddSender(const IpAddress& sender);

// Binds the socket to port 8003 for broadcast, sends the request in three passes and adds
// every accepted sender to the list. Throws DiscoveryError when the socket cannot be set up
// or the request cannot be sent in full.
void CollectReplies(CDatagramSocketBase& socket, IpAddress& destination, IpAddress& sender);
