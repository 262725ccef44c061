// The registry store under the conditions of a real machine: several processes and threads at
// once, a store the caller may not write, a damaged or missing store file, a reset.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "platform/win32.h"
#include "tests/support/test_env.h"

namespace {

// Runs body in a child process, which leaves with _exit so that nothing of the parent's test
// state runs twice. Wait gives its exit code (128 + the signal if it died).
pid_t Spawn(const std::function<int()>& body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

HKEY CreateKey(HKEY parent, const WCHAR* path, LONG* result = nullptr) {
    HKEY key = nullptr;
    LONG status =
        RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != nullptr) {
        *result = status;
    }
    return status == ERROR_SUCCESS ? key : nullptr;
}

LONG SetDword(HKEY key, const std::u16string& name, DWORD value) {
    return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

LONG GetDword(HKEY key, const std::u16string& name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                            &size);
}

std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
            sqlite3_step(check) == SQLITE_ROW) {
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        }
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return verdict;
}

void Overwrite(const std::string& path, std::streamoff offset, size_t bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    for (size_t i = 0; i < bytes; ++i) {
        file.put(static_cast<char>(0xA5 ^ (i * 7)));
    }
}

TEST(RegistryStore, ProcessesWritingAtOnceLoseNothingAndKeepTheFileIntact) {
    nvtest::ScopedRegistry store;
    HKEY shared = CreateKey(HKEY_LOCAL_MACHINE, u"Norva\\Shared");
    ASSERT_NE(nullptr, shared);
    constexpr int kProcesses = 4;
    constexpr int kWrites = 150;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        // Every child writes through the handle it inherited and through keys of its own; any
        // failure (a spurious ERROR_BUSY above all) fails the child.
        children.push_back(Spawn([&] {
            std::u16string own = u"Norva\\Process" + nvtest::W(std::to_string(p));
            for (int i = 0; i < kWrites; ++i) {
                std::u16string name = nvtest::W("p" + std::to_string(p) + "_" + std::to_string(i));
                if (SetDword(shared, name, static_cast<DWORD>(i)) != ERROR_SUCCESS) {
                    return 1;
                }
                if (i % 10 == 0) {
                    HKEY key = CreateKey(HKEY_LOCAL_MACHINE,
                                         (own + u"\\K" + nvtest::W(std::to_string(i))).c_str());
                    if (key == nullptr) {
                        return 2;
                    }
                    RegCloseKey(key);
                }
            }
            return 0;
        }));
    }
    for (int p = 0; p < kProcesses; ++p) {
        EXPECT_EQ(0, Wait(children[p])) << "process " << p;
    }
    DWORD values = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyW(shared, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(DWORD(kProcesses * kWrites), values);
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kWrites; i += 37) {
            DWORD value = 0;
            ASSERT_EQ(ERROR_SUCCESS,
                      GetDword(shared, nvtest::W("P" + std::to_string(p) + "_" + std::to_string(i)),
                               &value));
            EXPECT_EQ(DWORD(i), value);
        }
        HKEY own = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                (u"Norva\\Process" + nvtest::W(std::to_string(p))).c_str(), 0,
                                KEY_READ, &own));
        DWORD subKeys = 0;
        RegQueryInfoKeyW(own, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(DWORD(kWrites / 10), subKeys);
        RegCloseKey(own);
    }
    RegCloseKey(shared);
    EXPECT_EQ("ok", IntegrityCheck(store.path()));
}

TEST(RegistryStore, WriteWaitsForAnotherProcessHoldingTheStore) {
    nvtest::ScopedRegistry store;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_NE(nullptr, key);
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t holder = fork();
    if (holder == 0) {
        // Another process holds the store locked for a while, as a long writer would.
        sqlite3* db = nullptr;
        sqlite3_open(store.path().c_str(), &db);
        int rc = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        char signal = rc == SQLITE_OK ? 'y' : 'n';
        (void)!write(ready[1], &signal, 1);
        usleep(1500 * 1000);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        _exit(0);
    }
    char signal = 0;
    ASSERT_EQ(1, read(ready[0], &signal, 1));
    ASSERT_EQ('y', signal);
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, u"AfterTheWait", 1));
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(key, u"AfterTheWait", nullptr, nullptr, nullptr, nullptr));
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    RegCloseKey(key);
}

