// The registry functions: Windows' parameter checks, handle access rights and buffer-size rules,
// over the SQLite store of registry_store.cpp.
//
// Handles: a process-wide table maps each HKEY to a key id and the access granted when the key
// was opened. Handle values count up and come round again only after the counter wraps, so a
// closed handle is refused with ERROR_INVALID_HANDLE instead of reaching another key. The
// predefined roots need no entry: they always have full access, and closing one does nothing.
//
// Differences from Windows, where Linux has nothing to match:
//   - There is no key security. Opening a key never fails for the access asked; a store that
//     this process may not write refuses the writes themselves with ERROR_ACCESS_DENIED.
//   - HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and HKEY_USERS are roots of their own, one per
//     machine like the store (Windows merges or maps them per user).
//   - REG_OPTION_VOLATILE keys are kept like any other key (the machine never "restarts").
//
// Every function returns its error and leaves the last error alone, as Windows' do.
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/linux/src/registry_store.h"

using nvregistry::KeyId;
using nvregistry::KeyPath;

namespace {

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kLastHandle = 0x7FFFFFF0;  // below the predefined keys' 0x80000000

struct KeyHandle {
    KeyId key;
    REGSAM access;
    // Where the last enumerations on this handle stood (see nvregistry::EnumCursor).
    nvregistry::EnumCursor subKeys;
    nvregistry::EnumCursor values;
};

// The lock of every registry call. Recursive, so that the thread of a transaction
// (NvRegistryBegin) keeps it from the beginning to the end while its calls take it again; every
// other thread waits for the end. Built on a plain mutex rather than std::recursive_mutex, whose
// owner a child of fork() is not (the child's thread has another id), so that the child can
// start with the lock free.
class RecursiveLock {
  public:
    void lock() {
        if (owner_.load(std::memory_order_relaxed) == pthread_self() && depth_ > 0) {
            ++depth_;
            return;
        }
        mutex_.lock();
        owner_.store(pthread_self(), std::memory_order_relaxed);
        depth_ = 1;
    }
    void unlock() {
        if (--depth_ == 0) {
            owner_.store(pthread_t{}, std::memory_order_relaxed);
            mutex_.unlock();
        }
    }
    // In a child of fork(): its only thread took the lock before the fork.
    void ResetInChild() {
        depth_ = 0;
        owner_.store(pthread_t{}, std::memory_order_relaxed);
        mutex_.unlock();
    }

  private:
    std::mutex mutex_;
    std::atomic<pthread_t> owner_{};
    unsigned depth_ = 0;  // changed only by the owner
};

struct Registry {
    RecursiveLock lock;  // every call, the store's single connection included
    nvregistry::Store store;
    std::unordered_map<uintptr_t, KeyHandle> handles;
    uintptr_t nextHandle = kFirstHandle;
    // The thread that ends the store's read lease on time (WatchLeases), and what wakes it.
    std::condition_variable_any leaseWatch;
    bool leaseWatcher = false;  // that thread runs
};

// Lives for the whole process: a library's DLL detach may still close its keys during exit.
// The lock is taken around fork(), so that a child never starts with it held by a thread that
// does not exist in the child. A read lease ends before the fork: the child must not inherit
// SQLite's record of a lock that its copy of the connection holds (it would wait for it
// forever). The child reads without leases (it has no watcher, and should start no thread).
Registry& TheRegistry() {
    static Registry* registry = [] {
        auto* created = new Registry;
        pthread_atfork(
            [] {
                TheRegistry().lock.lock();
                TheRegistry().store.EndLease();
            },
            [] { TheRegistry().lock.unlock(); },
            [] {
                Registry& child = TheRegistry();
                child.lock.ResetInChild();
                child.store.WithoutLeases();
            });
        return created;
    }();
    return *registry;
}

// Ends the store's read lease when its time is up, so that a process that goes quiet after a
// burst of reads never keeps other processes' writes waiting. One thread per process, started
// with the first lease; it sleeps while there is none.
void WatchLeases(Registry* registry) {
    std::unique_lock<RecursiveLock> guard(registry->lock);
    for (;;) {
        std::condition_variable_any& watch = registry->leaseWatch;
        if (!registry->store.Leased()) {
            watch.wait(guard);
        } else if (std::chrono::steady_clock::now() < registry->store.LeaseEnd()) {
            watch.wait_until(guard, registry->store.LeaseEnd());
        } else {
            registry->store.EndLease();
        }
    }
}

// The lock of one registry call. At its end, a lease that the call began is handed to the
// watcher; without a watcher (no thread could be made) the lease ends with the call.
class RegistryCall {
  public:
    explicit RegistryCall(Registry& registry) : registry_(registry) { registry_.lock.lock(); }
    ~RegistryCall() {
        if (registry_.store.TakeLeaseStarted()) {
            Watch();
        }
        registry_.lock.unlock();
    }
    RegistryCall(const RegistryCall&) = delete;
    RegistryCall& operator=(const RegistryCall&) = delete;

