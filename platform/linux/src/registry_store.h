// The registry's store: one SQLite database file per machine, shared by every process that uses
// the registry (spooler host, installer, tools). registry.cpp keeps the handles and the Windows
// rules for parameters and buffers; this layer keeps keys and values, and makes every registry
// call one transaction.
//
// Not thread-safe by itself: registry.cpp serializes every call under its lock.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/src/internal.h"

struct sqlite3;
struct sqlite3_stmt;

namespace nvregistry {

using KeyId = int64_t;

// The predefined roots are rows with fixed ids, so that a predefined HKEY needs no look-up.
// Every other key gets a fresh id from AUTOINCREMENT: an id is never given out twice, so a
// handle to a deleted key can never reach a newer key that happens to have the same name.
constexpr KeyId kClassesRoot = 1;
constexpr KeyId kCurrentUser = 2;
constexpr KeyId kLocalMachine = 3;
constexpr KeyId kUsers = 4;
constexpr KeyId kLastRoot = kUsers;

// Windows' limits on names: 255 characters for a key name, 16383 for a value name.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

// A subkey path split into its key names, each checked already (not empty, not too long).
using KeyPath = std::vector<std::u16string>;

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct SubKey {
    std::u16string name;
    std::u16string keyClass;
    FILETIME lastWrite = {};
};

struct KeyInfo {
    std::u16string keyClass;
    DWORD subKeys = 0;
    DWORD maxSubKeyLength = 0;  // characters, without the terminator
    DWORD maxClassLength = 0;   // characters, without the terminator
    DWORD values = 0;
    DWORD maxValueNameLength = 0;  // characters, without the terminator
    DWORD maxValueLength = 0;      // bytes
    FILETIME lastWrite = {};
};

// Where an enumeration of one key stood after its last call, so that asking for the next index
// continues after the row last returned instead of counting every row before it. It holds only
// while the key's last write time is what it was then: every change to the key's list of subkeys
// or values moves that time (see Touch), and the enumeration then seeks the index again, so that
// an index always means what it means without a cursor.
struct EnumCursor {
    bool valid = false;
    DWORD index = 0;      // the index of the row last returned
    std::string fold;     // that row's folded name (subkeys)
    int64_t row = 0;      // that row's id (values)
    int64_t written = 0;  // the key's last write time when the row was read
};

// Every member returns a Win32 code. A key id that no longer exists answers ERROR_KEY_DELETED.
class Store {
  public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    LONG OpenKey(KeyId parent, const KeyPath& path, KeyId* key);
    LONG CreateKey(KeyId parent, const KeyPath& path, const std::u16string& keyClass, KeyId* key,
                   bool* created);
    LONG DeleteKey(KeyId parent, const KeyPath& path);
    LONG QueryValue(KeyId key, const std::u16string& name, Value* value);
    LONG SetValue(KeyId key, const std::u16string& name, DWORD type, const BYTE* data, DWORD size);
    LONG DeleteValue(KeyId key, const std::u16string& name);
    // A null cursor counts from the first row on every call.
    LONG EnumKey(KeyId key, DWORD index, SubKey* subKey, EnumCursor* cursor);
    LONG EnumValue(KeyId key, DWORD index, Value* value, EnumCursor* cursor);
    LONG QueryInfo(KeyId key, KeyInfo* info);

    // One transaction around many calls: from Begin to Commit every call is a savepoint inside
    // it, so that other processes see all of the calls or none. A call that fails undoes only
    // itself; Rollback undoes them all. A transaction that the store lost on the way (a failing
    // file) makes every later call and Commit fail. A transaction for reading sees one state of
    // the store throughout and refuses writes with ERROR_ACCESS_DENIED.
    LONG Begin(bool write);
    LONG Commit();
    void Rollback();
    bool InTransaction() const { return transaction_; }

    // The read lease: a read that opens a transaction leaves it open, so that the reads after
    // it for a short time (kLeaseTime) run in it without locking the file again and again (a
    // monitor's start reads twice per port). A write, a transaction of Begin or the end of the
    // time ends it; registry.cpp ends it when its time is up, so that a process gone quiet
    // never keeps other processes' writes waiting. While it lasts, other processes read, and
    // their writes wait for its end (the file is locked for reading).
    static constexpr std::chrono::milliseconds kLeaseTime{10};
    bool Leased() const { return leased_; }
    std::chrono::steady_clock::time_point LeaseEnd() const { return leaseEnd_; }
    void EndLease();
    // Whether a lease began since the last question.
    bool TakeLeaseStarted();
    // From now on every read ends its transaction, as a write does (a child of fork(): it
    // would need a thread of its own to end a lease on time, and a child of a process with
    // threads should start none).
    void WithoutLeases() { leases_ = false; }

    // Closes the connection; the next call opens the store again from NvRegistryPath().
    void Close();

  private:
    enum class Access { kRead, kWrite };
    class Statement;
    template <class Body>
    LONG Transact(Access access, Body&& body);
    template <class Body>
    LONG Run(Access access, Body&& body);
    template <class Body>
    LONG RunInside(Access access, Body&& body);
    int StepOnce(const char* sql);

    LONG Connect();
    LONG Initialize();
    LONG CheckWritable();
    void Abandon();
    LONG Fail(int rc, Access access, const char* what);
    int Exec(const char* sql);
    int ExecWhileBusy(const char* sql);
    void Pause(unsigned attempt) const;
    int Prepare(const char* sql, Statement* statement);
    int RequireKey(KeyId key, LONG* outcome);
    bool IsSoundChild(KeyId parent, KeyId child) const;
    int KeyWritten(KeyId key, int64_t* written, LONG* outcome);
    int StepIndexed(KeyId key, const char* const queries[3], DWORD index, EnumCursor* cursor,
                    Statement* query, LONG* outcome);
    int FindChild(KeyId parent, const std::u16string& name, KeyId* child);
    int DepthOf(KeyId key, size_t* depth);
    int ParentOf(KeyId key, KeyId* parent);
    int Walk(KeyId parent, const KeyPath& path, KeyId* key, LONG* outcome);
    int Touch(KeyId key);

    sqlite3* db_ = nullptr;
    std::map<const char*, sqlite3_stmt*> statements_;  // keyed by the SQL text's address
    std::string path_;
    pid_t pid_ = 0;     // the process that opened db_ (a child of fork() must not use it)
    dev_t device_ = 0;  // the file opened, so that a replaced store file is noticed
    ino_t inode_ = 0;
    bool readOnly_ = false;
    bool LeaseHolds() const;
    void StartLease();

    bool leases_ = true;         // reads may start a lease
    bool leased_ = false;        // a read transaction stays open between calls
    bool leaseStarted_ = false;  // since the last TakeLeaseStarted
    std::chrono::steady_clock::time_point leaseEnd_;
    bool transaction_ = false;   // between Begin and Commit or Rollback
    bool writing_ = false;       // the transaction is one for writing
    LONG lost_ = ERROR_SUCCESS;  // why the open transaction was lost, if it was
};

}  // namespace nvregistry
