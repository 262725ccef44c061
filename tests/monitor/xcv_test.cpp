// The Xcv channel and the network monitor's requests, through the monitor's table as a port
// user interface reaches them.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "net/portentry.h"
#include "tests/monitor/job_fixture.h"

namespace nvtest {
namespace {

class Xcv : public JobTest {
  protected:
    void SetUp() override { ASSERT_EQ(ERROR_SUCCESS, Load()); }

    HANDLE Open(ACCESS_MASK access = SERVER_ACCESS_ADMINISTER) {
        HANDLE xcv = nullptr;
        EXPECT_TRUE(table_->pfnXcvOpenPort(monitor_, u"NORVA TCP/IP Port", access, &xcv));
        return xcv;
    }

    DWORD Request(HANDLE xcv, const char16_t* name, const void* input, DWORD inputSize,
                  void* output, DWORD outputSize, DWORD* needed = nullptr) {
        DWORD ignored = 0xdeadbeef;
        return table_->pfnXcvDataPort(xcv, name, static_cast<PBYTE>(const_cast<void*>(input)),
                                      inputSize, static_cast<PBYTE>(output), outputSize,
                                      needed != nullptr ? needed : &ignored);
    }

    DWORD RequestName(HANDLE xcv, const char16_t* request, const std::u16string& name,
                      void* output = nullptr, DWORD outputSize = 0, DWORD* needed = nullptr) {
        return Request(xcv, request, name.c_str(), static_cast<DWORD>((name.size() + 1) * 2),
                       output, outputSize, needed);
    }

    static PortEntry Record(const std::u16string& name, const std::u16string& address,
                            DWORD protocol = PROTOCOL_RAW) {
        PortEntry record;
        memset(&record, 0, sizeof record);
        memcpy(record.PortName, name.c_str(), (name.size() + 1) * 2);
        memcpy(record.IPAddress, address.c_str(), (address.size() + 1) * 2);
        record.Protocol = protocol;
        return record;
    }

    // A monitor that starts afresh and loads the ports stored so far; a new channel to it.
    HANDLE Restart() {
        Unload();
        EXPECT_EQ(ERROR_SUCCESS, Load());
        return Open();
    }

    static void SetText(WCHAR* field, const std::u16string& text) {
        memcpy(field, text.c_str(), (text.size() + 1) * 2);
    }

    // ReadConfigInf into a record pre-filled with 0xCC; the result code in *error.
    PortEntry ReadConfig(HANDLE xcv, const std::u16string& name, DWORD* error) {
        PortEntry record;
        memset(&record, 0xCC, sizeof record);
        DWORD needed = 0;
        *error = RequestName(xcv, u"ReadConfigInf", name, &record, sizeof record, &needed);
        return record;
    }

    static DWORD RegistryDword(const std::u16string& port, const char16_t* name) {
        HKEY key = OpenPortKey(port);
        DWORD value = 0xdeadbeef;
        DWORD size = sizeof value;
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size);
        RegCloseKey(key);
        return value;
    }
    static std::u16string RegistryText(const std::u16string& port, const char16_t* name) {
        HKEY key = OpenPortKey(port);
        WCHAR text[256] = {};
        DWORD size = sizeof text - 2;
        if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size) !=
            ERROR_SUCCESS) {
            text[0] = u'?';
        }
        RegCloseKey(key);
        return text;
    }
};

// --- The channel ---

TEST_F(Xcv, MonitorUiNamesTheUserInterfaceLibrary) {
    HANDLE xcv = Open();
    BYTE buffer[64];
    memset(buffer, 0xCC, sizeof buffer);
    DWORD needed = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              Request(xcv, u"MonitorUI", nullptr, 0, buffer, 25, &needed));
    EXPECT_EQ(26u, needed);
    EXPECT_EQ(0xCC, buffer[0]);
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"MonitorUI", nullptr, 0, buffer, 26, &needed));
    EXPECT_EQ(u"nvtcpmui.dll", std::u16string(reinterpret_cast<char16_t*>(buffer)));
    EXPECT_EQ(0xCC, buffer[26]);
    EXPECT_TRUE(table_->pfnXcvClosePort(xcv));
}

TEST_F(Xcv, RequestNamesAreCaseSensitive) {
    HANDLE xcv = Open();
    TraceCapture trace;
    BYTE buffer[64];
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              Request(xcv, u"monitorui", nullptr, 0, buffer, 64));
    EXPECT_TRUE(trace.contains("CNetXcv::DataXfer() couldn't recongize \"monitorui\""));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              Request(xcv, nullptr, nullptr, 0, buffer, 64));
}