  private:
    void Watch() {
        if (!registry_.leaseWatcher) {
            try {
                std::thread(WatchLeases, &registry_).detach();
                registry_.leaseWatcher = true;
            } catch (const std::system_error&) {
                registry_.store.EndLease();
                return;
            }
        }
        registry_.leaseWatch.notify_one();
    }

    Registry& registry_;
};

// A test fault armed for this call gives the code to fail with. The fault is returned, not set
// as the last error: the registry functions report through their result only.
bool Faulted(const char* call, LSTATUS* status) {
    DWORD code = 0;
    if (!NvFaultHit(call, &code)) {
        return false;
    }
    *status = static_cast<LSTATUS>(code);
    return true;
}

// Windows looks only at the low 32 bits of a predefined key, so that a 64-bit caller's
// HKEY_LOCAL_MACHINE works whether its upper half was sign-extended or not.
bool PredefinedKey(HKEY key, KeyId* id) {
    switch (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key))) {
        case 0x80000000u:
            *id = nvregistry::kClassesRoot;
            return true;
        case 0x80000001u:
            *id = nvregistry::kCurrentUser;
            return true;
        case 0x80000002u:
            *id = nvregistry::kLocalMachine;
            return true;
        case 0x80000003u:
            *id = nvregistry::kUsers;
            return true;
        default:
            return false;
    }
}

