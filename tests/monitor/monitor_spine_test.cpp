// The monitor as a spooler loads it: start-up, the function table, EnumPorts, AddPortEx and
// Shutdown, through the built library only.
#include <dlfcn.h>

#include <cstring>

#include "platform/winsock.h"
#include "tests/monitor/monitor_fixture.h"

namespace nvtest {
namespace {

using StartUp = MonitorTest;

TEST_F(StartUp, NonLocalSpoolerGetsNoTableAndNoMonitor) {
    TraceCapture trace;
    EXPECT_NE(ERROR_SUCCESS, Load(/*local=*/false));
    EXPECT_EQ(nullptr, table_);
    EXPECT_FALSE(trace.contains("CNetPrintMonitor("));
}

TEST_F(StartUp, TableHasTheWindows2000SizeAndItsEntries) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    ASSERT_NE(nullptr, table_);
    EXPECT_EQ(offsetof(MONITOR2, pfnSendRecvBidiDataFromPort), table_->cbSize);
    EXPECT_NE(nullptr, table_->pfnEnumPorts);
    EXPECT_NE(nullptr, table_->pfnOpenPort);
    EXPECT_EQ(nullptr, table_->pfnOpenPortEx);
    EXPECT_EQ(nullptr, table_->pfnAddPort);
    EXPECT_NE(nullptr, table_->pfnAddPortEx);
    EXPECT_EQ(nullptr, table_->pfnConfigurePort);
    EXPECT_EQ(nullptr, table_->pfnDeletePort);
    EXPECT_NE(nullptr, table_->pfnXcvDataPort);
    EXPECT_NE(nullptr, table_->pfnShutdown);
}

TEST_F(StartUp, LoadsEveryStoredPortIncludingLongNames) {
    std::u16string longName(130, u'L');
    AddRegistryPort(u"NORVA_10.0.0.5", u"10.0.0.5");
    AddRegistryPort(longName);
    AddRegistryPort(u"alpha");
    ASSERT_EQ(ERROR_SUCCESS, Load());
    // The registry enumerates subkeys in case-insensitive order.
    std::vector<std::u16string> expected = {u"alpha", longName, u"NORVA_10.0.0.5"};
    EXPECT_EQ(expected, MonitorPorts());
}

TEST_F(StartUp, AStoredFileKeyIsNotAPortOfThisMonitor) {
    AddRegistryPort(u"FILE:");
    AddRegistryPort(u"REAL");
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_EQ(std::vector<std::u16string>{u"REAL"}, MonitorPorts());
}

// The port list starts in the registry's order and keeps it while ports go and come: a port
// is appended after the last one, whichever that is now, and looked up by its name in any case.
TEST_F(StartUp, PortListKeepsItsOrderThroughDeletesAndAdds) {
    for (const char16_t* name : {u"b", u"A", u"_x", u"C", u"a2"}) {
        AddRegistryPort(name);
    }
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_EQ((std::vector<std::u16string>{u"A", u"a2", u"b", u"C", u"_x"}), MonitorPorts());
    HANDLE xcv = nullptr;
    ASSERT_TRUE(
        table_->pfnXcvOpenPort(monitor_, u"NORVA TCP/IP Port", SERVER_ACCESS_ADMINISTER, &xcv));
    auto remove = [&](const std::u16string& name) {
        DWORD needed = 0;
        return table_->pfnXcvDataPort(
            xcv, u"DeletePort", reinterpret_cast<PBYTE>(const_cast<char16_t*>(name.c_str())),
            static_cast<DWORD>((name.size() + 1) * 2), nullptr, 0, &needed);
    };
    auto opens = [&](const std::u16string& name) {
        HANDLE port = nullptr;
        std::u16string copy = name;
        BOOL ok = table_->pfnOpenPort(monitor_, copy.data(), &port);
        if (ok) {
            table_->pfnClosePort(port);
        }
        return ok;
    };
    EXPECT_EQ(DWORD(ERROR_SUCCESS), remove(u"_X"));  // the last
    ASSERT_TRUE(AddPortEx(u"D"));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), remove(u"a"));  // the first
    EXPECT_EQ(DWORD(ERROR_SUCCESS), remove(u"B"));  // one between
    ASSERT_TRUE(AddPortEx(u"E"));
    EXPECT_EQ((std::vector<std::u16string>{u"a2", u"C", u"D", u"E"}), MonitorPorts());
    EXPECT_TRUE(opens(u"c"));
    EXPECT_FALSE(opens(u"b"));
    ASSERT_TRUE(AddPortEx(u"b"));
    EXPECT_TRUE(opens(u"B"));
    // Of two ports of one name, the older one is found (and deleted) first.
    ASSERT_TRUE(AddPortEx(u"dup"));
    ASSERT_TRUE(AddPortEx(u"DUP"));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), remove(u"Dup"));
    EXPECT_EQ((std::vector<std::u16string>{u"a2", u"C", u"D", u"E", u"b", u"DUP"}), MonitorPorts());
    table_->pfnXcvClosePort(xcv);
}

