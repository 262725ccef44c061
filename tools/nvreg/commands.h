// The nvreg commands: query, add and delete, with reg.exe's syntax, output and messages, on the
// registry functions of the platform layer.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "platform/win32.h"

namespace nvreg {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
inline constexpr char kDone[] = "The operation completed successfully.\n";

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
    bool force = false;             // /f (add, delete), /y (export): no confirmation
    std::string file;               // import FILE, export KEY FILE
};

int Query(const Options& options);
int Add(const Options& options);
int Delete(const Options& options);
int Import(const Options& options);
int Export(const Options& options);

// --- Shared by the commands ---

// A key as typed: its root, and the path below the root.
struct KeyName {
    HKEY root = nullptr;
    std::string rootName;  // the long form, as reg.exe shows it
    std::string path;      // without trailing backslashes; empty for the root itself

    std::string Full() const { return path.empty() ? rootName : rootName + "\\" + path; }
    std::u16string Sub() const;
};

struct ValueEntry {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// A root by its short or long name (any letter case), and its long name.
bool FindRoot(const std::string& name, HKEY* root, std::string* longName);
bool ParseKey(const std::string& text, KeyName* key);

// Error lines on standard error; each returns kExitError.
int InvalidKey(const std::string& key);
int InvalidSyntax(const std::string& detail);
int Failure(LONG code);  // one line with the code and its text

// Asks on the terminal. Without one there is nobody to ask: the caller refuses.
enum class Answer { kYes, kNo, kNoTerminal };
Answer Confirm(const std::string& question);
// The exit code when the answer was not yes (naming the option that skips the question), or
// -1 to go ahead.
int Refusal(Answer answer, const char* what, const char* option = "/f");

// A key's values and subkeys, in the registry's order.
LONG ReadValues(HKEY key, std::vector<ValueEntry>* values);
LONG ReadSubKeys(HKEY key, std::vector<std::u16string>* names);
// Both, values first.
LONG ReadKey(HKEY key, std::vector<ValueEntry>* values, std::vector<std::u16string>* subKeys);

// Opens the subkey NAME of KEY for reading, calls visit(subkey) and closes it again; the error
// of the open, or what visit returned.
template <class Visit>
LONG VisitSubKey(HKEY key, const std::u16string& name, Visit visit) {
    HKEY subKey = nullptr;
    LONG result = RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &subKey);
    if (result == ERROR_SUCCESS) {
        result = visit(subKey);
        RegCloseKey(subKey);
    }
    return result;
}

// Deletes a key with everything below it, however deep the tree goes.
LONG DeleteTree(HKEY parent, const std::u16string& name);

// --- Depth ---
// A key lies at most kNvMaxKeyDepth levels below its root; only a store written before that
// limit holds deeper keys. The walks down a tree (query /s, export) stop at such a key.

// The levels below its root of a path without the root: "A\B" is 2.
size_t KeyDepth(const std::u16string& path);

// Where a walk down a tree stands: the depth of the key it reads, and the first key that lay
// too deep (empty while none did).
struct TreeWalk {
    size_t depth = 0;
    std::string tooDeep;
};

// VisitSubKey one level further down; a subkey beyond the limit stops the walk with
// ERROR_INVALID_PARAMETER, and its path (as shown) in walk->tooDeep.
template <class Visit>
LONG VisitDeeper(HKEY key, const std::u16string& name, const std::string& path, TreeWalk* walk,
                 Visit visit) {
    if (walk->depth >= kNvMaxKeyDepth) {
        walk->tooDeep = path;
        return ERROR_INVALID_PARAMETER;
    }
    ++walk->depth;
    LONG result = VisitSubKey(key, name, visit);
    --walk->depth;
    return result;
}

// The error line for a walk that stopped at walk.tooDeep, or Failure(code) for any other end.
int WalkFailure(const TreeWalk& walk, LONG code);

}  // namespace nvreg
