// The steps of the broadcast search (discovery.h has the operations built from them), and the
// process-wide state they share: the window of the last search and the latest request id.
#pragma once

#include <cstddef>
#include <vector>

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
// Three passes; pass n collects replies for n seconds from its start, however many arrive,
// so a search that nothing answers takes six seconds, and so does one that is flooded.
constexpr int kDiscoveryPasses = 3;
constexpr ULONGLONG kPassUnitMs = 1000;

// The Printer MIB, RFC 1759: a device that answers a GetNext of it with an object inside is
// a printer.
extern const snmp::Oid kPrinterMibRoot;

// The request id of the latest broadcast request; 0 before the first. Each request draws a
// new one at random (1 to 0x7fffffff, never the one before), so that a reply forged without
// seeing the request is not taken for an answer.
DWORD DiscoveryRequestId();

// The class-based broadcast address of an address (host byte order), not the interface's
// real netmask: a.255.255.255 below 127, a.b.255.255 for 127 to 191, a.b.c.255 for 192 to
// 223, 255.255.255.255 from 224. False when it does not fit the buffer.
bool ClassBroadcastAddress(DWORD address, char* buffer, size_t size);

// The broadcast address of the first IPv4 address that the machine's own name resolves to.
// False for a buffer below 15 bytes, or when the name or its address cannot be had.
bool BuildBroadcastAddress(char* buffer, int size);

// All the destinations of one search, in sending order, each once: the class-based broadcast
// address of the machine's first address (when it has one), then the broadcast address of
// every interface that is up (interfaces.h).
std::vector<DWORD> BroadcastDestinations(SOCKET socket);

// The SNMPv1 GetNext request for 1.3.6.1.2.1.43 with community "commro" and the given request
// id. Returns its length, or 0 when it does not fit.
int EncodeDiscoveryRequest(DWORD requestId, BYTE* buffer, int capacity);

// The same request with a new request id, which becomes DiscoveryRequestId().
int BuildDiscoveryRequest(BYTE* buffer, int capacity);

// Accepts a reply when it decodes as an SNMP message, carries the current request id and
// error-status 0, and its first binding's name lies inside the Printer MIB (longer than
// 1.3.6.1.2.1.43 and starting with it). The PDU type and community are not looked at.
bool CheckDiscoveryReply(const BYTE* datagram, int length);

// Adds the sender of an accepted reply to the printer list unless a record has its address.
void AddSender(const IpAddress& sender);

// Binds the socket to port 8003 for broadcast and runs the three passes: each sends the
// request to every destination, then reads replies until its own time is up, and adds every
// accepted sender to the list. A destination the request cannot be sent to is passed over.
// Throws DiscoveryError when the socket cannot be set up, or when the first pass could send
// to no destination at all (so nothing can answer).
void CollectReplies(CDatagramSocketBase& socket, const std::vector<IpAddress>& destinations,
                    IpAddress& sender);
