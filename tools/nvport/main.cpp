// nvport: the Windows administrator's tool for the print monitor "NORVA TCP/IP Port". It
// manages the monitor's ports through the spooler exactly as a port user interface does
// (OpenPrinterW ",XcvMonitor NORVA TCP/IP Port", XcvDataW, EnumPortsW), installs and removes
// the monitor (AddMonitorW, DeleteMonitorW), and runs the installer's printer discovery without
// its wizard. The port verbs and discovery are nvspool's and nvdiscover's (tools/cli).
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "tools/cli/discover_verb.h"
#include "tools/cli/port_settings.h"
#include "tools/cli/port_verbs.h"
#include "tools/cli/text.h"
#include "tools/nvport/monitor_verbs.h"
#include "tools/nvport/print_job.h"

namespace {

const char kUsage[] =
    "Usage: nvport VERB [ARGS...]\n"
    "\n"
    "Manages the ports of the print monitor \"NORVA TCP/IP Port\" through the Windows spooler,\n"
    "installs and removes the monitor, and finds NORVA printers on the network. Changes need\n"
    "an administrator. VERB --help (or VERB /?) tells more of each verb.\n"
    "\n"
    "Ports (the same verbs as nvspool's):\n"
    "%s"
    "\n"
    "Settings of add and config:\n"
    "%s"
    "\n"
    "The monitor, and printers:\n"
    "%s"
    "\n"
    "  -h, --help, /?             show this help\n"
    "  --version                  show the version\n"
    "\n"
    "Errors are one line with the Win32 code and its text. Exit status: 0 success, 1 failure\n"
    "(and the \"no\" of exists and discover), 2 a bad command line.\n";

const cli::VerbDoc kOwnVerbs[] = {
    {"install-monitor", "", "register the monitor with the spooler (AddMonitorW)",
     "nvtcpmon.dll must be in the system directory; an installed monitor stays as it is.\n"},
    {"remove-monitor", "", "remove the monitor and its ports (DeleteMonitorW)",
     "Refused while a printer prints to one of the monitor's ports.\n"},
    {"show-monitor", "", "whether the monitor is installed, and its DLL",
     "Exit status 0 when it is installed, 1 when it is not.\n"},
    {"discover", "[--ip A.B.C.D | --mac MAC] [--json] [--verbose] | --register A.B.C.D",
     "find printers by SNMP, as the installer does, or make a printer's port", ""},
};

void PrintUsage(FILE* out) {
    fprintf(out, kUsage, cli::PortVerbsHelp().c_str(), cli::PortSettingsHelp(),
            cli::VerbDocsHelp(kOwnVerbs, std::size(kOwnVerbs)).c_str());
}

// UTF-8 on the console while the tool runs (pipes and files get the same bytes).
class ConsoleUtf8 {
  public:
    ConsoleUtf8() : saved_(GetConsoleOutputCP()) {
        if (saved_ != 0) {
            SetConsoleOutputCP(CP_UTF8);
        }
    }
    ~ConsoleUtf8() {
        if (saved_ != 0) {
            SetConsoleOutputCP(saved_);
        }
    }

  private:
    UINT saved_;
};

int Run(const std::vector<std::string>& args) {
    if (args.empty()) {
        PrintUsage(stderr);
        return cli::kExitUsage;
    }
    const std::string& verb = args[0];
    if (cli::IsHelpOption(verb, /*slashHelp=*/true)) {
        PrintUsage(stdout);
        return cli::kExitOk;
    }
    if (verb == "--version") {
        return cli::PrintVersion("nvport");
    }
    cli::Tool tool{"nvport"};
    tool.installCommand = "nvport install-monitor";
    tool.slashHelp = true;
    tool.printJob = [&tool](const std::string& port, const std::string& document,
                            const std::string& data) {
        return nvport::PrintThroughSpooler(tool, port, document, data);
    };
    std::vector<std::string> rest(args.begin() + 1, args.end());
    int result = cli::RunPortVerb(tool, verb, rest);
    if (result >= 0) {
        return result;
    }
    const cli::VerbDoc* own = cli::FindVerbDoc(kOwnVerbs, std::size(kOwnVerbs), verb);
    if (own == nullptr) {
        return tool.Usage("unknown verb " + verb);
    }
    if (cli::AsksForHelp(tool, rest)) {
        cli::PrintVerbHelp(tool, verb, own->synopsis, own->summary, own->details);
        if (verb == "discover") {
            printf("%s", cli::DiscoverOptionsHelp());
        }
        return cli::kExitOk;
    }
    if (verb == "install-monitor") {
        return nvport::InstallMonitor(tool, rest);
    }
    if (verb == "remove-monitor") {
        return nvport::RemoveMonitor(tool, rest);
    }
    if (verb == "show-monitor") {
        return nvport::ShowMonitor(tool, rest);
    }
    return cli::RunDiscover(tool, rest, [&tool](const std::string& dotted) {
        return cli::RegisterPortThroughMonitor(tool, dotted);
    });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ConsoleUtf8 console;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(cli::Utf8(argv[i]));
    }
    int result = Run(args);
    fflush(stdout);
    return result;
}
