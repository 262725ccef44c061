// The nvreg commands. Everything goes through the registry functions (RegOpenKeyExW and the
// rest), exactly as the libraries reach the registry, so the tool sees what they see.
#include "tools/nvreg/commands.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "platform/win32.h"
#include "tools/nvreg/value_text.h"

namespace nvreg {
namespace {

constexpr char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";

struct RootKey {
    const char* shortName;
    const char* longName;
    HKEY key;
};

const RootKey kRootKeys[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
};

}  // namespace

std::u16string KeyName::Sub() const {
    return NvFromUtf8(path.c_str());
}

bool FindRoot(const std::string& name, HKEY* root, std::string* longName) {
    for (const RootKey& candidate : kRootKeys) {
        if (strcasecmp(name.c_str(), candidate.shortName) == 0 ||
            strcasecmp(name.c_str(), candidate.longName) == 0) {
            *root = candidate.key;
            *longName = candidate.longName;
            return true;
        }
    }
    return false;
}

bool ParseKey(const std::string& text, KeyName* key) {
    size_t slash = text.find('\\');
    if (!FindRoot(text.substr(0, slash), &key->root, &key->rootName)) {
        return false;
    }
    key->path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    while (!key->path.empty() && key->path.back() == '\\') {
        key->path.pop_back();
    }
    return true;
}

int InvalidKey(const std::string& key) {
    std::fprintf(stderr,
                 "ERROR: Invalid key name '%s': it must start with HKLM, HKCU, HKCR, HKU or "
                 "their long names (HKEY_LOCAL_MACHINE, ...).\n",
                 key.c_str());
    return kExitError;
}

int InvalidSyntax(const std::string& detail) {
    std::fprintf(stderr, "ERROR: Invalid syntax: %s. Type \"nvreg --help\" for usage.\n",
                 detail.c_str());
    return kExitError;
}

// One line with the code and its text. Failures of the store itself name the store, since the
// fix is there (a damaged or unreadable file, another process holding it).
int Failure(LONG code) {
    std::string line;
    if (code == ERROR_FILE_NOT_FOUND) {
        line = std::string(kNotFound) + " (error 2: " + NvErrorText(code) + ")";
    } else {
        line = "ERROR: " + NvErrorText(code) + " (error " + std::to_string(code);
        if (code == ERROR_BADDB || code == ERROR_REGISTRY_CORRUPT ||
            code == ERROR_REGISTRY_IO_FAILED || code == ERROR_BUSY) {
            line += "; registry store " + NvRegistryPath();
        }
        line += ")";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    return kExitError;
}

std::string DisplayName(const std::u16string& valueName) {
    return valueName.empty() ? "(Default)" : NvToUtf8(valueName.c_str());
}

Answer Confirm(const std::string& question) {
    if (isatty(STDIN_FILENO) == 0) {
        return Answer::kNoTerminal;
    }
    for (;;) {
        std::printf("%s (Yes/No)? ", question.c_str());
        std::fflush(stdout);
        char line[64];
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            return Answer::kNo;
        }
        std::string answer(line);
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) {
            answer.pop_back();
        }
        if (strcasecmp(answer.c_str(), "y") == 0 || strcasecmp(answer.c_str(), "yes") == 0) {
            return Answer::kYes;
        }
        if (strcasecmp(answer.c_str(), "n") == 0 || strcasecmp(answer.c_str(), "no") == 0) {
            return Answer::kNo;
        }
    }
}

// The exit code when the answer was not yes, or -1 to go ahead.
int Refusal(Answer answer, const char* what, const char* option) {
    if (answer == Answer::kYes) {
        return -1;
    }
    if (answer == Answer::kNoTerminal) {
        std::fprintf(stderr,
                     "ERROR: Not confirmed: standard input is not a terminal; add %s to %s "
                     "without asking.\n",
                     option, what);
    } else {
        std::fputs("The operation was canceled by the user.\n", stderr);
    }
    return kExitError;
}

