// nvinstall-run: runs one of the installer's wizards as a printer-driver installer does
// (Linux): loads libnvinstall.so, calls QornSearchAll or QornSearchByIP, and prints the return
// value and the port name. With --autopilot it walks through the wizard by itself, driving the
// real widgets, so that it also runs where nobody can click (QT_QPA_PLATFORM=offscreen).
#include <dlfcn.h>
#include <getopt.h>
#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/nvinstall-run/autopilot.h"
#include "wizard/qt/display_probe.h"
#include "wizard/qt/wizard_driver.h"

namespace {

constexpr int kExitPort = 0;       // the port was registered
constexpr int kExitNoPort = 1;     // the wizard ended without a port, or the export failed
constexpr int kExitUsage = 2;      // bad command line, or the library cannot be loaded
constexpr int kExitAutopilot = 3;  // the autopilot could not run all its steps
constexpr int kExitNoWizard = 4;   // the library could not show its wizard

// The caller's buffer of the exports: at least 128 bytes.
constexpr size_t kPortNameBytes = 128;

// Both exports: int WINAPI (char* portName); WINAPI is the default convention on Linux.
using SearchExport = int (*)(char*);

const char kUsage[] =
    "Usage: nvinstall-run [--library PATH] [--autopilot STEPS]... all|byip\n"
    "\n"
    "Runs one of the installer's wizards as a printer-driver installer does: loads\n"
    "libnvinstall.so, calls QornSearchAll (all) or QornSearchByIP (byip) and prints what it\n"
    "returned. When the wizard is finished, the library has written the port into the\n"
    "monitor's Ports key and restarted the spooler.\n"
    "\n"
    "  all                the search-all wizard: every printer that answers on the local network\n"
    "  byip               the search-by-address wizard: one printer by IPv4 or hardware address\n"
    "  --library PATH     the library to load (default: ../lib/libnvinstall.so from the\n"
    "                     tool's directory, else libnvinstall.so by the loader's search)\n"
    "  --autopilot STEPS  walk through the wizard without a user. The steps, separated by\n"
    "                     commas (the option may be repeated), run in order, each as soon as\n"
    "                     the wizard is ready for it:\n"
    "                       ip=A.B.C.D   type an IPv4 address (address page)\n"
    "                       mac=HEX      type a hardware address (address page)\n"
    "                       row=N        select row N, the first row being 0 (list page)\n"
    "                       refresh      press Refresh (list page)\n"
    "                       next, back   press Next or Back\n"
    "                       escape       press Escape: the wizard ends as cancelled\n"
    "                       yes, no, ok  answer the message box that is open\n"
    "                       wait=MS      let MS milliseconds pass (to watch on a display)\n"
    "                     A message box that no step answers, a step that waits more than\n"
    "                     30 seconds, or a wizard still open after the last step stop the\n"
    "                     autopilot: it cancels the wizard and says why.\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "\n"
    "Output: with --autopilot, each step as it runs (\"autopilot: ...\"); then \"result: N\",\n"
    "the export's return value (0, or 183 when the port could not be written), and\n"
    "\"port: NAME\", the name it returned (\"port: -\" for none).\n"
    "\n"
    "Exit status: 0 when a port was registered, 1 when the wizard ended without one or the\n"
    "export failed, 2 for a bad command line or a library that cannot be loaded, 3 when the\n"
    "autopilot could not run all its steps, 4 when the library could not show its wizard at\n"
    "all (no display, or one that cannot be reached): the library says why in one line on\n"
    "standard error.\n"
    "\n"
    "Environment: QT_QPA_PLATFORM=offscreen shows the wizard on no screen at all (for\n"
    "--autopilot); without it the wizard needs DISPLAY or WAYLAND_DISPLAY. NORVA_REGISTRY, the\n"
    "registry store the port is written to; NORVA_SPOOLER_SOCKET, the spooler host that is\n"
    "restarted; NORVA_TRACE, the library's trace, and Qt's own warnings on standard error.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "nvinstall-run: %s\nTry 'nvinstall-run --help'.\n", message.c_str());
    return kExitUsage;
}

// Qt's own warnings (a missing XDG_RUNTIME_DIR, what the offscreen platform cannot do) are
// noise to someone running an installer: they are shown only when tracing is on.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg || std::getenv("NORVA_TRACE") != nullptr) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
}

