// Files and DOS devices.
//
// Files are POSIX files opened with the Windows creation rules and last errors. Share modes are
// not enforced. DOS device aliases do not exist on Linux: the table starts empty, so
// QueryDosDeviceW fails as it does for a name that is no device, unless a test defines one; a
// "\\.\NAME" path of a defined alias opens the alias' target path as a file.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "platform/linux/src/handles.h"

namespace {

class NvFile : public NvObject {
  public:
    NvFile(int fd, std::string deleteOnClose) : fd_(fd), deleteOnClose_(std::move(deleteOnClose)) {}
    ~NvFile() override {
        close(fd_);
        if (!deleteOnClose_.empty()) {
            unlink(deleteOnClose_.c_str());
        }
    }
    int fd() const { return fd_; }

  private:
    int fd_;
    std::string deleteOnClose_;
};

std::mutex gDeviceMutex;
std::map<std::u16string, std::vector<std::u16string>>* gDevices = nullptr;

std::map<std::u16string, std::vector<std::u16string>>& Devices() {
    if (gDevices == nullptr) {
        gDevices = new std::map<std::u16string, std::vector<std::u16string>>;
    }
    return *gDevices;
}

std::u16string Upper(const WCHAR* name) {
    std::u16string out;
    for (; *name != 0; ++name) {
        out.push_back(towupper16(*name));
    }
    return out;
}

// "\\.\NAME": the target of a defined alias, or empty when NAME is no device.
bool DevicePath(const std::u16string& path, std::string* target) {
    static const std::u16string kPrefix = u"\\\\.\\";
    if (path.compare(0, kPrefix.size(), kPrefix) != 0) {
        return false;
    }
    std::lock_guard<std::mutex> lock(gDeviceMutex);
    auto it = Devices().find(Upper(path.c_str() + kPrefix.size()));
    target->clear();
    if (it != Devices().end() && !it->second.empty()) {
        *target = NvUtf16ToUtf8(it->second.front().c_str());
    }
    return true;
}

std::shared_ptr<NvFile> FileOf(HANDLE handle) {
    auto file = NvHandleGetAs<NvFile>(handle);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return file;
}

int OpenFlags(DWORD access, DWORD disposition) {
    int flags = O_CLOEXEC;
    bool read = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
    bool write = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    flags |= (read && write) ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
    switch (disposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            break;
    }
    return flags;
}

}  // namespace

HANDLE NvFileHandle(int fd) {
    return NvHandleInsert(std::make_shared<NvFile>(fd, std::string()));
}

