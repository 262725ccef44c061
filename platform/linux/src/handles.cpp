// The handle table, events and waits.
#include "platform/linux/src/handles.h"

#include <chrono>
#include <unordered_map>

namespace {

std::mutex gHandleMutex;
std::unordered_map<ULONG_PTR, std::shared_ptr<NvObject>>* gHandles = nullptr;
ULONG_PTR gNextHandle = 0x1000;

std::unordered_map<ULONG_PTR, std::shared_ptr<NvObject>>& Table() {
    if (gHandles == nullptr) {
        gHandles = new std::unordered_map<ULONG_PTR, std::shared_ptr<NvObject>>;
    }
    return *gHandles;
}

}  // namespace

DWORD NvObject::Wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE NvHandleInsert(std::shared_ptr<NvObject> object) {
    std::lock_guard<std::mutex> lock(gHandleMutex);
    ULONG_PTR value = gNextHandle;
    gNextHandle += 4;
    Table().emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<NvObject> NvHandleGet(HANDLE handle) {
    std::lock_guard<std::mutex> lock(gHandleMutex);
    auto it = Table().find(reinterpret_cast<ULONG_PTR>(handle));
    return it == Table().end() ? nullptr : it->second;
}

std::shared_ptr<NvObject> NvHandleRemove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(gHandleMutex);
    auto it = Table().find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == Table().end()) {
        return nullptr;
    }
    auto object = std::move(it->second);
    Table().erase(it);
    return object;
}

void NvEvent::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signaled_ = true;
    if (manualReset_) {
        changed_.notify_all();
    } else {
        changed_.notify_one();
    }
}

void NvEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signaled_ = false;
}

DWORD NvEvent::Wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return signaled_; };
    if (milliseconds == INFINITE) {
        changed_.wait(lock, ready);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
        return WAIT_TIMEOUT;
    }
    if (!manualReset_) {
        signaled_ = false;
    }
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE object) {
    if (NvHandleRemove(object) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);  // named events are not needed here
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return NvHandleInsert(std::make_shared<NvEvent>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
    auto object = NvHandleGetAs<NvEvent>(event);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = NvHandleGetAs<NvEvent>(event);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = NvHandleGet(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->Wait(milliseconds);
}
