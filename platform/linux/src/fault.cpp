// Test faults: a named platform call fails with a chosen code on demand, so that tests reach
// the failure paths that real systems rarely offer (a registry create that fails, EnumPortsW
// unavailable, a send that breaks).
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/linux/src/internal.h"

namespace {

struct Fault {
    DWORD code = 0;
    int times = -1;
    int skip = 0;
};

std::mutex gFaultMutex;
std::map<std::string, Fault>* gFaults = nullptr;
bool gEnvRead = false;

std::map<std::string, Fault>& Faults() {
    if (gFaults == nullptr) {
        gFaults = new std::map<std::string, Fault>;  // lives for the process
    }
    return *gFaults;
}

// NORVA_FAULT="Call=code[:times[:skip]],..." arms faults in a process started by a test.
void ReadEnvironment() {
    gEnvRead = true;
    const char* env = getenv("NORVA_FAULT");
    if (env == nullptr) {
        return;
    }
    std::string spec(env);
    size_t pos = 0;
    while (pos < spec.size()) {
        size_t end = spec.find(',', pos);
        std::string item =
            spec.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        size_t eq = item.find('=');
        if (eq != std::string::npos) {
            Fault fault;
            char* rest = nullptr;
            fault.code = static_cast<DWORD>(strtoul(item.c_str() + eq + 1, &rest, 0));
            if (rest != nullptr && *rest == ':') {
                fault.times = static_cast<int>(strtol(rest + 1, &rest, 0));
            }
            if (rest != nullptr && *rest == ':') {
                fault.skip = static_cast<int>(strtol(rest + 1, &rest, 0));
            }
            Faults()[item.substr(0, eq)] = fault;
        }
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
}

}  // namespace

void NvFaultSet(const char* call, DWORD code, int times, int skip) {
    std::lock_guard<std::mutex> lock(gFaultMutex);
    gEnvRead = true;
    Faults()[call] = Fault{code, times, skip};
}

void NvFaultClear(const char* call) {
    std::lock_guard<std::mutex> lock(gFaultMutex);
    gEnvRead = true;
    if (call == nullptr) {
        Faults().clear();
    } else {
        Faults().erase(call);
    }
}

bool NvFaultHit(const char* call, DWORD* code) {
    std::lock_guard<std::mutex> lock(gFaultMutex);
    if (!gEnvRead) {
        ReadEnvironment();
    }
    auto& faults = Faults();
    if (faults.empty()) {
        return false;
    }
    auto it = faults.find(call);
    if (it == faults.end()) {
        return false;
    }
    Fault& fault = it->second;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    if (fault.times == 0) {
        return false;
    }
    if (fault.times > 0) {
        --fault.times;
    }
    *code = fault.code;
    return true;
}