TEST(RegistryStore, ThreadsWritingAtOnceLoseNothing) {
    nvtest::ScopedRegistry store;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_NE(nullptr, key);
    constexpr int kThreads = 4;
    constexpr int kWrites = 50;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kWrites; ++i) {
                std::u16string name = nvtest::W(std::to_string(t) + "_" + std::to_string(i));
                failures[t] += SetDword(key, name, static_cast<DWORD>(i)) != ERROR_SUCCESS;
                DWORD count = 0;
                failures[t] +=
                    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     &count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(0, failures[t]) << "thread " << t;
    }
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    EXPECT_EQ(DWORD(kThreads * kWrites), values);
    RegCloseKey(key);
}

// Another process's change moves what an index means on this handle at once.
TEST(RegistryStore, EnumerationSeesSubkeysAddedByAnotherProcessBetweenCalls) {
    nvtest::ScopedRegistry store;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_NE(nullptr, key);
    for (const WCHAR* name : {u"k1", u"k2", u"k3"}) {
        RegCloseKey(CreateKey(key, name));
    }
    auto at = [&](DWORD index) {
        WCHAR name[16];
        DWORD length = 16;
        LONG result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        return result == ERROR_SUCCESS ? std::u16string(name, length) : u"?";
    };
    EXPECT_EQ(u"k1", at(0));
    EXPECT_EQ(u"k2", at(1));
    ASSERT_EQ(0, Wait(Spawn([] {
                  HKEY added = CreateKey(HKEY_LOCAL_MACHINE, u"Norva\\k0");
                  return added != nullptr ? 0 : 1;
              })));
    EXPECT_EQ(u"k2", at(2));  // k0 k1 k2 k3
    EXPECT_EQ(u"k3", at(3));
    RegCloseKey(key);
}

// Reads leave the store locked for reading a short while (the read lease): another process's
// write still goes through, whether this process goes quiet or keeps reading, and this
// process's next read sees it. The writers start before the reads (a fork ends a lease).
TEST(RegistryStore, WritesOfOtherProcessesGetThroughReadsAndAreSeenAfter) {
    nvtest::ScopedRegistry store;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_NE(nullptr, key);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"Port", 1));
    for (DWORD written : {2u, 3u}) {
        SCOPED_TRACE(written);
        int go[2];
        ASSERT_EQ(0, pipe(go));
        pid_t writer = Spawn([&] {
            char signal = 0;
            HKEY other = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
            if (other == nullptr || read(go[0], &signal, 1) != 1) {
                return 2;
            }
            return SetDword(other, u"Port", written) == ERROR_SUCCESS ? 0 : 1;
        });
        DWORD value = 0;
        ASSERT_EQ(ERROR_SUCCESS, GetDword(key, u"Port", &value));
        ASSERT_EQ(1, write(go[1], "w", 1));
        int status = 0;
        if (written == 2) {
            waitpid(writer, &status, 0);  // quiet
        } else {
            while (waitpid(writer, &status, WNOHANG) == 0) {  // reading all the while
                ASSERT_EQ(ERROR_SUCCESS, GetDword(key, u"Port", &value));
            }
        }
        close(go[0]);
        close(go[1]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_EQ(ERROR_SUCCESS, GetDword(key, u"Port", &value));
        EXPECT_EQ(written, value);
    }
    RegCloseKey(key);
}

