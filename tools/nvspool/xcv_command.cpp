// nvspool xcv: any request of the monitor's Xcv channel, with an input of UTF-16 text or of a
// file's bytes, and its status and output as hex.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/cli/spooler.h"
#include "tools/nvspool/common.h"

namespace nvspool {

int XcvCommand(const std::vector<std::string>& args, const Options& options) {
    std::string request;
    std::vector<BYTE> input;
    bool haveInput = false;
    DWORD outputSize = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--input-string" && i + 1 < args.size() && !haveInput) {
            cli::WideString wide = cli::Wide(args[++i]);
            const auto* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
            input.assign(bytes, bytes + (wide.size() + 1) * sizeof(WCHAR));
            haveInput = true;
        } else if (a == "--input-file" && i + 1 < args.size() && !haveInput) {
            std::ifstream file(args[++i], std::ios::binary);
            if (!file) {
                fprintf(stderr, "nvspool: cannot read %s\n", args[i].c_str());
                return 1;
            }
            input.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            haveInput = true;
        } else if (a == "--output-size" && i + 1 < args.size()) {
            if (!cli::ParseNumber(args[++i], 1u << 20, &outputSize))
                return Usage("bad --output-size");
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown or repeated option " + a).c_str());
        } else if (request.empty()) {
            request = a;
        } else {
            return Usage("one request name only");
        }
    }
    if (request.empty()) {
        return Usage("xcv needs a request name");
    }
    SpoolerHost host;
    int exitCode = 0;
    if (!LoadMonitor(host, options, &exitCode)) {
        return exitCode;
    }
    cli::XcvChannel channel;
    DWORD error = channel.Open(/*administer=*/SpoolerHost::CallerMayAdminister());
    if (error != ERROR_SUCCESS) {
        return Fail("OpenPrinterW ,XcvMonitor NORVA TCP/IP Port", error);
    }
    cli::WideString wide = cli::Wide(request);
    std::vector<BYTE> output(outputSize, 0);
    DWORD needed = 0;
    DWORD status = channel.Request(wide.c_str(), haveInput ? input.data() : nullptr,
                                   static_cast<DWORD>(input.size()),
                                   outputSize > 0 ? output.data() : nullptr, outputSize, &needed);
    printf("status %u (%s), needed %u\n", static_cast<unsigned>(status),
           NvErrorText(status).c_str(), static_cast<unsigned>(needed));
    DWORD shown = std::min(needed, outputSize);
    for (DWORD i = 0; i < shown; i += 16) {
        printf("%04x ", static_cast<unsigned>(i));
        for (DWORD j = i; j < i + 16 && j < shown; ++j) {
            printf(" %02x", output[j]);
        }
        printf("\n");
    }
    return status == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace nvspool