TEST_F(Xcv, HandlesThatAreNotChannelsAreRefused) {
    AddRegistryPort(u"P");
    Unload();
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"P");
    ASSERT_NE(nullptr, port);
    TraceCapture trace;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
              Request(port, u"MonitorUI", nullptr, 0, nullptr, 0));
    EXPECT_TRUE(trace.contains("Invalid object 0x"));
    EXPECT_FALSE(table_->pfnXcvClosePort(port));
    EXPECT_FALSE(table_->pfnXcvClosePort(nullptr));
    HANDLE xcv = Open();
    ASSERT_TRUE(table_->pfnXcvClosePort(xcv));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
              Request(xcv, u"MonitorUI", nullptr, 0, nullptr, 0))
        << "a closed channel";
}

TEST_F(Xcv, TheNineSettingsRequestsAnswerSuccessAndTouchNothing) {
    HANDLE xcv = Open();
    for (const char16_t* name :
         {u"GetDefaultCommonSettings", u"GetCurrentCommonSettings", u"SetCurrentCommonSettings",
          u"GetDefaultRawSocketSettings", u"GetCurrentRawSocketSettings",
          u"SetCurrentRawSocketSettings", u"GetDefaultLprSettings", u"GetCurrentLprSettings",
          u"SetCurrentLprSettings"}) {
        BYTE output[16];
        memset(output, 0xCC, sizeof output);
        DWORD needed = 0x1234;
        EXPECT_EQ(ERROR_SUCCESS, Request(xcv, name, output, 16, output, 16, &needed));
        EXPECT_EQ(0xCC, output[0]);
        EXPECT_EQ(0x1234u, needed);
    }
}

// --- AddPort, PortExists, DeletePort ---

TEST_F(Xcv, AddPortMakesARawPortWithTheDefaultsWhateverTheProtocol) {
    HANDLE xcv = Open();
    PortEntry record = Record(u"NORVA_10.0.0.5", u"10.0.0.5", PROTOCOL_LPR);
    SetText(record.QueueName, u"lpq");
    record.PortNumber = 515;
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    EXPECT_EQ(std::vector<std::u16string>{u"NORVA_10.0.0.5"}, MonitorPorts());
    DWORD error = 0;
    PortEntry read = ReadConfig(xcv, u"NORVA_10.0.0.5", &error);
    ASSERT_EQ(ERROR_SUCCESS, error);
    EXPECT_EQ(static_cast<DWORD>(PROTOCOL_RAW), read.Protocol);
    EXPECT_EQ(u"10.0.0.5", std::u16string(read.IPAddress));
    EXPECT_EQ(9100u, read.PortNumber);
    EXPECT_EQ(15000u, read.SnmpTimeOut);
    EXPECT_EQ(u"commro", std::u16string(read.SnmpCommunity));
    EXPECT_EQ(u"", std::u16string(read.QueueName)) << "the record is cleared before it is filled";
    EXPECT_EQ(u"?", RegistryText(u"NORVA_10.0.0.5", u"QueueName"));
}

TEST_F(Xcv, AddPortOfANameAnotherMonitorUsesIsRefused) {
    HANDLE xcv = Open();
    PortEntry record = Record(u"LPT1:", u"10.0.0.5");
    SetLastError(0);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS),
              Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_FALSE(RegistryKeyExists(std::u16string(kPortsKey) + u"\\LPT1:"));
}

