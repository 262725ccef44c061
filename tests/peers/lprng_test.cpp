// LPRng, a real line printer daemon, as the printer: jobs printed through the monitor with
// nvspool must come out of a file queue byte for byte, a held job must carry the names it was
// sent with, and a daemon that only serves source ports 721..731 must accept them.
//
// Needs root (lpd, /etc/lprng, the monitor's source ports) and the lprng package; skips with
// the reason otherwise. Each case runs its own lpd in the foreground on a free loopback port,
// with its spool, printcap and permissions under a temporary directory, and stops it by its pid.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/peers/peer_support.h"
#include "tests/support/test_env.h"

namespace nvtest {
namespace {

namespace fs = std::filesystem;

const char kConf[] = "/etc/lprng/lpd.conf";
const char kSaved[] = "/etc/lprng/lpd.conf.norva-saved";
const char kMarker[] =
    "# Written for one run of a NORVA LPRng test or benchmark; the original is in ";
const char kQueue[] = "raw";

// /etc/lprng/lpd.conf for one run. LPRng's lpd reads no other configuration file (it ignores
// LPD_CONF), so the test writes its own and puts the original back when it is done. The
// original waits beside it as lpd.conf.norva-saved, so a run that died before restoring is
// mended by the next one.
class LpdConfForRun {
  public:
    explicit LpdConfForRun(const std::string& text) {
        RestoreLeftover();
        had_ = fs::exists(kConf);
        if (had_) {
            fs::copy_file(kConf, kSaved, fs::copy_options::overwrite_existing);
        }
        const std::string temporary = std::string(kConf) + ".norva-new";
        WriteFile(temporary, std::string(kMarker) + kSaved + "\n" + text);
        fs::rename(temporary, kConf);
    }
    ~LpdConfForRun() {
        std::error_code ignored;
        if (had_) {
            fs::rename(kSaved, kConf, ignored);
        } else {
            fs::remove(kConf, ignored);
        }
    }
    LpdConfForRun(const LpdConfForRun&) = delete;
    LpdConfForRun& operator=(const LpdConfForRun&) = delete;

    static void RestoreLeftover() {
        std::error_code ignored;
        if (fs::exists(kSaved)) {
            fs::rename(kSaved, kConf, ignored);
        } else if (ReadFile(kConf).rfind(kMarker, 0) == 0) {
            fs::remove(kConf, ignored);
        }
    }

