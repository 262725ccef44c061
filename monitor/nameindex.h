// The objects of a list by name, beside the list: the list stays what holds the objects and
// their order; this index is derived from it, changed by the list operations under the same
// lock, and only makes look-ups by name quick.
#pragma once

#include <set>

#include "platform/win32.h"

class CPMObject;

class CPMNameIndex {
  public:
    // Adds an object after every object of the same name, so that each name's objects stay in
    // list order as long as objects are only appended to the list. A nameless object (its copy
    // of the name failed) is never found, as in the list. An object in the index may change
    // the letter case of its name (CPMObject::SetName), nothing more.
    void Insert(CPMObject* object);
    void Erase(CPMObject* object);
    void Clear();

    // FALSE once an object could not be added (no memory): the index then stays empty until
    // the list is emptied, and look-ups walk the list instead.
    BOOL IsUsable() const { return m_usable; }

    // The first object, in list order, of that name (compared as CPMObject::HasName compares)
    // that accept(object) takes; null when there is none.
    template <class Accept>
    CPMObject* Find(LPCWSTR name, Accept accept) const {
        auto range = m_entries.equal_range(name);
        for (auto it = range.first; it != range.second; ++it) {
            if (accept(*it)) {
                return *it;
            }
        }
        return nullptr;
    }

  private:
    // The objects in the order of their names by _wcsicmp, which CPMObject::HasName uses for
    // equality; a name alone compares with them too.
    struct NameLess {
        using is_transparent = void;
        static LPCWSTR NameOf(const CPMObject* object);
        static LPCWSTR NameOf(LPCWSTR name) { return name; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const {
            return _wcsicmp(NameOf(a), NameOf(b)) < 0;
        }
    };

    std::multiset<CPMObject*, NameLess> m_entries;
    BOOL m_usable = TRUE;
};
