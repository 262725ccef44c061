// Print jobs over raw TCP, end to end through the monitor's table.
#include <algorithm>
#include <filesystem>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "tests/monitor/job_fixture.h"

namespace nvtest {
namespace {

using RawJob = JobTest;

TEST_F(RawJob, DataArrivesByteIdenticalForEverySize) {
    FakeRawPrinter printer;
    AddRawPort(u"RAW", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"RAW");
    ASSERT_NE(nullptr, port);
    const size_t sizes[] = {0, 1, 1023, 1024, 1025, 3000, 5 * 1024 * 1024 + 17};
    for (size_t size : sizes) {
        ASSERT_TRUE(PrintJob(port, Pattern(size))) << size;
    }
    ASSERT_TRUE(printer.WaitForJobs(std::size(sizes)));
    // Each connection is one job; they may end in any order at the printer.
    auto jobs = printer.Jobs();
    std::sort(jobs.begin(), jobs.end(),
              [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    for (size_t i = 0; i < std::size(sizes); ++i) {
        EXPECT_EQ(sizes[i], jobs[i].size());
        EXPECT_TRUE(Pattern(sizes[i]) == jobs[i]) << "job of " << sizes[i] << " bytes differs";
    }
    EXPECT_TRUE(table_->pfnClosePort(port));
}

TEST_F(RawJob, AKeyWithOnlyTheAddressValuesPrintsToPort9100) {
    FakeRawPrinter::Options options;
    options.address = UniqueLoopbackAddress();
    options.port = 9100;
    FakeRawPrinter printer(options);
    AddRegistryPort(u"MIN", W(printer.address()));
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"MIN");
    ASSERT_TRUE(PrintJob(port, "hello 9100"));
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_EQ("hello 9100", printer.Jobs()[0]);
}

TEST_F(RawJob, EveryProtocolOtherThanLprSendsRaw) {
    FakeRawPrinter printer;
    for (DWORD protocol : {0u, 3u, 5u}) {
        std::u16string name = u"P" + W(std::to_string(protocol));
        AddRawPort(name, printer);
        SetPortValue(name, u"Protocol", protocol);
    }
    ASSERT_EQ(ERROR_SUCCESS, Load());
    for (const char16_t* name : {u"P0", u"P3", u"P5"}) {
        HANDLE port = OpenPort(name);
        ASSERT_TRUE(PrintJob(port, U8(name)));
    }
    ASSERT_TRUE(printer.WaitForJobs(3));
    auto jobs = printer.Jobs();
    std::sort(jobs.begin(), jobs.end());
    EXPECT_EQ((std::vector<std::string>{"P0", "P3", "P5"}), jobs);
}

TEST_F(RawJob, AnUnparsableAddressCannotPrint) {
    AddRegistryPort(u"BCAST", u"255.255.255.255");
    AddRegistryPort(u"TEXT", u"printer.example");
    ASSERT_EQ(ERROR_SUCCESS, Load());
    for (const char16_t* name : {u"BCAST", u"TEXT"}) {
        HANDLE port = OpenPort(name);
        SetLastError(0);
        EXPECT_FALSE(StartDoc(port, NewJob()));
        EXPECT_EQ(static_cast<DWORD>(ERROR_REGISTRY_CORRUPT), GetLastError());
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), (Write(port, "x"), GetLastError()));
    }
}

TEST_F(RawJob, MissingOrOverlongRequiredValuesStopTheJob) {
    FakeRawPrinter printer;
    AddRawPort(u"LONG", printer);
    SetPortValue(u"LONG", u"HostName", std::u16string(64, u'h'));
    AddRawPort(u"FITS", printer);
    SetPortValue(u"FITS", u"HostName", std::u16string(63, u'h'));
    AddRawPort(u"NOHW", printer);
    HKEY key = OpenPortKey(u"NOHW");
    RegDeleteValueW(key, u"HWAddress");
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_FALSE(StartDoc(OpenPort(u"LONG"), NewJob()));
    EXPECT_FALSE(StartDoc(OpenPort(u"NOHW"), NewJob()));
    EXPECT_TRUE(PrintJob(OpenPort(u"FITS"), "ok"));
}

TEST_F(RawJob, OtherStringTypesAreAccepted) {
    FakeRawPrinter printer;
    AddRawPort(u"EXPAND", printer);
    SetPortValue(u"EXPAND", u"IPAddress", W(printer.address()), REG_EXPAND_SZ);
    AddRawPort(u"MULTI", printer);
    std::u16string multi = W(printer.address()) + std::u16string(1, u'\0') + u"10.9.9.9";
    SetPortValue(u"MULTI", u"IPAddress", multi + std::u16string(1, u'\0'), REG_MULTI_SZ);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_TRUE(PrintJob(OpenPort(u"EXPAND"), "expand"));
    EXPECT_TRUE(PrintJob(OpenPort(u"MULTI"), "multi"));
    ASSERT_TRUE(printer.WaitForJobs(2));
}

TEST_F(RawJob, APortNumberUsesItsLow16Bits) {
    FakeRawPrinter printer;
    AddRawPort(u"HIGH", printer);
    SetPortValue(u"HIGH", u"PortNumber", 0x50000u | printer.port());
    ASSERT_EQ(ERROR_SUCCESS, Load());
    EXPECT_TRUE(PrintJob(OpenPort(u"HIGH"), "low bits"));
    ASSERT_TRUE(printer.WaitForJobs(1));
}

TEST_F(RawJob, APrinterThatStopsReadingTimesOutAndTheSendStaysInFlight) {
    FakeRawPrinter::Options options;
    options.stallAfter = 0;
    options.receiveBuffer = 64 * 1024;
    FakeRawPrinter printer(options);
    AddRawPort(u"STALL", printer);
    SetPortValue(u"STALL", u"SnmpTimeOut", 500u);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"STALL");
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id));
    std::string block = Pattern(256 * 1024);
    long long accepted = 0;
    DWORD error = 0;
    for (int i = 0; i < 1000; ++i) {
        DWORD written = 0;
        if (!Write(port, block, &written)) {
            error = GetLastError();
            accepted += written;
            break;
        }
        accepted += written;
    }
    ASSERT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), error);
    // A later write waits for the same send, and fails the same way while the printer stalls.
    DWORD written = 0;
    EXPECT_FALSE(Write(port, "more", &written));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
    EXPECT_EQ(1u, printer.Connections()) << "the connection stays";
    printer.Resume();
    // The spooler writes again until the printer has taken the send in flight.
    bool tail = false;
    for (int i = 0; i < 40 && !tail; ++i) {
        tail = Write(port, "tail");
        if (!tail) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
        }
    }
    EXPECT_TRUE(tail);
    EXPECT_TRUE(table_->pfnEndDocPort(port));
    ASSERT_TRUE(printer.WaitForJobs(1));
    std::string job = printer.Jobs()[0];
    EXPECT_EQ(accepted + 4, static_cast<long long>(job.size()))
        << "nothing is reported as written that the socket did not accept";
    EXPECT_EQ("tail", job.substr(job.size() - 4));
}

