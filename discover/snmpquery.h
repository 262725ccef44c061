// The SNMP queries of one printer: its hardware address (ifPhysAddress.1), the Host Resources
// device that is the printer (a walk of hrDeviceType), that device's description, the subnet
// mask of its address (ipAdEntNetMask) and its default gateway (ipRouteNextHop).
//
// Every request is one session of the SNMPv1 manager with community "commro", 6000 ms and
// three retries. Diagnostics go to standard output and never to the user.
#pragma once

#include <vector>

#include "discover/printerlist.h"
#include "snmp/message.h"

// A variable-binding list: (name, value) pairs; every list sent here has NULL values.
using VarBindList = std::vector<snmp::VarBind>;

// Request kinds of SnmpRequest.
constexpr int kSnmpGet = 1;
constexpr int kSnmpGetNext = 2;

// Results of SnmpRequest.
constexpr int kSnmpRequestOk = 0;
constexpr int kSnmpOpenFailed = 4;
constexpr int kSnmpRequestFailed = 5;
constexpr int kSnmpCloseFailed = 6;

// Results of BuildVarBindList.
constexpr int kBuildOk = 0;
constexpr int kBuildBadOid = 1;
constexpr int kBuildNoMemory = 2;

// The community of every request of the installer.
inline constexpr char kCommunity[] = "commro";

// One Get (kind 1) or GetNext (kind 2) for list to the agent at the address text. The answer
// replaces the list's names and values in place; its error-status is not looked at, so an
// agent's noSuchName counts as success and leaves NULL values.
int SnmpRequest(int kind, const char* agent, const char* community, VarBindList& list);

// Fills list with one NULL-valued binding per identifier text ("2.2.1.6.1" is below MIB-2,
// ".1.3.6..." is absolute). 1 when a text is not an identifier (the list is then emptied),
// 2 when there is no memory for the bindings.
int BuildVarBindList(VarBindList& list, const char* const* texts, int count);

// Fills the record's hardware address, description, subnet mask, gateway and device index
// from the printer at its IPv4 address. False when a request fails.
bool QueryPrinter(PrinterRecord* record);

// Walks hrDeviceType for the device of type hrDevicePrinter and stores its hrDeviceIndex in
// the record's device index. False when the walk ends without one, or after 1,000 objects.
bool FindPrinterDevice(PrinterRecord* record);