TEST_F(StartUp, CreatesAMissingPortsKey) {
    ASSERT_FALSE(RegistryKeyExists(kPortsKey));
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_TRUE(RegistryKeyExists(kPortsKey));
    EXPECT_TRUE(MonitorPorts().empty());
}

TEST_F(StartUp, TracesTheClassesAsTheyAreBuilt) {
    TraceCapture trace;
    AddRegistryPort(u"P1");
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_TRUE(trace.contains("CPrintMonitor(0x"));
    EXPECT_TRUE(trace.contains("CNetPrintMonitor(0x"));
    EXPECT_TRUE(trace.contains("CPrintMonitor::CreatePortEntry( \"P1\" )\n"));
    EXPECT_TRUE(trace.contains("PortName=P1"));
    EXPECT_TRUE(trace.contains("first node = 0x"));
}

TEST_F(StartUp, StartsWithoutPortsWhenThePortsKeyCannotBeMade) {
    NvFaultSet("RegCreateKeyExW", ERROR_ACCESS_DENIED, -1, /*skip=*/1);  // the host's own key
    NvFaultSet("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    TraceCapture trace;
    DWORD result = Load();
    NvFaultClear();
    ASSERT_EQ(ERROR_SUCCESS, result);
    EXPECT_TRUE(MonitorPorts().empty());
    std::string text = trace.text();
    size_t first = text.find("Failed to read registry\n");
    ASSERT_NE(std::string::npos, first);
    EXPECT_NE(std::string::npos, text.find("Failed to read registry\n", first + 1));
}

TEST_F(StartUp, DllEntryPointAnswersTrueForEveryReason) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    void* library = dlopen(MonitorPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, library);
    using Entry = BOOL (*)(HINSTANCE, DWORD, LPVOID);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "DllEntryPoint"));
    ASSERT_NE(nullptr, entry);
    EXPECT_TRUE(entry(nullptr, DLL_THREAD_ATTACH, nullptr));
    EXPECT_TRUE(entry(nullptr, DLL_THREAD_DETACH, nullptr));
    dlclose(library);
}