// A record request checks the fields it uses and no others: the input must hold them, and
// their texts must end inside their fields. AddPort uses the name and the address; ConfigPort
// the fields of the record's protocol (raw TCP: up to SnmpIndex). What lies beyond, such as
// the 0xCC of a port UI's uninitialised stack, does not matter.
TEST_F(Xcv, RecordRequestsCheckOnlyTheFieldsTheyUse) {
    HANDLE xcv = Open();
    PortEntry existing = Record(u"CFG", u"10.0.0.5");
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &existing, sizeof existing, nullptr, 0));
    constexpr size_t kWhole = sizeof(PortEntry);
    constexpr size_t kHostName = offsetof(PortEntry, HostName);    // the end of the address
    constexpr size_t kQueueName = offsetof(PortEntry, QueueName);  // the end of the raw fields
    struct Case {
        const char16_t* request;
        DWORD protocol;
        size_t bytes;     // of input given
        size_t fillFrom;  // 0xCC from here to the end of the record
        DWORD expected;
    };
    const Case cases[] = {
        {u"AddPort", PROTOCOL_RAW, kWhole, kQueueName, ERROR_SUCCESS},
        {u"AddPort", PROTOCOL_LPR, kWhole, kHostName, ERROR_SUCCESS},
        {u"AddPort", PROTOCOL_RAW, kHostName, kWhole, ERROR_SUCCESS},
        {u"AddPort", PROTOCOL_RAW, kHostName - 1, kWhole, ERROR_INVALID_PARAMETER},
        {u"AddPort", PROTOCOL_RAW, kWhole, offsetof(PortEntry, IPAddress), ERROR_INVALID_PARAMETER},
        {u"ConfigPort", PROTOCOL_RAW, kQueueName, kWhole, ERROR_SUCCESS},
        {u"ConfigPort", PROTOCOL_RAW, kWhole, kQueueName, ERROR_SUCCESS},
        {u"ConfigPort", PROTOCOL_RAW, kQueueName - 1, kWhole, ERROR_INVALID_PARAMETER},
        {u"ConfigPort", PROTOCOL_RAW, kWhole, offsetof(PortEntry, SnmpCommunity),
         ERROR_INVALID_PARAMETER},
        {u"ConfigPort", PROTOCOL_LPR, kWhole, kWhole, ERROR_SUCCESS},
        {u"ConfigPort", PROTOCOL_LPR, kWhole - 1, kWhole, ERROR_INVALID_PARAMETER},
        {u"ConfigPort", PROTOCOL_LPR, kWhole, offsetof(PortEntry, MailAlert),
         ERROR_INVALID_PARAMETER},
        {u"ConfigPort", 7, kHostName, kWhole, ERROR_INVALID_DATA},  // an unknown protocol
        {u"ConfigPort", PROTOCOL_RAW, offsetof(PortEntry, IPAddress), kWhole,
         ERROR_INVALID_PARAMETER},
    };
    int added = 0;
    for (const Case& c : cases) {
        bool add = std::u16string(c.request) == u"AddPort";
        std::u16string name = add ? u"ADD" + W(std::to_string(added)) : u"CFG";
        PortEntry record = Record(name, u"10.0.0.5", c.protocol);
        memset(reinterpret_cast<BYTE*>(&record) + c.fillFrom, 0xCC, kWhole - c.fillFrom);
        EXPECT_EQ(c.expected,
                  Request(xcv, c.request, &record, static_cast<DWORD>(c.bytes), nullptr, 0))
            << U8(c.request) << " protocol " << c.protocol << ", " << c.bytes
            << " bytes, 0xCC from " << c.fillFrom;
        added += add && c.expected == ERROR_SUCCESS ? 1 : 0;
    }
    EXPECT_EQ(static_cast<size_t>(added + 1), MonitorPorts().size());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              Request(xcv, u"AddPort", nullptr, sizeof existing, nullptr, 0));
    for (auto& c : existing.PortName) {
        c = u'x';  // 64 characters: no room for the terminator
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              Request(xcv, u"AddPort", &existing, sizeof existing, nullptr, 0));
}

TEST_F(Xcv, PortExistsAnswersForThePortsOfEveryMonitor) {
    HANDLE xcv = Open(0);
    PortEntry record = Record(u"MINE", u"10.0.0.5");
    HANDLE admin = Open();
    ASSERT_EQ(ERROR_SUCCESS, Request(admin, u"AddPort", &record, sizeof record, nullptr, 0));
    for (const auto& [name, expected] : std::vector<std::pair<std::u16string, DWORD>>{
             {u"LPT1:", 1}, {u"mine", 1}, {u"THEIRS", 0}}) {
        DWORD answer = 0xCCCCCCCC;
        DWORD needed = 0;
        ASSERT_EQ(ERROR_SUCCESS, RequestName(xcv, u"PortExists", name, &answer, 4, &needed));
        EXPECT_EQ(expected, answer) << U8(name);
        EXPECT_EQ(4u, needed);
    }
    DWORD needed = 0;
    BYTE small[3];
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              RequestName(xcv, u"PortExists", u"MINE", small, 3, &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              RequestName(xcv, u"PortExists", u"MINE", nullptr, 4, &needed));
}