// The key behind a handle, if the handle was opened with every right in `needed`, and the
// handle's entry (null for a predefined key, which has none).
LSTATUS Resolve(Registry& registry, HKEY key, REGSAM needed, KeyId* id,
                KeyHandle** entry = nullptr) {
    if (entry != nullptr) {
        *entry = nullptr;
    }
    if (PredefinedKey(key, id)) {
        return ERROR_SUCCESS;
    }
    auto it = registry.handles.find(reinterpret_cast<uintptr_t>(key));
    if (key == nullptr || it == registry.handles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if ((it->second.access & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    *id = it->second.key;
    if (entry != nullptr) {
        *entry = &it->second;
    }
    return ERROR_SUCCESS;
}

HKEY NewHandle(Registry& registry, KeyId key, REGSAM access) {
    uintptr_t value = 0;
    do {
        value = registry.nextHandle;
        registry.nextHandle = value >= kLastHandle ? kFirstHandle : value + 4;
    } while (registry.handles.count(value) != 0);
    registry.handles[value] = KeyHandle{key, access, {}, {}};
    return reinterpret_cast<HKEY>(value);
}

// The rights a new handle gets. Generic rights map to key rights as on Windows, and
// MAXIMUM_ALLOWED gets them all, as there is no key security here to grant less. The WOW64
// view flags choose nothing: there is one view.
REGSAM GrantedAccess(REGSAM desired) {
    REGSAM access = desired & (STANDARD_RIGHTS_ALL | KEY_ALL_ACCESS);
    if ((desired & GENERIC_READ) != 0) {
        access |= KEY_READ;
    }
    if ((desired & GENERIC_WRITE) != 0) {
        access |= KEY_WRITE;
    }
    if ((desired & GENERIC_EXECUTE) != 0) {
        access |= KEY_EXECUTE;
    }
    if ((desired & (GENERIC_ALL | kMaximumAllowed)) != 0) {
        access |= KEY_ALL_ACCESS;
    }
    return access;
}

// Splits a subkey path into key names. Windows refuses a leading backslash and an empty name
// between two backslashes (ERROR_BAD_PATHNAME), and ignores trailing backslashes. A key name
// is at most 255 characters (ERROR_INVALID_PARAMETER). Null and "" are the key itself.
LSTATUS SplitPath(LPCWSTR subKey, KeyPath* path) {
    path->clear();
    if (subKey == nullptr || subKey[0] == 0) {
        return ERROR_SUCCESS;
    }
    if (subKey[0] == u'\\') {
        return ERROR_BAD_PATHNAME;
    }
    size_t end = wcslen(subKey);
    while (end > 0 && subKey[end - 1] == u'\\') {
        --end;
    }
    size_t start = 0;
    for (size_t i = 0; i <= end; ++i) {
        if (i < end && subKey[i] != u'\\') {
            continue;
        }
        size_t length = i - start;
        if (length == 0) {
            return ERROR_BAD_PATHNAME;
        }
        if (length > nvregistry::kMaxKeyNameLength) {
            return ERROR_INVALID_PARAMETER;
        }
        path->emplace_back(subKey + start, length);
        start = i + 1;
    }
    return ERROR_SUCCESS;
}

// Null and "" both name the key's default value.
std::u16string ValueName(LPCWSTR name) {
    return name == nullptr ? std::u16string() : name;
}

void CopyName(const std::u16string& name, LPWSTR buffer) {
    memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
    buffer[name.size()] = 0;
}

DWORD Length(const std::u16string& text) {
    return static_cast<DWORD>(text.size());
}

// A key's class into a caller's buffer, by Windows' rule: the length is in characters without
// the terminator; a buffer too small gets nothing and ERROR_MORE_DATA, with the class length.
// A buffer of zero characters counts as no buffer at all.
LSTATUS PutClass(const std::u16string& keyClass, LPWSTR buffer, LPDWORD length) {
    if (length == nullptr) {
        return ERROR_SUCCESS;
    }
    if (buffer != nullptr && *length != 0) {
        if (*length < keyClass.size() + 1) {
            *length = Length(keyClass);
            return ERROR_MORE_DATA;
        }
        CopyName(keyClass, buffer);
    }
    *length = Length(keyClass);
    return ERROR_SUCCESS;
}

// With the registry locked: the key a handle names and the path below it. A bad handle is
// reported before a bad path, as on Windows.
LSTATUS ResolveSubKey(Registry& registry, HKEY key, LPCWSTR subKey, KeyId* parent, KeyPath* path) {
    LSTATUS pathStatus = SplitPath(subKey, path);
    LSTATUS status = Resolve(registry, key, 0, parent);
    return status != ERROR_SUCCESS ? status : pathStatus;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY result) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegOpenKeyExW", &status)) {
        return status;
    }
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    KeyId parent = 0;
    KeyPath path;
    if ((status = ResolveSubKey(registry, key, subKey, &parent, &path)) != ERROR_SUCCESS) {
        return status;
    }
    // A predefined key opened again is the predefined key itself, as on Windows; any other
    // key opened again gets a handle of its own.
    if (path.empty() && PredefinedKey(key, &parent)) {
        *result = key;
        return ERROR_SUCCESS;
    }
    KeyId target = 0;
    status = registry.store.OpenKey(parent, path, &target);
    if (status == ERROR_SUCCESS) {
        *result = NewHandle(registry, target, GrantedAccess(desired));
    }
    return status;
}

// Creation is checked against the key's security on Windows, not against the rights of the
// handle, so a parent opened for reading may create subkeys: nothing is asked of it here. A key
// deeper than kNvMaxKeyDepth levels below its root is ERROR_INVALID_PARAMETER, as on Windows.
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR keyClass, DWORD, REGSAM desired,
                        const SECURITY_ATTRIBUTES*, PHKEY result, LPDWORD disposition) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegCreateKeyExW", &status)) {
        return status;
    }
    if (result == nullptr) {
        return ERROR_BADKEY;  // Windows' code for a missing result here
    }
    *result = nullptr;
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    KeyId parent = 0;
    KeyPath path;
    if ((status = ResolveSubKey(registry, key, subKey, &parent, &path)) != ERROR_SUCCESS) {
        return status;
    }
    KeyId target = 0;
    bool created = false;
    if (path.empty()) {
        if (PredefinedKey(key, &parent)) {
            *result = key;
            if (disposition != nullptr) {
                *disposition = REG_OPENED_EXISTING_KEY;
            }
            return ERROR_SUCCESS;
        }
        status = registry.store.OpenKey(parent, path, &target);
    } else {
        status = registry.store.CreateKey(parent, path, ValueName(keyClass), &target, &created);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *result = NewHandle(registry, target, GrantedAccess(desired));
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

// Closing works on a handle to a deleted key too; closing a predefined key does nothing.
LSTATUS RegCloseKey(HKEY key) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegCloseKey", &status)) {
        return status;
    }
    KeyId root = 0;
    if (PredefinedKey(key, &root)) {
        return ERROR_SUCCESS;
    }
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    return registry.handles.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                         : ERROR_INVALID_HANDLE;
}