// --- Failures: never reported as sent, always a restart ---

TEST_F(RawJob, ARefusedConnectionFailsTheStartAtOnce) {
    FakeRawPrinter::Options options;
    options.listen = false;
    FakeRawPrinter printer(options);
    AddRawPort(u"REFUSED", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"REFUSED");
    DWORD id = NewJob();
    EXPECT_FALSE(StartDoc(port, id)) << "the failed connection is seen in the exception set";
    EXPECT_EQ(static_cast<DWORD>(WSAECONNREFUSED), GetLastError());
    EXPECT_FALSE(Write(port, "x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(host_->JobCommands(id).empty());
}

// A connection that is still unsettled when the connection waits end is judged by the first
// write; the job then ends as a restart, never as sent.
TEST_F(RawJob, AnUnfinishedConnectionFailsTheFirstWriteThenTheJob) {
    FakeRawPrinter::Options options;
    options.listen = false;
    FakeRawPrinter printer(options);
    AddRawPort(u"UNSETTLED", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"UNSETTLED");
    DWORD id = NewJob();
    NvFaultSet("select", WAIT_TIMEOUT);  // each of the ten connection waits times out at once
    EXPECT_TRUE(StartDoc(port, id));
    NvFaultClear("select");
    EXPECT_FALSE(Write(port, "lost"));
    DWORD first = GetLastError();
    EXPECT_NE(static_cast<DWORD>(WSAENOTSOCK), first);
    EXPECT_TRUE(host_->JobCommands(id).empty());
    EXPECT_FALSE(Write(port, "again"));
    EXPECT_EQ(static_cast<DWORD>(WSAENOTSOCK), GetLastError());
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_RESTART}, host_->JobCommands(id));
    EXPECT_FALSE(table_->pfnEndDocPort(port));
    EXPECT_EQ(first, GetLastError()) << "the error that ended the connection";
    EXPECT_EQ((std::vector<DWORD>{JOB_CONTROL_RESTART, JOB_CONTROL_RESTART}),
              host_->JobCommands(id));
}

