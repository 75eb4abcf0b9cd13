// varkel-sim as a user drives it: options, outputs that are safe to point
// anywhere, the summary and its verdict, and clean stops on signals.
#include "tools/varkel-sim/sim_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/output_file.h"
#include "platform/host/host_platform.h"
#include "tests/board_fixture.h"

namespace fs = std::filesystem;

namespace {

// Returns once a pipe nobody reads holds as much as its writer can put in
// it: a writer of lines shorter than PIPE_BUF is then blocked. However long
// that takes on a loaded machine (ctest's timeout catches a hang); fails at
// once if the writer `child` has ended instead.
void WaitUntilFull(int readEnd, pid_t child) {
    const int capacity = ::fcntl(readEnd, F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    int queued = 0;
    while (::ioctl(readEnd, FIONREAD, &queued) == 0 && queued <= capacity - PIPE_BUF) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0)
            << "the writer ended with " << queued << " of " << capacity << " bytes in the pipe";
        const struct timespec pause = {0, 1'000'000};  // a millisecond: leave the cores to the writer
        ::nanosleep(&pause, nullptr);
    }
}

class SimRunnerTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::host::Reset(); }

    // Runs varkel-sim in this process with descriptors 1 and 2 (the
    // program's console and debug text) in files, as a script would.
    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        const int saved[2] = {::dup(1), ::dup(2)};
        const int console = ::open((dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int debug = ::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(console, 1);
        ::dup2(debug, 2);
        const int status = varkel_sim::Run(args, out, err);
        ::dup2(saved[0], 1);
        ::dup2(saved[1], 2);
        for (const int fd : {saved[0], saved[1], console, debug}) {
            ::close(fd);
        }
        return status;
    }

    // Runs varkel-sim's process entry in a child; `setup` arranges its
    // descriptors first. Returns the wait status.
    int RunChild(const std::vector<std::string>& args, const std::function<void()>& setup = {},
                 const std::function<void(pid_t)>& meanwhile = {}) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (setup) {
                setup();
            }
            std::vector<std::string> all = {"varkel-sim"};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (std::string& arg : all) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            ::_exit(varkel_sim::Main(static_cast<int>(all.size()), argv.data()));
        }
        if (meanwhile) {
            meanwhile(child);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    }

    // Runs varkel-sim's process entry in a child whose stderr is a
    // terminal; once the child says it waits for a FIFO's reader,
    // `onWaiting` runs. `terminal` gets what the child wrote there.
    int RunOnTerminal(const std::vector<std::string>& args, std::string& terminal,
                      const std::function<void(pid_t)>& onWaiting) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
            return -1;
        }
        const std::string slave = ::ptsname(master);
        return RunChild(
            args,
            [&] {
                ::close(master);
                ::dup2(::open(slave.c_str(), O_RDWR), 2);
            },
            [&](pid_t child) {
                bool waited = false;
                char buffer[512];
                ssize_t n;
                while ((n = ::read(master, buffer, sizeof buffer)) > 0) {  // EIO once the child has gone
                    terminal.append(buffer, static_cast<std::size_t>(n));
                    if (!waited && terminal.find("waiting for") != std::string::npos) {
                        waited = true;
                        onWaiting(child);
                    }
                }
                ::close(master);
            });
    }

    // Sends a child's stdout and stderr to files in the test's directory.
    std::function<void()> ToFiles() {
        return [this] {
            ::dup2(::open((dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            ::dup2(::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        };
    }

    // A run of three messages through the loopback test: every output,
    // a few hundred lines, where the behaviour under test is the file's,
    // not the run's length.
    static std::vector<std::string> Short(std::vector<std::string> args) {
        args.insert(args.end(), {"--rxd", "loopback", "--", "--loopback-test", "3"});
        return args;
    }

    std::string Last(const std::string& text) const {
        const auto lines = Lines(text);
        return lines.empty() ? "" : lines.back();
    }

    TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(SimRunnerTest, BadInputIsOneClearLineExitTwoAndNothingRuns) {
    fs::create_directory(dir / "adir");
    std::ofstream(dir / "w.txt") << "previous\n";
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--time"},
        {"--time", "fast"},
        {"--fault", "melt"},
        {"--fault", "reserve:0"},
        {"--fault", "reserve:4"},
        {"--fault", "bind:4"},
        {"--fault", "tx-slow"},
        {"--fault", "tx-stuck:0"},
        {"--fault", "tx-stuck:10001"},
        {"--fault", "tx-stuck:2", "--fault", "tx-stuck:2"},
        {"--fault", "tx-stuck", "--fault", "tx-stuck:2"},
        {"--fault", "tx-slow:2", "--fault", "tx-slow:3"},
        {"--fault", "devmem-missing"},
        {"--binary", "x", "--fault", "devmem-missing", "--fault", "devmem-strict"},
        {"--binary", ""},
        {"--rxd", "floating"},
        {"--vcd-window", "2:1", "--vcd", dir / "x.vcd"},
        {"--vcd-window", "0:1"},
        {"--loopback=yes"},
        {"--help=please"},
        {"--tim", "virtual"},
        {"stray\x1b[2Jargument"},
        {"--wire", dir / "missing/x.txt"},
        {"--wire", dir / "adir"},
        {"--wire", dir / "w.txt", "--trace", "./" + (dir / "w.txt")},
        {"--wire", dir / "w.txt", "--summary-json", dir / "adir/../w.txt"},
        {"--wire", dir / "new.txt", "--debug-log", dir / "new.txt"},
        {"--wire", dir / "w", "--vcd", dir / "w.gtkw", "--trace", dir / "w.vcd"},
        {"--wire", dir / "w.txt", "--vcd", dir / "w.txt.part"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        EXPECT_EQ(Run(args), 2);
        const auto lines = Lines(err.str());
        ASSERT_EQ(lines.size(), 1u) << err.str();
        EXPECT_EQ(lines[0].rfind("varkel-sim: ", 0), 0u);
        EXPECT_EQ(lines[0].find('\x1b'), std::string::npos);
        EXPECT_EQ(ReadFile(dir / "stdout.txt"), "");  // the program never started
    }
    EXPECT_EQ(ReadFile(dir / "w.txt"), "previous\n");
    for (const char* name : {"new.txt", "w.txt.part", "new.txt.part", "x.vcd", "w", "w.vcd", "w.gtkw"}) {
        EXPECT_FALSE(fs::exists(dir / name)) << name;
    }
    Run({"--fault", "bind:4"});
    EXPECT_EQ(err.str(), "varkel-sim: fault 'bind:4' would never fire: the program makes 3 bindings\n");
    Run({"x\x01y"});
    EXPECT_EQ(
        err.str(),
        "varkel-sim: unexpected argument 'x\\x01y' (see --help; the program's own arguments follow --)\n");
    Run({"--fault", "tx-slow:2", "--fault", "tx-slow:3"});
    EXPECT_EQ(err.str(), "varkel-sim: faults 'tx-slow:2' and 'tx-slow:3' contradict each other\n");
    Run({"--fault", "devmem-strict"});
    EXPECT_EQ(err.str(),
              "varkel-sim: fault 'devmem-strict' is a kernel's, for --binary: the program built into "
              "varkel-sim has no /dev/mem\n");
}

TEST_F(SimRunnerTest, HelpAndVersionAnswerWithoutRunning) {
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out.str().find("--fault SPEC"), std::string::npos);
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(out.str(), "varkel-sim " VARKEL_VERSION "\n");
    EXPECT_EQ(ReadFile(dir / "stdout.txt"), "");
}

TEST_F(SimRunnerTest, VirtualRunWritesEveryOutputAndPasses) {
    ASSERT_EQ(Run({"--time", "virtual", "--wire", dir / "w.txt", "--vcd", dir / "run.vcd", "--trace",
                   dir / "t.txt", "--debug-log", dir / "debug.txt", "--summary-json", dir / "s.json"}),
              0);
    const auto wire = Lines(ReadFile(dir / "w.txt"));
    ASSERT_EQ(wire.size(), 90000u);
    EXPECT_EQ(wire[0], "0.000002200 0x5A");  // set-up, one status read, the store
    EXPECT_EQ(wire[8], "0.000052600 0x00");  // a frame every 6300 ns: 8 bits and one idle
    EXPECT_EQ(Last(err.str()), "varkel-sim: PASS");
    EXPECT_NE(err.str().find("varkel-sim: frames put on the wire: 90000\n"), std::string::npos);
    EXPECT_NE(err.str().find("varkel-sim: frames received: 16\n"), std::string::npos);
    EXPECT_EQ(Lines(ReadFile(dir / "stdout.txt")).size(), 10001u);
    EXPECT_EQ(Last(ReadFile(dir / "debug.txt")), " NSSP: Done \r");
    EXPECT_NE(ReadFile(dir / "run.gtkw").find("[dumpfile] \"run.vcd\"\n[savefile] \"run.gtkw\"\n"),
              std::string::npos);

    const std::string json = ReadFile(dir / "s.json");
    for (const char* field :
         {"\"schema_version\": 1,", "\"tool\": \"varkel-sim\",", "\"version\": \"" VARKEL_VERSION "\",",
          "\"options\": {\"time\": \"virtual\", \"rxd\": \"high\", \"faults\": [], "
          "\"program_arguments\": [], \"vcd_window_ns\": null, \"strict\": false},",
          "\"exit_status\": 0,", "\"interrupted\": false,", "\"frames_on_wire\": 90000,",
          "\"sends_gave_up\": 0,", "\"receive_dropped\": 89984,", "\"verdict\": \"PASS\",",
          "\"reasons\": []"}) {
        EXPECT_NE(json.find(field), std::string::npos) << field;
    }
    for (const char* part :
         {"w.txt.part", "run.vcd.part", "t.txt.part", "debug.txt.part", "s.json.part", "run.gtkw.part"}) {
        EXPECT_FALSE(fs::exists(dir / part)) << part;
    }
}

TEST_F(SimRunnerTest, VerdictNamesEachFailureAndStrictTurnsItIntoExitThree) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string verdict;
    };
    const std::vector<Case> cases = {
        {{"--fault", "tx-stuck"}, 0, "varkel-sim: FAIL: 10000 sends gave up waiting for transmit room"},
        {{"--fault", "clock-off"},
         0,
         "varkel-sim: FAIL: 9999 sends gave up waiting for transmit room; 16 frames never reached the wire "
         "(16 left in the transmit FIFO)"},
        {{"--fault", "pins-unrouted"},
         0,
         "varkel-sim: FAIL: 90000 frames never reached the wire (90000 shifted with the transmit pin "
         "unrouted)"},
        {{"--fault", "bind:2"},
         1,
         "varkel-sim: FAIL: the program stopped early (exit status 1: a register block could not be mapped)"},
        {{"--fault", "tx-slow:2", "--rxd", "loopback"}, 0, "varkel-sim: PASS"},
        {{"--fault", "tx-stuck:2"}, 0, "varkel-sim: FAIL: 1 send gave up waiting for transmit room"},
        // Every stall asked for is applied, and every fault that never fires is named.
        {{"--fault", "tx-stuck:2", "--fault", "tx-stuck:9"},
         0,
         "varkel-sim: FAIL: 2 sends gave up waiting for transmit room"},
        {{"--fault", "reserve:1", "--fault", "bind:2", "--fault", "reserve:3"},
         1,
         "varkel-sim: FAIL: the program stopped early (exit status 1: a register block could not be mapped); "
         "fault reserve:3 never fired: the program made 1 reservation; fault bind:2 never fired: the program "
         "made 0 bindings"},
        {{"--rxd", "loopback", "--", "--loopback-test", "3"}, 0, "varkel-sim: PASS"},
        {{"--rxd", "high", "--", "--loopback-test", "3"},
         4,
         "varkel-sim: FAIL: the loopback test failed (exit status 4)"},
        {{"--rxd", "high", "--", "--bogus"},
         2,
         "varkel-sim: FAIL: the program refused its arguments (exit status 2)"},
        {{"--fault", "tx-stuck:2", "--rxd", "loopback", "--", "--loopback-test"},
         0,
         "varkel-sim: FAIL: fault tx-stuck:2 never fired: the program paused 0 times, so never reached its "
         "message 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        std::vector<std::string> args = {"--time", "virtual", "--quiet", "--summary-json", dir / "s.json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Run(args), c.status);
        EXPECT_EQ(Last(err.str()), c.verdict);
        const bool pass = c.verdict == "varkel-sim: PASS";
        EXPECT_NE(ReadFile(dir / "s.json").find(pass ? "\"verdict\": \"PASS\"" : "\"verdict\": \"FAIL\""),
                  std::string::npos);
        args.insert(args.begin(), "--strict");  // before any "--" and the program's arguments
        EXPECT_EQ(Run(args), pass ? 0 : 3);
    }
}

TEST_F(SimRunnerTest, AStallInOneMessageGivesUpThatSendAlone) {
    ASSERT_EQ(Run({"--time", "virtual", "--quiet", "--fault", "tx-stuck:2", "--debug-log", dir / "d.txt",
                   "--wire", dir / "w.txt"}),
              0);
    std::vector<std::string> sends;
    for (const std::string& line : Lines(ReadFile(dir / "d.txt"))) {
        if (line.rfind("Data sent:", 0) == 0) {
            sends.push_back(line);
        }
    }
    ASSERT_EQ(sends.size(), 10000u);
    EXPECT_EQ(sends[0], "Data sent:     0x5A454C204E53535000\r");
    EXPECT_EQ(sends[1], "Data sent:     0x\r");  // message 2 stored nothing
    EXPECT_EQ(std::count(sends.begin(), sends.end(), sends[0]), 9999);
    EXPECT_EQ(Lines(ReadFile(dir / "w.txt")).size(), 89991u);
    EXPECT_NE(err.str().find("varkel-sim: sends that gave up waiting for transmit room: 1\n"),
              std::string::npos);
}

TEST_F(SimRunnerTest, ArgumentsAfterTheSeparatorReachTheProgramAsOnTheBoard) {
    EXPECT_EQ(Run({"--time", "virtual", "--rxd", "loopback", "--summary-json", dir / "s.json", "--",
                   "--loopback-test", "2"}),
              0);
    EXPECT_EQ(ReadFile(dir / "stdout.txt"), "loopback: PASS: 2 messages, 18 bytes returned unchanged\n");
    EXPECT_NE(ReadFile(dir / "s.json").find("\"program_arguments\": [\"--loopback-test\", \"2\"]"),
              std::string::npos);
    EXPECT_EQ(Run({"--time", "virtual", "--", "--wire", "x"}), 2);  // the program's, not varkel-sim's
    EXPECT_EQ(ReadFile(dir / "stderr.txt"), "varkel: unexpected argument '--wire' (see --help)\n");
    EXPECT_FALSE(fs::exists("x"));
    EXPECT_EQ(Run({"--time", "virtual", "--", "--help"}), 0);
    EXPECT_NE(ReadFile(dir / "stdout.txt").find("--loopback-test [N]"), std::string::npos);
    EXPECT_EQ(Run({"--time", "virtual", "--"}), 0);  // nothing after it: the test itself
    EXPECT_EQ(Lines(ReadFile(dir / "stdout.txt")).size(), 10001u);
}

TEST_F(SimRunnerTest, QuietKeepsTheProgramsTextOffTheTerminalAndTheFilesTheSame) {
    const std::vector<std::string> base = {"--time",      "virtual",       "--debug-log",
                                           dir / "d.txt", "--console-log", dir / "c.txt"};
    ASSERT_EQ(Run(base), 0);
    const std::string debug = ReadFile(dir / "d.txt");
    const std::string console = ReadFile(dir / "c.txt");
    std::vector<std::string> quiet = base;
    quiet.push_back("--quiet");
    ASSERT_EQ(Run(quiet), 0);
    EXPECT_EQ(ReadFile(dir / "d.txt"), debug);
    EXPECT_EQ(ReadFile(dir / "c.txt"), console);
    ASSERT_EQ(Run({"--time", "virtual", "--quiet"}), 0);
    EXPECT_EQ(ReadFile(dir / "stdout.txt"), "");
    EXPECT_EQ(ReadFile(dir / "stderr.txt"), "");
    EXPECT_EQ(Last(err.str()), "varkel-sim: PASS");
}

TEST_F(SimRunnerTest, SpecialFilesAreWrittenInPlaceAndLinksStayLinks) {
    // A FIFO with a reader, and "-" for standard output.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    std::string fromFifo;
    std::thread reader([&] { fromFifo = ReadFile(dir / "fifo"); });
    EXPECT_EQ(Run(Short({"--time", "virtual", "--quiet", "--wire", dir / "fifo", "--trace", "-"})), 0);
    reader.join();
    EXPECT_EQ(Lines(fromFifo).size(), 27u);
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Lines(ReadFile(dir / "stdout.txt")).size(), 168u);  // 2 header lines, 9 calls, 157 accesses

    // A link to a regular file: the file is replaced, the link stays.
    fs::create_directory(dir / "data");
    std::ofstream(dir / "data/wire.txt") << "old\n";
    fs::create_symlink("data/wire.txt", dir / "latest.txt");
    ASSERT_EQ(Run(Short({"--time", "virtual", "--quiet", "--wire", dir / "latest.txt"})), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "latest.txt"));
    EXPECT_EQ(Lines(ReadFile(dir / "data/wire.txt")).size(), 27u);

    // A character device, made here: written to, never replaced.
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here (needs root): " << std::strerror(errno);
    }
    EXPECT_EQ(Run(Short({"--time", "virtual", "--quiet", "--wire", dir / "null", "--vcd", dir / "null2"})),
              0);
    ASSERT_EQ(::lstat((dir / "null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_FALSE(fs::exists(dir / "null.part"));
}

TEST_F(SimRunnerTest, AFifoWithNoReaderYetIsWaitedOnAndASignalEndsTheWait) {
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    // On a terminal the run says once that it waits; then a reader comes,
    // or a signal ends the wait.
    for (const bool readerComes : {true, false}) {
        SCOPED_TRACE(readerComes ? "a reader comes" : "SIGINT");
        std::string terminal, fromFifo;
        const int status = RunOnTerminal(Short({"--time", "virtual", "--quiet", "--wire", dir / "fifo"}),
                                         terminal, [&](pid_t child) {
                                             if (readerComes) {
                                                 fromFifo = ReadFile(dir / "fifo");
                                             } else {
                                                 ::kill(child, SIGINT);
                                             }
                                         });
        EXPECT_NE(terminal.find(": waiting for something to read " + (dir / "fifo") + " (Ctrl-C stops)"),
                  std::string::npos);
        ASSERT_TRUE(WIFEXITED(status));
        if (readerComes) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(Lines(fromFifo).size(), 27u);
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
            EXPECT_NE(terminal.find("stopped while waiting for something to read it"), std::string::npos);
        }
    }
}

TEST_F(SimRunnerTest, APlantedPartLinkOrASecondRunIsRefusedAndAStaleOneRemoved) {
    std::ofstream(dir / "target") << "precious\n";
    fs::create_symlink("target", dir / "w.txt.part");
    EXPECT_EQ(Run({"--time", "virtual", "--wire", dir / "w.txt"}), 2);
    EXPECT_NE(err.str().find("w.txt.part exists and is not a regular file; not following it"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir / "target"), "precious\n");
    EXPECT_TRUE(fs::is_symlink(dir / "w.txt.part"));
    EXPECT_EQ(ReadFile(dir / "stdout.txt"), "");

    common::OutputFile other;  // a run that is writing v.txt now
    std::string error;
    ASSERT_TRUE(other.Plan(dir / "v.txt", error) && other.Open(error));
    EXPECT_EQ(Run({"--time", "virtual", "--wire", dir / "v.txt"}), 2);
    EXPECT_EQ(err.str(), "varkel-sim: cannot write " + (dir / "v.txt") + ": another run is writing it (" +
                             (dir / "v.txt.part") + " is in use)\n");
    other.Discard();
    // One a run killed outright left behind, unlocked: removed, and said.
    std::ofstream(dir / "v.txt.part") << "left behind\n";
    EXPECT_EQ(Run(Short({"--time", "virtual", "--quiet", "--wire", dir / "v.txt"})), 0);
    EXPECT_NE(ReadFile(dir / "stderr.txt")
                  .find(": removed " + (dir / "v.txt.part") + ", left by a run that did not finish\n"),
              std::string::npos);
    EXPECT_EQ(Lines(ReadFile(dir / "v.txt")).size(), 27u);
    EXPECT_FALSE(fs::exists(dir / "v.txt.part"));
}

TEST_F(SimRunnerTest, AFullDiskFailsTheRunAndKeepsTheOldFile) {
    // stdout on a full device: the console's text is lost, so the run fails.
    if (::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "cannot make a device node here (needs root): " << std::strerror(errno);
    }
    int status = RunChild({"--time", "virtual"}, [&] {
        ::dup2(::open((dir / "full").c_str(), O_WRONLY), 1);
        ::dup2(::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    });
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(ReadFile(dir / "stderr.txt")
                  .find("varkel-sim: cannot write standard output: No space left on device"),
              std::string::npos);

    // stderr on a full device, the program's text kept off it: the summary,
    // the run's verdict, is lost. That is the tool's failure whatever the
    // program returned (1 with the refused binding).
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--time", "virtual", "--quiet"},
                                                 {"--time", "virtual", "--quiet", "--fault", "bind:2"}}) {
        SCOPED_TRACE(args.back());
        status = RunChild(args, [&] {
            ::dup2(::open((dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            ::dup2(::open((dir / "full").c_str(), O_WRONLY), 2);
        });
        EXPECT_EQ(WEXITSTATUS(status), 2);
    }

    // The debug log on a small filesystem that fills up, in a mount
    // namespace of the child's own; then a dump that cannot fit, whose
    // viewer save file would open nothing.
    const std::string small = dir / "small";
    const auto inSmallFilesystem = [&](const std::vector<std::string>& args) {
        std::ofstream(dir / "result");
        const int childStatus = RunChild({}, [&] {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                (::mkdir(small.c_str(), 0755) != 0 && errno != EEXIST) ||
                ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
                ::_exit(77);
            }
            std::ofstream(small + "/old.txt") << "previous\n";
            ToFiles()();
            std::vector<std::string> all = {"varkel-sim"};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (std::string& arg : all) {
                argv.push_back(arg.data());
            }
            const int runStatus = varkel_sim::Main(static_cast<int>(argv.size()), argv.data());
            std::string listing;
            for (const auto& entry : fs::directory_iterator(small)) {
                listing += entry.path().filename().string() + ";";
            }
            std::ofstream(dir / "result") << runStatus << " " << ReadFile(small + "/old.txt") << listing;
            ::_exit(0);
        });
        return WEXITSTATUS(childStatus) == 77 ? std::string() : ReadFile(dir / "result");
    };
    std::string result = inSmallFilesystem({"--time", "virtual", "--debug-log", small + "/old.txt"});
    if (result.empty()) {
        GTEST_SKIP() << "no private mount namespace here (needs root)";
    }
    EXPECT_EQ(result, "2 previous\nold.txt;");
    EXPECT_NE(ReadFile(dir / "stderr.txt").find("No space left on device"), std::string::npos);

    result = inSmallFilesystem({"--time", "virtual", "--vcd", small + "/old.txt"});
    EXPECT_EQ(result, "2 previous\nold.txt;");  // no .part, no old.gtkw
    EXPECT_NE(ReadFile(dir / "stderr.txt").find("No space left on device"), std::string::npos);
}

// A socket is no output: refused at once, not waited on as a FIFO with no
// reader. A file-size limit is a write error: said, exit 2, nothing left
// behind to block the next run.
TEST_F(SimRunnerTest, ASocketIsRefusedAndAFileSizeLimitFailsTheRunCleanly) {
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir / "sock";
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
    EXPECT_EQ(Run({"--time", "virtual", "--wire", path}), 2);
    EXPECT_EQ(err.str(), "varkel-sim: cannot write " + path + ": it is a socket\n");

    const int status = RunChild({"--time", "virtual", "--quiet", "--wire", dir / "w.txt"}, [&] {
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::dup2(::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(ReadFile(dir / "stderr.txt")
                  .find("varkel-sim: cannot write " + (dir / "w.txt") + ": File too large\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "w.txt.part"));
    EXPECT_FALSE(fs::exists(dir / "w.txt"));
    EXPECT_EQ(Run(Short({"--time", "virtual", "--quiet", "--wire", dir / "w.txt"})), 0);
}

TEST_F(SimRunnerTest, ClosedStandardDescriptorsNeverReceiveAnOutput) {
    const int status = RunChild(Short({"--time", "virtual", "--wire", dir / "w.txt"}), [] {
        ::close(1);
        ::close(2);
    });
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto wire = Lines(ReadFile(dir / "w.txt"));
    ASSERT_EQ(wire.size(), 27u);
    EXPECT_EQ(wire.front(), "0.000002400 0x5A");
}

TEST_F(SimRunnerTest, SignalsEndTheRunWithCompleteFilesEvenWhileAWriteIsBlocked) {
    // SIGPIPE: standard output is a pipe nobody reads any more.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const std::vector<std::string> args = {"--time",      "virtual",        "--wire",
                                           dir / "w.txt", "--summary-json", dir / "s.json"};
    int status = RunChild(
        args,
        [&] {
            ::close(pipeFds[0]);
            ::dup2(pipeFds[1], 1);
            ::dup2(::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        },
        [&](pid_t) {
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
        });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGPIPE);
    const std::size_t frames = Lines(ReadFile(dir / "w.txt")).size();
    EXPECT_GT(frames, 0u);
    EXPECT_EQ(frames % 9, 0u);
    EXPECT_NE(ReadFile(dir / "s.json").find("\"signal\": \"SIGPIPE\""), std::string::npos);
    EXPECT_NE(ReadFile(dir / "s.json").find("\"frames_on_wire\": " + std::to_string(frames) + ","),
              std::string::npos);
    EXPECT_EQ(Last(ReadFile(dir / "stderr.txt")),
              "varkel-sim: FAIL: stopped by SIGPIPE before the run ended");

    // SIGINT and SIGHUP while the console's write is blocked on a full pipe.
    for (const int signal : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        ASSERT_EQ(::pipe(pipeFds), 0);
        status = RunChild(
            args,
            [&] {
                ::close(pipeFds[0]);
                ::dup2(pipeFds[1], 1);
                ::dup2(::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            },
            [&](pid_t child) {
                ::close(pipeFds[1]);
                WaitUntilFull(pipeFds[0], child);  // the console's write now blocks
                ::kill(child, signal);
            });
        ::close(pipeFds[0]);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(Lines(ReadFile(dir / "w.txt")).size() % 9, 0u);
        EXPECT_NE(ReadFile(dir / "s.json").find("\"interrupted\": true"), std::string::npos);
        EXPECT_FALSE(fs::exists(dir / "w.txt.part"));
    }
}

}  // namespace