// NvRegistryBegin..Commit: other processes see every write of it at the commit and none
// before; a rollback leaves nothing; a call that fails inside undoes only itself.
TEST(RegistryStore, TransactionIsSeenWholeAtCommitAndNotAtAllAfterRollback) {
    nvtest::ScopedRegistry store;
    auto seenElsewhere = [](const WCHAR* path) {
        return Wait(Spawn([path] {
            HKEY key = nullptr;
            LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
            return result == ERROR_SUCCESS ? 1 : result == ERROR_FILE_NOT_FOUND ? 0 : 2;
        }));
    };
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u"Norva\\Full\\Sub"));

    ASSERT_EQ(ERROR_SUCCESS, NvRegistryBegin());
    EXPECT_EQ(ERROR_INVALID_FUNCTION, NvRegistryBegin());
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva\\A");
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, u"Port", 9100));
    RegCloseKey(key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Norva\\Full"));
    EXPECT_EQ(0, seenElsewhere(u"Norva\\A"));
    ASSERT_EQ(ERROR_SUCCESS, NvRegistryCommit());
    EXPECT_EQ(1, seenElsewhere(u"Norva\\A"));
    EXPECT_EQ(1, seenElsewhere(u"Norva\\Full\\Sub"));
    EXPECT_EQ(ERROR_INVALID_FUNCTION, NvRegistryCommit());

    ASSERT_EQ(ERROR_SUCCESS, NvRegistryBegin());
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, u"Norva\\B"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Norva\\Full\\Sub"));
    NvRegistryRollback();
    key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva\\B", 0, KEY_READ, &key));
    EXPECT_EQ(1, seenElsewhere(u"Norva\\Full\\Sub"));
    EXPECT_EQ("ok", IntegrityCheck(store.path()));
}

// Checks reads and writes against a store this process may not write; the result is a list
// of what went wrong, empty when all is as it should be.
std::string ReadOnlyFindings() {
    std::string findings;
    auto expect = [&](const char* what, LONG expected, LONG actual) {
        if (expected != actual) {
            findings += std::string(what) + ": " + std::to_string(actual) + "; ";
        }
    };
    HKEY key = nullptr;
    expect("open", ERROR_SUCCESS,
           RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_ALL_ACCESS, &key));
    DWORD value = 0;
    expect("query", ERROR_SUCCESS, GetDword(key, u"Port", &value));
    expect("value", 9100, static_cast<LONG>(value));
    WCHAR name[16];
    DWORD length = 16;
    expect("enum", ERROR_SUCCESS,
           RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    expect("set", ERROR_ACCESS_DENIED, SetDword(key, u"Port", 1));
    expect("delete value", ERROR_ACCESS_DENIED, RegDeleteValueW(key, u"Port"));
    expect("delete key", ERROR_ACCESS_DENIED, RegDeleteKeyW(key, u"Sub"));
    LONG created = ERROR_SUCCESS;
    CreateKey(key, u"New", &created);
    expect("create", ERROR_ACCESS_DENIED, created);
    HKEY existing = CreateKey(key, u"Sub", &created);
    expect("create existing", ERROR_SUCCESS, created);
    RegCloseKey(existing);
    expect("value kept", ERROR_SUCCESS, GetDword(key, u"Port", &value));
    RegCloseKey(key);
    return findings;
}

void Populate() {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_NE(nullptr, key);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"Port", 9100));
    RegCloseKey(CreateKey(key, u"Sub"));
    RegCloseKey(key);
}

// Root passes every permission check, so a store file without write permission bits is what
// makes a store read-only for every user.
TEST(RegistryStore, StoreWithoutWritePermissionReadsAndRefusesEveryWrite) {
    nvtest::ScopedRegistry store;
    Populate();
    ASSERT_EQ(0, chmod(store.path().c_str(), 0444));
    EXPECT_EQ("", ReadOnlyFindings()) << "with the connection opened while writable";
    NvRegistryReset();
    EXPECT_EQ("", ReadOnlyFindings()) << "opened read-only";
    EXPECT_EQ(ERROR_ACCESS_DENIED, NvRegistryBegin(true));
    ASSERT_EQ(ERROR_SUCCESS, NvRegistryBegin(false));
    EXPECT_EQ("", ReadOnlyFindings()) << "in a transaction for reading";
    EXPECT_EQ(ERROR_SUCCESS, NvRegistryCommit());
    ASSERT_EQ(0, chmod(store.path().c_str(), 0644));
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, u"Port", 1)) << "writable again";
    RegCloseKey(key);
}