// The printer resets after 300,000 of 1,000,000 bytes. With the rest still in socket buffers
// every write may have succeeded; the job fails all the same, at a write or at its end.
TEST_F(RawJob, AResetDuringTheJobFailsItAndAsksForARestart) {
    FakeRawPrinter::Options options;
    options.resetAfter = 300000;
    options.receiveBuffer = 64 * 1024;  // a printer's, not loopback's megabytes
    FakeRawPrinter printer(options);
    AddRawPort(u"RESET", printer);
    SetPortValue(u"RESET", u"SnmpTimeOut", 2000u);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"RESET");
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id));
    std::string data = Pattern(1000000);
    for (size_t offset = 0; offset < data.size(); offset += 16384) {
        if (!Write(port, data.substr(offset, 16384))) {
            break;
        }
    }
    SetLastError(0);
    EXPECT_FALSE(table_->pfnEndDocPort(port));
    DWORD error = GetLastError();
    EXPECT_TRUE(error == static_cast<DWORD>(WSAECONNRESET) ||
                error == static_cast<DWORD>(WSAECONNABORTED))
        << error;
    std::vector<DWORD> commands = host_->JobCommands(id);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(static_cast<DWORD>(JOB_CONTROL_RESTART), commands.back());
    EXPECT_EQ(commands.end(),
              std::find(commands.begin(), commands.end(), JOB_CONTROL_SENT_TO_PRINTER));
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_EQ(300000u, printer.Jobs()[0].size());
}

// A printer that stops reading with a send in flight at the job's end pauses the job: EndDocPort
// waits for as long as the connection lives. Deleting the job ends it within a second, with
// neither a restart nor "sent", and resets the connection so that the printer drops the part.
TEST_F(RawJob, ADeletedJobEndsAtOnceWithoutACommand) {
    FakeRawPrinter::Options options;
    options.stallAfter = 0;
    options.receiveBuffer = 64 * 1024;
    FakeRawPrinter printer(options);
    AddRawPort(u"INFLIGHT", printer);
    SetPortValue(u"INFLIGHT", u"SnmpTimeOut", 300u);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"INFLIGHT");
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id));
    std::string block = Pattern(1 << 20);
    for (int i = 0; i < 100 && Write(port, block); ++i) {
    }
    ASSERT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
    std::thread user([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        host_->SetJobStatus(id, JOB_STATUS_DELETING);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(table_->pfnEndDocPort(port));
    auto took = std::chrono::steady_clock::now() - start;
    user.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_PRINT_CANCELLED), GetLastError());
    EXPECT_GE(took, std::chrono::milliseconds(2500)) << "a paused printer is waited for";
    EXPECT_TRUE(host_->JobCommands(id).empty());
    EXPECT_FALSE(host_->JobStatusTexts(id).empty()) << "the wait was shown in the queue";
}

// --- The end of a job: the printer has read everything once it closes its side ---

// The printer sends its status when the job starts and reads the job slowly. A close with the
// status unread would reset the connection, and the printer would lose the part of the job
// that had not reached it yet.
TEST_F(RawJob, APrinterThatTalksBackReceivesTheWholeJob) {
    FakeRawPrinter::Options options;
    options.status = std::string(40, 'S');
    options.receiveBuffer = 32 * 1024;
    options.readPauseMs = 10;
    FakeRawPrinter printer(options);
    AddRawPort(u"TALK", printer);
    SetPortValue(u"TALK", u"SnmpTimeOut", 5000u);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"TALK");
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id));
    std::string data = Pattern(300 * 1024);
    ASSERT_TRUE(Write(port, data));
    EXPECT_TRUE(table_->pfnEndDocPort(port));
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER}, host_->JobCommands(id));
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_TRUE(printer.Jobs()[0] == data) << printer.Jobs()[0].size() << " bytes arrived";
}

