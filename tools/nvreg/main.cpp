// nvreg: the registry on the command line, with reg.exe's syntax (Linux only).
//
//   nvreg query KEY [/v NAME | /ve] [/s]
//   nvreg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEPARATOR] [/f]
//   nvreg delete KEY [/v NAME | /ve | /va] [/f]
//   nvreg import FILE
//   nvreg export KEY FILE [/y]
#include <strings.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/nvreg/commands.h"

namespace {

const char kUsage[] =
    "Usage: nvreg query KEY [/v NAME | /ve] [/s]\n"
    "       nvreg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEPARATOR] [/f]\n"
    "       nvreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "       nvreg import FILE\n"
    "       nvreg export KEY FILE [/y]\n"
    "\n"
    "Reads and changes the NORVA registry store, as reg.exe does the Windows registry.\n"
    "\n"
    "  KEY           ROOT\\SubKey\\..., ROOT one of HKLM, HKCU, HKCR, HKU or their long\n"
    "                names (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, ...)\n"
    "  /v NAME       the value NAME\n"
    "  /ve           the default value, shown as (Default)\n"
    "  /va           delete every value of the key (the key and its subkeys stay)\n"
    "  /s            query: the key and all its subkeys\n"
    "                add: the separator between REG_MULTI_SZ strings in DATA (default \\0)\n"
    "  /t TYPE       REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "                REG_BINARY or REG_NONE\n"
    "  /d DATA       text; a number for REG_DWORD and REG_QWORD (decimal or 0x...); hex\n"
    "                digits for REG_BINARY\n"
    "  /f            add, delete: do not ask for confirmation (needed when standard input\n"
    "                is not a terminal)\n"
    "  FILE          a .reg file (\"Windows Registry Editor Version 5.00\"). import reads\n"
    "                UTF-16LE with a byte order mark or UTF-8, and applies the whole file in\n"
    "                one transaction: all of it or, on any error, nothing. export writes\n"
    "                the key with its values and subkeys as reg.exe does (UTF-16LE, CR LF)\n"
    "  /y            export: overwrite FILE without asking\n"
    "  -h, --help    show this help\n"
    "  --version     show the version\n"
    "\n"
    "Options may be written with - instead of / (-v NAME). delete without /v, /ve or /va\n"
    "deletes the key with all its subkeys.\n"
    "\n"
    "Environment: NORVA_REGISTRY, the registry store (default /var/lib/norva/registry.db).\n"
    "Exit status: 0 on success, 1 on any error.\n";

// "/v", "-v" and "--help" are options; the name comes back lower-cased, without the prefix.
// An option's name is letters (or "?"), so that a file path such as /tmp/ports.reg is no
// option.
bool OptionName(const std::string& arg, std::string* name) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
        return false;
    }
    size_t start = arg.compare(0, 2, "--") == 0 ? 2 : 1;
    name->clear();
    for (size_t i = start; i < arg.size(); ++i) {
        char c = arg[i];
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if ((c < 'a' || c > 'z') && c != '?') {
            return false;
        }
        name->push_back(c);
    }
    return !name->empty();
}

bool IsHelp(const std::string& name) {
    return name == "help" || name == "h" || name == "?";
}

int SyntaxError(const std::string& detail) {
    std::fprintf(stderr, "ERROR: Invalid syntax: %s. Type \"nvreg --help\" for usage.\n",
                 detail.c_str());
    return nvreg::kExitError;
}

// Which options each command takes.
bool Accepts(const std::string& command, const std::string& option) {
    static const char* const kQuery[] = {"v", "ve", "s"};
    static const char* const kAdd[] = {"v", "ve", "t", "d", "s", "f"};
    static const char* const kDelete[] = {"v", "ve", "va", "f"};
    static const char* const kExport[] = {"y"};
    auto in = [&](const auto& list) {
        for (const char* name : list) {
            if (option == name) {
                return true;
            }
        }
        return false;
    };
    if (command == "import") {
        return false;
    }
    if (command == "export") {
        return in(kExport);
    }
    return command == "query" ? in(kQuery) : command == "add" ? in(kAdd) : in(kDelete);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string name;
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return nvreg::kExitError;
    }
    if (OptionName(args[0], &name) && IsHelp(name)) {
        std::fputs(kUsage, stdout);
        return nvreg::kExitOk;
    }
    if (args[0] == "--version") {
        std::printf("nvreg (NORVA TCP/IP Port) %s\n", NORVA_VERSION);
        return nvreg::kExitOk;
    }
    nvreg::Options options;
    for (char c : args[0]) {
        options.command.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    static const char* const kCommands[] = {"query", "add", "delete", "import", "export"};
    bool known = false;
    for (const char* command : kCommands) {
        known = known || options.command == command;
    }
    if (!known) {
        return SyntaxError("unknown command '" + args[0] +
                           "' (query, add, delete, import or export)");
    }
    // The words the command takes: import FILE, export KEY FILE, the others KEY.
    std::vector<std::string*> words = {&options.key};
    if (options.command == "import") {
        words = {&options.file};
    } else if (options.command == "export") {
        words = {&options.key, &options.file};
    }
    size_t wordsSeen = 0;
    std::vector<std::string> seen;
    for (size_t i = 1; i < args.size(); ++i) {
        if (!OptionName(args[i], &name)) {
            if (wordsSeen == words.size()) {
                return SyntaxError("unexpected argument '" + args[i] + "'");
            }
            *words[wordsSeen++] = args[i];
            continue;
        }
        if (IsHelp(name)) {
            std::fputs(kUsage, stdout);
            return nvreg::kExitOk;
        }
        if (!Accepts(options.command, name)) {
            return SyntaxError(options.command + " does not take " + args[i]);
        }
        for (const std::string& earlier : seen) {
            if (earlier == name) {
                return SyntaxError(args[i] + " is given twice");
            }
        }
        seen.push_back(name);
        const bool takesArgument =
            name == "v" || name == "t" || name == "d" || (name == "s" && options.command == "add");
        std::string argument;
        if (takesArgument) {
            if (i + 1 >= args.size()) {
                return SyntaxError(args[i] + " needs an argument");
            }
            argument = args[++i];
        }
        if (name == "v") {
            options.hasValueName = true;
            options.valueName = argument;
        } else if (name == "ve") {
            options.defaultValue = true;
        } else if (name == "va") {
            options.allValues = true;
        } else if (name == "t") {
            options.hasType = true;
            options.type = argument;
        } else if (name == "d") {
            options.hasData = true;
            options.data = argument;
        } else if (name == "s") {
            if (options.command == "add") {
                options.separator = argument;
            } else {
                options.recurse = true;
            }
        } else if (name == "f" || name == "y") {
            options.force = true;
        }
    }
    if (options.command == "import") {
        return options.file.empty() ? SyntaxError("import needs a FILE") : nvreg::Import(options);
    }
    if (options.key.empty()) {
        return SyntaxError(options.command + " needs a KEY");
    }
    if (options.command == "export") {
        return options.file.empty() ? SyntaxError("export needs a KEY and a FILE")
                                    : nvreg::Export(options);
    }
    if (options.hasValueName + options.defaultValue + options.allValues > 1) {
        return SyntaxError("/v, /ve and /va exclude each other");
    }
    if (options.command == "query") {
        return nvreg::Query(options);
    }
    return options.command == "add" ? nvreg::Add(options) : nvreg::Delete(options);
}