// Without a buffer, the size is reported. A buffer too small gets nothing at all, and
// ERROR_MORE_DATA with the size needed. The type is reported either way.
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegQueryValueExW", &status)) {
        return status;
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    // Read before any output is written: a caller may pass one variable for type and size.
    const DWORD capacity = dataSize != nullptr ? *dataSize : 0;
    nvregistry::Value value;
    {
        Registry& registry = TheRegistry();
        RegistryCall call(registry);
        KeyId id = 0;
        if ((status = Resolve(registry, key, KEY_QUERY_VALUE, &id)) != ERROR_SUCCESS) {
            return status;
        }
        if ((status = registry.store.QueryValue(id, ValueName(valueName), &value)) !=
            ERROR_SUCCESS) {
            return status;
        }
    }
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (data != nullptr && capacity < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed != 0) {
        memcpy(data, value.data.data(), needed);
    }
    if (dataSize != nullptr) {
        *dataSize = needed;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegSetValueExW", &status)) {
        return status;
    }
    // Windows reports the data it could not read as ERROR_NOACCESS.
    if (data == nullptr && dataSize != 0) {
        return ERROR_NOACCESS;
    }
    std::u16string name = ValueName(valueName);
    if (name.size() > nvregistry::kMaxValueNameLength) {
        return ERROR_INVALID_PARAMETER;
    }
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    KeyId id = 0;
    if ((status = Resolve(registry, key, KEY_SET_VALUE, &id)) != ERROR_SUCCESS) {
        return status;
    }
    return registry.store.SetValue(id, name, type, data, dataSize);
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegDeleteValueW", &status)) {
        return status;
    }
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    KeyId id = 0;
    if ((status = Resolve(registry, key, KEY_SET_VALUE, &id)) != ERROR_SUCCESS) {
        return status;
    }
    return registry.store.DeleteValue(id, ValueName(valueName));
}

// "" deletes the key of the handle itself. A key with subkeys is refused with
// ERROR_ACCESS_DENIED, as on Windows; its values go with it. Handles still open to a deleted
// key answer ERROR_KEY_DELETED from then on.
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegDeleteKeyW", &status)) {
        return status;
    }
    if (subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    KeyId parent = 0;
    KeyPath path;
    if ((status = ResolveSubKey(registry, key, subKey, &parent, &path)) != ERROR_SUCCESS) {
        return status;
    }
    return registry.store.DeleteKey(parent, path);
}