// libnvinstall.so of the tool's own build: lib/ beside its bin/. (The tool's run path says the
// same, but under AddressSanitizer dlopen searches the sanitizer's run path instead.)
std::string DefaultLibrary() {
    char exe[4096];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length > 0) {
        exe[length] = 0;
        std::string dir = exe;
        dir.erase(dir.find_last_of('/') + 1);
        std::string library = dir + "../lib/libnvinstall.so";
        if (access(library.c_str(), R_OK) == 0) {
            return library;
        }
    }
    return "libnvinstall.so";  // by the loader's search
}

bool DisplayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {
        {"library", required_argument, nullptr, 'l'},
        {"autopilot", required_argument, nullptr, 'a'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    qInstallMessageHandler(QtMessages);
    std::string library;
    std::vector<std::string> plans;
    int option;
    while ((option = getopt_long(argc, argv, "h", kOptions, nullptr)) != -1) {
        switch (option) {
            case 'l':
                library = optarg;
                break;
            case 'a':
                plans.push_back(optarg);
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case 'V':
                std::printf("nvinstall-run (NORVA TCP/IP Port) %s\n", NORVA_VERSION);
                return 0;
            default:
                return UsageError("unknown option");
        }
    }
    if (optind + 1 != argc) {
        return UsageError("give exactly one wizard: all or byip");
    }
    if (library.empty()) {
        library = DefaultLibrary();
    }
    const std::string wizard = argv[optind];
    const char* exportName = wizard == "all"    ? "QornSearchAll"
                             : wizard == "byip" ? "QornSearchByIP"
                                                : nullptr;
    if (exportName == nullptr) {
        return UsageError("unknown wizard '" + wizard + "' (all or byip)");
    }

    // The autopilot needs the application object before the library runs its wizard: the tool
    // makes it, and the library uses the host's, as it would in any Qt installer.
    // QApplication keeps argc and argv for its life.
    char platformOption[] = "-platform";
    std::string platform;
    int qtArgc = 3;
    std::vector<char*> qtArgv;
    std::unique_ptr<QApplication> application;
    std::unique_ptr<wizard::qtview::WizardDriver> driver;
    if (!plans.empty()) {
        if (!DisplayAvailable()) {
            return UsageError("--autopilot needs a display, or QT_QPA_PLATFORM=offscreen");
        }
        // Qt ends the process when its platform cannot start: asked first, as the library does.
        std::string why;
        platform = wizard::qtview::UsablePlatform(&why);
        if (platform.empty()) {
            std::fprintf(stderr,
                         "nvinstall-run: the wizard cannot be shown: no Qt platform can "
                         "start (%s)\n",
                         why.c_str());
            return kExitNoWizard;
        }
        qtArgv = {argv[0], platformOption, platform.data(), nullptr};
        application = std::make_unique<QApplication>(qtArgc, qtArgv.data());
        driver = std::make_unique<wizard::qtview::WizardDriver>();
        for (const std::string& plan : plans) {
            std::string error;
            if (!nvinstallrun::AddSteps(plan, *driver, &error)) {
                return UsageError(error);
            }
        }
        driver->SetEcho([](const QString& line) {
            std::printf("autopilot: %s\n", line.toUtf8().constData());
            std::fflush(stdout);
        });
        driver->Start();
    }

    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "nvinstall-run: cannot load %s: %s\n", library.c_str(), dlerror());
        return kExitUsage;
    }
    auto search = reinterpret_cast<SearchExport>(dlsym(handle, exportName));
    if (search == nullptr) {
        std::fprintf(stderr, "nvinstall-run: %s has no %s\n", library.c_str(), exportName);
        return kExitUsage;
    }

    char portName[kPortNameBytes] = {};
    SetLastError(ERROR_SUCCESS);
    int result = search(portName);
    // Without a port the last error says why: the user cancelled, or no wizard could be shown.
    const DWORD lastError = GetLastError();
    portName[kPortNameBytes - 1] = 0;
    std::printf("result: %d\nport: %s\n", result, portName[0] != 0 ? portName : "-");
    std::fflush(stdout);

    // The library stays loaded until the process ends, as an installer keeps it.
    if (driver != nullptr && !driver->Finished()) {
        std::string why = driver->Error().isEmpty() ? "the wizard ended before the step: " +
                                                          driver->Pending().toStdString()
                                                    : driver->Error().toStdString();
        std::fprintf(stderr, "nvinstall-run: autopilot: %s\n", why.c_str());
        return kExitAutopilot;
    }
    if (result == 0 && portName[0] == 0 && lastError != ERROR_SUCCESS &&
        lastError != ERROR_CANCELLED) {
        return kExitNoWizard;
    }
    return result == 0 && portName[0] != 0 ? kExitPort : kExitNoPort;
}
