// Modules: our own libraries register under their Windows names with their string tables;
// LoadLibraryW finds those, the spooler's "SPOOLSS.DLL" (see spooler.cpp), or any shared
// object by path.
#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/linux/src/internal.h"
#include "platform/linux/src/spooler.h"

namespace {

struct Module {
    HMODULE handle;
    std::u16string name;  // upper case, as compared
    const NvStringResource* strings;
    size_t stringCount;
    int loads;  // LoadLibraryW references
};

std::mutex gModuleMutex;
std::vector<Module>* gModules = nullptr;

std::vector<Module>& Modules() {
    if (gModules == nullptr) {
        gModules = new std::vector<Module>;
    }
    return *gModules;
}

std::u16string UpperName(const WCHAR* name) {
    std::u16string out;
    for (; *name != 0; ++name) {
        out.push_back(towupper16(*name));
    }
    return out;
}

// "NAME" without an extension means "NAME.DLL", as for LoadLibraryW.
std::u16string WithDllExtension(std::u16string name) {
    if (name.find(u'.') == std::u16string::npos) {
        name += u".DLL";
    }
    return name;
}

Module* FindByName(const std::u16string& upper) {
    for (auto& module : Modules()) {
        if (module.name == upper) {
            return &module;
        }
    }
    return nullptr;
}

Module* FindByHandle(HMODULE handle) {
    for (auto& module : Modules()) {
        if (module.handle == handle) {
            return &module;
        }
    }
    return nullptr;
}

int FirstObject(struct dl_phdr_info* info, size_t, void* data) {
    *static_cast<ElfW(Addr)*>(data) = info->dlpi_addr;
    return 1;
}

HMODULE MainProgram() {
    ElfW(Addr) base = 0;
    dl_iterate_phdr(&FirstObject, &base);
    return reinterpret_cast<HMODULE>(base != 0 ? base : 0x400000);
}

}  // namespace

HMODULE NvRegisterModule(const WCHAR* windowsName, const void* addressInside,
                         const NvStringResource* strings, size_t stringCount) {
    Dl_info info{};
    HMODULE handle = nullptr;
    if (dladdr(addressInside, &info) != 0 && info.dli_fbase != nullptr) {
        handle = static_cast<HMODULE>(info.dli_fbase);
    } else {
        handle = reinterpret_cast<HMODULE>(const_cast<void*>(addressInside));
    }
    std::lock_guard<std::mutex> lock(gModuleMutex);
    Modules().push_back(Module{handle, UpperName(windowsName), strings, stringCount, 0});
    return handle;
}

void NvUnregisterModule(HMODULE module) {
    std::lock_guard<std::mutex> lock(gModuleMutex);
    auto& modules = Modules();
    for (auto it = modules.begin(); it != modules.end(); ++it) {
        if (it->handle == module) {
            modules.erase(it);
            return;
        }
    }
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    if (moduleName == nullptr) {
        return MainProgram();
    }
    std::lock_guard<std::mutex> lock(gModuleMutex);
    Module* module = FindByName(WithDllExtension(UpperName(moduleName)));
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return module->handle;
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (NvFaultFail("LoadLibraryW")) {
        return nullptr;
    }
    if (fileName == nullptr || *fileName == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string upper = WithDllExtension(UpperName(fileName));
    if (upper == u"SPOOLSS.DLL") {
        return NvSpoolssLoad();
    }
    {
        std::lock_guard<std::mutex> lock(gModuleMutex);
        if (Module* module = FindByName(upper)) {
            ++module->loads;
            return module->handle;
        }
    }
    void* handle = dlopen(NvUtf16ToUtf8(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (NvFaultFail("GetProcAddress")) {
        return nullptr;
    }
    if (module == nullptr || procName == nullptr) {
        SetLastError(module == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (NvIsSpoolssModule(module)) {
        return NvSpoolssProc(procName);
    }
    {
        std::lock_guard<std::mutex> lock(gModuleMutex);
        if (FindByHandle(module) != nullptr) {
            SetLastError(ERROR_PROC_NOT_FOUND);  // our registered modules export nothing by name
            return nullptr;
        }
    }
    void* symbol = dlsym(module, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (NvIsSpoolssModule(module)) {
        return TRUE;
    }
    {
        std::lock_guard<std::mutex> lock(gModuleMutex);
        if (Module* registered = FindByHandle(module)) {
            if (registered->loads > 0) {
                --registered->loads;
            }
            return TRUE;
        }
    }
    if (dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    // Thread notifications are never sent on Linux, so there is nothing to disable.
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(gModuleMutex);
    Module* module = FindByHandle(instance);
    const WCHAR* text = nullptr;
    for (size_t i = 0; module != nullptr && i < module->stringCount; ++i) {
        if (module->strings[i].id == id) {
            text = module->strings[i].text;
            break;
        }
    }
    if (text == nullptr) {
        if (bufferMax > 0) {
            buffer[0] = 0;
        }
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    int length = static_cast<int>(wcslen(text));
    if (bufferMax == 0) {
        // The caller receives a read-only pointer to the resource itself.
        *reinterpret_cast<const WCHAR**>(buffer) = text;
        return length;
    }
    int copied = length < bufferMax - 1 ? length : bufferMax - 1;
    memcpy(buffer, text, static_cast<size_t>(copied) * sizeof(WCHAR));
    buffer[copied] = 0;
    return copied;
}