TEST_F(RawJob, APrinterThatKeepsTheConnectionOpenPastTheBoundHasTheJob) {
    FakeRawPrinter::Options options;
    options.holdOpen = true;
    FakeRawPrinter printer(options);
    AddRawPort(u"HOLD", printer);
    SetPortValue(u"HOLD", u"SnmpTimeOut", 300u);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"HOLD");
    TraceCapture trace;
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id));
    ASSERT_TRUE(Write(port, "held"));
    EXPECT_TRUE(table_->pfnEndDocPort(port));
    EXPECT_TRUE(trace.contains("kept the connection open 300 ms after the job's end"));
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER}, host_->JobCommands(id));
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_EQ("held", printer.Jobs()[0]);
}

// --- The job lifecycle of a port ---

using PortLifecycle = JobTest;

// One job per port at a time. The job's own thread may start it again, which changes nothing;
// a StartDocPort from another thread is refused with ERROR_BUSY and leaves the job as it was.
TEST_F(PortLifecycle, AStartDuringAJobChangesNothingOnItsThreadAndIsBusyOnAnother) {
    FakeRawPrinter printer;
    AddRawPort(u"TWICE", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"TWICE");
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id));
    EXPECT_TRUE(StartDoc(port, id));
    DWORD otherError = 0;
    std::thread other([&] {
        EXPECT_FALSE(StartDoc(port, NewJob()));
        otherError = GetLastError();
    });
    other.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), otherError);
    EXPECT_TRUE(Write(port, "once"));
    EXPECT_TRUE(table_->pfnEndDocPort(port));
    ASSERT_TRUE(printer.WaitForJobs(1));
    EXPECT_EQ(std::vector<std::string>{"once"}, printer.Jobs());
    EXPECT_EQ(1u, printer.Connections());
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER}, host_->JobCommands(id));
}

TEST_F(PortLifecycle, EndDocPortWithoutAJobDoesNothing) {
    FakeRawPrinter printer;
    AddRawPort(u"IDLE", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"IDLE");
    DWORD id = NewJob();
    EXPECT_TRUE(table_->pfnEndDocPort(port));
    EXPECT_TRUE(host_->JobCommands(id).empty());
    EXPECT_EQ(0u, printer.Connections());
}

TEST_F(PortLifecycle, WritePortBeforeStartDocPortIsAnInvalidHandle) {
    FakeRawPrinter printer;
    AddRawPort(u"EARLY", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"EARLY");
    EXPECT_FALSE(Write(port, "x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(PortLifecycle, AJobAfterAFinishedJobWhoseTransportFailsToStartFails) {
    FakeRawPrinter printer;
    AddRawPort(u"AGAIN", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"AGAIN");
    ASSERT_TRUE(PrintJob(port, "first"));
    SetPortValue(u"AGAIN", u"IPAddress", u"255.255.255.255");
    EXPECT_FALSE(StartDoc(port, NewJob()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_REGISTRY_CORRUPT), GetLastError());
    EXPECT_FALSE(Write(port, "x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(PortLifecycle, AnUnknownPrinterFailsStartDocPort) {
    FakeRawPrinter printer;
    AddRawPort(u"NOPRN", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"NOPRN");
    std::u16string other = u"No Such Printer";
    EXPECT_FALSE(table_->pfnStartDocPort(port, other.data(), 1, 1, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME), GetLastError());
    EXPECT_EQ(0u, host_->OpenPrinterCount());
}

TEST_F(PortLifecycle, TheJobPrinterIsClosedAtTheEnd) {
    FakeRawPrinter printer;
    AddRawPort(u"PRN", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"PRN");
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id));
    EXPECT_EQ(1u, host_->OpenPrinterCount());
    ASSERT_TRUE(table_->pfnEndDocPort(port));
    EXPECT_EQ(0u, host_->OpenPrinterCount());
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER}, host_->JobCommands(id));
}

TEST_F(PortLifecycle, OpenPortOfAnUnknownNameFailsWithoutAnErrorOfItsOwn) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    SetLastError(0x1234);
    EXPECT_EQ(nullptr, OpenPort(u"NOWHERE"));
    EXPECT_EQ(0x1234u, GetLastError());
}

