// Print jobs through the monitor's table, as the spooler drives a port.
#pragma once

#include <filesystem>
#include <string>

#include "tests/monitor/monitor_fixture.h"
#include "tests/support/fake_printer.h"

namespace nvtest {

class JobTest : public MonitorTest {
  protected:
    static constexpr char16_t kPrinter[] = u"Test Printer";

    // A port key with the values given (DWORDs and strings), below "Ports".
    static void SetPortValue(const std::u16string& port, const std::u16string& name, DWORD value) {
        HKEY key = OpenPortKey(port);
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
        RegCloseKey(key);
    }
    static void SetPortValue(const std::u16string& port, const std::u16string& name,
                             const std::u16string& text, DWORD type = REG_SZ) {
        HKEY key = OpenPortKey(port);
        RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * 2));
        RegCloseKey(key);
    }
    static HKEY OpenPortKey(const std::u16string& port) {
        HKEY key = nullptr;
        std::u16string path = std::u16string(kPortsKey) + u"\\" + port;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        return key;
    }

    // A raw port to the fake printer (address and port number).
    static void AddRawPort(const std::u16string& name, const FakeRawPrinter& printer) {
        AddRegistryPort(name, W(printer.address()));
        SetPortValue(name, u"PortNumber", printer.port());
    }

    DWORD NewJob(DWORD id = 0, const std::u16string& document = u"Test Document") {
        nvspool::Job job;
        job.id = id;
        job.printer = kPrinter;
        job.machine = u"\\\\TESTHOST";
        job.user = u"tester";
        job.document = document;
        return host_->AddJob(job);
    }

    HANDLE OpenPort(const std::u16string& name) {
        std::u16string copy = name;
        HANDLE port = nullptr;
        if (!table_->pfnOpenPort(monitor_, copy.data(), &port)) {
            return nullptr;
        }
        return port;
    }

    BOOL StartDoc(HANDLE port, DWORD jobId, const std::u16string& outputFile = u"",
                  DWORD level = 1) {
        std::u16string printer = kPrinter;
        std::u16string document = u"Test Document";
        std::u16string file = outputFile;
        DOC_INFO_2W info{};
        info.pDocName = document.data();
        info.pOutputFile = file.empty() ? nullptr : file.data();
        return table_->pfnStartDocPort(port, printer.data(), jobId, level,
                                       reinterpret_cast<LPBYTE>(&info));
    }

    BOOL Write(HANDLE port, const std::string& data, DWORD* written = nullptr) {
        DWORD ignored = 0;
        std::string copy = data;
        return table_->pfnWritePort(port, reinterpret_cast<LPBYTE>(copy.data()),
                                    static_cast<DWORD>(copy.size()),
                                    written != nullptr ? written : &ignored);
    }

    // A whole job: StartDocPort, the data in blocks, EndDocPort.
    bool PrintJob(HANDLE port, const std::string& data, size_t block = 16384) {
        DWORD id = NewJob();
        if (!StartDoc(port, id)) {
            return false;
        }
        for (size_t offset = 0; offset < data.size(); offset += block) {
            if (!Write(port, data.substr(offset, block))) {
                table_->pfnEndDocPort(port);
                return false;
            }
        }
        return table_->pfnEndDocPort(port) != FALSE;
    }

    // Whether this process (the monitor runs in it) holds the file open.
    static bool IsOpenHere(const std::string& path) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (std::filesystem::read_symlink(entry.path(), error) == path) {
                return true;
            }
        }
        return false;
    }

    static std::string Pattern(size_t size) {
        std::string data(size, '\0');
        uint32_t x = 2463534242u;
        for (auto& c : data) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = static_cast<char>(x);
        }
        return data;
    }
};

}  // namespace nvtest