  private:
    bool had_ = false;
};

// The key=value lines of a held job's hfA file.
std::map<std::string, std::string> HoldFileFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return fields;
}

// The fields LPRng keeps for the first data file of a held job (hfdatafiles=): key=value
// pairs separated by 0x02, each data file ended by 0x01.
std::map<std::string, std::string> DataFileFields(const std::string& value) {
    std::map<std::string, std::string> fields;
    std::istringstream pairs(value.substr(0, value.find('\x01')));
    for (std::string pair; std::getline(pairs, pair, '\x02');) {
        const size_t equals = pair.find('=');
        if (equals != std::string::npos) {
            fields[pair.substr(0, equals)] = pair.substr(equals + 1);
        }
    }
    return fields;
}

class Lprng : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "the LPRng tests need root (lpd, /etc/lprng, source ports 721..731)";
        }
        for (const char* program : {"/usr/sbin/lpd", "/usr/sbin/checkpc"}) {
            if (access(program, X_OK) != 0 || !fs::is_directory("/etc/lprng")) {
                GTEST_SKIP() << "LPRng is not installed (apt-get install lprng): no " << program;
            }
        }
        // lpd's own children outlive it by a moment; as their subreaper this process reaps
        // them instead of leaving them to a PID 1 that does not.
        prctl(PR_SET_CHILD_SUBREAPER, 1);

        port_ = FreeLoopbackPort();
        const fs::path root = dir_.path();
        fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
        spool_ = (root / "spool" / kQueue).string();
        output_ = (root / "out" / (std::string(kQueue) + ".prn")).string();
        perms_ = (root / "lpd.perms").string();
        fs::create_directories(spool_);
        fs::create_directories(root / "out");
        fs::create_directories(root / "run");
        WriteFile(output_, "");
        WriteFile((root / "printcap").string(),
                  std::string(kQueue) + ":sd=" + spool_ + ":lp=" + output_ + ":sh:mx=0\n");
        WriteFile(perms_, "DEFAULT ACCEPT\n");
        const passwd* daemon = getpwnam("daemon");
        const group* lp = getgrnam("lp");
        ASSERT_TRUE(daemon != nullptr && lp != nullptr) << "no user daemon or group lp";
        for (const char* sub : {"spool", "out", "run"}) {
            chown((root / sub).c_str(), daemon->pw_uid, lp->gr_gid);
            for (const auto& entry : fs::recursive_directory_iterator(root / sub)) {
                chown(entry.path().c_str(), daemon->pw_uid, lp->gr_gid);
            }
        }

        const std::string listen = "127.0.0.1%" + std::to_string(port_);
        conf_.emplace("lpd_listen_port=" + listen + "\nlpd_port=" + listen +
                      "\nlockfile=" + (root / "run" / "lpd").string() +
                      "\nunix_socket_path=off\nprintcap_path=" + (root / "printcap").string() +
                      "\nlpd_printcap_path=" + (root / "printcap").string() +
                      "\nperms_path=" + perms_ + "\noriginate_port=721 731\n");
        ToolResult check = RunCommand({"/usr/sbin/checkpc", "-f"});
        ASSERT_EQ(0, check.exitCode) << check.out;

        lpd_.emplace(std::vector<std::string>{"/usr/sbin/lpd", "-F"}, (root / "lpd.log").string());
        ASSERT_TRUE(WaitUntil([&] { return LoopbackClient(port_).connected(); }, 10000))
            << "lpd does not listen on 127.0.0.1:" << port_ << "; its log:\n"
            << ReadFile((root / "lpd.log").string());
        ToolResult add = AddLprPort("LPRNG", port_, kQueue, 10000);
        ASSERT_EQ(0, add.exitCode) << add.err;
    }

    void TearDown() override {
        if (lpd_) {
            lpd_->stop(SIGTERM);
            lpd_.reset();
            ReapOrphans();
        }
        conf_.reset();
    }

    // The children lpd left behind, now ours: reaped as they end, for a few seconds at most.
    static void ReapOrphans() {
        WaitUntil(
            [] {
                int status = 0;
                pid_t reaped;
                while ((reaped = waitpid(-1, &status, WNOHANG)) > 0) {
                }
                return reaped < 0 && errno == ECHILD;
            },
            5000);
    }

    ToolResult Print(const std::string& port, int jobId, const std::string& data,
                     const std::string& document, const std::string& user = "alice",
                     const std::string& machine = "pc7") {
        const std::string path = files_.file("job" + std::to_string(jobId));
        WriteFile(path, data);
        return RunTool("nvspool",
                       {"print", "--port", port, "--job-id", std::to_string(jobId), "--user", user,
                        "--machine", machine, "--document", document, path});
    }

    // SIGHUP makes lpd read its configuration and lpd.perms again. "lpd -F" leaves the
    // serving to a child of its own ("lpd Waiting"), and only that process rereads them, so the
    // signal goes to the daemon this test started and to its children.
    void ReloadDaemon() {
        const pid_t pid = lpd_->pid();
        std::istringstream children(ReadFile("/proc/" + std::to_string(pid) + "/task/" +
                                             std::to_string(pid) + "/children"));
        for (pid_t child; children >> child;) {
            kill(child, SIGHUP);
        }
        kill(pid, SIGHUP);
    }

    // Stops the queue: it takes jobs and holds them without printing. This is the queue state
    // that `lpc stop` writes into the spool directory; writing it directly spares a client
    // connection from a port in 721..731, whose TIME_WAIT would keep that port from other
    // tests for a minute.
    void StopQueue() {
        const std::string control = spool_ + "/control.pr";
        WriteFile(control, "printing_disabled=0x1\n");
        const passwd* daemon = getpwnam("daemon");
        const group* lp = getgrnam("lp");
        chown(control.c_str(), daemon->pw_uid, lp->gr_gid);
        chmod(control.c_str(), 0600);
    }

    std::string Output() const { return ReadFile(output_); }
    bool OutputReaches(size_t size, int timeoutMs = 30000) const {
        return WaitUntil([&] { return fs::file_size(output_) >= size; }, timeoutMs);
    }
    std::string DaemonLog() const { return ReadFile(dir_.file("lpd.log")); }
    std::string QueueState() { return RunCommand({"/usr/bin/lpq", "-P", Queue()}).out; }
    std::string Queue() const {
        return std::string(kQueue) + "@127.0.0.1%" + std::to_string(port_);
    }

    TempDir dir_;
    TempDir files_;
    ScopedRegistry registry_;
    uint16_t port_ = 0;
    std::string spool_;
    std::string output_;
    std::string perms_;
    std::optional<LpdConfForRun> conf_;
    std::optional<BackgroundProcess> lpd_;
};

