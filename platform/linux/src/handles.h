// Kernel objects behind HANDLE values: files and events. A handle is a number from a process-wide
// table, so a stale or made-up handle is refused with ERROR_INVALID_HANDLE instead of being
// dereferenced. The values are multiples of 4 from 0x1000 up and never 0, 1 or -1.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/linux/src/internal.h"

class NvObject {
  public:
    virtual ~NvObject() = default;
    // Waits for the object; objects that cannot be waited for refuse with WAIT_FAILED.
    virtual DWORD Wait(DWORD milliseconds);
};

HANDLE NvHandleInsert(std::shared_ptr<NvObject> object);
std::shared_ptr<NvObject> NvHandleGet(HANDLE handle);
std::shared_ptr<NvObject> NvHandleRemove(HANDLE handle);

// A file handle for an open descriptor, which the handle owns from now on (CloseHandle closes
// it).
HANDLE NvFileHandle(int fd);

template <class T>
std::shared_ptr<T> NvHandleGetAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(NvHandleGet(handle));
}

// A Windows event: manual or automatic reset.
class NvEvent : public NvObject {
  public:
    NvEvent(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}
    void Set();
    void Reset();
    DWORD Wait(DWORD milliseconds) override;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool manualReset_;
    bool signaled_;
};
