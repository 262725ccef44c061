// A spooler host around the built monitor library, with a registry store of its own: the
// monitor is reached only through InitializePrintMonitor2 and its MONITOR2 table.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_env.h"
#include "tools/spoolhost/spooler_host.h"

namespace nvtest {

inline constexpr char16_t kPortsKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports";

class MonitorTest : public ::testing::Test {
  protected:
    void TearDown() override { Unload(); }

    static std::string MonitorPath() { return BuildDir() + "/lib/libnvtcpmon.so"; }

    // Loads the monitor as a local spooler would; returns the Win32 result.
    DWORD Load(bool local = true) {
        host_ = std::make_unique<nvspool::SpoolerHost>();
        std::string message;
        DWORD error =
            host_->LoadMonitor(MonitorPath(), nvspool::kNorvaMonitorName, local, &message);
        table_ = host_->Table();
        monitor_ = host_->MonitorHandle();
        return error;
    }

    void Unload() {
        host_.reset();
        table_ = nullptr;
        monitor_ = nullptr;
    }

    // A port key below "Ports" with the three values that every port has.
    static void AddRegistryPort(const std::u16string& name, const std::u16string& address = u"") {
        HKEY key = nullptr;
        std::u16string path = std::u16string(kPortsKey) + u"\\" + name;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        for (const char16_t* value : {u"IPAddress", u"HostName", u"HWAddress"}) {
            const std::u16string& text = std::u16string(value) == u"IPAddress" ? address : u"";
            RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * 2));
        }
        RegCloseKey(key);
    }

    static bool RegistryKeyExists(const std::u16string& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    // The port names that the monitor's EnumPorts reports at level 1, in order.
    std::vector<std::u16string> MonitorPorts() {
        DWORD needed = 0;
        DWORD returned = 0;
        table_->pfnEnumPorts(monitor_, nullptr, 1, nullptr, 0, &needed, &returned);
        std::vector<BYTE> buffer(needed);
        std::vector<std::u16string> names;
        if (table_->pfnEnumPorts(monitor_, nullptr, 1, buffer.data(), needed, &needed, &returned)) {
            auto* info = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
            for (DWORD i = 0; i < returned; ++i) {
                names.push_back(info[i].pName);
            }
        }
        return names;
    }

    BOOL AddPortEx(const std::u16string& name, DWORD level = 1) {
        std::u16string copy = name;
        PORT_INFO_1W info{copy.data()};
        return table_->pfnAddPortEx(monitor_, nullptr, level, reinterpret_cast<LPBYTE>(&info),
                                    nullptr);
    }

    ScopedRegistry registry_;
    std::unique_ptr<nvspool::SpoolerHost> host_;
    const MONITOR2* table_ = nullptr;
    HANDLE monitor_ = nullptr;
};

}  // namespace nvtest
