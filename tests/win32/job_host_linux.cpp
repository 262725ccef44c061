// The job host on Linux: the spooler's side is the spooler host of the tools, which registers
// itself as the process's spooler services. LPR jobs spool below TMPDIR, in directories of mode
// 0700 owned by the process's user.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/win32/job_host.h"
#include "tools/spoolhost/spooler_host.h"

namespace jobhost {
namespace {

const char kSpoolPrefix[] = "nvlpr-";

std::u16string U16(const WString& text) {
    return std::u16string(text.begin(), text.end());
}

class LinuxMachine : public JobMachine {
  public:
    bool Ready(std::string*) override { return true; }

    void AddJob(DWORD id, const WString& printer, const WString& machine, const WString& user,
                const WString& document) override {
        nvspool::Job job;
        job.id = id;
        job.printer = U16(printer);
        job.machine = U16(machine);
        job.user = U16(user);
        job.document = U16(document);
        host_.AddJob(job);
    }

    std::vector<DWORD> JobCommands(DWORD id) override { return host_.JobCommands(id); }
    size_t OpenPrinters() override { return host_.OpenPrinterCount(); }

    void FailGetJob(DWORD error) override {
        if (error == ERROR_SUCCESS) {
            NvFaultClear("GetJobW");
        } else {
            NvFaultSet("GetJobW", error);
        }
    }

    void SetJobStatus(DWORD id, DWORD status) override { host_.SetJobStatus(id, status); }

    std::vector<std::pair<DWORD, DWORD>> PortStatus(const std::string& port) override {
        std::vector<std::pair<DWORD, DWORD>> changes;
        for (const auto& change : host_.PortStatusChanges()) {
            if (NvToUtf8(change.port.c_str()) == port) {
                changes.emplace_back(change.status, change.severity);
            }
        }
        return changes;
    }

    std::vector<std::string> SpoolDirectories() override {
        std::vector<std::string> found;
        const char* tmp = getenv("TMPDIR");
        std::string base = tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
        DIR* dir = opendir(base.c_str());
        if (dir == nullptr) {
            return found;
        }
        while (dirent* entry = readdir(dir)) {
            if (strncmp(entry->d_name, kSpoolPrefix, sizeof kSpoolPrefix - 1) == 0) {
                found.push_back(base + "/" + entry->d_name);
            }
        }
        closedir(dir);
        return found;
    }

    bool IsPrivate(const std::string& directory, std::string* why) override {
        struct stat info {};
        if (lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            *why = "it is no directory";
            return false;
        }
        if ((info.st_mode & 077) != 0 || info.st_uid != geteuid()) {
            char mode[16];
            snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777));
            *why = std::string("its mode is ") + mode + ", owner " + std::to_string(info.st_uid);
            return false;
        }
        return true;
    }

    size_t Handles() override {
        size_t count = 0;
        DIR* dir = opendir("/proc/self/fd");
        while (dir != nullptr && readdir(dir) != nullptr) {
            ++count;
        }
        if (dir != nullptr) {
            closedir(dir);
        }
        return count;
    }

  private:
    nvspool::SpoolerHost host_;
};

}  // namespace

std::unique_ptr<JobMachine> NewJobMachine() {
    return std::make_unique<LinuxMachine>();
}

}  // namespace jobhost
