// The registry store's file as the Linux tools see it (NORVA_REGISTRY, or the default path):
// whether it exists, what is wrong with it when a registry call fails, and an empty stand-in
// for a verb that only reads where there is no store yet.
#pragma once

#include <string>

#include "platform/win32.h"

namespace cli {

bool RegistryStoreExists();

// For a failure's line: what keeps the store from serving, for the codes a store gives
// (ERROR_ACCESS_DENIED, ERROR_BADDB, ERROR_REGISTRY_IO_FAILED) — "the registry store PATH is
// read-only" and the like; empty for other codes, or when the file shows nothing wrong.
std::string RegistryStoreNote(DWORD code);

// While it lives, the registry functions use an empty store in a private directory of its
// own: a verb that only reads answers as it would on an empty registry, and creates no store
// where there is none. The path the process was given is back in place afterwards.
class EmptyRegistryStore {
  public:
    EmptyRegistryStore();
    ~EmptyRegistryStore();
    EmptyRegistryStore(const EmptyRegistryStore&) = delete;
    EmptyRegistryStore& operator=(const EmptyRegistryStore&) = delete;

  private:
    std::string dir_;
    std::string saved_;
    bool hadSaved_ = false;
};

}  // namespace cli
