// Private temporary files: a fresh directory of mode 0700 (mkdtemp never reuses one) named
// PREFIX<pid>-XXXXXX in TMPDIR (else /tmp), and one file of mode 0600, "spool.tmp", created
// exclusively in it. The file stays locked (flock) while it is open, so a sweep can tell a
// directory that is still in use from one whose process was killed.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/src/handles.h"
#include "platform/private_temp.h"

namespace {

constexpr char kFileName[] = "spool.tmp";

std::string TempDirectory() {
    const char* tmp = getenv("TMPDIR");
    return tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
}

// The process number in "PREFIX<pid>-XXXXXX", or 0 when the name is not of that form.
pid_t OwnerOf(const std::string& name, const std::string& prefix) {
    if (name.compare(0, prefix.size(), prefix) != 0) {
        return 0;
    }
    char* end = nullptr;
    unsigned long pid = strtoul(name.c_str() + prefix.size(), &end, 10);
    if (end == name.c_str() + prefix.size() || *end != '-' || strlen(end + 1) != 6 || pid == 0 ||
        pid > 0x3FFFFFFF) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

bool Runs(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

// Removes one left-behind directory below `parent` (an open descriptor of the temporary
// directory): only a real directory of ours in its private form, whose file nobody holds.
bool SweepOne(int parent, const char* name) {
    struct stat before;
    if (fstatat(parent, name, &before, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(before.st_mode) ||
        before.st_uid != geteuid() || (before.st_mode & 07777) != 0700) {
        return false;
    }
    int dir = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        return false;
    }
    struct stat opened;
    bool same = fstat(dir, &opened) == 0 && opened.st_dev == before.st_dev &&
                opened.st_ino == before.st_ino;
    int file = same ? openat(dir, kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
    bool free = same && (file < 0 ? errno == ENOENT : flock(file, LOCK_EX | LOCK_NB) == 0);
    if (free && file >= 0) {
        unlinkat(dir, kFileName, 0);
    }
    if (file >= 0) {
        close(file);
    }
    close(dir);
    return free && unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

}  // namespace

HANDLE CreatePrivateTempFile(LPCWSTR prefix, LPWSTR path, DWORD pathChars) {
    if (NvFaultFail("CreatePrivateTempFile")) {
        return INVALID_HANDLE_VALUE;
    }
    std::string dir =
        TempDirectory() + "/" + NvUtf16ToUtf8(prefix) + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        SetLastError(NvWin32FromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    std::string file = dir + "/" + kFileName;
    std::u16string wide = NvUtf8ToUtf16(file.c_str());
    if (path == nullptr || wide.size() + 1 > pathChars) {
        rmdir(dir.c_str());
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        DWORD error = NvWin32FromErrno(errno);
        rmdir(dir.c_str());
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    flock(fd, LOCK_EX);  // held until the handle is closed (or the process ends)
    memcpy(path, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return NvFileHandle(fd);
}

BOOL DeletePrivateTempFile(LPCWSTR path) {
    if (path == nullptr || *path == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string file = NvUtf16ToUtf8(path);
    BOOL ok = unlink(file.c_str()) == 0 ? TRUE : FALSE;
    size_t slash = file.find_last_of('/');
    if (slash != std::string::npos && rmdir(file.substr(0, slash).c_str()) != 0) {
        ok = FALSE;
    }
    return ok;
}

DWORD SweepPrivateTempFiles(LPCWSTR prefix) {
    std::string start = NvUtf16ToUtf8(prefix);
    int parent = open(TempDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* list = parent >= 0 ? fdopendir(dup(parent)) : nullptr;
    DWORD removed = 0;
    if (list != nullptr) {
        while (dirent* entry = readdir(list)) {
            pid_t owner = OwnerOf(entry->d_name, start);
            if (owner != 0 && !Runs(owner) && SweepOne(parent, entry->d_name)) {
                DbgPrint("Removed the spool directory %s of process %d, which has ended\n",
                         entry->d_name, static_cast<int>(owner));
                ++removed;
            }
        }
        closedir(list);
    }
    if (parent >= 0) {
        close(parent);
    }
    return removed;
}
