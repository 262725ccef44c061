#include "discover/searchstop.h"

#include <atomic>

#include "discover/discovery.h"
#include "platform/late_api.h"

namespace {

std::atomic<bool> gCancelled{false};
std::atomic<ULONGLONG> gDeadline{0};  // 0: no search runs

}  // namespace

SearchScope::SearchScope() : outer_(gDeadline.load() == 0) {
    if (outer_) {
        gDeadline = LateGetTickCount64() + kSearchLimitMs;
    }
}

SearchScope::~SearchScope() {
    if (outer_) {
        gDeadline = 0;
    }
}

bool SearchCancelled() {
    return gCancelled.load();
}

snmp::StopSignal SearchStopSignal() {
    return snmp::StopSignal{&gCancelled, gDeadline.load()};
}

void ResetSearchCancel() {
    gCancelled = false;
}

void CancelSearch() {
    gCancelled = true;
}
