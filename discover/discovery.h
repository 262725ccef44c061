// Printer discovery: the four operations that the wizards call. They run on the caller's
// thread and block until they are done; only one may run at a time in a process.
//
//   StartDiscovery();                                  before each search
//   PrinterRecord* newest = BroadcastSearch(page, 0);  or FindPrinter(page, text, mode)
//   for (PrinterRecord* p = newest; p != nullptr; p = p->link) { copy what is needed }
//   StopDiscovery();                                   frees every record
#pragma once

#include "discover/printerlist.h"

// Starts Windows Sockets (version 2.2); the result is not looked at, and Windows Sockets is
// never stopped again by discovery.
void StartDiscovery();

// Clears the printer list: every record handed out so far is freed. A cancel is over.
void StopDiscovery();

// From any thread: the search that runs now (or the next one, if none does yet) ends as soon as
// it can, within about 50 ms of waiting, as a search without printers. The cancel holds until
// StopDiscovery, so a search that had not started yet when the user cancelled does not run.
void CancelSearch();

// One SNMP broadcast search: a GetNext of the Printer MIB (1.3.6.1.2.1.43) from local UDP port
// 8003 to the class-based broadcast address of the machine's first address and to the
// broadcast address of every interface that is up, sent three times, each time followed by 1,
// 2 and 3 seconds of collecting answers. Every device that answers from inside the Printer MIB
// is added to the list (once), then each record is completed by QueryPrinter, oldest first.
//
// The records are queried at the same time, up to 16 at once, and the whole search ends at most
// 30 s after it began (kSearchLimitMs): a device that answered the broadcast but then stays
// silent costs 24 s however many there are, and a record whose queries have not finished by
// then is dropped. Returns the newest record, or null when there is none. A record whose
// queries fail is dropped from the list; the others stay, linked newest first. When the broadcast
// cannot be made (port 8003 taken, broadcast refused, the request sent to no destination in the
// first pass) the list is cleared and the result is null. Records already in the list before the
// call stay (and are queried again). transport is 0 (UDP over IPv4) in every call of the
// installer.
PrinterRecord* BroadcastSearch(HWND window, int transport);

// Clears the list, then (within the same 30 s as a broadcast search):
//   SearchByIpAddress: one record for the dotted address text (no broadcast; text that does
//     not parse asks 255.255.255.255, which no query reaches), completed by QueryPrinter;
//     returns it, or null when the query failed.
//   SearchByHardwareAddress: a BroadcastSearch; returns the newest record whose hardware
//     address equals the text exactly (12 lower-case hexadecimal digits), or null. When the
//     broadcast found nothing the list is cleared; when only no record matched it stays.
// Any other mode finds nothing.
PrinterRecord* FindPrinter(HWND window, const char* address, int mode);