// Every value of a key, in the registry's order. Buffers are sized from RegQueryInfoKeyW, and
// sized again if a value grew in the meantime.
LONG ReadValues(HKEY key, std::vector<ValueEntry>* values) {
    values->clear();
    DWORD maxName = 0;
    DWORD maxData = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &maxName, &maxData, nullptr, nullptr);
    for (DWORD index = 0; result == ERROR_SUCCESS; ++index) {
        std::vector<WCHAR> name(maxName + 1);
        std::vector<BYTE> data(maxData);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = maxData;
        DWORD type = REG_NONE;
        result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                               &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (result == ERROR_MORE_DATA) {
            --index;
            result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, &maxName, &maxData, nullptr, nullptr);
            continue;
        }
        if (result == ERROR_SUCCESS) {
            data.resize(dataSize);
            values->push_back({std::u16string(name.data(), nameLength), type, std::move(data)});
        }
    }
    return result;
}

LONG ReadSubKeys(HKEY key, std::vector<std::u16string>* names) {
    names->clear();
    DWORD maxName = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    for (DWORD index = 0; result == ERROR_SUCCESS; ++index) {
        std::vector<WCHAR> name(maxName + 1);
        DWORD length = static_cast<DWORD>(name.size());
        result =
            RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (result == ERROR_MORE_DATA) {
            --index;
            result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (result == ERROR_SUCCESS) {
            names->emplace_back(name.data(), length);
        }
    }
    return result;
}

LONG ReadKey(HKEY key, std::vector<ValueEntry>* values, std::vector<std::u16string>* subKeys) {
    LONG result = ReadValues(key, values);
    if (result == ERROR_SUCCESS) {
        result = ReadSubKeys(key, subKeys);
    }
    return result;
}

// Deletes a key with everything below it, deepest first (a key with subkeys cannot be deleted).
// One open key per level instead of a call per level, so that no depth of tree (a store written
// before the depth limit) runs out of stack. Index 0 is read again on every pass, since the
// subkey just deleted is gone.
LONG DeleteTree(HKEY parent, const std::u16string& name) {
    struct Level {
        HKEY key;
        std::u16string name;
    };
    std::vector<Level> levels;
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        levels.push_back({key, name});
    }
    while (result == ERROR_SUCCESS && !levels.empty()) {
        WCHAR child[256];  // a key name is at most 255 characters
        DWORD length = 256;
        result =
            RegEnumKeyExW(levels.back().key, 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS) {
            std::u16string childName(child, length);
            result = RegOpenKeyExW(levels.back().key, childName.c_str(), 0, KEY_READ, &key);
            if (result == ERROR_SUCCESS) {
                levels.push_back({key, std::move(childName)});
            }
        } else if (result == ERROR_NO_MORE_ITEMS) {
            const Level done = std::move(levels.back());
            levels.pop_back();
            RegCloseKey(done.key);
            result = RegDeleteKeyW(levels.empty() ? parent : levels.back().key, done.name.c_str());
        }
    }
    for (const Level& level : levels) {
        RegCloseKey(level.key);
    }
    return result;
}

// A tree goes in one transaction: all of it or, when a key cannot be deleted, none of it (and
// one write of the store rather than one per key).
LONG DeleteTreeAtOnce(HKEY parent, const std::u16string& name) {
    LONG result = NvRegistryBegin(true);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = DeleteTree(parent, name);
    if (result != ERROR_SUCCESS) {
        NvRegistryRollback();
        return result;
    }
    return NvRegistryCommit();
}

size_t KeyDepth(const std::u16string& path) {
    size_t depth = path.empty() ? 0 : 1;
    for (char16_t c : path) {
        depth += c == u'\\' ? 1 : 0;
    }
    return depth;
}

int WalkFailure(const TreeWalk& walk, LONG code) {
    if (code != ERROR_INVALID_PARAMETER || walk.tooDeep.empty()) {
        return Failure(code);
    }
    std::fprintf(stderr,
                 "ERROR: %s lies more than %zu levels below its root, deeper than a registry "
                 "holds (error %d: %s)\n",
                 walk.tooDeep.c_str(), kNvMaxKeyDepth, static_cast<int>(code),
                 NvErrorText(code).c_str());
    return kExitError;
}

