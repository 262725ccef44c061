// The nvreg commands: query, add and delete, with reg.exe's syntax, output and messages, on the
// registry functions of the platform layer.
#pragma once

#include <string>

namespace nvreg {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;

struct Options {
    std::string command;        // "query", "add" or "delete"
    std::string key;            // as typed: HKLM\SYSTEM\... or HKEY_LOCAL_MACHINE\SYSTEM\...
    bool hasValueName = false;  // /v NAME
    std::string valueName;
    bool defaultValue = false;  // /ve: the (Default) value
    bool allValues = false;     // /va (delete)
    bool recurse = false;       // /s (query)
    bool hasType = false;       // /t TYPE (add)
    std::string type = "REG_SZ";
    bool hasData = false;  // /d DATA (add)
    std::string data;
    std::string separator = "\\0";  // /s SEPARATOR (add, REG_MULTI_SZ)
    bool force = false;             // /f: no confirmation
};

int Query(const Options& options);
int Add(const Options& options);
int Delete(const Options& options);

}  // namespace nvreg