DWORD NvWin32FromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EBUSY:
            return ERROR_BUSY;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    if (NvFaultFail("CreateFileW")) {
        return INVALID_HANDLE_VALUE;
    }
    if (fileName == nullptr || *fileName == 0 || creationDisposition < CREATE_NEW ||
        creationDisposition > TRUNCATE_EXISTING) {
        SetLastError(fileName != nullptr && *fileName == 0 ? ERROR_PATH_NOT_FOUND
                                                           : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = NvUtf16ToUtf8(fileName);
    std::string device;
    if (DevicePath(fileName, &device)) {
        if (device.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        path = device;
    }
    struct stat before;
    bool existed = stat(path.c_str(), &before) == 0;
    int fd = open(path.c_str(), OpenFlags(desiredAccess, creationDisposition), 0666);
    if (fd < 0) {
        DWORD error = NvWin32FromErrno(errno);
        if (error == ERROR_FILE_NOT_FOUND) {
            // Windows tells a missing directory from a missing file.
            std::string dir = path.substr(0, path.find_last_of('/') + 1);
            struct stat st;
            if (!dir.empty() && stat(dir.c_str(), &st) != 0) {
                error = ERROR_PATH_NOT_FOUND;
            }
        }
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    std::string deletePath;
    if ((flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0) {
        deletePath = path;
    }
    HANDLE handle = NvHandleInsert(std::make_shared<NvFile>(fd, deletePath));
    bool reportsExisting =
        creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED) {
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    auto object = FileOf(file);
    if (object == nullptr || NvFaultFail("ReadFile")) {
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytesToRead) {
        ssize_t n = read(object->fd(), static_cast<char*>(buffer) + total, bytesToRead - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            SetLastError(NvWin32FromErrno(errno));
            return FALSE;
        }
        if (n == 0) {
            break;  // end of file: success with fewer bytes
        }
        total += static_cast<DWORD>(n);
    }
    if (bytesRead != nullptr) {
        *bytesRead = total;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED) {
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    auto object = FileOf(file);
    if (object == nullptr || NvFaultFail("WriteFile")) {
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytesToWrite) {
        ssize_t n =
            write(object->fd(), static_cast<const char*>(buffer) + total, bytesToWrite - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            if (bytesWritten != nullptr) {
                *bytesWritten = total;
            }
            SetLastError(NvWin32FromErrno(errno));
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = total;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    auto object = FileOf(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (fsync(object->fd()) != 0 && errno != EINVAL) {
        SetLastError(NvWin32FromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
    auto object = FileOf(file);
    if (object == nullptr) {
        return FALSE;
    }
    off_t position = lseek(object->fd(), 0, SEEK_CUR);
    if (position < 0 || ftruncate(object->fd(), position) != 0) {
        SetLastError(NvWin32FromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition,
                      DWORD moveMethod) {
    auto object = FileOf(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (moveMethod > FILE_END) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    off_t position =
        lseek(object->fd(), static_cast<off_t>(distance.QuadPart), kWhence[moveMethod]);
    if (position < 0) {
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : NvWin32FromErrno(errno));
        return FALSE;
    }
    if (newPosition != nullptr) {
        newPosition->QuadPart = position;
    }
    return TRUE;
}

// Without a high part the distance is a signed 32-bit number; with one, the two form a 64-bit
// distance and the high part of the new position is returned through it.
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
    LARGE_INTEGER move;
    move.QuadPart = distanceHigh != nullptr
                        ? static_cast<LONGLONG>(
                              (static_cast<ULONGLONG>(static_cast<DWORD>(*distanceHigh)) << 32) |
                              static_cast<DWORD>(distance))
                        : distance;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(file, move, &position, moveMethod)) {
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) {
        *distanceHigh = position.HighPart;
    }
    SetLastError(ERROR_SUCCESS);
    return position.LowPart;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    auto object = FileOf(file);
    if (object == nullptr) {
        return FALSE;
    }
    struct stat st;
    if (fstat(object->fd(), &st) != 0) {
        SetLastError(NvWin32FromErrno(errno));
        return FALSE;
    }
    size->QuadPart = st.st_size;
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (unlink(NvUtf16ToUtf8(fileName).c_str()) != 0) {
        SetLastError(NvWin32FromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

// The temporary directory with a trailing separator: TMPDIR or /tmp/.
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
    const char* tmp = getenv("TMPDIR");
    std::string dir = (tmp != nullptr && *tmp != 0) ? tmp : "/tmp";
    if (dir.back() != '/') {
        dir.push_back('/');
    }
    std::u16string wide = NvUtf8ToUtf16(dir.c_str());
    if (buffer == nullptr || wide.size() + 1 > bufferLength) {
        return static_cast<DWORD>(wide.size() + 1);
    }
    memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(wide.size());
}

DWORD QueryDosDeviceW(LPCWSTR deviceName, LPWSTR targetPath, DWORD max) {
    if (deviceName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // listing every device is not needed here
        return 0;
    }
    std::lock_guard<std::mutex> lock(gDeviceMutex);
    auto it = Devices().find(Upper(deviceName));
    if (it == Devices().end() || it->second.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    // The targets, newest first, each terminated, and one more terminator at the end.
    std::u16string list;
    for (auto target = it->second.begin(); target != it->second.end(); ++target) {
        list += *target;
        list.push_back(u'\0');
    }
    list.push_back(u'\0');
    if (targetPath == nullptr || list.size() > max) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(targetPath, list.data(), list.size() * sizeof(WCHAR));
    return static_cast<DWORD>(list.size());
}

BOOL DefineDosDeviceW(DWORD flags, LPCWSTR deviceName, LPCWSTR targetPath) {
    if (deviceName == nullptr || *deviceName == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(gDeviceMutex);
    std::u16string name = Upper(deviceName);
    auto& targets = Devices()[name];
    if ((flags & DDD_REMOVE_DEFINITION) != 0) {
        if (targets.empty()) {
            Devices().erase(name);
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        // Without a target the newest definition goes; with one, the matching definition.
        if (targetPath == nullptr) {
            targets.erase(targets.begin());
        } else {
            for (auto it = targets.begin(); it != targets.end(); ++it) {
                if (*it == targetPath) {
                    targets.erase(it);
                    break;
                }
            }
        }
        if (targets.empty()) {
            Devices().erase(name);
        }
        return TRUE;
    }
    if (targetPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    targets.insert(targets.begin(), std::u16string(targetPath));
    return TRUE;
}
