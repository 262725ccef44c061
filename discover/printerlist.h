// The printers that a search found: one PrinterRecord per printer, kept in the single
// process-wide PrinterList.
//
// A search hands back one pointer, the newest record; every record links to the one added just
// before it, so the caller reaches all of them, newest first, by following the links until
// null. Clearing the list destroys every record, so callers copy what they keep before they
// stop discovery.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/win32.h"

// How FindPrinter looks for its printer.
enum SearchMode {
    SearchByIpAddress = 0,        // ask the one dotted address given, no broadcast
    SearchByHardwareAddress = 2,  // broadcast, then pick the record with that hardware address
};

struct PrinterRecord {
    PrinterRecord* link = nullptr;  // the record added just before this one; null for the oldest
    DWORD ipAddress = 0;            // host byte order: the address the printer answered from
    DWORD subnetMask = 0;           // host byte order, 0 until the printer was queried
    DWORD gateway = 0;              // host byte order, 0 until the printer was queried
    std::unique_ptr<char[]> hardwareAddress;  // 12 lower-case hexadecimal digits, or null
    std::unique_ptr<char[]> description;      // the printer device's description, or null
    LONG deviceIndex = -1;                    // set by the queries
};

class PrinterList {
  public:
    // The one list of the process. Like the rest of discovery it is not guarded: one search
    // at a time, on the caller's thread.
    static PrinterList& Instance();

    PrinterList() = default;
    PrinterList(const PrinterList&) = delete;
    PrinterList& operator=(const PrinterList&) = delete;

    // Takes the record, links it to the newest record so far and makes it the newest.
    PrinterRecord* Append(std::unique_ptr<PrinterRecord> record);
    // The record for an address (host byte order), or null.
    PrinterRecord* Find(DWORD ipAddress) const;
    // The most recently added record, or null when the list is empty.
    PrinterRecord* Newest() const;
    // Records in the order they were added: 0 is the oldest.
    PrinterRecord* At(size_t index) const { return m_records[index].get(); }
    size_t Count() const { return m_records.size(); }
    // Destroys the record at index and links the record added after it to the one added
    // before it, so the newest-first chain skips it.
    void RemoveAt(size_t index);
    // Destroys every record; pointers handed out before are dangling afterwards.
    void Clear();

  private:
    std::vector<std::unique_ptr<PrinterRecord>> m_records;
};
