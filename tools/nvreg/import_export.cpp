// nvreg import and export: .reg files (reg_file.h) in and out of the store, through the registry
// functions. An import is one transaction: the store takes all of the file or none of it, and a
// file that is broken anywhere, or a change that the registry refuses, leaves the store as it was.
// An export reads inside one transaction too, so that it shows one state of the store even while
// other processes write.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "platform/win32.h"
#include "tools/nvreg/commands.h"
#include "tools/nvreg/reg_file.h"

namespace nvreg {
namespace {

// An export is written in pieces of at most this size.
constexpr DWORD kWriteChunk = 1 << 20;

// "ERROR: FILE, line N: what (error C: text)"; line 0 leaves the line out.
int FileFailure(const std::string& file, int line, const std::string& what, LONG code) {
    std::string text = "ERROR: " + file;
    if (line > 0) {
        text += ", line " + std::to_string(line);
    }
    text += ": " + what + " (error " + std::to_string(code) + ": " + NvErrorText(code) + ")";
    std::fprintf(stderr, "%s\n", text.c_str());
    return kExitError;
}

// A file that cannot be written whole is removed rather than left cut short.
LONG WriteWholeFile(const std::string& path, const std::string& bytes) {
    const std::u16string name = NvFromUtf8(path.c_str());
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return static_cast<LONG>(GetLastError());
    }
    LONG result = ERROR_SUCCESS;
    for (size_t done = 0; done < bytes.size() && result == ERROR_SUCCESS;) {
        DWORD written = 0;
        const auto size = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kWriteChunk));
        if (!WriteFile(file, bytes.data() + done, size, &written, nullptr) || written == 0) {
            result = static_cast<LONG>(GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT);
        }
        done += written;
    }
    CloseHandle(file);
    if (result != ERROR_SUCCESS) {
        DeleteFileW(name.c_str());
    }
    return result;
}