TEST_F(Xcv, ExistPortTakesTheNameFromARecord) {
    HANDLE xcv = Open();
    PortEntry record = Record(u"LPT1:", u"", PROTOCOL_RAW);
    DWORD answer = 0;
    DWORD needed = 0;
    EXPECT_EQ(0u, Request(xcv, u"ExistPort", &record, sizeof record, &answer, 4, &needed));
    EXPECT_EQ(1u, answer);
    record = Record(u"NOT_A_PORT", u"", PROTOCOL_LPR);
    EXPECT_EQ(0u, Request(xcv, u"ExistPort", &record, sizeof record, &answer, 4, &needed));
    EXPECT_EQ(0u, answer);
    record = Record(u"LPT1:", u"", PROTOCOL_RAW);
    EXPECT_EQ(1u, Request(xcv, u"ExistPort", &record, sizeof record, &answer, 3, &needed))
        << "the inner PortExists failed";
    EXPECT_EQ(1u, Request(xcv, u"ExistPort", &record, 127, &answer, 4, &needed))
        << "no whole name field to read";
    answer = 0;
    EXPECT_EQ(0u, Request(xcv, u"ExistPort", &record, 128, &answer, 4, &needed))
        << "the name field is all it reads";
    EXPECT_EQ(1u, answer);
}

TEST_F(Xcv, DeletePortNeedsTheAdministerRight) {
    HANDLE admin = Open();
    PortEntry record = Record(u"GONE", u"10.0.0.5");
    ASSERT_EQ(ERROR_SUCCESS, Request(admin, u"AddPort", &record, sizeof record, nullptr, 0));
    HANDLE user = Open(SERVER_ACCESS_ENUMERATE);
    SetLastError(0);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), RequestName(user, u"DeletePort", u"GONE"));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(std::vector<std::u16string>{u"GONE"}, MonitorPorts());
    EXPECT_EQ(ERROR_SUCCESS, RequestName(admin, u"DeletePort", u"gone"));
    EXPECT_TRUE(MonitorPorts().empty());
    EXPECT_FALSE(RegistryKeyExists(std::u16string(kPortsKey) + u"\\GONE"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), RequestName(admin, u"DeletePort", u"GONE"));
}

TEST_F(Xcv, APortInAJobIsNotDeleted) {
    FakeRawPrinter printer;
    HANDLE xcv = Open();
    PortEntry record = Record(u"BUSY", W(printer.address()));
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    SetPortValue(u"BUSY", u"PortNumber", printer.port());
    HANDLE port = OpenPort(u"BUSY");
    ASSERT_TRUE(StartDoc(port, NewJob()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), RequestName(xcv, u"DeletePort", u"BUSY"));
    ASSERT_TRUE(Write(port, "still here"));
    ASSERT_TRUE(table_->pfnEndDocPort(port));
    EXPECT_EQ(ERROR_SUCCESS, RequestName(xcv, u"DeletePort", u"BUSY"));
}

// The spooler's services as the host gives them, except that ClosePrinter, once armed, waits
// until it is let go: a call of the monitor can be held at that point.
class HeldClosePrinter : public NvSpoolerServices {
  public:
    explicit HeldClosePrinter(NvSpoolerServices* host) : host_(host) { NvSetSpoolerServices(this); }
    ~HeldClosePrinter() override { NvSetSpoolerServices(host_); }

    void Arm() { armed_ = true; }
    void WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    void LetGo() {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
        changed_.notify_all();
    }

    BOOL ClosePrinter(HANDLE printer) override {
        std::unique_lock<std::mutex> lock(mutex_);
        held_ = armed_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !armed_; });
        return host_->ClosePrinter(printer);
    }
    BOOL OpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) override {
        return host_->OpenPrinter(name, printer, defaults);
    }
    BOOL GetJob(HANDLE printer, DWORD id, DWORD level, LPBYTE job, DWORD size,
                LPDWORD needed) override {
        return host_->GetJob(printer, id, level, job, size, needed);
    }
    BOOL SetJob(HANDLE printer, DWORD id, DWORD level, LPBYTE job, DWORD command) override {
        return host_->SetJob(printer, id, level, job, command);
    }
    BOOL SetPort(LPWSTR name, LPWSTR port, DWORD level, LPBYTE info) override {
        return host_->SetPort(name, port, level, info);
    }
    BOOL EnumPorts(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                   LPDWORD returned) override {
        return host_->EnumPorts(name, level, ports, size, needed, returned);
    }
    BOOL XcvData(HANDLE xcv, PCWSTR name, PBYTE input, DWORD inputSize, PBYTE output,
                 DWORD outputSize, PDWORD needed, PDWORD status) override {
        return host_->XcvData(xcv, name, input, inputSize, output, outputSize, needed, status);
    }

  private:
    NvSpoolerServices* host_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> armed_{false};
    bool held_ = false;
};