// The host's own Winsock start outlives the monitor: the monitor ends only the starts it made,
// however often its detach notification comes.
TEST_F(StartUp, DetachingTheMonitorLeavesTheHostsWinsockStarted) {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    ASSERT_EQ(ERROR_SUCCESS, Load());
    Unload();
    void* library = dlopen(MonitorPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, library);
    using Entry = BOOL (*)(HINSTANCE, DWORD, LPVOID);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "DllEntryPoint"));
    ASSERT_NE(nullptr, entry);
    EXPECT_TRUE(entry(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_TRUE(entry(nullptr, DLL_PROCESS_DETACH, nullptr));
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(INVALID_SOCKET, probe) << GetLastError();
    closesocket(probe);
    EXPECT_EQ(0, WSACleanup());
    dlclose(library);
}

// --- EnumPorts ---

class EnumPorts : public MonitorTest {
  protected:
    void SetUp() override {
        AddRegistryPort(u"A");
        AddRegistryPort(u"BB");
        AddRegistryPort(u"NORVA_192.168.0.20");
        ASSERT_EQ(ERROR_SUCCESS, Load());
    }

    static DWORD Level1Size(const std::vector<std::u16string>& names) {
        DWORD total = 0;
        for (const auto& name : names) {
            total += sizeof(PORT_INFO_1W) + (name.size() + 1) * 2;
        }
        return total;
    }
};

TEST_F(EnumPorts, ZeroBufferReportsTheNeededSizeAndLeavesTheCount) {
    DWORD needed = 0xdeadbeef;
    DWORD returned = 0xdeadbeef;
    SetLastError(0);
    EXPECT_FALSE(table_->pfnEnumPorts(monitor_, nullptr, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(Level1Size({u"A", u"BB", u"NORVA_192.168.0.20"}), needed);
    EXPECT_EQ(0xdeadbeefu, returned);
}

TEST_F(EnumPorts, OneByteShortFailsAndExactSizeFits) {
    for (DWORD level : {1u, 2u}) {
        DWORD needed = 0;
        DWORD returned = 0;
        table_->pfnEnumPorts(monitor_, nullptr, level, nullptr, 0, &needed, &returned);
        std::vector<BYTE> buffer(needed + 16, 0xCC);
        EXPECT_FALSE(table_->pfnEnumPorts(monitor_, nullptr, level, buffer.data(), needed - 1,
                                          &needed, &returned));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        EXPECT_EQ(0xCC, buffer[0]) << "nothing is written into a short buffer";
        ASSERT_TRUE(table_->pfnEnumPorts(monitor_, nullptr, level, buffer.data(), needed, &needed,
                                         &returned));
        EXPECT_EQ(3u, returned);
        for (size_t i = needed; i < buffer.size(); ++i) {
            ASSERT_EQ(0xCC, buffer[i]) << "written past the given size at level " << level;
        }
    }
}

TEST_F(EnumPorts, LevelTwoNamesMonitorAndDescriptionWithStringsPackedFromTheEnd) {
    DWORD needed = 0;
    DWORD returned = 0;
    table_->pfnEnumPorts(monitor_, nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(
        table_->pfnEnumPorts(monitor_, nullptr, 2, buffer.data(), needed, &needed, &returned));
    ASSERT_EQ(3u, returned);
    auto* info = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    EXPECT_EQ(u"A", std::u16string(info[0].pPortName));
    for (DWORD i = 0; i < returned; ++i) {
        EXPECT_EQ(u"NORVA TCP/IP Port", std::u16string(info[i].pMonitorName));
        EXPECT_EQ(u"NORVA TCP/IP Port", std::u16string(info[i].pDescription));
        EXPECT_EQ(static_cast<DWORD>(PORT_TYPE_WRITE), info[i].fPortType);
        EXPECT_EQ(0u, info[i].Reserved);
    }
    // The first port's name is the last string of the buffer.
    auto* end = buffer.data() + needed;
    EXPECT_EQ(end - 4, reinterpret_cast<BYTE*>(info[0].pPortName));
    EXPECT_LT(reinterpret_cast<BYTE*>(info[0].pDescription),
              reinterpret_cast<BYTE*>(info[0].pMonitorName));
}

TEST_F(EnumPorts, BadLevelFailsAtOnce) {
    DWORD needed = 0x55;
    DWORD returned = 0x66;
    EXPECT_FALSE(table_->pfnEnumPorts(monitor_, nullptr, 3, nullptr, 0, &needed, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), GetLastError());
    EXPECT_EQ(0x55u, needed);
}

TEST_F(EnumPorts, TracesItsCall) {
    TraceCapture trace;
    DWORD needed = 0;
    DWORD returned = 0;
    std::vector<BYTE> buffer(4096);
    ASSERT_TRUE(
        table_->pfnEnumPorts(monitor_, nullptr, 2, buffer.data(), 4096, &needed, &returned));
    EXPECT_TRUE(trace.contains("EnumPorts( Server=\"(null)\", PortLevel=2 )\n"));
    EXPECT_TRUE(trace.contains("3 of pointers required for level 2\n"));
    EXPECT_TRUE(trace.contains("Monitor Name = \"NORVA TCP/IP Port\"\n"));
    EXPECT_TRUE(trace.contains("Port Description = \"NORVA TCP/IP Port\"\n"));
}

class NoPorts : public MonitorTest {};

TEST_F(NoPorts, SucceedsWithZeroNeededAndZeroCount) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    DWORD needed = 0xdeadbeef;
    DWORD returned = 0xdeadbeef;
    EXPECT_TRUE(table_->pfnEnumPorts(monitor_, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(0u, needed);
    EXPECT_EQ(0u, returned);
}

// --- AddPortEx ---

using AddPortExEntry = MonitorTest;

TEST_F(AddPortExEntry, AddsAPortWithItsKeyAndNoValues) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    ASSERT_TRUE(AddPortEx(u"NORVA_10.1.1.1"));
    EXPECT_EQ(std::vector<std::u16string>{u"NORVA_10.1.1.1"}, MonitorPorts());
    HKEY key = nullptr;
    std::u16string path = std::u16string(kPortsKey) + u"\\NORVA_10.1.1.1";
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
    DWORD values = 99;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    EXPECT_EQ(0u, values);
    RegCloseKey(key);
}

TEST_F(AddPortExEntry, SameNameTwiceGivesTwoPortsBothEnumerated) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    ASSERT_TRUE(AddPortEx(u"DUP"));
    ASSERT_TRUE(AddPortEx(u"dup"));
    EXPECT_EQ((std::vector<std::u16string>{u"DUP", u"dup"}), MonitorPorts());
}

TEST_F(AddPortExEntry, LevelsAndNames) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    std::u16string name = u"P2";
    PORT_INFO_2W info2{name.data(), nullptr, nullptr, 0, 0};
    EXPECT_TRUE(
        table_->pfnAddPortEx(monitor_, nullptr, 2, reinterpret_cast<LPBYTE>(&info2), nullptr));
    // Level 0xFFFFFFFF: the buffer is a configuration record that starts with the name.
    std::vector<char16_t> record(398, 0);
    memcpy(record.data(), u"REC", 8);
    EXPECT_TRUE(table_->pfnAddPortEx(monitor_, nullptr, 0xFFFFFFFF,
                                     reinterpret_cast<LPBYTE>(record.data()), nullptr));
    EXPECT_FALSE(
        table_->pfnAddPortEx(monitor_, nullptr, 3, reinterpret_cast<LPBYTE>(&info2), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), GetLastError());
    PORT_INFO_1W noName{nullptr};
    EXPECT_FALSE(
        table_->pfnAddPortEx(monitor_, nullptr, 1, reinterpret_cast<LPBYTE>(&noName), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ((std::vector<std::u16string>{u"P2", u"REC"}), MonitorPorts());
}

TEST_F(AddPortExEntry, NamesUpTo247CharactersAreAccepted) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_TRUE(AddPortEx(std::u16string(247, u'x')));
    SetLastError(0);
    EXPECT_FALSE(AddPortEx(std::u16string(248, u'y')));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
    EXPECT_EQ(1u, MonitorPorts().size());
}

// A name must be one registry key, and a record's name must end inside its 64-character field.
TEST_F(AddPortExEntry, NamesThatAreNotOneKeyOrRunPastTheirFieldAreRefused) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    for (const std::u16string& name : {std::u16string(u"a\\b"), std::u16string(u"line\nfeed"),
                                       std::u16string(u""), std::u16string(u"FILE:")}) {
        SetLastError(0);
        EXPECT_FALSE(AddPortEx(name)) << U8(name);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError()) << U8(name);
    }
    // A name field without its terminator, in a buffer of exactly the field's size.
    std::vector<char16_t> unterminated(64, u'n');
    SetLastError(0);
    EXPECT_FALSE(table_->pfnAddPortEx(monitor_, nullptr, 0xFFFFFFFF,
                                      reinterpret_cast<LPBYTE>(unterminated.data()), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(MonitorPorts().empty());
    EXPECT_FALSE(RegistryKeyExists(std::u16string(kPortsKey) + u"\\a"));
}

TEST_F(AddPortExEntry, ARegistryFailureMakesNoPort) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    NvFaultSet("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    NvFaultSet("RegCreateKeyExW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(AddPortEx(u"NOPE"));
    NvFaultClear();
    EXPECT_TRUE(MonitorPorts().empty());
}

// --- Shutdown ---

using ShutdownEntry = MonitorTest;

TEST_F(ShutdownEntry, DestroysPortsAndARestartReadsThemAgain) {
    AddRegistryPort(u"KEEP");
    ASSERT_EQ(ERROR_SUCCESS, Load());
    ASSERT_TRUE(AddPortEx(u"ADDED"));
    TraceCapture trace;
    ASSERT_EQ(ERROR_SUCCESS, host_->ReloadMonitors());
    EXPECT_TRUE(trace.contains("~CPrintMonitor(0x"));
    EXPECT_TRUE(trace.contains("~CPort(0x"));
    table_ = host_->Table();
    monitor_ = host_->MonitorHandle();
    // AddPortEx made a key, so the port is back after the restart.
    EXPECT_EQ((std::vector<std::u16string>{u"ADDED", u"KEEP"}), MonitorPorts());
}

}  // namespace
}  // namespace nvtest