TEST_F(PortLifecycle, HandlesThatAreNotPortsAreRefused) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    int notAPort = 0;
    EXPECT_FALSE(table_->pfnWritePort(&notAPort, nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(table_->pfnClosePort(&notAPort));
    EXPECT_FALSE(table_->pfnEndDocPort(nullptr));
}

TEST_F(PortLifecycle, ReadPortReturnsNothing) {
    FakeRawPrinter printer;
    AddRawPort(u"READ", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    TraceCapture trace;
    BYTE buffer[16];
    DWORD read = 0;
    EXPECT_FALSE(table_->pfnReadPort(OpenPort(u"READ"), buffer, 16, &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(trace.contains("ReadPort(\"READ\", 16)\n"));
}

TEST_F(PortLifecycle, GetPrinterDataFromPortNeedsADevice) {
    FakeRawPrinter printer;
    AddRawPort(u"DATA", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"DATA");
    TraceCapture trace;
    std::u16string value = u"Status";
    DWORD returned = 0;
    EXPECT_FALSE(table_->pfnGetPrinterDataFromPort(port, 0, value.data(), nullptr, 0, nullptr, 0,
                                                   &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(trace.contains("ioctl - Status\n"));
    EXPECT_FALSE(table_->pfnGetPrinterDataFromPort(port, 0x16002C, nullptr, nullptr, 0, nullptr, 0,
                                                   &returned));
    EXPECT_TRUE(trace.contains("IOCTL_PAR_PING\n"));
    EXPECT_FALSE(
        table_->pfnGetPrinterDataFromPort(port, 0x777, nullptr, nullptr, 0, nullptr, 0, &returned));
    EXPECT_TRUE(trace.contains("Unknown IOCTL code\n"));
}

TEST_F(PortLifecycle, SetPortTimeOutsIsTracedAndRefused) {
    FakeRawPrinter printer;
    AddRawPort(u"TIMEOUTS", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"TIMEOUTS");
    TraceCapture trace;
    COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    SetLastError(0);
    EXPECT_FALSE(table_->pfnSetPortTimeOuts(port, &timeouts, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(
        trace.contains("(O) ReadIntervalTimeout = 1\n(X) ReadTotalTimeoutMultiplier = 2\n"
                       "(O) ReadTotalTimeoutConstant = 3\n"));
    SetLastError(0);
    EXPECT_FALSE(table_->pfnSetPortTimeOuts(port, &timeouts, 1));
    EXPECT_EQ(0u, GetLastError());
}

// --- FILE: ---

using FilePort = JobTest;

TEST_F(FilePort, OpenedTwiceGivesTwoTemporaryPortsThatAreNotListed) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    TraceCapture trace;
    HANDLE first = OpenPort(u"FILE:");
    HANDLE second = OpenPort(u"file:");
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(MonitorPorts().empty());
    EXPECT_TRUE(trace.contains("Creating a new CPort for FILE:\n"));
    EXPECT_TRUE(table_->pfnClosePort(first));
    EXPECT_TRUE(table_->pfnClosePort(second));
    EXPECT_FALSE(table_->pfnClosePort(first)) << "a closed temporary port is gone";
}

TEST_F(FilePort, PrintsIntoTheDocumentsOutputFile) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    TempDir dir;
    std::string path = dir.file("out.prn");
    {
        std::ofstream old(path);
        old << "an older and longer content that must go";
    }
    HANDLE port = OpenPort(u"FILE:");
    DWORD id = NewJob();
    ASSERT_TRUE(StartDoc(port, id, W(path)));
    ASSERT_TRUE(Write(port, "to the file"));
    ASSERT_TRUE(table_->pfnEndDocPort(port));
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ("to the file", content);
    EXPECT_TRUE(table_->pfnClosePort(port));
}

// The temporary port is never stored (no "Ports\FILE:" key). Closed in the middle of its
// job, it takes the job's printer and output file with it.
TEST_F(FilePort, LeavesNoKeyAndClosingItMidJobReleasesTheJob) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    TempDir dir;
    std::string path = dir.file("mid.prn");
    HANDLE port = OpenPort(u"FILE:");
    ASSERT_TRUE(StartDoc(port, NewJob(), W(path)));
    ASSERT_TRUE(Write(port, "half a job"));
    EXPECT_FALSE(RegistryKeyExists(std::u16string(kPortsKey) + u"\\FILE:"));
    ASSERT_TRUE(IsOpenHere(path));
    EXPECT_TRUE(table_->pfnClosePort(port));
    EXPECT_EQ(0u, host_->OpenPrinterCount());
    EXPECT_FALSE(IsOpenHere(path));
}

TEST_F(FilePort, WithoutAnOutputFileTheDialogIsCancelled) {
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"FILE:");
    DWORD id = NewJob();
    EXPECT_FALSE(StartDoc(port, id));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PRINT_CANCELLED), GetLastError());
    EXPECT_EQ(0u, host_->OpenPrinterCount());
    EXPECT_TRUE(table_->pfnClosePort(port));
}

// --- Local devices behind a port name ---

using DevicePort = JobTest;

TEST_F(DevicePort, APortWithoutADeviceAliasDefinesNothing) {
    FakeRawPrinter printer;
    AddRawPort(u"LPT7:", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    ASSERT_NE(nullptr, OpenPort(u"LPT7:"));
    WCHAR targets[64];
    EXPECT_EQ(0u, QueryDosDeviceW(u"NONSPOOLED_LPT7", targets, 64));
}

// The spooler's alias lists its own pipe first and the device after it.
TEST_F(DevicePort, AnAliasedDeviceReceivesTheJob) {
    TempDir dir;
    std::string device = dir.file("device.out");
    std::u16string target = W(device);
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"NONSPOOLED_LPT8", target.c_str()));
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"NONSPOOLED_LPT8",
                                 u"\\Device\\NamedPipe\\Spooler\\LPT8"));
    FakeRawPrinter printer;
    AddRawPort(u"LPT8:", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"LPT8:");
    ASSERT_NE(nullptr, port);
    ASSERT_TRUE(PrintJob(port, "to the device"));
    std::ifstream in(device);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ("to the device", content);
    EXPECT_EQ(0u, printer.Connections()) << "a device port does not use the network";
    TraceCapture trace;
    EXPECT_TRUE(table_->pfnClosePort(port));
    EXPECT_TRUE(trace.contains("DeviceName = \""));
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, u"NONSPOOLED_LPT8", nullptr);
}