// A spooler may keep an idle port open for long, and an administrator may delete it meanwhile:
// a call still working on the port (here a StartDocPort whose job cannot start, closing the
// job's printer) finishes on it, and the port's handle is refused from the deletion on.
TEST_F(Xcv, DeletingAnOpenIdlePortLetsACallOnItFinish) {
    HANDLE xcv = Open();
    PortEntry record = Record(u"IDLE", u"printer.example");  // no job can start
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    HANDLE port = OpenPort(u"IDLE");
    ASSERT_NE(nullptr, port);
    DWORD id = NewJob();
    HeldClosePrinter services(host_.get());
    services.Arm();
    DWORD startError = 0;
    std::thread starting([&] {
        EXPECT_FALSE(StartDoc(port, id));
        startError = GetLastError();
    });
    services.WaitUntilHeld();
    EXPECT_EQ(ERROR_SUCCESS, RequestName(xcv, u"DeletePort", u"IDLE"));
    SetLastError(0);
    EXPECT_FALSE(table_->pfnEndDocPort(port));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    services.LetGo();
    starting.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_REGISTRY_CORRUPT), startError);
    EXPECT_FALSE(table_->pfnClosePort(port));
    EXPECT_TRUE(MonitorPorts().empty());
    EXPECT_FALSE(RegistryKeyExists(std::u16string(kPortsKey) + u"\\IDLE"));
    EXPECT_EQ(0u, host_->OpenPrinterCount());
}

// ConfigPort gives a port the letter case of its record whatever the port is doing. Job starts
// and ends on the port at the same time (starts that fail as fast as they come, with traces on
// so that they read the port's name too) go on with the port's name.
TEST_F(Xcv, ConfigPortsThatChangeTheNamesCaseDuringJobStartsAndEnds) {
    HANDLE xcv = Open();
    const std::u16string kUnparsable = u"255.255.255.255";  // no job can start
    PortEntry record = Record(u"Renamed", kUnparsable);
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    HANDLE port = OpenPort(u"Renamed");
    ASSERT_NE(nullptr, port);
    DWORD id = NewJob();
    TraceCapture trace;
    constexpr int kRounds = 30;
    std::thread jobs([&] {
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_FALSE(StartDoc(port, id));
            EXPECT_EQ(static_cast<DWORD>(ERROR_REGISTRY_CORRUPT), GetLastError());
            EXPECT_TRUE(table_->pfnEndDocPort(port));
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        record = Record(round % 2 == 0 ? u"RENAMED" : u"renamed", kUnparsable);
        EXPECT_EQ(ERROR_SUCCESS, Request(xcv, u"ConfigPort", &record, sizeof record, nullptr, 0));
    }
    jobs.join();
    EXPECT_EQ(std::vector<std::u16string>{u"renamed"}, MonitorPorts());
}

TEST_F(Xcv, PortIsValidProbesAPath) {
    HANDLE xcv = Open();
    TempDir dir;
    DWORD answer = 0;
    DWORD needed = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RequestName(xcv, u"PortIsValid", W(dir.file("x.prn")), &answer, 4, &needed));
    EXPECT_EQ(1u, answer);
    ASSERT_EQ(ERROR_SUCCESS, RequestName(xcv, u"PortIsValid", u"COM1:", &answer, 4, &needed));
    EXPECT_EQ(0u, answer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
              RequestName(xcv, u"PortIsValid", W(dir.file("no/dir/x")), nullptr, 0, &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              RequestName(xcv, u"PortIsValid", u"COM1:", &answer, 2, &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              table_->pfnXcvDataPort(xcv, u"PortIsValid",
                                     reinterpret_cast<PBYTE>(const_cast<char16_t*>(u"COM1:")), 12,
                                     reinterpret_cast<PBYTE>(&answer), 4, nullptr));
}

// --- ReadConfigInf and ConfigPort ---

TEST_F(Xcv, RecordsRoundTripForRawAndLpr) {
    HANDLE xcv = Open();
    for (DWORD protocol : {PROTOCOL_RAW, PROTOCOL_LPR}) {
        std::u16string name = protocol == PROTOCOL_RAW ? u"RAWPORT" : u"LPRPORT";
        PortEntry record = Record(name, u"192.0.2.10");
        ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
        record.Protocol = protocol;
        SetText(record.HostName, u"printer.lab");
        SetText(record.HWAddress, u"021a2b3c4d5e");
        record.PortNumber = 9200 + protocol;
        record.SnmpVersion = 0;
        record.SnmpTimeOut = 4321;
        record.SnmpEnabled = 1;
        SetText(record.SnmpCommunity, u"private");
        record.SnmpIndex = 3;
        if (protocol == PROTOCOL_LPR) {
            SetText(record.QueueName, u"queue7");
            SetText(record.MailAlert, u"ops@example.com");
        }
        ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"ConfigPort", &record, sizeof record, nullptr, 0));
        Unload();  // read back by a monitor that starts afresh from the registry
        ASSERT_EQ(ERROR_SUCCESS, Load());
        xcv = Open();
        DWORD error = 0;
        PortEntry read = ReadConfig(xcv, name, &error);
        ASSERT_EQ(ERROR_SUCCESS, error);
        record.SnmpVersion = 1;  // 0 is reported as the default
        EXPECT_EQ(0, memcmp(&record, &read, sizeof record)) << U8(name);
    }
}

