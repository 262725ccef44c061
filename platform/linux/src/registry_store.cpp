// The registry store: SQLite, one file per machine (NORVA_REGISTRY, by default
// /var/lib/norva/registry.db).
//
// Schema (version 1, application_id "NVRG"):
//   keys(id, parent, name, fold, class, written)  one row per key; the four roots have parent 0
//   vals(id, key, name, fold, type, data)          one row per value
// Names are kept exactly as given, as UTF-16LE blobs, so that the case (and any odd code unit)
// survives. `fold` is the name upper-cased code unit by code unit with towupper16, as UTF-16BE:
// UNIQUE(parent, fold) makes names case-insensitive, and ordering by the blob orders subkeys
// case-insensitively, as Windows enumerates them. Values enumerate in creation order: vals.id
// is AUTOINCREMENT, and an overwrite is an UPDATE of the same row, so the value keeps its place.
//
// Enumerations: a handle's cursor (EnumCursor) remembers the row last returned, so that the
// next index is one step in the table's index instead of a count from the first row; any other
// index, or any change to the key since, counts from the first row as before.
//
// Transactions: every registry call is one transaction, BEGIN IMMEDIATE for a write, so that it
// is atomic; between Begin and Commit (an import) the calls run inside one transaction instead,
// each write a savepoint. Reads share one read transaction for up to 10 ms (the read lease, see
// Store::kLeaseTime), so that a burst of reads does not lock the file for each of them.
// synchronous=FULL with a rollback journal makes a committed write durable. The journal mode is
// TRUNCATE rather than WAL: a WAL store needs its -shm file written even to read, and a store that
// the caller may not write must still read. TRUNCATE (rather than DELETE) commits by truncating and
// syncing the journal, which needs no directory update per write.
//
// Several processes: SQLite's file locks serialize them. A call that finds the store locked
// waits (the busy timeout) and starts its transaction again, for up to 30 seconds in all before
// it gives up with ERROR_BUSY.
#include "platform/linux/src/registry_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace nvregistry {
namespace {

constexpr char kDefaultPath[] = "/var/lib/norva/registry.db";
constexpr int64_t kSchemaVersion = 1;
constexpr int64_t kApplicationId = 0x4E565247;  // "NVRG": this file is a registry store
constexpr int kBusyTimeoutMs = 1000;            // one wait inside SQLite for a lock
constexpr auto kBusyLimit = std::chrono::seconds(30);

// Seconds between 1601-01-01 (FILETIME's epoch) and 1970-01-01, in 100 ns units.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;

const char kCreateSchema[] =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  class BLOB NOT NULL,"
    "  written INTEGER NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE vals("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "CREATE INDEX vals_in_order ON vals(key, id);";

const char kInsertRoot[] =
    "INSERT INTO keys(id, parent, name, fold, class, written) VALUES(?1, 0, ?2, ?3, x'', ?4)";
const char kBeginRead[] = "BEGIN";
const char kBeginWrite[] = "BEGIN IMMEDIATE";
const char kCommit[] = "COMMIT";
const char kRollback[] = "ROLLBACK";
const char kSavepoint[] = "SAVEPOINT call";
const char kRollbackToSavepoint[] = "ROLLBACK TO call";
const char kReleaseSavepoint[] = "RELEASE call";
const char kApplicationIdQuery[] = "PRAGMA application_id";
const char kUserVersionQuery[] = "PRAGMA user_version";
const char kObjectCount[] = "SELECT count(*) FROM sqlite_master";
const char kKeyExists[] = "SELECT 1 FROM keys WHERE id = ?1";
const char kFindChild[] = "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2";
const char kInsertKey[] =
    "INSERT INTO keys(parent, name, fold, class, written) VALUES(?1, ?2, ?3, ?4, ?5)";
// The time only moves forward, by at least one tick a change, even when the clock is set back:
// an enumeration's cursor relies on every change moving it.
const char kTouchKey[] = "UPDATE keys SET written = max(?2, written + 1) WHERE id = ?1";
const char kParentOf[] = "SELECT parent FROM keys WHERE id = ?1";
const char kHasChild[] = "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1";
const char kDeleteValuesOf[] = "DELETE FROM vals WHERE key = ?1";
const char kDeleteKey[] = "DELETE FROM keys WHERE id = ?1";
const char kSelectValue[] = "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2";
// An overwrite updates the row in place: the value keeps its name as first written and its
// position in the enumeration, as on Windows.
const char kUpsertValue[] =
    "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";
const char kDeleteValue[] = "DELETE FROM vals WHERE key = ?1 AND fold = ?2";
const char kKeyWritten[] = "SELECT written FROM keys WHERE id = ?1";
// Three ways to the row at an index of an enumeration: counting rows from the first (a seek),
// the row of the cursor again, and the row after it. The fourth column is the cursor's position.
const char* const kEnumKey[3] = {
    "SELECT name, class, written, fold, id FROM keys WHERE parent = ?1 "
    "ORDER BY fold LIMIT 1 OFFSET ?2",
    "SELECT name, class, written, fold, id FROM keys WHERE parent = ?1 AND fold >= ?2 "
    "ORDER BY fold LIMIT 1",
    "SELECT name, class, written, fold, id FROM keys WHERE parent = ?1 AND fold > ?2 "
    "ORDER BY fold LIMIT 1",
};
const char* const kEnumValue[3] = {
    "SELECT name, type, data, id FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT name, type, data, id FROM vals WHERE key = ?1 AND id >= ?2 ORDER BY id LIMIT 1",
    "SELECT name, type, data, id FROM vals WHERE key = ?1 AND id > ?2 ORDER BY id LIMIT 1",
};
const char kKeyRecord[] = "SELECT class, written FROM keys WHERE id = ?1";
const char kSubKeyStats[] =
    "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(class)), 0) "
    "FROM keys WHERE parent = ?1";
const char kValueStats[] =
    "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) "
    "FROM vals WHERE key = ?1";

struct Root {
    KeyId id;
    const char16_t* name;
};
constexpr Root kRoots[] = {
    {kClassesRoot, u"HKEY_CLASSES_ROOT"},
    {kCurrentUser, u"HKEY_CURRENT_USER"},
    {kLocalMachine, u"HKEY_LOCAL_MACHINE"},
    {kUsers, u"HKEY_USERS"},
};

// The exact name as stored: UTF-16LE.
std::string Utf16Le(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::u16string FromUtf16Le(const void* data, int bytes) {
    std::u16string text;
    const auto* p = static_cast<const unsigned char*>(data);
    for (int i = 0; p != nullptr && i + 1 < bytes; i += 2) {
        text.push_back(static_cast<char16_t>(p[i] | (p[i + 1] << 8)));
    }
    return text;
}

// The name for comparisons: upper-cased as Windows compares names, big-endian so that the
// byte order of the blob is the order of the code units.
std::string Fold(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        char16_t upper = towupper16(c);
        bytes.push_back(static_cast<char>(upper >> 8));
        bytes.push_back(static_cast<char>(upper & 0xFF));
    }
    return bytes;
}

int64_t NowAsFileTime() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100 + kUnixEpochAsFileTime;
}

