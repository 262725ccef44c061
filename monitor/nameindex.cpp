#include "monitor/nameindex.h"

#include <new>

#include "monitor/pmobj.h"

LPCWSTR CPMNameIndex::NameLess::NameOf(const CPMObject* object) {
    return object->GetName();
}

void CPMNameIndex::Insert(CPMObject* object) {
    if (!m_usable || object->GetName() == nullptr) {
        return;
    }
    try {
        // After the equal names, which keeps list order. A start loads the ports in the
        // registry's order, which is this order: the end is then the place, found at once.
        m_entries.insert(m_entries.end(), object);
    } catch (const std::bad_alloc&) {
        m_entries.clear();
        m_usable = FALSE;
    }
}

// By the object's name first; then everywhere, for an object whose name was since replaced by
// one that is not the same name (nothing does that today). A nameless object was never added.
void CPMNameIndex::Erase(CPMObject* object) {
    if (!m_usable || object->GetName() == nullptr) {
        return;
    }
    auto range = m_entries.equal_range(object);
    for (auto it = range.first; it != range.second; ++it) {
        if (*it == object) {
            m_entries.erase(it);
            return;
        }
    }
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (*it == object) {
            m_entries.erase(it);
            return;
        }
    }
}

void CPMNameIndex::Clear() {
    m_entries.clear();
    m_usable = TRUE;
}