TEST_F(Xcv, ConfigPortSavesWhatItIsGiven) {
    HANDLE xcv = Open();
    PortEntry record = Record(u"ZERO", u"192.0.2.10");
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    record.Protocol = PROTOCOL_LPR;
    record.PortNumber = 0;
    record.SnmpVersion = 7;
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"ConfigPort", &record, sizeof record, nullptr, 0));
    EXPECT_EQ(0u, RegistryDword(u"ZERO", u"PortNumber"));
    EXPECT_EQ(u"", RegistryText(u"ZERO", u"QueueName"));
    EXPECT_EQ(7u, RegistryDword(u"ZERO", u"SnmpVersion"));
    EXPECT_EQ(0u, RegistryDword(u"ZERO", u"DoubleSpool"));
    // Read back: port 0 is reported as the LPR default, version 7 as 1, the queue as stored.
    DWORD error = 0;
    PortEntry read = ReadConfig(xcv, u"ZERO", &error);
    ASSERT_EQ(ERROR_SUCCESS, error);
    EXPECT_EQ(515u, read.PortNumber);
    EXPECT_EQ(1u, read.SnmpVersion);
    EXPECT_EQ(u"", std::u16string(read.QueueName));
}

TEST_F(Xcv, ConfigPortTakesTheRecordsLetterCase) {
    HANDLE xcv = Open();
    PortEntry record = Record(u"MixedCase", u"192.0.2.10");
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    record = Record(u"MIXEDCASE", u"192.0.2.11");
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"ConfigPort", &record, sizeof record, nullptr, 0));
    EXPECT_EQ(std::vector<std::u16string>{u"MIXEDCASE"}, MonitorPorts());
    EXPECT_EQ(u"192.0.2.11", RegistryText(u"MixedCase", u"IPAddress"));
}

// A ReadConfigInf that fails leaves the caller's output as it was. Settings that this monitor
// cannot use are invalid data (13), whatever an earlier step left as the last error (an
// unknown protocol, a missing value), except an address that does not parse: 1015, as a job on
// the port reports it. A name of another monitor, or of none, is not found (2).
TEST_F(Xcv, AReadConfigInfThatFailsLeavesTheOutputAsItWas) {
    HANDLE xcv = Open();
    AddRegistryPort(u"P5", u"192.0.2.10");
    SetPortValue(u"P5", u"Protocol", 5u);
    AddRegistryPort(u"BCAST", u"255.255.255.255");
    AddRegistryPort(u"NOHOST", u"192.0.2.10");
    HKEY key = OpenPortKey(u"NOHOST");
    RegDeleteValueW(key, u"HostName");
    RegCloseKey(key);
    xcv = Restart();
    PortEntry untouched;
    memset(&untouched, 0xCC, sizeof untouched);
    for (const auto& [name, expected] :
         std::vector<std::pair<std::u16string, DWORD>>{{u"P5", ERROR_INVALID_DATA},
                                                       {u"BCAST", ERROR_REGISTRY_CORRUPT},
                                                       {u"NOHOST", ERROR_INVALID_DATA},
                                                       {u"LPT1:", ERROR_FILE_NOT_FOUND},
                                                       {u"NOWHERE", ERROR_FILE_NOT_FOUND}}) {
        DWORD error = 0;
        PortEntry read = ReadConfig(xcv, name, &error);
        EXPECT_EQ(expected, error) << U8(name);
        EXPECT_EQ(0, memcmp(&untouched, &read, sizeof read)) << U8(name);
    }
    PortEntry record = Record(u"P5", u"192.0.2.10", 3);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
              Request(xcv, u"ConfigPort", &record, sizeof record, nullptr, 0));
    EXPECT_EQ(5u, RegistryDword(u"P5", u"Protocol")) << "nothing is saved";
}

