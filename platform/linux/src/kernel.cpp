// Last error, global memory, critical sections, thread ids and time.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/linux/src/internal.h"

namespace {
thread_local DWORD tLastError = 0;

// A block handed out by GlobalAlloc carries its size in front of it, so that GlobalFree can
// check what it is given and a zero-filled block can be made without a second call.
struct BlockHeader {
    static constexpr uint64_t kMagic = 0x4E56474C4F42414CULL;  // "NVGLOBAL"
    uint64_t magic;
    uint64_t size;
};
}  // namespace

DWORD GetLastError() {
    return tLastError;
}

void SetLastError(DWORD error) {
    tLastError = error;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (NvFaultFail("GlobalAlloc")) {
        return nullptr;
    }
    if ((flags & GMEM_MOVEABLE) != 0 || bytes > (SIZE_T(1) << 40)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* raw = (flags & GMEM_ZEROINIT) != 0 ? calloc(1, sizeof(BlockHeader) + bytes)
                                             : malloc(sizeof(BlockHeader) + bytes);
    if (raw == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(raw);
    header->magic = BlockHeader::kMagic;
    header->size = bytes;
    return header + 1;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
    if (mem == nullptr) {
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(mem) - 1;
    if (header->magic != BlockHeader::kMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    header->magic = 0;
    free(header);
    return nullptr;
}

// --- Critical sections ---
// LockSemaphore holds the recursive mutex; OwningThread and RecursionCount are written only by
// the owner, and OwningThread is atomic so that any thread may read it (as CheckLocked does).
static std::recursive_mutex* MutexOf(LPCRITICAL_SECTION cs) {
    return static_cast<std::recursive_mutex*>(cs->LockSemaphore);
}

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    cs->DebugInfo = nullptr;
    cs->LockCount = -1;
    cs->RecursionCount = 0;
    cs->OwningThread = nullptr;
    cs->LockSemaphore = new std::recursive_mutex;
    cs->SpinCount = 0;
}

static void TakeOwnership(LPCRITICAL_SECTION cs) {
    if (cs->RecursionCount++ == 0) {
        cs->OwningThread = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
    }
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    MutexOf(cs)->lock();
    TakeOwnership(cs);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    if (!MutexOf(cs)->try_lock()) {
        return FALSE;
    }
    TakeOwnership(cs);
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    if (cs->OwningThread.load() !=
        reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()))) {
        return;  // not entered by this thread: Windows' behaviour is undefined, ours is a no-op
    }
    if (--cs->RecursionCount == 0) {
        cs->OwningThread = nullptr;
    }
    MutexOf(cs)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete MutexOf(cs);
    cs->LockSemaphore = nullptr;
}

// --- Threads and time ---
DWORD GetCurrentThreadId() {
    thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

void Sleep(DWORD milliseconds) {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

ULONGLONG GetTickCount64() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000ULL +
           static_cast<ULONGLONG>(ts.tv_nsec / 1000000L);
}

DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}
