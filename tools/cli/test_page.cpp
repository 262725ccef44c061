// test-page: one page of plain text printed to a port through the monitor's own job path, so
// that an administrator sees a new port reach its printer. The page says which port it came
// through, with what settings, and when.
#include <ctime>

#include "tools/cli/port_access.h"
#include "tools/cli/port_settings.h"
#include "tools/cli/verbs.h"

namespace cli {

namespace {

constexpr char kDocumentName[] = "NORVA test page";

// Printers take CR LF line ends; the form feed ends the page.
std::string PageText(const PortEntry& record, const std::string& name) {
    char now[64] = "";
    time_t seconds = time(nullptr);
    struct tm local;
#ifdef _WIN32
    const bool haveTime = localtime_s(&local, &seconds) == 0;
#else
    const bool haveTime = localtime_r(&seconds, &local) != nullptr;
#endif
    if (haveTime) {
        strftime(now, sizeof now, "%Y-%m-%d %H:%M:%S", &local);
    }
    std::string text = "NORVA TCP/IP Port test page\n\nPort " + name + ", printed " + now + "\n\n" +
                       RecordText(record);
    std::string page;
    for (char c : text) {
        if (c == '\n') {
            page += '\r';
        }
        page += c;
    }
    return page + "\f";
}

}  // namespace

int TestPageVerb(const Tool& tool, const Args& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        return tool.Usage("test-page takes one port name");
    }
    const std::string& name = args[0];
    if (!tool.printJob) {
        return tool.Problem("test-page: this tool prints no jobs");
    }
    std::string page;
    {
        // The channel is closed again before the job: the job path is the spooler's.
        XcvChannel channel;
        PortEntry record{};
        int read = ReadOwnPort(tool, &channel, name, &record);
        if (read != kExitOk) {
            return read;
        }
        page = PageText(record, name);
    }
    return tool.printJob(name, kDocumentName, page);
}

}  // namespace cli