// A save that the registry refuses is reported with the first failed write's code: the port
// is neither called configured nor added.
TEST_F(Xcv, FailedRegistryWritesAreReported) {
    HANDLE xcv = Open();
    PortEntry record = Record(u"SAVED", u"192.0.2.10");
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    record.SnmpTimeOut = 1234;
    NvFaultSet("RegSetValueExW", ERROR_DISK_FULL, -1, /*skip=*/2);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL),
              Request(xcv, u"ConfigPort", &record, sizeof record, nullptr, 0));
    PortEntry fresh = Record(u"NEWPORT", u"192.0.2.11");
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL),
              Request(xcv, u"AddPort", &fresh, sizeof fresh, nullptr, 0));
    NvFaultClear();
    EXPECT_EQ(std::vector<std::u16string>{u"SAVED"}, MonitorPorts());
    EXPECT_EQ(15000u, RegistryDword(u"SAVED", u"SnmpTimeOut"));
}

// A port is one registry key named exactly as the port.
TEST_F(Xcv, AddPortRefusesNamesThatAreNotOneKey) {
    HANDLE xcv = Open();
    for (const std::u16string& name :
         {std::u16string(u"a\\b"), std::u16string(u"tab\there"), std::u16string(u"")}) {
        PortEntry record = Record(name, u"192.0.2.10");
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME),
                  Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0))
            << U8(name);
    }
    EXPECT_TRUE(MonitorPorts().empty());
    EXPECT_FALSE(RegistryKeyExists(std::u16string(kPortsKey) + u"\\a"));
}

// The spooler may hold a port's handle long after the port was deleted; that handle never
// reaches a port added later, even one that reuses the deleted port's memory.
TEST_F(Xcv, ADeletedPortsHandleIsRefusedAndNeverReachesANewPort) {
    FakeRawPrinter printer;
    HANDLE xcv = Open();
    for (int round = 0; round < 5; ++round) {
        PortEntry old = Record(u"OLD", W(printer.address()));
        ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &old, sizeof old, nullptr, 0));
        HANDLE stale = OpenPort(u"OLD");
        ASSERT_NE(nullptr, stale);
        ASSERT_EQ(ERROR_SUCCESS, RequestName(xcv, u"DeletePort", u"OLD"));
        PortEntry next = Record(u"NEW", W(printer.address()));
        ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &next, sizeof next, nullptr, 0));
        SetPortValue(u"NEW", u"PortNumber", printer.port());
        SetLastError(0);
        EXPECT_FALSE(StartDoc(stale, NewJob()));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_FALSE(table_->pfnClosePort(stale));
        ASSERT_EQ(ERROR_SUCCESS, RequestName(xcv, u"DeletePort", u"NEW"));
    }
    EXPECT_EQ(0u, printer.Connections());
}

TEST_F(Xcv, SnmpEnabledZeroReadsAsOneForLprOnly) {
    HANDLE xcv = Open();
    for (DWORD protocol : {PROTOCOL_RAW, PROTOCOL_LPR}) {
        std::u16string name = protocol == PROTOCOL_RAW ? u"RAW0" : u"LPR0";
        AddRegistryPort(name, u"192.0.2.10");
        SetPortValue(name, u"Protocol", protocol);
        SetPortValue(name, u"SnmpEnabled", 0u);
        xcv = Restart();
        DWORD error = 0;
        PortEntry read = ReadConfig(xcv, name, &error);
        ASSERT_EQ(ERROR_SUCCESS, error);
        EXPECT_EQ(protocol == PROTOCOL_LPR ? 1u : 0u, read.SnmpEnabled) << U8(name);
    }
}