bool FileExists(const std::string& path) {
    HANDLE file = CreateFileW(NvFromUtf8(path.c_str()).c_str(), 0, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// A key of a .reg file: the root (named as nvreg names roots) and the path below it.
struct FileKey {
    HKEY root = nullptr;
    std::u16string sub;
};

bool SplitFileKey(const std::u16string& path, FileKey* key) {
    const size_t slash = path.find(u'\\');
    std::string rootName;
    for (char16_t c : path.substr(0, slash)) {
        if (c >= 0x80) {
            return false;
        }
        rootName.push_back(static_cast<char>(c));
    }
    std::string longName;
    if (!FindRoot(rootName, &key->root, &longName)) {
        return false;
    }
    key->sub = slash == std::u16string::npos ? std::u16string() : path.substr(slash + 1);
    while (!key->sub.empty() && key->sub.back() == u'\\') {
        key->sub.pop_back();
    }
    return true;
}

// One change of the file. A key or value that a deletion does not find is no error.
LONG Apply(const RegChange& change, const FileKey& key, HKEY* current) {
    switch (change.kind) {
        case RegChange::Kind::kKey:
            if (*current != nullptr) {
                RegCloseKey(*current);
                *current = nullptr;
            }
            return RegCreateKeyExW(key.root, key.sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, current, nullptr);
        case RegChange::Kind::kDeleteKey: {
            if (*current != nullptr) {
                RegCloseKey(*current);
                *current = nullptr;
            }
            LONG result = DeleteTree(key.root, key.sub);
            return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
        }
        case RegChange::Kind::kValue:
            return RegSetValueExW(*current, change.name.c_str(), 0, change.type, change.data.data(),
                                  static_cast<DWORD>(change.data.size()));
        case RegChange::Kind::kDeleteValue: {
            LONG result = RegDeleteValueW(*current, change.name.c_str());
            return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

// Checks the key of one change and applies it: -1, or the exit code of the refusal.
int ImportChange(const std::string& file, const RegChange& change, HKEY* current) {
    FileKey key;
    const bool namesKey =
        change.kind == RegChange::Kind::kKey || change.kind == RegChange::Kind::kDeleteKey;
    if (namesKey && !SplitFileKey(change.key, &key)) {
        return FileFailure(file, change.line,
                           "the key must start with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, "
                           "HKEY_CLASSES_ROOT or HKEY_USERS; nothing was imported",
                           ERROR_INVALID_DATA);
    }
    if (change.kind == RegChange::Kind::kDeleteKey && key.sub.empty()) {
        return FileFailure(file, change.line, "a root key cannot be deleted; nothing was imported",
                           ERROR_ACCESS_DENIED);
    }
    if (KeyDepth(key.sub) > kNvMaxKeyDepth) {
        return FileFailure(file, change.line,
                           "the key lies more than " + std::to_string(kNvMaxKeyDepth) +
                               " levels below its root, deeper than a registry holds; nothing "
                               "was imported",
                           ERROR_INVALID_PARAMETER);
    }
    const LONG result = Apply(change, key, current);
    if (result != ERROR_SUCCESS) {
        return FileFailure(file, change.line,
                           "the registry refused this change; nothing was imported", result);
    }
    return -1;
}

bool HasLineBreak(const std::u16string& name) {
    return name.find_first_of(u"\r\n") != std::u16string::npos;
}

// The key as the store spells it: each name of the typed path is looked up among its
// parent's subkeys (the path may be typed in any letter case).
LONG StoredPath(const KeyName& keyName, std::u16string* path) {
    *path = NvFromUtf8(keyName.rootName.c_str());
    HKEY parent = keyName.root;
    std::u16string rest = keyName.Sub();
    LONG result = ERROR_SUCCESS;
    while (!rest.empty() && result == ERROR_SUCCESS) {
        const size_t slash = rest.find(u'\\');
        const std::u16string typed = rest.substr(0, slash);
        rest = slash == std::u16string::npos ? std::u16string() : rest.substr(slash + 1);
        std::vector<std::u16string> names;
        result = ReadSubKeys(parent, &names);
        std::u16string stored = typed;
        for (const std::u16string& name : names) {
            if (_wcsicmp(name.c_str(), typed.c_str()) == 0) {
                stored = name;
                break;
            }
        }
        *path += u"\\" + stored;
        HKEY child = nullptr;
        if (result == ERROR_SUCCESS) {
            result = RegOpenKeyExW(parent, stored.c_str(), 0, KEY_READ, &child);
        }
        if (parent != keyName.root) {
            RegCloseKey(parent);
        }
        parent = child;
    }
    if (parent != nullptr && parent != keyName.root) {
        RegCloseKey(parent);
    }
    return result;
}

// The key, its values, then each subkey in the same way, as regedit writes them. A name with
// a line break cannot stand in a .reg file: *badPath says where it is.
LONG ExportKey(HKEY key, const std::u16string& path, TreeWalk* walk, std::u16string* text,
               std::u16string* badPath) {
    std::vector<ValueEntry> values;
    std::vector<std::u16string> subKeys;
    LONG result = ReadKey(key, &values, &subKeys);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    *text += KeyLine(path);
    for (const ValueEntry& value : values) {
        if (HasLineBreak(value.name)) {
            *badPath = path;
            return ERROR_INVALID_DATA;
        }
        *text += ValueLines(value.name, value.type, value.data);
    }
    *text += u"\r\n";
    for (const std::u16string& name : subKeys) {
        if (HasLineBreak(name)) {
            *badPath = path;
            return ERROR_INVALID_DATA;
        }
        const std::u16string subPath = path + u"\\" + name;
        result = VisitDeeper(key, name, NvToUtf8(subPath.c_str()), walk, [&](HKEY subKey) {
            return ExportKey(subKey, subPath, walk, text, badPath);
        });
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

// The file is read as it is applied, so that its size never has to fit in memory; the
// transaction makes it all or nothing all the same.
int Import(const Options& options) {
    HANDLE file =
        CreateFileW(NvFromUtf8(options.file.c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return FileFailure(options.file, 0, "cannot be read", static_cast<LONG>(GetLastError()));
    }
    RegFileReader reader([file](char* buffer, DWORD size, DWORD* got) {
        return ReadFile(file, buffer, size, got, nullptr) ? static_cast<LONG>(ERROR_SUCCESS)
                                                          : static_cast<LONG>(GetLastError());
    });
    LONG result = NvRegistryBegin(true);
    if (result != ERROR_SUCCESS) {
        CloseHandle(file);
        return Failure(result);
    }
    HKEY current = nullptr;
    int refused = -1;
    for (RegChange change; refused < 0;) {
        const RegFileReader::Step step = reader.Next(&change);
        if (step == RegFileReader::Step::kEnd) {
            break;
        }
        if (step == RegFileReader::Step::kFault) {
            const RegFileFault& fault = reader.Fault();
            refused = FileFailure(options.file, fault.line, fault.what + "; nothing was imported",
                                  fault.code);
        } else {
            refused = ImportChange(options.file, change, &current);
        }
    }
    if (current != nullptr) {
        RegCloseKey(current);
    }
    CloseHandle(file);
    if (refused >= 0) {
        NvRegistryRollback();
        return refused;
    }
    if ((result = NvRegistryCommit()) != ERROR_SUCCESS) {
        return Failure(result);
    }
    std::fputs(kDone, stdout);
    return kExitOk;
}

int Export(const Options& options) {
    KeyName keyName;
    if (!ParseKey(options.key, &keyName)) {
        return InvalidKey(options.key);
    }
    if (!options.force && FileExists(options.file)) {
        int refused = Refusal(Confirm("File " + options.file + " already exists. Overwrite"),
                              "overwrite the file", "/y");
        if (refused >= 0) {
            return refused;
        }
    }
    LONG result = NvRegistryBegin(false);
    if (result != ERROR_SUCCESS) {
        return Failure(result);
    }
    std::u16string path;
    std::u16string text = RegFileHeader();
    std::u16string badPath;
    HKEY key = nullptr;
    result = RegOpenKeyExW(keyName.root, keyName.Sub().c_str(), 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        result = StoredPath(keyName, &path);
    }
    TreeWalk walk{KeyDepth(keyName.Sub()), {}};
    if (result == ERROR_SUCCESS) {
        result = ExportKey(key, path, &walk, &text, &badPath);
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
    NvRegistryRollback();  // it only read
    if (result == ERROR_INVALID_DATA && !badPath.empty()) {
        return FileFailure(options.file, 0,
                           "a name below " + NvToUtf8(badPath.c_str()) +
                               " holds a line break, which a .reg file cannot hold",
                           result);
    }
    if (result != ERROR_SUCCESS) {
        return WalkFailure(walk, result);
    }
    if ((result = WriteWholeFile(options.file, RegFileBytes(text))) != ERROR_SUCCESS) {
        return FileFailure(options.file, 0, "cannot be written", result);
    }
    std::fputs(kDone, stdout);
    return kExitOk;
}

}  // namespace nvreg
