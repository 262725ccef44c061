#include "tools/nvspool/commands.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>

#include "platform/private_temp.h"
#include "tools/cli/port_verbs.h"
#include "tools/cli/store_file.h"
#include "tools/cli/text.h"
#include "tools/nvspool/common.h"

namespace nvspool {

namespace {

const cli::Tool kTool{"nvspool", nullptr, cli::RegistryStoreNote};

// nvspool's own verbs beside the port verbs, for the tool's help and their own.
const cli::VerbDoc kOwnVerbs[] = {
    {"xcv", "REQUEST [--input-string S | --input-file F] [--output-size N]",
     "any Xcv request of the monitor, its status and output as hex",
     "  --input-string S   the input: S as terminated UTF-16 text\n"
     "  --input-file F     the input: the bytes of the file F\n"
     "  --output-size N    the size of the output buffer (default 0)\n"
     "Exit status 0 when the request's status is 0, else 1.\n"},
    {"print", "--port NAME [options] FILE|-", "print a file through the port (print --help)", ""},
    {"serve", "[--control SOCKET]", "run as the \"Spooler\" service",
     "Keeps the monitor loaded, as the spooler service does; a stop and a start (the\n"
     "installer's restart of the \"Spooler\" service) load it again, so that it reads its\n"
     "ports afresh. The control socket (default $NORVA_SPOOLER_SOCKET, else\n"
     "/run/norva/spooler.sock) has mode 0660: only root and this account may stop or\n"
     "start it. SIGTERM and SIGINT end the service.\n"},
};

// The page goes through `print`'s job path, with its restarts and its report, from a private
// file.
int PrintDocument(const std::string& port, const std::string& document, const std::string& data,
                  const Options& options) {
    WCHAR path[MAX_PATH];
    HANDLE file = CreatePrivateTempFile(WSTR("nvspool-page"), path, MAX_PATH);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail("test-page: a private file for the page", GetLastError());
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    DWORD error = ok && written == data.size() ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    int result = error == ERROR_SUCCESS
                     ? Print({"--port", port, "--document", document, cli::Utf8(path)}, options)
                     : Fail("test-page: writing the page", error);
    DeletePrivateTempFile(path);
    return result;
}

}  // namespace

int Fail(const std::string& what, DWORD code) {
    return kTool.Fail(what, code);
}

int Usage(const char* text) {
    return kTool.Usage(text);
}

bool LoadMonitor(SpoolerHost& host, const Options& options, int* exitCode) {
    std::string message;
    DWORD error = host.LoadMonitor(options.monitorPath, kNorvaMonitorName, true, &message);
    if (error != ERROR_SUCCESS) {
        *exitCode = Fail(message.empty() ? "cannot load the monitor" : message, error);
        return false;
    }
    return true;
}

std::string OwnVerbsHelp() {
    return cli::VerbDocsHelp(kOwnVerbs, std::size(kOwnVerbs));
}

int RunCommand(const std::string& command, const std::vector<std::string>& args,
               const Options& options) {
    // The port verbs are nvport's; the older names stay.
    static const std::pair<const char*, const char*> kOlderNames[] = {
        {"add-port", "add"},       {"config-port", "config"}, {"show-port", "show"},
        {"delete-port", "delete"}, {"port-exists", "exists"},
    };
    std::string verb = command;
    for (const auto& [older, name] : kOlderNames) {
        if (command == older) {
            verb = name;
        }
    }
    // The verbs reach the monitor through this process's spooler host. A verb that only reads
    // finds no ports where there is no store yet, and makes none.
    std::optional<cli::EmptyRegistryStore> emptyStore;
    std::optional<SpoolerHost> host;
    cli::Tool tool = kTool;
    tool.attach = [&](bool changes) {
        if (host) {
            return cli::kExitOk;
        }
        if (!changes && !cli::RegistryStoreExists()) {
            kTool.Note("the registry store " + NvRegistryPath() + " does not exist yet: no ports");
            emptyStore.emplace();
        }
        host.emplace();
        int exitCode = 0;
        return LoadMonitor(*host, options, &exitCode) ? cli::kExitOk : exitCode;
    };
    // A job has a host of its own: this one goes first.
    tool.printJob = [&](const std::string& port, const std::string& document,
                        const std::string& data) {
        host.reset();
        return PrintDocument(port, document, data, options);
    };
    int result = cli::RunPortVerb(tool, verb, args);
    if (result >= 0) {
        return result;
    }
    const cli::VerbDoc* own = cli::FindVerbDoc(kOwnVerbs, std::size(kOwnVerbs), command);
    if (own == nullptr) {
        return Usage(("unknown command: " + command).c_str());
    }
    if (command != "print" && cli::AsksForHelp(tool, args)) {
        return cli::PrintVerbHelp(tool, command, own->synopsis, own->summary, own->details);
    }
    if (command == "xcv") {
        return XcvCommand(args, options);
    }
    if (command == "serve") {
        return Serve(args, options);
    }
    if (!cli::RegistryStoreExists()) {
        emptyStore.emplace();  // no port to print to, and no store made for it
    }
    return Print(args, options);
}

}  // namespace nvspool