// --- Ports at once ---

// Three threads print whole jobs on one port at once. Each start either begins a job of its
// own or is refused with ERROR_BUSY: every job that started arrives whole, on a connection of
// its own, and no job ends another's transport under it.
TEST_F(RawJob, JobsFromThreeThreadsOnOnePortNeverShareATransport) {
    FakeRawPrinter printer;
    AddRawPort(u"RACE", printer);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"RACE");
    constexpr int kThreads = 3;
    constexpr int kRounds = 30;
    std::atomic<int> ready{0};
    std::atomic<size_t> printed{0};
    auto print = [&](int thread) {
        ++ready;
        while (ready.load() < kThreads) {
        }
        for (int round = 0; round < kRounds; ++round) {
            if (!StartDoc(port, NewJob())) {
                EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), GetLastError());
                continue;
            }
            std::string data = std::to_string(thread) + "/" + std::to_string(round) + ";";
            EXPECT_TRUE(Write(port, data));
            EXPECT_TRUE(table_->pfnEndDocPort(port));
            ++printed;
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(print, i);
    }
    for (auto& t : threads) {
        t.join();
    }
    ASSERT_GT(printed.load(), 0u);
    ASSERT_TRUE(printer.WaitForJobs(printed.load()));
    EXPECT_EQ(printed.load(), printer.Connections());
    std::set<std::string> jobs;
    for (const auto& job : printer.Jobs()) {
        EXPECT_EQ(1, std::count(job.begin(), job.end(), ';')) << "one job's data: " << job;
        jobs.insert(job);
    }
    EXPECT_EQ(printed.load(), jobs.size());
}

TEST_F(RawJob, TenJobsOnTenPortsAtOnce) {
    FakeRawPrinter printer;
    for (int i = 0; i < 10; ++i) {
        AddRawPort(u"PAR" + W(std::to_string(i)), printer);
    }
    ASSERT_EQ(ERROR_SUCCESS, Load());
    std::vector<std::thread> threads;
    std::atomic<int> printed{0};
    for (int i = 0; i < 10; ++i) {
        threads.emplace_back([&, i] {
            HANDLE port = OpenPort(u"PAR" + W(std::to_string(i)));
            if (port != nullptr && PrintJob(port, Pattern(200000 + i))) {
                ++printed;
            }
            table_->pfnClosePort(port);
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(10, printed.load());
    ASSERT_TRUE(printer.WaitForJobs(10));
    std::set<size_t> sizes;
    for (const auto& job : printer.Jobs()) {
        sizes.insert(job.size());
        EXPECT_EQ(Pattern(job.size()), job);
    }
    EXPECT_EQ(10u, sizes.size());
}

}  // namespace
}  // namespace nvtest