namespace {

// One value, under the name it was stored with (names match case-insensitively).
LONG FindValue(HKEY key, const std::u16string& name, ValueEntry* value) {
    std::vector<ValueEntry> values;
    LONG result = ReadValues(key, &values);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    for (ValueEntry& candidate : values) {
        if (_wcsicmp(candidate.name.c_str(), name.c_str()) == 0) {
            *value = std::move(candidate);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

std::string ValueLine(const ValueEntry& value) {
    return "    " + DisplayName(value.name) + "    " + TypeName(value.type) + "    " +
           DataText(value.type, value.data) + "\n";
}

// reg query without /v: the key's path, its values, a blank line after them, then the paths of
// its subkeys, or with /s each subkey in the same form.
LONG ListKey(HKEY key, const std::string& path, bool recurse, TreeWalk* walk, std::string* out) {
    std::vector<ValueEntry> values;
    std::vector<std::u16string> subKeys;
    LONG result = ReadKey(key, &values, &subKeys);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    *out += path + "\n";
    for (const ValueEntry& value : values) {
        *out += ValueLine(value);
    }
    if (!values.empty()) {
        *out += "\n";
    }
    for (const std::u16string& name : subKeys) {
        std::string subPath = path + "\\" + NvToUtf8(name.c_str());
        if (!recurse) {
            *out += subPath + "\n";
            continue;
        }
        result = VisitDeeper(key, name, subPath, walk, [&](HKEY subKey) {
            return ListKey(subKey, subPath, true, walk, out);
        });
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
            return result;  // a subkey deleted meanwhile is just no longer there
        }
    }
    return ERROR_SUCCESS;
}

// reg query /v NAME /s: every key of the tree that has the value.
LONG SearchValue(HKEY key, const std::string& path, const std::u16string& name, TreeWalk* walk,
                 int* matches, std::string* out) {
    ValueEntry value;
    LONG result = FindValue(key, name, &value);
    if (result == ERROR_SUCCESS) {
        *out += path + "\n" + ValueLine(value) + "\n";
        ++*matches;
    } else if (result != ERROR_FILE_NOT_FOUND) {
        return result;
    }
    std::vector<std::u16string> subKeys;
    if ((result = ReadSubKeys(key, &subKeys)) != ERROR_SUCCESS) {
        return result;
    }
    for (const std::u16string& subName : subKeys) {
        const std::string subPath = path + "\\" + NvToUtf8(subName.c_str());
        result = VisitDeeper(key, subName, subPath, walk, [&](HKEY subKey) {
            return SearchValue(subKey, subPath, name, walk, matches, out);
        });
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
            return result;
        }
    }
    return ERROR_SUCCESS;
}

int QueryValueOf(HKEY key, const KeyName& keyName, const Options& options) {
    const std::u16string name = options.hasValueName ? NvFromUtf8(options.valueName.c_str()) : u"";
    std::string out = "\n";
    if (options.recurse) {
        int matches = 0;
        TreeWalk walk{KeyDepth(keyName.Sub()), {}};
        LONG result = SearchValue(key, keyName.Full(), name, &walk, &matches, &out);
        if (result != ERROR_SUCCESS) {
            return WalkFailure(walk, result);
        }
        if (matches == 0) {
            return Failure(ERROR_FILE_NOT_FOUND);
        }
        out += "End of search: " + std::to_string(matches) + " match(es) found.\n";
    } else {
        ValueEntry value;
        LONG result = FindValue(key, name, &value);
        if (result == ERROR_FILE_NOT_FOUND && options.defaultValue) {
            // reg.exe shows a default value that was never set, rather than an error.
            out += keyName.Full() + "\n    (Default)    REG_SZ    (value not set)\n\n";
        } else if (result != ERROR_SUCCESS) {
            return Failure(result);
        } else {
            out += keyName.Full() + "\n" + ValueLine(value) + "\n";
        }
    }
    std::fputs(out.c_str(), stdout);
    return kExitOk;
}

}  // namespace

int Query(const Options& options) {
    KeyName keyName;
    if (!ParseKey(options.key, &keyName)) {
        return InvalidKey(options.key);
    }
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(keyName.root, keyName.Sub().c_str(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) {
        return Failure(result);
    }
    int exitCode = kExitOk;
    if (options.hasValueName || options.defaultValue) {
        exitCode = QueryValueOf(key, keyName, options);
    } else {
        std::string out = "\n";
        TreeWalk walk{KeyDepth(keyName.Sub()), {}};
        result = ListKey(key, keyName.Full(), options.recurse, &walk, &out);
        if (result == ERROR_SUCCESS) {
            std::fputs(out.c_str(), stdout);
        } else {
            exitCode = WalkFailure(walk, result);
        }
    }
    RegCloseKey(key);
    return exitCode;
}

// Without /v, /ve, /t or /d only the key is created. With /t or /d alone the default value is
// written, as reg.exe does.
int Add(const Options& options) {
    KeyName keyName;
    if (!ParseKey(options.key, &keyName)) {
        return InvalidKey(options.key);
    }
    DWORD type = REG_SZ;
    if (options.hasType && !TypeFromName(options.type, &type)) {
        return InvalidSyntax("/t " + options.type +
                             " is not one of REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, "
                             "REG_QWORD, REG_BINARY, REG_NONE");
    }
    const bool writesValue =
        options.hasValueName || options.defaultValue || options.hasType || options.hasData;
    std::vector<BYTE> data;
    std::string error;
    // The data is checked before anything is written, so that bad data leaves no new key.
    if (writesValue && !DataFromText(type, options.data, options.separator, &data, &error)) {
        return InvalidSyntax(error);
    }
    HKEY key = nullptr;
    LONG result =
        RegCreateKeyExW(keyName.root, keyName.Sub().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return Failure(result);
    }
    const std::u16string name = options.hasValueName ? NvFromUtf8(options.valueName.c_str()) : u"";
    if (writesValue && !options.force) {
        result = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS) {
            int refused = Refusal(Confirm("Value " + DisplayName(name) + " exists, overwrite"),
                                  "overwrite the value");
            if (refused >= 0) {
                RegCloseKey(key);
                return refused;
            }
        } else if (result != ERROR_FILE_NOT_FOUND) {
            RegCloseKey(key);
            return Failure(result);
        }
    }
    if (writesValue) {
        result = RegSetValueExW(key, name.c_str(), 0, type, data.data(),
                                static_cast<DWORD>(data.size()));
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS && writesValue) {
        return Failure(result);
    }
    std::fputs(kDone, stdout);
    return kExitOk;
}

// Without /v, /ve or /va the key goes, with all its subkeys.
int Delete(const Options& options) {
    KeyName keyName;
    if (!ParseKey(options.key, &keyName)) {
        return InvalidKey(options.key);
    }
    const bool valueOnly = options.hasValueName || options.defaultValue;
    if (!valueOnly && !options.allValues && keyName.path.empty()) {
        std::fprintf(stderr, "ERROR: %s cannot be deleted: %s (error %d)\n",
                     keyName.rootName.c_str(), NvErrorText(ERROR_ACCESS_DENIED).c_str(),
                     static_cast<int>(ERROR_ACCESS_DENIED));
        return kExitError;
    }
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(keyName.root, keyName.Sub().c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (result != ERROR_SUCCESS) {
        return Failure(result);
    }
    int refused = -1;
    if (valueOnly) {
        const std::u16string name =
            options.hasValueName ? NvFromUtf8(options.valueName.c_str()) : u"";
        result = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS && !options.force) {
            refused = Refusal(Confirm("Delete the registry value " + DisplayName(name)),
                              "delete the value");
        }
        if (result == ERROR_SUCCESS && refused < 0) {
            result = RegDeleteValueW(key, name.c_str());
        }
    } else if (options.allValues) {
        if (!options.force) {
            refused = Refusal(Confirm("Delete all values under the registry key " + keyName.Full()),
                              "delete the values");
        }
        std::vector<ValueEntry> values;
        if (refused < 0 && (result = ReadValues(key, &values)) == ERROR_SUCCESS) {
            for (const ValueEntry& value : values) {
                result = RegDeleteValueW(key, value.name.c_str());
                if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
                    break;
                }
                result = ERROR_SUCCESS;
            }
        }
    } else {
        if (!options.force) {
            refused = Refusal(Confirm("Permanently delete the registry key " + keyName.Full()),
                              "delete the key");
        }
        if (refused < 0) {
            RegCloseKey(key);
            key = nullptr;
            result = DeleteTreeAtOnce(keyName.root, keyName.Sub());
        }
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
    if (refused >= 0) {
        return refused;
    }
    if (result != ERROR_SUCCESS) {
        return Failure(result);
    }
    std::fputs(kDone, stdout);
    return kExitOk;
}

}  // namespace nvreg
