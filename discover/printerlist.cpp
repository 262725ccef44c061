#include "discover/printerlist.h"

PrinterList& PrinterList::Instance() {
    static PrinterList list;
    return list;
}

PrinterRecord* PrinterList::Append(std::unique_ptr<PrinterRecord> record) {
    record->link = Newest();
    m_records.push_back(std::move(record));
    return m_records.back().get();
}

PrinterRecord* PrinterList::Find(DWORD ipAddress) const {
    for (const auto& record : m_records) {
        if (record->ipAddress == ipAddress) {
            return record.get();
        }
    }
    return nullptr;
}

PrinterRecord* PrinterList::Newest() const {
    return m_records.empty() ? nullptr : m_records.back().get();
}

void PrinterList::RemoveAt(size_t index) {
    if (index >= m_records.size()) {
        return;
    }
    if (index + 1 < m_records.size()) {
        m_records[index + 1]->link = m_records[index]->link;
    }
    m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(index));
}

void PrinterList::Clear() {
    m_records.clear();
}