FILETIME ToFileTime(int64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
    return time;
}

DWORD ClampToDword(int64_t value) {
    return value < 0 ? 0 : (value > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<DWORD>(value));
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The default store's directory is ours to create; a path chosen through NORVA_REGISTRY must
// lead to an existing directory.
void CreateDirectories(const std::string& dir) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return;  // opening the store reports the failure
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

// Whether this process may write the store: the file, and its directory, where SQLite creates
// the rollback journal. Root passes every permission check, so a store file without any write
// permission bit counts as read-only for root too: that is how an administrator makes the
// registry read-only for everyone.
bool MayWrite(const std::string& path, const struct stat* file) {
    if (faccessat(AT_FDCWD, DirectoryOf(path).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return false;
    }
    if (file == nullptr) {
        return true;  // not created yet: the directory decides
    }
    if ((file->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return false;
    }
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// getpid() is a system call, and every registry call asks: the answer is kept, and taken
// again only in a child of fork().
pid_t ThisProcess() {
    static std::atomic<pid_t> pid{0};
    static const bool registered = [] {
        return pthread_atfork(nullptr, nullptr, [] { pid.store(0); }) == 0;
    }();
    (void)registered;
    pid_t known = pid.load();
    if (known == 0) {
        known = getpid();
        pid.store(known);
    }
    return known;
}

bool IsBusy(int rc) {
    int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

}  // namespace

// A prepared statement borrowed from the cache for one use: reset and unbound when it goes.
class Store::Statement {
  public:
    Statement() = default;
    ~Statement() {
        if (statement_ != nullptr) {
            sqlite3_reset(statement_);
            sqlite3_clear_bindings(statement_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Attach(sqlite3_stmt* statement) { statement_ = statement; }

    void Bind(int index, int64_t value) { Check(sqlite3_bind_int64(statement_, index, value)); }
    // A zero-length blob must still be a blob: bound from a null pointer it would be NULL.
    void Bind(int index, const std::string& bytes) { Bind(index, bytes.data(), bytes.size()); }
    void Bind(int index, const void* data, size_t size) {
        if (size == 0) {
            Check(sqlite3_bind_zeroblob(statement_, index, 0));
        } else {
            Check(sqlite3_bind_blob64(statement_, index, data, size, SQLITE_TRANSIENT));
        }
    }

    // SQLITE_ROW, SQLITE_DONE, or the error (a failed bind included).
    int Step() { return bindError_ != SQLITE_OK ? bindError_ : sqlite3_step(statement_); }

    int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }
    std::u16string Name(int column) {
        const void* data = sqlite3_column_blob(statement_, column);
        return FromUtf16Le(data, sqlite3_column_bytes(statement_, column));
    }
    std::string Blob(int column) {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
        int size = sqlite3_column_bytes(statement_, column);
        return data == nullptr ? std::string() : std::string(data, static_cast<size_t>(size));
    }
    std::vector<BYTE> Bytes(int column) {
        const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(statement_, column));
        int size = sqlite3_column_bytes(statement_, column);
        return data == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(data, data + size);
    }

  private:
    void Check(int rc) {
        if (rc != SQLITE_OK && bindError_ == SQLITE_OK) {
            bindError_ = rc;
        }
    }

    sqlite3_stmt* statement_ = nullptr;
    int bindError_ = SQLITE_OK;
};

Store::~Store() {
    Close();
}

void Store::Close() {
    if (db_ != nullptr && pid_ != ThisProcess()) {
        Abandon();
        return;
    }
    for (auto& entry : statements_) {
        sqlite3_finalize(entry.second);
    }
    statements_.clear();
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);  // an open read lease ends with it
        db_ = nullptr;
    }
    leased_ = false;
    path_.clear();
}

// A child of fork() inherits the parent's connection, which it must not use nor close: SQLite's
// locks belong to the parent process. The child leaves it alone and opens its own.
void Store::Abandon() {
    db_ = nullptr;
    leased_ = false;
    transaction_ = false;  // the parent's, not the child's
    lost_ = ERROR_SUCCESS;
    statements_.clear();
    path_.clear();
}

LONG Store::Connect() {
    if (db_ != nullptr && pid_ != ThisProcess()) {
        Abandon();
    }
    if (transaction_) {
        // The transaction keeps the file it began on; a lost one fails every call.
        if (lost_ != ERROR_SUCCESS) {
            return lost_;
        }
        return db_ != nullptr ? static_cast<LONG>(ERROR_SUCCESS) : ERROR_REGISTRY_IO_FAILED;
    }
    if (leased_ && LeaseHolds()) {
        return ERROR_SUCCESS;  // the lease keeps the file too
    }
    EndLease();
    std::string path = NvRegistryPath();
    struct stat file;
    bool exists = stat(path.c_str(), &file) == 0;
    if (db_ != nullptr) {
        // Still the same file? A store that was replaced or removed is opened afresh.
        if (path == path_ && exists && file.st_dev == device_ && file.st_ino == inode_) {
            return ERROR_SUCCESS;
        }
        Close();
    }
    if (path == kDefaultPath) {
        CreateDirectories(DirectoryOf(path));
        exists = stat(path.c_str(), &file) == 0;
    }
    path_ = path;
    if (exists && S_ISDIR(file.st_mode)) {
        DbgPrint("Registry store %s: is a directory\n", path.c_str());
        path_.clear();
        return ERROR_REGISTRY_IO_FAILED;
    }
    if (exists && faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0) {
        DbgPrint("Registry store %s: not readable: %s\n", path.c_str(), strerror(errno));
        path_.clear();
        return ERROR_ACCESS_DENIED;
    }
    readOnly_ = !MayWrite(path, exists ? &file : nullptr);
    if (!exists && readOnly_) {
        DbgPrint("Registry store %s: does not exist and cannot be created here\n", path.c_str());
        path_.clear();
        return ERROR_REGISTRY_IO_FAILED;
    }
    int flags = SQLITE_OPEN_NOMUTEX |
                (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    pid_ = ThisProcess();
    if (rc != SQLITE_OK) {
        LONG result = Fail(rc, Access::kRead, "open");
        Close();
        return result == ERROR_BUSY ? ERROR_BUSY : ERROR_REGISTRY_IO_FAILED;
    }
    if (stat(path.c_str(), &file) == 0) {
        device_ = file.st_dev;
        inode_ = file.st_ino;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    LONG result = Initialize();
    if (result != ERROR_SUCCESS) {
        Close();
    }
    return result;
}

// Sets the connection up and checks that the file is a registry store of our version; a new,
// empty file gets the schema and the four roots.
LONG Store::Initialize() {
    if (!readOnly_) {
        // Setting the journal mode reads the file header, so it too may find the store locked.
        int rc = ExecWhileBusy("PRAGMA journal_mode = TRUNCATE");
        if (rc != SQLITE_OK) {
            return Fail(rc, Access::kRead, "journal mode");
        }
    }
    int rc = Exec("PRAGMA synchronous = FULL");
    if (rc != SQLITE_OK) {
        return Fail(rc, Access::kRead, "synchronous mode");
    }
    // The check only reads, so that a process starting while another one writes a long
    // transaction (an import) does not wait for it; only an empty file is written.
    bool empty = false;
    auto check = [&](LONG* outcome) -> int {
        int64_t numbers[3] = {};
        const char* queries[3] = {kApplicationIdQuery, kUserVersionQuery, kObjectCount};
        for (int i = 0; i < 3; ++i) {
            Statement query;
            if (int rc2 = Prepare(queries[i], &query)) {
                return rc2;
            }
            int step = query.Step();
            if (step != SQLITE_ROW) {
                return step == SQLITE_DONE ? SQLITE_CORRUPT : step;
            }
            numbers[i] = query.Int(0);
        }
        const int64_t applicationId = numbers[0];
        const int64_t version = numbers[1];
        const int64_t objects = numbers[2];
        empty = applicationId == 0 && version == 0 && objects == 0;
        if ((applicationId != kApplicationId || version != kSchemaVersion) && !empty) {
            DbgPrint(
                "Registry store %s: not a registry store of this version "
                "(application id 0x%X, version %d)\n",
                path_.c_str(), static_cast<unsigned>(applicationId), static_cast<int>(version));
            *outcome = ERROR_BADDB;
        }
        return SQLITE_OK;
    };
    LONG result = Run(Access::kRead, check);
    if (result != ERROR_SUCCESS || !empty) {
        return result;
    }
    if (readOnly_) {
        DbgPrint("Registry store %s: empty, and read-only\n", path_.c_str());
        return ERROR_REGISTRY_IO_FAILED;
    }
    return Run(Access::kWrite, [&](LONG* outcome) -> int {
        int rc2 = check(outcome);
        if (rc2 != SQLITE_OK || *outcome != ERROR_SUCCESS || !empty) {
            return rc2;  // another process made it a store meanwhile
        }
        if ((rc2 = Exec(kCreateSchema)) != SQLITE_OK) {
            return rc2;
        }
        int64_t now = NowAsFileTime();
        for (const Root& root : kRoots) {
            Statement insert;
            if ((rc2 = Prepare(kInsertRoot, &insert)) != SQLITE_OK) {
                return rc2;
            }
            insert.Bind(1, root.id);
            insert.Bind(2, Utf16Le(root.name));
            insert.Bind(3, Fold(root.name));
            insert.Bind(4, now);
            if (int step = insert.Step(); step != SQLITE_DONE) {
                return step;
            }
        }
        std::string pragmas = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
        return Exec(pragmas.c_str());
    });
}

// Before every write: the store may have become read-only since it was opened (or writable:
// then it is opened again for writing).
LONG Store::CheckWritable() {
    struct stat file;
    if (stat(path_.c_str(), &file) != 0 || !MayWrite(path_, &file)) {
        return ERROR_ACCESS_DENIED;
    }
    if (readOnly_) {
        Close();
        LONG result = Connect();
        if (result != ERROR_SUCCESS) {
            return result;
        }
        if (readOnly_) {
            return ERROR_ACCESS_DENIED;
        }
    }
    return ERROR_SUCCESS;
}

// Maps a SQLite failure to the code Windows gives for the same trouble, and traces the detail.
// A damaged or failing file is closed, so that the next call opens it afresh.
LONG Store::Fail(int rc, Access access, const char* what) {
    DbgPrint("Registry store %s: %s failed: %s (SQLite %d)\n", path_.c_str(), what,
             db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc), rc);
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_BUSY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_CANTOPEN:
            // During a write: the journal could not be created beside the store.
            if (access == Access::kWrite) {
                return ERROR_ACCESS_DENIED;
            }
            Close();
            return ERROR_REGISTRY_IO_FAILED;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
            Close();
            return ERROR_BADDB;
        case SQLITE_FULL:
            return ERROR_DISK_FULL;
        case SQLITE_NOMEM:
        case SQLITE_TOOBIG:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            Close();
            return ERROR_REGISTRY_IO_FAILED;
    }
}

int Store::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

int Store::Prepare(const char* sql, Statement* statement) {
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        sqlite3_stmt* prepared = nullptr;
        int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
        if (rc != SQLITE_OK) {
            return rc;
        }
        it = statements_.emplace(sql, prepared).first;
    }
    statement->Attach(it->second);
    return SQLITE_OK;
}

// Runs body as one transaction, again from the start while the store is locked by another
// process, up to the busy limit. The body returns SQLITE_OK with the call's Win32 outcome in
// *outcome, or the SQLite error that stopped it; an outcome other than success rolls back.
// Inside a transaction of Begin the body is a savepoint instead.
// A read runs in the read lease while it holds, and a read that opens a transaction starts one.
template <class Body>
LONG Store::Run(Access access, Body&& body) {
    if (transaction_) {
        return RunInside(access, body);
    }
    if (leased_ && access == Access::kRead && LeaseHolds()) {
        LONG outcome = ERROR_SUCCESS;
        int rc = body(&outcome);
        if (rc == SQLITE_OK) {
            return outcome;
        }
        EndLease();
        return Fail(rc, access, "read");
    }
    EndLease();
    const auto deadline = std::chrono::steady_clock::now() + kBusyLimit;
    for (unsigned attempt = 0;; ++attempt) {
        LONG outcome = ERROR_SUCCESS;
        int rc = StepOnce(access == Access::kWrite ? kBeginWrite : kBeginRead);
        if (rc == SQLITE_OK) {
            rc = body(&outcome);
            if (rc == SQLITE_OK && access == Access::kRead && leases_) {
                StartLease();
                return outcome;
            }
            if (rc == SQLITE_OK) {
                rc = StepOnce(outcome == ERROR_SUCCESS ? kCommit : kRollback);
            }
            if (rc != SQLITE_OK && sqlite3_get_autocommit(db_) == 0) {
                StepOnce(kRollback);
            }
        }
        if (rc == SQLITE_OK) {
            return outcome;
        }
        if (!IsBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
            return Fail(rc, access, access == Access::kWrite ? "write" : "read");
        }
        Pause(attempt);
    }
}

bool Store::LeaseHolds() const {
    return std::chrono::steady_clock::now() < leaseEnd_;
}

void Store::StartLease() {
    leased_ = true;
    leaseStarted_ = true;
    leaseEnd_ = std::chrono::steady_clock::now() + kLeaseTime;
}

// A read transaction ends alike by COMMIT or ROLLBACK: it changed nothing.
void Store::EndLease() {
    if (!leased_) {
        return;
    }
    leased_ = false;
    if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0 && StepOnce(kCommit) != SQLITE_OK) {
        StepOnce(kRollback);
    }
}

bool Store::TakeLeaseStarted() {
    bool started = leaseStarted_;
    leaseStarted_ = false;
    return started;
}

// One call inside the open transaction. A write is a savepoint: when it fails it undoes its own
// changes and leaves the transaction open. A failure of the store may end the transaction
// itself (SQLite rolls back on some I/O errors; Fail closes a damaged file): it is then lost,
// and stays so until Commit or Rollback, so that no later call can write outside it.
template <class Body>
LONG Store::RunInside(Access access, Body&& body) {
    const bool write = access == Access::kWrite;
    if (write && !writing_) {
        return ERROR_ACCESS_DENIED;  // a transaction for reading
    }
    LONG outcome = ERROR_SUCCESS;
    int rc = write ? StepOnce(kSavepoint) : SQLITE_OK;
    if (rc == SQLITE_OK) {
        rc = body(&outcome);
        if (write && (rc != SQLITE_OK || outcome != ERROR_SUCCESS)) {
            StepOnce(kRollbackToSavepoint);
        }
        if (write) {
            int released = StepOnce(kReleaseSavepoint);
            rc = rc != SQLITE_OK ? rc : released;
        }
    }
    if (rc == SQLITE_OK) {
        return outcome;
    }
    LONG result = Fail(rc, access, write ? "write" : "read");
    if (db_ == nullptr || sqlite3_get_autocommit(db_) != 0) {
        lost_ = result;
    }
    return result;
}

// A statement without results, prepared once: the transaction statements run for every call.
int Store::StepOnce(const char* sql) {
    Statement statement;
    if (int rc = Prepare(sql, &statement)) {
        return rc;
    }
    int rc = statement.Step();
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// A transaction for writing takes the store's write lock at once; one for reading takes the
// read lock at once, so that every call inside reads the same state of the store.
LONG Store::Begin(bool write) {
    if (transaction_) {
        return ERROR_INVALID_FUNCTION;  // transactions do not nest
    }
    LONG result = Connect();
    if (result == ERROR_SUCCESS && write) {
        result = CheckWritable();
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    EndLease();  // the connection's read lease, if the store was just opened or read
    const auto deadline = std::chrono::steady_clock::now() + kBusyLimit;
    for (unsigned attempt = 0;; ++attempt) {
        int rc = StepOnce(write ? kBeginWrite : kBeginRead);
        if (rc == SQLITE_OK && !write) {
            rc = StepOnce(kObjectCount);
            if (rc != SQLITE_OK) {
                StepOnce(kRollback);
            }
        }
        if (rc == SQLITE_OK) {
            transaction_ = true;
            writing_ = write;
            lost_ = ERROR_SUCCESS;
            return ERROR_SUCCESS;
        }
        if (!IsBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
            return Fail(rc, write ? Access::kWrite : Access::kRead, "begin");
        }
        Pause(attempt);
    }
}

// A commit that finds readers still on the store waits for them, up to the busy limit; one that
// fails leaves nothing of the transaction behind.
LONG Store::Commit() {
    if (!transaction_) {
        return ERROR_INVALID_FUNCTION;
    }
    LONG result = db_ == nullptr && lost_ == ERROR_SUCCESS ? ERROR_REGISTRY_IO_FAILED : lost_;
    const auto deadline = std::chrono::steady_clock::now() + kBusyLimit;
    for (unsigned attempt = 0; result == ERROR_SUCCESS; ++attempt) {
        int rc = StepOnce(kCommit);
        if (rc == SQLITE_OK) {
            transaction_ = false;
            return ERROR_SUCCESS;
        }
        if (!IsBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
            result = Fail(rc, Access::kWrite, "commit");
            break;
        }
        Pause(attempt);
    }
    Rollback();
    return result;
}

void Store::Rollback() {
    if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
        StepOnce(kRollback);
    }
    transaction_ = false;
    lost_ = ERROR_SUCCESS;
}

// One statement outside a transaction, again while the store is locked, up to the busy limit.
int Store::ExecWhileBusy(const char* sql) {
    const auto deadline = std::chrono::steady_clock::now() + kBusyLimit;
    for (unsigned attempt = 0;; ++attempt) {
        int rc = Exec(sql);
        if (!IsBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
            return rc;
        }
        Pause(attempt);
    }
}

// Before another attempt: SQLite has waited its busy timeout already, or saw that waiting could
// not help. A short pause that differs between processes keeps two of them from retrying in
// step.
void Store::Pause(unsigned attempt) const {
    usleep(500 + (static_cast<unsigned>(pid_) * 7919u + attempt * 104729u) % 2000u);
}

template <class Body>
LONG Store::Transact(Access access, Body&& body) {
    LONG result = Connect();
    if (result == ERROR_SUCCESS && access == Access::kWrite && !transaction_) {
        result = CheckWritable();  // inside a transaction, Begin did
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return Run(access, body);
}

// SQLITE_OK with ERROR_KEY_DELETED as the outcome when the key is gone: a handle may outlive
// its key.
int Store::RequireKey(KeyId key, LONG* outcome) {
    Statement query;
    if (int rc = Prepare(kKeyExists, &query)) {
        return rc;
    }
    query.Bind(1, key);
    int rc = query.Step();
    if (rc == SQLITE_DONE) {
        *outcome = ERROR_KEY_DELETED;
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// A key is never below itself, and a root is below nothing: a damaged store whose keys.parent
// makes a cycle would otherwise send every walk down the tree round it for ever. Every cycle
// that a walk from a root can reach passes through a root, since each key has one parent.
bool Store::IsSoundChild(KeyId parent, KeyId child) const {
    if (child > kLastRoot && child != parent) {
        return true;
    }
    DbgPrint("Registry store %s: key %lld is listed below key %lld\n", path_.c_str(),
             static_cast<long long>(child), static_cast<long long>(parent));
    return false;
}

int Store::FindChild(KeyId parent, const std::u16string& name, KeyId* child) {
    Statement query;
    if (int rc = Prepare(kFindChild, &query)) {
        return rc;
    }
    query.Bind(1, parent);
    query.Bind(2, Fold(name));
    int rc = query.Step();
    *child = rc == SQLITE_ROW ? query.Int(0) : 0;
    if (rc == SQLITE_ROW && !IsSoundChild(parent, *child)) {
        return SQLITE_CORRUPT;
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// How many levels below its root a key lies, counted up its parents. The count stops once it
// passes the limit: a store written before the limit, or a damaged one whose parents run in a
// cycle, may hold a longer chain.
int Store::DepthOf(KeyId key, size_t* depth) {
    *depth = 0;
    for (KeyId at = key; at > kLastRoot && *depth <= kNvMaxKeyDepth; ++*depth) {
        if (int rc = ParentOf(at, &at)) {
            return rc;
        }
    }
    return SQLITE_OK;
}

// The parent of a key that exists.
int Store::ParentOf(KeyId key, KeyId* parent) {
    Statement query;
    if (int rc = Prepare(kParentOf, &query)) {
        return rc;
    }
    query.Bind(1, key);
    int rc = query.Step();
    if (rc != SQLITE_ROW) {
        return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
    }
    *parent = query.Int(0);
    return SQLITE_OK;
}

// Follows path down from parent; *outcome says why it stopped short.
int Store::Walk(KeyId parent, const KeyPath& path, KeyId* key, LONG* outcome) {
    if (int rc = RequireKey(parent, outcome); rc != SQLITE_OK || *outcome != ERROR_SUCCESS) {
        return rc;
    }
    KeyId current = parent;
    for (const std::u16string& name : path) {
        KeyId child = 0;
        if (int rc = FindChild(current, name, &child)) {
            return rc;
        }
        if (child == 0) {
            *outcome = ERROR_FILE_NOT_FOUND;
            return SQLITE_OK;
        }
        current = child;
    }
    *key = current;
    return SQLITE_OK;
}

// A key's last write time follows changes to its values and to its list of subkeys.
int Store::Touch(KeyId key) {
    Statement update;
    if (int rc = Prepare(kTouchKey, &update)) {
        return rc;
    }
    update.Bind(1, key);
    update.Bind(2, NowAsFileTime());
    int rc = update.Step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

LONG Store::OpenKey(KeyId parent, const KeyPath& path, KeyId* key) {
    return Transact(Access::kRead, [&](LONG* outcome) { return Walk(parent, path, key, outcome); });
}

LONG Store::CreateKey(KeyId parent, const KeyPath& path, const std::u16string& keyClass, KeyId* key,
                      bool* created) {
    LONG result = Connect();
    if (result != ERROR_SUCCESS) {
        return result;
    }
    // Opening a key that exists is no write: a read-only store, or a transaction for reading,
    // still allows it.
    Access access = Access::kWrite;
    result = !transaction_ ? CheckWritable() : writing_ ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    if (result == ERROR_ACCESS_DENIED && db_ != nullptr) {
        access = Access::kRead;
    } else if (result != ERROR_SUCCESS) {
        return result;
    }
    return Run(access, [&](LONG* outcome) -> int {
        *created = false;
        if (int rc = RequireKey(parent, outcome); rc != SQLITE_OK || *outcome != ERROR_SUCCESS) {
            return rc;
        }
        size_t depth = 0;
        if (path.size() <= kNvMaxKeyDepth) {
            if (int rc = DepthOf(parent, &depth)) {
                return rc;
            }
        }
        if (path.size() > kNvMaxKeyDepth || depth + path.size() > kNvMaxKeyDepth) {
            *outcome = ERROR_INVALID_PARAMETER;  // deeper than a registry holds
            return SQLITE_OK;
        }
        KeyId current = parent;
        for (size_t i = 0; i < path.size(); ++i) {
            KeyId child = 0;
            if (int rc = FindChild(current, path[i], &child)) {
                return rc;
            }
            if (child == 0) {
                if (access == Access::kRead) {
                    *outcome = ERROR_ACCESS_DENIED;
                    return SQLITE_OK;
                }
                const bool last = i + 1 == path.size();
                Statement insert;
                if (int rc = Prepare(kInsertKey, &insert)) {
                    return rc;
                }
                insert.Bind(1, current);
                insert.Bind(2, Utf16Le(path[i]));
                insert.Bind(3, Fold(path[i]));
                insert.Bind(4, Utf16Le(last ? keyClass : std::u16string()));
                insert.Bind(5, NowAsFileTime());
                if (int rc = insert.Step(); rc != SQLITE_DONE) {
                    return rc;
                }
                child = sqlite3_last_insert_rowid(db_);
                if (int rc = Touch(current)) {
                    return rc;
                }
                *created = last;
            }
            current = child;
        }
        *key = current;
        return SQLITE_OK;
    });
}

LONG Store::DeleteKey(KeyId parent, const KeyPath& path) {
    return Transact(Access::kWrite, [&](LONG* outcome) -> int {
        KeyId target = 0;
        if (int rc = Walk(parent, path, &target, outcome); rc != SQLITE_OK || *outcome) {
            return rc;
        }
        // The roots are no one's to delete; a key with subkeys neither, as on Windows.
        bool hasChild = false;
        if (target > kLastRoot) {
            Statement query;
            if (int rc = Prepare(kHasChild, &query)) {
                return rc;
            }
            query.Bind(1, target);
            int rc = query.Step();
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
                return rc;
            }
            hasChild = rc == SQLITE_ROW;
        }
        if (target <= kLastRoot || hasChild) {
            *outcome = ERROR_ACCESS_DENIED;
            return SQLITE_OK;
        }
        KeyId targetParent = 0;
        if (int rc = ParentOf(target, &targetParent)) {
            return rc;
        }
        for (const char* sql : {kDeleteValuesOf, kDeleteKey}) {
            Statement remove;
            if (int rc = Prepare(sql, &remove)) {
                return rc;
            }
            remove.Bind(1, target);
            if (int rc = remove.Step(); rc != SQLITE_DONE) {
                return rc;
            }
        }
        return Touch(targetParent);
    });
}

LONG Store::QueryValue(KeyId key, const std::u16string& name, Value* value) {
    return Transact(Access::kRead, [&](LONG* outcome) -> int {
        if (int rc = RequireKey(key, outcome); rc != SQLITE_OK || *outcome != ERROR_SUCCESS) {
            return rc;
        }
        Statement query;
        if (int rc = Prepare(kSelectValue, &query)) {
            return rc;
        }
        query.Bind(1, key);
        query.Bind(2, Fold(name));
        int rc = query.Step();
        if (rc == SQLITE_DONE) {
            *outcome = ERROR_FILE_NOT_FOUND;
            return SQLITE_OK;
        }
        if (rc != SQLITE_ROW) {
            return rc;
        }
        value->name = query.Name(0);
        value->type = static_cast<DWORD>(query.Int(1));
        value->data = query.Bytes(2);
        return SQLITE_OK;
    });
}

LONG Store::SetValue(KeyId key, const std::u16string& name, DWORD type, const BYTE* data,
                     DWORD size) {
    return Transact(Access::kWrite, [&](LONG* outcome) -> int {
        if (int rc = RequireKey(key, outcome); rc != SQLITE_OK || *outcome != ERROR_SUCCESS) {
            return rc;
        }
        Statement upsert;
        if (int rc = Prepare(kUpsertValue, &upsert)) {
            return rc;
        }
        upsert.Bind(1, key);
        upsert.Bind(2, Utf16Le(name));
        upsert.Bind(3, Fold(name));
        upsert.Bind(4, static_cast<int64_t>(type));
        upsert.Bind(5, data, size);
        if (int rc = upsert.Step(); rc != SQLITE_DONE) {
            return rc;
        }
        return Touch(key);
    });
}

LONG Store::DeleteValue(KeyId key, const std::u16string& name) {
    return Transact(Access::kWrite, [&](LONG* outcome) -> int {
        if (int rc = RequireKey(key, outcome); rc != SQLITE_OK || *outcome != ERROR_SUCCESS) {
            return rc;
        }
        Statement remove;
        if (int rc = Prepare(kDeleteValue, &remove)) {
            return rc;
        }
        remove.Bind(1, key);
        remove.Bind(2, Fold(name));
        if (int rc = remove.Step(); rc != SQLITE_DONE) {
            return rc;
        }
        if (sqlite3_changes(db_) == 0) {
            *outcome = ERROR_FILE_NOT_FOUND;
            return SQLITE_OK;
        }
        return Touch(key);
    });
}

// SQLITE_OK with ERROR_KEY_DELETED as the outcome when the key is gone.
int Store::KeyWritten(KeyId key, int64_t* written, LONG* outcome) {
    Statement query;
    if (int rc = Prepare(kKeyWritten, &query)) {
        return rc;
    }
    query.Bind(1, key);
    int rc = query.Step();
    if (rc == SQLITE_ROW) {
        *written = query.Int(0);
    } else if (rc == SQLITE_DONE) {
        *outcome = ERROR_KEY_DELETED;
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// The row at `index` of an enumeration of a live key: SQLITE_ROW with the row in `query`, or
// SQLITE_OK with ERROR_KEY_DELETED or ERROR_NO_MORE_ITEMS as the outcome. With a cursor that
// still holds, the same index or the next one is one step in the index of the table; any other
// index is counted from the first row. The row's position goes into the cursor.
int Store::StepIndexed(KeyId key, const char* const queries[3], DWORD index, EnumCursor* cursor,
                       Statement* query, LONG* outcome) {
    int64_t written = 0;
    if (int rc = KeyWritten(key, &written, outcome); rc != SQLITE_OK || *outcome != ERROR_SUCCESS) {
        return rc;
    }
    const bool byName = queries == kEnumKey;
    const bool holds = cursor != nullptr && cursor->valid && cursor->written == written &&
                       (index == cursor->index || index == uint64_t{cursor->index} + 1);
    const char* sql = !holds ? queries[0] : index == cursor->index ? queries[1] : queries[2];
    if (int rc = Prepare(sql, query)) {
        return rc;
    }
    query->Bind(1, key);
    if (!holds) {
        query->Bind(2, static_cast<int64_t>(index));
    } else if (byName) {
        query->Bind(2, cursor->fold);
    } else {
        query->Bind(2, cursor->row);
    }
    int rc = query->Step();
    if (rc == SQLITE_DONE) {
        *outcome = ERROR_NO_MORE_ITEMS;
        return SQLITE_OK;
    }
    if (rc == SQLITE_ROW && cursor != nullptr) {
        cursor->valid = true;
        cursor->index = index;
        cursor->written = written;
        if (byName) {
            cursor->fold = query->Blob(3);
        } else {
            cursor->row = query->Int(3);
        }
    }
    return rc;
}

LONG Store::EnumKey(KeyId key, DWORD index, SubKey* subKey, EnumCursor* cursor) {
    return Transact(Access::kRead, [&](LONG* outcome) -> int {
        Statement query;
        int rc = StepIndexed(key, kEnumKey, index, cursor, &query, outcome);
        if (rc != SQLITE_ROW) {
            return rc;
        }
        if (!IsSoundChild(key, query.Int(4))) {
            return SQLITE_CORRUPT;
        }
        subKey->name = query.Name(0);
        subKey->keyClass = query.Name(1);
        subKey->lastWrite = ToFileTime(query.Int(2));
        return SQLITE_OK;
    });
}

LONG Store::EnumValue(KeyId key, DWORD index, Value* value, EnumCursor* cursor) {
    return Transact(Access::kRead, [&](LONG* outcome) -> int {
        Statement query;
        int rc = StepIndexed(key, kEnumValue, index, cursor, &query, outcome);
        if (rc != SQLITE_ROW) {
            return rc;
        }
        value->name = query.Name(0);
        value->type = static_cast<DWORD>(query.Int(1));
        value->data = query.Bytes(2);
        return SQLITE_OK;
    });
}

LONG Store::QueryInfo(KeyId key, KeyInfo* info) {
    return Transact(Access::kRead, [&](LONG* outcome) -> int {
        {
            Statement query;
            if (int rc = Prepare(kKeyRecord, &query)) {
                return rc;
            }
            query.Bind(1, key);
            int rc = query.Step();
            if (rc == SQLITE_DONE) {
                *outcome = ERROR_KEY_DELETED;
                return SQLITE_OK;
            }
            if (rc != SQLITE_ROW) {
                return rc;
            }
            info->keyClass = query.Name(0);
            info->lastWrite = ToFileTime(query.Int(1));
        }
        int64_t subKeys[3] = {};
        int64_t values[3] = {};
        for (auto [sql, out] : {std::pair{kSubKeyStats, subKeys}, std::pair{kValueStats, values}}) {
            Statement query;
            if (int rc = Prepare(sql, &query)) {
                return rc;
            }
            query.Bind(1, key);
            int rc = query.Step();
            if (rc != SQLITE_ROW) {
                return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
            }
            for (int i = 0; i < 3; ++i) {
                out[i] = query.Int(i);
            }
        }
        // Names are stored as UTF-16: two bytes a character.
        info->subKeys = ClampToDword(subKeys[0]);
        info->maxSubKeyLength = ClampToDword(subKeys[1] / 2);
        info->maxClassLength = ClampToDword(subKeys[2] / 2);
        info->values = ClampToDword(values[0]);
        info->maxValueNameLength = ClampToDword(values[1] / 2);
        info->maxValueLength = ClampToDword(values[2]);
        return SQLITE_OK;
    });
}

}  // namespace nvregistry

std::string NvRegistryPath() {
    const char* path = getenv("NORVA_REGISTRY");
    return path != nullptr && *path != '\0' ? path : nvregistry::kDefaultPath;
}
