// What ends a search before its time: the user leaving the wizard (CancelSearch, from any
// thread) and the time limit of one search. Process-wide, like the rest of discovery's state;
// the broadcast and every query of the search look at it while they wait.
#pragma once

#include "platform/win32.h"
#include "snmp/manager.h"

// A search, its broadcast and its queries together, ends at most this long after it began: a
// printer whose queries have not finished by then is dropped, like one that does not answer.
constexpr ULONGLONG kSearchLimitMs = 30000;

// While it lives, a search runs and the time limit counts from its start. Nested scopes (the
// broadcast of a search by hardware address) keep the outer one's limit.
class SearchScope {
  public:
    SearchScope();
    ~SearchScope();
    SearchScope(const SearchScope&) = delete;
    SearchScope& operator=(const SearchScope&) = delete;

  private:
    bool outer_;
};

// The search was cancelled (the cancel holds until StopDiscovery).
bool SearchCancelled();
// The cancel and the time limit, for the SNMP sessions of the search; outside a search, the
// cancel only.
snmp::StopSignal SearchStopSignal();
// StopDiscovery: the cancel is over.
void ResetSearchCancel();
