#include "tools/cli/store_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/include/nvplatform.h"

namespace cli {

namespace {

constexpr char kRegistryVariable[] = "NORVA_REGISTRY";
constexpr char kStoreName[] = "registry.db";
// The files SQLite keeps beside the store.
constexpr const char* kStoreFiles[] = {"registry.db", "registry.db-journal"};

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool MayWriteIn(const std::string& dir) {
    return access(dir.c_str(), W_OK | X_OK) == 0;
}

// What is wrong with a store file that is not there.
std::string MissingStore(const std::string& path) {
    const std::string dir = DirectoryOf(path);
    struct stat info;
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return "the registry store " + path + " cannot be made: the directory " + dir +
               " does not exist";
    }
    if (!MayWriteIn(dir)) {
        return "the registry store " + path + " cannot be made: no right to write in " + dir;
    }
    return "the registry store " + path + " does not exist";
}

}  // namespace

bool RegistryStoreExists() {
    struct stat info;
    return stat(NvRegistryPath().c_str(), &info) == 0;
}

std::string RegistryStoreNote(DWORD code) {
    if (code != ERROR_ACCESS_DENIED && code != ERROR_BADDB && code != ERROR_REGISTRY_IO_FAILED) {
        return std::string();
    }
    const std::string path = NvRegistryPath();
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? MissingStore(path)
                               : "the registry store " + path + ": " + strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return "the registry store " + path + " is a directory";
    }
    if (access(path.c_str(), R_OK) != 0) {
        return "the registry store " + path + " cannot be read";
    }
    // A file without any write permission bit is read-only for everyone, root included; the
    // rollback journal is written beside it.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0) {
        return "the registry store " + path + " is read-only";
    }
    if (!MayWriteIn(DirectoryOf(path))) {
        return "the registry store " + path + " cannot be changed: no right to write in " +
               DirectoryOf(path) + ", where its journal goes";
    }
    if (code == ERROR_BADDB) {
        return "the registry store " + path + " is damaged or not a registry store";
    }
    return code == ERROR_REGISTRY_IO_FAILED ? "the registry store " + path : std::string();
}

EmptyRegistryStore::EmptyRegistryStore() {
    if (const char* saved = getenv(kRegistryVariable)) {
        saved_ = saved;
        hadSaved_ = true;
    }
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/norva-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return;  // the registry calls then fail on a store that cannot be made, and say so
    }
    dir_ = pattern;
    setenv(kRegistryVariable, (dir_ + "/" + kStoreName).c_str(), 1);
    NvRegistryReset();
}

EmptyRegistryStore::~EmptyRegistryStore() {
    if (dir_.empty()) {
        return;
    }
    NvRegistryReset();
    if (hadSaved_) {
        setenv(kRegistryVariable, saved_.c_str(), 1);
    } else {
        unsetenv(kRegistryVariable);
    }
    for (const char* name : kStoreFiles) {
        unlink((dir_ + "/" + name).c_str());
    }
    rmdir(dir_.c_str());
}

}  // namespace cli
