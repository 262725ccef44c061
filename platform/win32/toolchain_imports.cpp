// The import slots of the system functions that the toolchain's static libraries call although
// they are later than the oldest Windows we run on. winpthread, linked in statically, calls
// GetTickCount64 (Windows Vista) in its timed waits, and AddVectoredExceptionHandler and
// RemoveVectoredExceptionHandler (Windows XP) when it is loaded and unloaded. A static import
// of any of them keeps the whole binary from loading on the older systems.
//
// A call through an import goes through the pointer "__imp_" + the function's (decorated)
// name, which the system's import library defines and the loader fills in. Defined here, in an
// object linked into every product binary, the linker takes these and not the import library's:
// the calls reach the functions below, which look the system's function up at run time (and
// obey the test switch no-late-api, like every other later function).
#include "platform/late_api.h"

using TickCountFunction = ULONGLONG(WINAPI*)();
using AddHandlerFunction = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
using RemoveHandlerFunction = ULONG(WINAPI*)(PVOID);

namespace {

ULONGLONG WINAPI TickCount64() {
    return LateGetTickCount64();
}

// Without the system's function no handler is installed: winpthread uses it only to keep the
// exception that names a thread for a debugger from reaching the process.
PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
    auto add = reinterpret_cast<AddHandlerFunction>(
        reinterpret_cast<void*>(LateFunction(L"kernel32.dll", "AddVectoredExceptionHandler")));
    return add != nullptr ? add(first, handler) : nullptr;
}

// A handler that was installed is removed whatever the test switch says meanwhile: one left
// behind would point into the unloaded DLL.
ULONG WINAPI RemoveVectoredHandler(PVOID handle) {
    if (handle == nullptr) {
        return 0;
    }
    auto remove = reinterpret_cast<RemoveHandlerFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "RemoveVectoredExceptionHandler")));
    return remove != nullptr ? remove(handle) : 0;
}

}  // namespace

// IMPORT_SLOT(type, name, argument bytes, function) defines the import slot of `name` holding
// `function`. The slot's assembler name: stdcall functions are decorated with "_", "@" and the
// size of their arguments on i686, and not at all on x86_64.
#ifdef _WIN64
#define IMPORT_SLOT(type, name, argumentBytes, function) \
    type slot##name __asm__("__imp_" #name) = function
#else
#define IMPORT_SLOT(type, name, argumentBytes, function) \
    type slot##name __asm__("__imp__" #name "@" #argumentBytes) = function
#endif

extern "C" {
IMPORT_SLOT(TickCountFunction, GetTickCount64, 0, TickCount64);
IMPORT_SLOT(AddHandlerFunction, AddVectoredExceptionHandler, 8, AddVectoredHandler);
IMPORT_SLOT(RemoveHandlerFunction, RemoveVectoredExceptionHandler, 4, RemoveVectoredHandler);
}