TEST_F(Xcv, RegistryValuesAreReadWithTheirLimitsAndDefaults) {
    HANDLE xcv = Open();
    AddRegistryPort(u"LIMITS", u"192.0.2.10");
    SetPortValue(u"LIMITS", u"Protocol", 2u);
    SetPortValue(u"LIMITS", u"SnmpVersion", 7u);
    SetPortValue(u"LIMITS", u"QueueName", std::u16string(33, u'q'));
    SetPortValue(u"LIMITS", u"SnmpCommunity", std::u16string(33, u'c'));
    SetPortValue(u"LIMITS", u"MailAlert", std::u16string(64, u'm'));
    SetPortValue(u"LIMITS", u"DoubleSpool", 1u);
    xcv = Restart();
    DWORD error = 0;
    PortEntry read = ReadConfig(xcv, u"LIMITS", &error);
    ASSERT_EQ(ERROR_SUCCESS, error);
    EXPECT_EQ(1u, read.SnmpVersion);
    EXPECT_EQ(u"q_192.0.2.10", std::u16string(read.QueueName));
    EXPECT_EQ(u"commro", std::u16string(read.SnmpCommunity));
    EXPECT_EQ(u"", std::u16string(read.MailAlert));
    EXPECT_EQ(0u, read.DoubleSpool) << "DoubleSpool is never read";
    EXPECT_EQ(515u, read.PortNumber);
}

TEST_F(Xcv, RecordRequestsCheckTheirBuffers) {
    AddRegistryPort(u"P", u"192.0.2.10");
    HANDLE xcv = Restart();
    PortEntry record;
    DWORD needed = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              RequestName(xcv, u"ReadConfigInf", u"P", &record, sizeof record - 1, &needed));
    EXPECT_EQ(static_cast<DWORD>(sizeof(PortEntry)), needed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              RequestName(xcv, u"ReadConfigInf", std::u16string(64, u'n'), &record, sizeof record,
                          &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              Request(xcv, u"ReadConfigInf", u"PP", 4, &record, sizeof record, &needed))
        << "a name without its terminator in the input";
}

TEST_F(Xcv, AConfigPortDuringAJobWaitsForTheJob) {
    FakeRawPrinter printer;
    HANDLE xcv = Open();
    PortEntry record = Record(u"JOB", W(printer.address()));
    ASSERT_EQ(ERROR_SUCCESS, Request(xcv, u"AddPort", &record, sizeof record, nullptr, 0));
    SetPortValue(u"JOB", u"PortNumber", printer.port());
    HANDLE port = OpenPort(u"JOB");
    ASSERT_TRUE(StartDoc(port, NewJob()));
    record.PortNumber = printer.port();
    record.SnmpTimeOut = 777;
    auto config = std::async(std::launch::async, [&] {
        return Request(xcv, u"ConfigPort", &record, sizeof record, nullptr, 0);
    });
    EXPECT_EQ(std::future_status::timeout, config.wait_for(std::chrono::milliseconds(300)));
    ASSERT_TRUE(Write(port, "the job's transport stays"));
    ASSERT_TRUE(table_->pfnEndDocPort(port));
    EXPECT_EQ(ERROR_SUCCESS, config.get());
    EXPECT_EQ(777u, RegistryDword(u"JOB", u"SnmpTimeOut"));
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_EQ("the job's transport stays", printer.Jobs()[0]);
}

TEST_F(Xcv, RequestsAreTraced) {
    TraceCapture trace;
    HANDLE xcv = Open();
    DWORD answer = 0;
    RequestName(xcv, u"PortExists", u"LPT1:", &answer, 4);
    table_->pfnXcvClosePort(xcv);
    EXPECT_TRUE(trace.contains("XcvOpenPort(\"NORVA TCP/IP Port\")\n"));
    EXPECT_TRUE(trace.contains("CNetXcv(0x"));
    EXPECT_TRUE(trace.contains("XcvDataPort(\"PortExists\")\n"));
    EXPECT_TRUE(trace.contains("XcvDataPort(\"12\")\n"));
    EXPECT_TRUE(trace.contains("CNetXcv::DataXfer(\"PortExists\") found\n"));
    EXPECT_TRUE(trace.contains("CXcv::_PortExists(\"LPT1:\")\n"));
    EXPECT_TRUE(trace.contains("XcvClosePort(\"NORVA TCP/IP Port\")\n"));
}

}  // namespace
}  // namespace nvtest