// Subkeys come in case-insensitive order of their names. Asking for the index after the one
// last returned on the same handle (or the same one again) costs one step, not a count from the
// first subkey: see nvregistry::EnumCursor.
//
// Name lengths are in characters. On success the length excludes the terminator. When the name
// does not fit, Windows leaves *nameLength as it was; we report the characters needed,
// terminator included, so that a caller can size its buffer in one step. The buffer is left
// untouched.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegEnumKeyExW", &status)) {
        return status;
    }
    if (name == nullptr || nameLength == nullptr || reserved != nullptr ||
        (keyClass != nullptr && classLength == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    nvregistry::SubKey subKey;
    {
        Registry& registry = TheRegistry();
        RegistryCall call(registry);
        KeyId id = 0;
        KeyHandle* handle = nullptr;
        if ((status = Resolve(registry, key, KEY_ENUMERATE_SUB_KEYS, &id, &handle)) !=
            ERROR_SUCCESS) {
            return status;
        }
        status = registry.store.EnumKey(id, index, &subKey,
                                        handle != nullptr ? &handle->subKeys : nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    if (*nameLength < subKey.name.size() + 1) {
        *nameLength = Length(subKey.name) + 1;
        return ERROR_MORE_DATA;
    }
    if (keyClass != nullptr && *classLength != 0 && *classLength < subKey.keyClass.size() + 1) {
        *classLength = Length(subKey.keyClass);
        return ERROR_MORE_DATA;
    }
    CopyName(subKey.name, name);
    *nameLength = Length(subKey.name);
    PutClass(subKey.keyClass, keyClass, classLength);
    if (lastWriteTime != nullptr) {
        *lastWriteTime = subKey.lastWrite;
    }
    return ERROR_SUCCESS;
}

// Values come in the order they were first set; indexes in turn cost one step each, as in
// RegEnumKeyExW. The type and the data size are reported even
// when ERROR_MORE_DATA is returned. A name that does not fit is handled as in RegEnumKeyExW
// (the characters needed, terminator included; nothing copied). Data that does not fit: the
// name is copied, the data buffer is left untouched, ERROR_MORE_DATA with the size needed.
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegEnumValueW", &status)) {
        return status;
    }
    if (valueName == nullptr || valueNameLength == nullptr || reserved != nullptr ||
        (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD nameCapacity = *valueNameLength;
    const DWORD dataCapacity = dataSize != nullptr ? *dataSize : 0;
    nvregistry::Value value;
    {
        Registry& registry = TheRegistry();
        RegistryCall call(registry);
        KeyId id = 0;
        KeyHandle* handle = nullptr;
        if ((status = Resolve(registry, key, KEY_QUERY_VALUE, &id, &handle)) != ERROR_SUCCESS) {
            return status;
        }
        status = registry.store.EnumValue(id, index, &value,
                                          handle != nullptr ? &handle->values : nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (nameCapacity < value.name.size() + 1) {
        *valueNameLength = Length(value.name) + 1;
        if (dataSize != nullptr) {
            *dataSize = needed;
        }
        return ERROR_MORE_DATA;
    }
    CopyName(value.name, valueName);
    *valueNameLength = Length(value.name);
    if (data != nullptr && dataCapacity < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed != 0) {
        memcpy(data, value.data.data(), needed);
    }
    if (dataSize != nullptr) {
        *dataSize = needed;
    }
    return ERROR_SUCCESS;
}

// Lengths of names and classes are in characters without the terminator, the data length in
// bytes. There is no key security here: the descriptor size is 0.
LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptor, PFILETIME lastWriteTime) {
    LSTATUS status = ERROR_SUCCESS;
    if (Faulted("RegQueryInfoKeyW", &status)) {
        return status;
    }
    if (reserved != nullptr || (keyClass != nullptr && classLength == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    nvregistry::KeyInfo info;
    {
        Registry& registry = TheRegistry();
        RegistryCall call(registry);
        KeyId id = 0;
        if ((status = Resolve(registry, key, KEY_QUERY_VALUE, &id)) != ERROR_SUCCESS) {
            return status;
        }
        if ((status = registry.store.QueryInfo(id, &info)) != ERROR_SUCCESS) {
            return status;
        }
    }
    const std::pair<LPDWORD, DWORD> outputs[] = {
        {subKeys, info.subKeys},
        {maxSubKeyLength, info.maxSubKeyLength},
        {maxClassLength, info.maxClassLength},
        {values, info.values},
        {maxValueNameLength, info.maxValueNameLength},
        {maxValueLength, info.maxValueLength},
        {securityDescriptor, 0},
    };
    for (const auto& [out, number] : outputs) {
        if (out != nullptr) {
            *out = number;
        }
    }
    if (lastWriteTime != nullptr) {
        *lastWriteTime = info.lastWrite;
    }
    return PutClass(info.keyClass, keyClass, classLength);
}

void NvRegistryReset() {
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    if (registry.store.InTransaction()) {
        NvRegistryRollback();
    }
    registry.store.Close();
    registry.handles.clear();
}

// The lock stays taken from a successful begin to the end, so that no other thread's call
// slips into the transaction.
LONG NvRegistryBegin(bool write) {
    Registry& registry = TheRegistry();
    registry.lock.lock();
    LONG result = registry.store.Begin(write);
    if (result != ERROR_SUCCESS) {
        registry.lock.unlock();
    }
    return result;
}

LONG NvRegistryCommit() {
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    if (!registry.store.InTransaction()) {
        return ERROR_INVALID_FUNCTION;
    }
    LONG result = registry.store.Commit();
    registry.lock.unlock();  // the begin's
    return result;
}

void NvRegistryRollback() {
    Registry& registry = TheRegistry();
    RegistryCall call(registry);
    if (registry.store.InTransaction()) {
        registry.store.Rollback();
        registry.lock.unlock();  // the begin's
    }
}