TEST(RegistryStore, StoreOfAnotherUserReadsAndRefusesEveryWrite) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a child as another user";
    }
    nvtest::ScopedRegistry store;
    Populate();
    std::string dir = store.path().substr(0, store.path().find_last_of('/'));
    ASSERT_EQ(0, chmod(dir.c_str(), 0755));
    ASSERT_EQ(0, chmod(store.path().c_str(), 0644));
    std::string findings(512, '\0');
    int report[2];
    ASSERT_EQ(0, pipe(report));
    int code = Wait(Spawn([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            return 2;
        }
        std::string found = ReadOnlyFindings();
        (void)!write(report[1], found.data(), found.size());
        return found.empty() ? 0 : 1;
    }));
    close(report[1]);
    ssize_t n = read(report[0], findings.data(), findings.size());
    close(report[0]);
    findings.resize(n > 0 ? static_cast<size_t>(n) : 0);
    EXPECT_EQ(0, code) << findings;
}

TEST(RegistryStore, DamagedFileIsBadDbOnEveryCall) {
    nvtest::ScopedRegistry store;
    {
        std::ofstream garbage(store.path(), std::ios::binary);
        for (int i = 0; i < 8192; ++i) {
            garbage.put(static_cast<char>(i * 31 + 7));
        }
    }
    NvRegistryReset();
    HKEY key = nullptr;
    WCHAR name[16];
    DWORD length = 16;
    EXPECT_EQ(ERROR_BADDB, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_BADDB, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_BADDB, SetDword(HKEY_LOCAL_MACHINE, u"Port", 1));
    EXPECT_EQ(ERROR_BADDB, RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &length, nullptr, nullptr,
                                         nullptr, nullptr));
}

TEST(RegistryStore, StoreDamagedBeyondItsFirstPageIsBadDb) {
    nvtest::ScopedRegistry store;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_NE(nullptr, key);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(ERROR_SUCCESS, SetDword(key, nvtest::W("Value" + std::to_string(i)), i));
    }
    RegCloseKey(key);
    NvRegistryReset();
    struct stat file;
    ASSERT_EQ(0, stat(store.path().c_str(), &file));
    Overwrite(store.path(), 4096, static_cast<size_t>(file.st_size) - 4096);
    EXPECT_EQ(ERROR_BADDB, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, &key));
}

TEST(RegistryStore, DatabaseOfSomethingElseIsBadDb) {
    nvtest::ScopedRegistry store;
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(store.path().c_str(), &db));
    sqlite3_exec(db, "CREATE TABLE printers(name TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    NvRegistryReset();
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_BADDB, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
}

TEST(RegistryStore, StoreThatCannotBeOpenedIsRegistryIoFailed) {
    nvtest::ScopedRegistry store;  // restores NORVA_REGISTRY afterwards
    nvtest::TempDir dir;
    HKEY key = nullptr;
    for (const std::string& path : {dir.file("missing/registry.db"), dir.path().string()}) {
        SCOPED_TRACE(path);
        setenv("NORVA_REGISTRY", path.c_str(), 1);
        NvRegistryReset();
        EXPECT_EQ(ERROR_REGISTRY_IO_FAILED,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_REGISTRY_IO_FAILED,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, &key));
    }
}

TEST(RegistryStore, ResetClosesHandlesAndRereadsTheStorePath) {
    nvtest::ScopedRegistry store;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Norva");
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"Port", 9100));
    NvRegistryReset();
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(key, u"Port", 1));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    {
        nvtest::ScopedRegistry other;  // another store: the key is not there
        EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, &key));
    }
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Norva", 0, KEY_READ, &key));
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, GetDword(key, u"Port", &value));
    EXPECT_EQ(9100u, value);
    RegCloseKey(key);
}

}  // namespace