TEST_F(Lprng, JobsComeOutOfAFileQueueByteForByte) {
    // An empty job goes first: LPRng takes a data file announced with 0 bytes as "until the
    // connection ends" and drops it, so it prints nothing, and the jobs after it must still
    // come out whole.
    const std::vector<size_t> sizes = {0, 1, 1024, 100000, 3 * 1024 * 1024 + 17};
    std::string expected;
    for (size_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE("size " + std::to_string(sizes[i]));
        const std::string data = TestData(sizes[i], static_cast<uint32_t>(100 + i));
        ToolResult r = Print("LPRNG", 40 + static_cast<int>(i), data, "Job " + std::to_string(i));
        EXPECT_EQ(0, r.exitCode) << r.err;
        expected += data;
        ASSERT_TRUE(OutputReaches(expected.size()))
            << "printed " << fs::file_size(output_) << " of " << expected.size() << " bytes\n"
            << QueueState() << DaemonLog();
    }
    // Whatever was late would have arrived by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(expected.size(), Output().size());
    EXPECT_TRUE(Output() == expected) << "the printed bytes differ from the jobs'";
}

TEST_F(Lprng, AHeldJobCarriesTheNamesItWasSentWith) {
    StopQueue();
    const std::string data = TestData(5000, 42);
    // A line feed or carriage return in a title would start a control file line of its own.
    ToolResult r = Print("LPRNG", 42, data, "Quarterly\nreport\rfinal", "bob", "pc9");
    EXPECT_EQ(0, r.exitCode) << r.err;
    const std::string holdFile = spool_ + "/hfA042";
    // The daemon writes the hold file in steps: wait until it is whole.
    std::map<std::string, std::string> fields;
    ASSERT_TRUE(WaitUntil(
        [&] {
            fields = HoldFileFields(ReadFile(holdFile));
            return !fields["number"].empty() && !fields["hfdatafiles"].empty();
        },
        10000))
        << QueueState() << DaemonLog();
    EXPECT_EQ("pc9", fields["H"]);
    EXPECT_EQ("bob", fields["P"]);
    EXPECT_EQ("042", fields["number"]);
    const std::string title = fields["J"];
    EXPECT_EQ(std::string("Quarterly report final").size(), title.size()) << title;
    EXPECT_EQ(0u, title.find("Quarterly")) << title;
    EXPECT_NE(std::string::npos, title.find("report")) << title;
    EXPECT_EQ(title.size() - 5, title.rfind("final")) << title;
    EXPECT_EQ(std::string::npos, title.find_first_of("\r\n")) << title;
    EXPECT_EQ(title, fields["T"]);
    EXPECT_EQ(title, DataFileFields(fields["hfdatafiles"])["N"]) << ReadFile(holdFile);
    // The daemon may write the hold file before it has finished the data file.
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(spool_ + "/dfA042pc9") == data; }, 5000))
        << "the held data file differs";
    EXPECT_EQ("", Output()) << "a stopped queue prints nothing";
}

TEST_F(Lprng, TwoPortsPrintToOneQueueAtOnce) {
    ToolResult add = AddLprPort("LPRNG2", port_, kQueue, 10000);
    ASSERT_EQ(0, add.exitCode) << add.err;
    const std::string first = TestData(2 * 1024 * 1024, 1);
    const std::string second = TestData(1024 * 1024 + 3, 2);
    ToolResult a;
    ToolResult b;
    std::thread one([&] { a = Print("LPRNG", 51, first, "first"); });
    std::thread two([&] { b = Print("LPRNG2", 52, second, "second"); });
    one.join();
    two.join();
    EXPECT_EQ(0, a.exitCode) << a.err;
    EXPECT_EQ(0, b.exitCode) << b.err;
    ASSERT_TRUE(OutputReaches(first.size() + second.size())) << QueueState() << DaemonLog();
    const std::string out = Output();
    EXPECT_TRUE(out == first + second || out == second + first) << "the jobs came out mixed";
}

TEST_F(Lprng, AServerForReservedPortsOnlyAcceptsOurJobs) {
    WriteFile(perms_, "REJECT SERVICE=X NOT PORT=721-731\nDEFAULT ACCEPT\n");
    ReloadDaemon();
    // The reload is done once a job from an ordinary port is refused.
    std::string refusal;
    ASSERT_TRUE(WaitUntil(
        [&] {
            LoopbackClient client(port_);
            client.send("\x02" + std::string(kQueue) + "\n");
            refusal = client.rest(2000);
            return !refusal.empty() && refusal[0] != '\0';
        },
        10000))
        << "lpd still serves other source ports; answer: " << refusal;

    const std::string data = TestData(200000, 7);
    ToolResult r = Print("LPRNG", 61, data, "strict");
    EXPECT_EQ(0, r.exitCode) << r.err;
    ASSERT_TRUE(OutputReaches(data.size())) << QueueState() << DaemonLog();
    EXPECT_TRUE(Output() == data) << "the printed bytes differ from the job's";
}

}  // namespace
}  // namespace nvtest
