// varkel-sim --binary: a board binary run unmodified under the emulator,
// its register windows answered by the simulated board. What the board
// can answer exactly reaches it in order; anything else ends the run with
// the physical address; the binary's kernel refuses as a real one does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/host_platform.h"
#include "tests/test_files.h"
#include "tools/varkel-sim/sim_runner.h"

namespace {

class BinaryRunTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::host::Reset(); }

    // Runs varkel-sim in this process in virtual time on `binary`, every
    // output in the test's folder; its own lines go to `err`.
    int Run(const std::string& binary, std::vector<std::string> options,
            const std::vector<std::string>& programArgs = {}) {
        std::vector<std::string> args = {"--binary",       binary,        "--time",        "virtual",
                                         "--wire",         dir / "w.txt", "--trace",       dir / "t.txt",
                                         "--debug-log",    dir / "d.txt", "--console-log", dir / "c.txt",
                                         "--summary-json", dir / "s.json"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("--");
        args.insert(args.end(), programArgs.begin(), programArgs.end());
        out.str("");
        err.str("");
        return varkel_sim::Run(args, out, err);
    }

    // The line varkel-sim ended the run with, before its summary.
    std::string FirstLine() const { return Lines(err.str()).empty() ? "" : Lines(err.str()).front(); }
    std::string Verdict() const { return Lines(err.str()).empty() ? "" : Lines(err.str()).back(); }

    TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(BinaryRunTest, AWordStoreAndLoadReachTheBoardInTheBinarysOrder) {
    ASSERT_EQ(Run(VARKEL_PROBE, {}, {"word"}), 0) << err.str();
    EXPECT_EQ(ReadFile(dir / "t.txt"),
              "# time_s R/W block register offset physical value [xcount] [status bits]\n"
              "# time_s call what: result\n"
              "0.000000000 call bind physical 0x41900000, 0x00001000 bytes, in no reservation: ok\n"
              "0.000000100 W ssp   data      +0x010 0x41900010 0x0000005A\n"
              "0.000000200 R ssp   status    +0x008 0x41900008 0x00000004 {tx-not-full}\n");
    EXPECT_EQ(ReadFile(dir / "c.txt"), "word: 0x00000004\n");
    // The port was never enabled, so the stored frame is still waiting.
    EXPECT_EQ(Verdict(), "varkel-sim: FAIL: 1 frame never reached the wire (1 left in the transmit FIFO)");
}

TEST_F(BinaryRunTest, EachAccessTheBoardCannotAnswerExactlyEndsTheRunNamingIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"byte",
         "a byte store (host mov) at physical 0x41900010: the board's registers take only aligned 32-bit "
         "loads "
         "and stores"},
        {"halfword",
         "a halfword load (host movzx) at physical 0x41900008: the board's registers take only aligned "
         "32-bit "
         "loads and stores"},
        {"double",
         "a 64-bit load (host mov) at physical 0x41900008: the board's registers take only aligned 32-bit "
         "loads "
         "and stores"},
        {"swap",
         "an exchange (an atomic read and write) (host xchg) at physical 0x41900010: the board's registers "
         "take "
         "only aligned 32-bit loads and stores"},
        {"misaligned",
         "a misaligned 32-bit load at physical 0x4190000A: the board's registers take only aligned 32-bit "
         "loads "
         "and stores"},
        {"thread",
         "an access from a second thread at physical 0x41900008: the board's registers are modelled for one "
         "thread"},
        {"syscall",
         "a system call (write) on the register window at physical 0x41900008: the board answers only the "
         "binary's own loads and stores"},
    };
    for (const auto& [action, line] : cases) {
        SCOPED_TRACE(action);
        EXPECT_EQ(Run(VARKEL_PROBE, {}, {action}), 2);
        EXPECT_EQ(FirstLine(), std::string("varkel-sim: ") + line);
        EXPECT_EQ(Verdict(),
                  "varkel-sim: FAIL: the run ended at what the simulated board cannot perform exactly (said "
                  "above)");
        EXPECT_EQ(ReadFile(dir / "c.txt"), "");  // the binary never went on past it
    }
}

// The nodes are made in a folder of their own outside /tmp (which the
// binary's sandbox replaces), and only ever stat'ed; the probe's open of
// each is refused before it happens.
TEST_F(BinaryRunTest, TheMachinesOwnDevicesAreNeverOpenedForIt) {
    const TempDir nodes("/var/tmp");
    const std::string memory = nodes / "mem", watchdog = nodes / "watchdog";
    if (::mknod(memory.c_str(), S_IFCHR | 0600, makedev(1, 1)) != 0 ||
        ::mknod(watchdog.c_str(), S_IFCHR | 0600, makedev(10, 130)) != 0) {
        GTEST_SKIP() << "cannot make a device node here (needs root): " << std::strerror(errno);
    }
    EXPECT_EQ(Run(VARKEL_PROBE, {}, {"mem", memory}), 2);
    EXPECT_EQ(FirstLine(), "varkel-sim: the binary asked to open " + memory +
                               ", this machine's own memory device: refused, never opened");
    EXPECT_EQ(Run(VARKEL_PROBE, {}, {"mem", watchdog}), 2);
    EXPECT_EQ(FirstLine(), "varkel-sim: the binary asked to open " + watchdog +
                               ", a device of this machine (character 10:130): refused, never opened");
}

TEST_F(BinaryRunTest, CallsNoBoardBinaryMakesAreRefusedBeforeTheyRun) {
    const std::pair<const char*, const char*> cases[] = {
        {"exec",
         "the binary called execve: it would run another program, where the emulator cannot follow it: "
         "refused, never run"},
        {"handle",
         "the binary called name_to_handle_at: it names files by handle, past the binary's own paths"},
        {"socket",
         "the binary called socket, which a board binary and its C library do not call: refused, never "
         "performed"},
        {"fork",
         "the binary started a second process (clone without CLONE_VM, as fork does): the board's registers "
         "are modelled for one process"},
    };
    for (const auto& [call, line] : cases) {
        SCOPED_TRACE(call);
        EXPECT_EQ(Run(VARKEL_PROBE, {}, {"call", call}), 2);
        EXPECT_EQ(FirstLine(), std::string("varkel-sim: ") + line);
        EXPECT_EQ(ReadFile(dir / "c.txt"), "");  // the probe never saw the call return
    }
}

// The binary writes a file in this machine's tree, refused by its
// read-only mount, and one in /tmp, which is its own and gone after.
TEST_F(BinaryRunTest, NothingTheBinaryWritesReachesThisMachine) {
    ASSERT_FALSE(std::filesystem::exists("/tmp/varkel-probe"));
    ASSERT_EQ(Run(VARKEL_PROBE, {}, {"escape"}), 0) << err.str();
    EXPECT_EQ(ReadFile(dir / "c.txt"), "machine: Read-only file system\ntmp: 0\n");
    EXPECT_FALSE(std::filesystem::exists("/tmp/varkel-probe"));
    for (const auto& entry : std::filesystem::directory_iterator("/var/tmp")) {
        EXPECT_EQ(entry.path().filename().string().rfind("varkel-probe-", 0), std::string::npos)
            << entry.path();
    }
}

// Each case: the probe's arguments, varkel-sim's exit status, the probe's
// console, and the first line varkel-sim said, if it refused.
struct KernelCase {
    std::vector<std::string> args;
    int status;
    const char* console;
    const char* refusal;
};

TEST_F(BinaryRunTest, MappingsOfDevMemAreWhatTheKernelMakesThem) {
    const KernelCase cases[] = {
        // A descriptor without write access maps for reading only.
        {{"map", "ro", "rw", "shared", "read"}, 1, "mmap: Permission denied\n", nullptr},
        {{"map", "wo", "r", "shared", "none"}, 1, "mmap: Permission denied\n", nullptr},
        {{"map", "ro", "r", "shared", "read"}, 0, "mmap: 0\nstatus: 0x00000004\n", nullptr},
        // A store to a read-only window faults, as on the board.
        {{"map", "ro", "r", "shared", "write"}, 128 + SIGSEGV, "mmap: 0\n", nullptr},
        {{"protect"}, 128 + SIGSEGV, "mprotect: 0\nstatus: 0x00000004\n", nullptr},
        {{"protect-up"}, 1, "mprotect: Permission denied\n", nullptr},
        {{"unmap"}, 128 + SIGSEGV, "munmap: 0\n", nullptr},
        {{"map", "rw", "r", "private", "read"},
         2,
         "",
         "a private mapping (MAP_PRIVATE) of /dev/mem at physical 0x41900000: the board would never see its "
         "stores"},
        {{"remap"},
         2,
         "",
         "the binary moved or resized the register window at physical 0x41900000 (mremap): not modelled"},
    };
    for (const KernelCase& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] + " " + c.args[4] : ""));
        EXPECT_EQ(Run(VARKEL_PROBE, {}, c.args), c.status) << err.str();
        EXPECT_EQ(ReadFile(dir / "c.txt"), c.console);
        if (c.refusal != nullptr) {
            EXPECT_EQ(FirstLine(), std::string("varkel-sim: ") + c.refusal);
        }
    }
    // The window unmapped is given back, and its store never reached the board.
    Run(VARKEL_PROBE, {}, {"unmap"});
    EXPECT_EQ(ReadFile(dir / "t.txt"),
              "# time_s R/W block register offset physical value [xcount] [status bits]\n"
              "# time_s call what: result\n"
              "0.000000000 call bind physical 0x41900000, 0x00001000 bytes, in no reservation: ok\n"
              "0.000000000 call release no reservation: ok\n");
}

TEST_F(BinaryRunTest, CallsOnDevMemItselfAreRefusedNamingTheCallAndTheAddress) {
    const std::pair<const char*, const char*> cases[] = {
        {"read", "a system call (read) on /dev/mem itself, at physical 0x00000000"},
        {"write", "a system call (write) on /dev/mem itself, at physical 0x00000000"},
        {"pread", "a system call (pread64) on /dev/mem itself, at physical 0x41900008"},
        {"pwrite", "a system call (pwrite64) on /dev/mem itself, at physical 0x41900010"},
        {"lseek", "a system call (_llseek) on /dev/mem itself, at physical 0x41900000"},
    };
    for (const auto& [call, line] : cases) {
        SCOPED_TRACE(call);
        EXPECT_EQ(Run(VARKEL_PROBE, {}, {"device", call}), 2);
        EXPECT_EQ(FirstLine(), std::string("varkel-sim: ") + line +
                                   ": the board answers only loads and stores in a mapped window");
    }
    for (const char* call : {"fstat", "ioctl"}) {
        SCOPED_TRACE(call);
        EXPECT_EQ(Run(VARKEL_PROBE, {}, {"device", call}), 2);
        EXPECT_NE(
            FirstLine().find("on /dev/mem itself: the simulated board stands in for it only where it is "
                             "mapped"),
            std::string::npos)
            << FirstLine();
    }
    for (const char* call : {"ftruncate", "fallocate"}) {
        EXPECT_EQ(Run(VARKEL_PROBE, {}, {"device", call}), 2);
        EXPECT_EQ(FirstLine(), std::string("varkel-sim: the binary called ") + call +
                                   ", which a board binary and its C library do not call: refused, never "
                                   "performed");
    }
}

TEST_F(BinaryRunTest, PausesAreTheKernelsOrRefused) {
    const KernelCase cases[] = {
        {{"sleep", "negative"}, 1, "nanosleep: Invalid argument\n", nullptr},
        {{"sleep", "nsec"}, 1, "nanosleep: Invalid argument\n", nullptr},
        // Board time never wraps: the third pause of 68 years is refused.
        {{"sleep", "huge"},
         2,
         "nanosleep: 0\nnanosleep: 0\n",
         "the binary slept past what the simulated board's time holds (2^62 ns, about 146 years)"},
        {{"sleep", "cputime"},
         2,
         "",
         "the binary slept on clock -6, which board time does not model (only the real-time, monotonic, "
         "boot-time and atomic clocks)"},
        {{"sleep", "select"},
         2,
         "",
         "the binary called pselect6: it waits with a timeout, which board time does not model"},
        {{"sleep", "poll"},
         2,
         "",
         "the binary called poll: it waits with a timeout, which board time does not model"},
    };
    for (const KernelCase& c : cases) {
        SCOPED_TRACE(c.args[1]);
        EXPECT_EQ(Run(VARKEL_PROBE, {}, c.args), c.status) << err.str();
        EXPECT_EQ(ReadFile(dir / "c.txt"), c.console);
        if (c.refusal != nullptr) {
            EXPECT_EQ(FirstLine(), std::string("varkel-sim: ") + c.refusal);
        }
    }
    Run(VARKEL_PROBE, {}, {"sleep", "huge"});
    EXPECT_NE(ReadFile(dir / "s.json").find("\"simulated_ns\": 4294967294000000000"), std::string::npos)
        << ReadFile(dir / "s.json");
}

TEST_F(BinaryRunTest, EveryFaultOfTheKernelHoldsForEverySpellingOfDevMem) {
    for (const char* way : {"dotted", "slashes", "relative", "at", "link", "rel-link"}) {
        SCOPED_TRACE(way);
        EXPECT_EQ(Run(VARKEL_PROBE, {}, {"open", way}), 0) << err.str();
        EXPECT_EQ(ReadFile(dir / "c.txt"), "open: 0\nstatus: 0x00000004\n");
        EXPECT_EQ(Run(VARKEL_PROBE, {"--fault", "devmem-refused"}, {"open", way}), 1);
        EXPECT_EQ(ReadFile(dir / "c.txt"), "open: Permission denied\n");
        EXPECT_EQ(Run(VARKEL_PROBE, {"--fault", "devmem-missing"}, {"open", way}), 1);
        EXPECT_EQ(ReadFile(dir / "c.txt"), "open: No such file or directory\n");
        EXPECT_EQ(Verdict().find("never fired"), std::string::npos) << Verdict();
    }
    EXPECT_EQ(Run(VARKEL_PROBE, {"--fault", "devmem-missing"}, {"open", "create"}), 2);
    EXPECT_EQ(
        FirstLine(),
        "varkel-sim: the binary created /dev/mem where its kernel has no /dev/mem: on the board that makes "
        "a plain file, which no register sees: refused");
}

TEST_F(BinaryRunTest, KernelFaultsThatNeverFireAreNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"devmem-missing", "devmem-missing never fired: the program never opened /dev/mem"},
        {"devmem-refused", "devmem-refused never fired: the program never opened /dev/mem"},
        {"devmem-strict", "devmem-strict never fired: the program never mapped /dev/mem"},
    };
    for (const auto& [fault, line] : cases) {
        SCOPED_TRACE(fault);
        EXPECT_EQ(Run(VARKEL_BOARD_BINARY, {"--fault", fault}, {"--help"}), 0);
        EXPECT_EQ(Verdict(), std::string("varkel-sim: FAIL: fault ") + line);
    }
}

// An ELF file the emulator cannot map: its first loaded segment's address
// is not at its offset within a page.
TEST_F(BinaryRunTest, AFileTheEmulatorCannotLoadIsSaidToBeThat) {
    std::string image = ReadFile(VARKEL_PROBE);
    std::uint32_t phoff = 0;
    std::memcpy(&phoff, image.data() + 0x1c, 4);
    std::uint16_t size = 0, count = 0;
    std::memcpy(&size, image.data() + 0x2a, 2);
    std::memcpy(&count, image.data() + 0x2c, 2);
    for (std::uint16_t i = 0; i < count; ++i) {
        char* header = image.data() + phoff + i * size;
        std::uint32_t type = 0, vaddr = 0;
        std::memcpy(&type, header, 4);
        std::memcpy(&vaddr, header + 8, 4);
        if (type == 1 /* PT_LOAD */) {
            vaddr += 0x123;
            std::memcpy(header + 8, &vaddr, 4);
            break;
        }
    }
    std::ofstream(dir / "unloadable", std::ios::binary) << image;
    EXPECT_EQ(Run(dir / "unloadable", {}, {"word"}), 2);
    EXPECT_EQ(FirstLine(), "varkel-sim: the emulator could not load the binary; its own message is above");
    EXPECT_EQ(Verdict(), "varkel-sim: FAIL: the binary could not be run (said above)");
}

TEST_F(BinaryRunTest, SleepsTakeBoardTimeAndTheBinarysClockReadsIt) {
    // 1.5 s, 1.5 s and to a deadline 0.25 s on: board time, not the host's.
    ASSERT_EQ(Run(VARKEL_PROBE, {}, {"clock"}), 0) << err.str();
    EXPECT_EQ(ReadFile(dir / "c.txt"), "clock: 0 3250000000\n");
    EXPECT_NE(err.str().find("varkel-sim: board time: 3.250000000 s\n"), std::string::npos);
}

TEST_F(BinaryRunTest, ACrashIsTheProgramsAndLeavesNoCoreFile) {
    // In a child whose working folder is the test's, where a core file would go.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(99);
        }
        const int log = ::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, 2);
        ::execl(VARKEL_SIM_BINARY, "varkel-sim", "--binary", VARKEL_PROBE, "--time", "virtual", "--quiet",
                "--summary-json", "s.json", "--", "crash", nullptr);
        ::_exit(98);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGSEGV);
    EXPECT_EQ(Lines(ReadFile(dir / "err.txt")).back(), "varkel-sim: FAIL: the program was killed by SIGSEGV");
    const std::string json = ReadFile(dir / "s.json");
    EXPECT_NE(json.find("\"program_exit_status\": null,\n  \"program_killed_by\": \"SIGSEGV\""),
              std::string::npos);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"err.txt", "s.json"}));
}

TEST_F(BinaryRunTest, TheKernelsRefusalsGiveTheBinarysOwnLines) {
    struct Case {
        const char* fault;
        const char* line;   // the board backend's, before the program's own
        const char* calls;  // the trace: the platform calls, and no register access
    };
    constexpr const char* kFirstGivenBack =
        "0.000000000 call reserve 0x00001000 bytes: reservation 1\n"
        "0.000000000 call release reservation 1: ok\n";
    const Case cases[] = {
        {"devmem-missing", "varkel: cannot open /dev/mem for 0x40E00000: No such file or directory",
         kFirstGivenBack},
        {"devmem-refused", "varkel: cannot open /dev/mem for 0x40E00000: Permission denied (run as root)",
         kFirstGivenBack},
        {"devmem-strict",
         "varkel: cannot map /dev/mem for 0x40E00000: Operation not permitted (the kernel keeps this block "
         "for "
         "the driver that owns it: unbind that driver, or boot with iomem=relaxed)",
         "0.000000000 call reserve 0x00001000 bytes: reservation 1\n"
         "0.000000000 call bind physical 0x40E00000, 0x00001000 bytes, in reservation 1: refused\n"
         "0.000000000 call release reservation 1: ok\n"},
        {"bind:2",
         "varkel: cannot map /dev/mem for 0x41900000: Operation not permitted (the kernel keeps this block "
         "for "
         "the driver that owns it: unbind that driver, or boot with iomem=relaxed)",
         "0.000000000 call reserve 0x00001000 bytes: reservation 1\n"
         "0.000000000 call bind physical 0x40E00000, 0x00001000 bytes, in reservation 1: ok\n"
         "0.000000000 call reserve 0x00001000 bytes: reservation 2\n"
         "0.000000000 call bind physical 0x41900000, 0x00001000 bytes, in reservation 2: refused\n"
         "0.000000000 call release reservation 2: ok\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Run(VARKEL_BOARD_BINARY, {"--fault", c.fault}), 1);
        const auto debug = Lines(ReadFile(dir / "d.txt"));
        ASSERT_GE(debug.size(), 5u);
        EXPECT_EQ(debug[3], c.line);
        EXPECT_EQ(debug[4], "\tMapPhysicalAddr : return false from VirtualCopy(). \r");
        EXPECT_EQ(Verdict(),
                  "varkel-sim: FAIL: the program stopped early (exit status 1: a register block could "
                  "not be mapped)");
        EXPECT_EQ(ReadFile(dir / "t.txt"),
                  std::string("# time_s R/W block register offset physical value [xcount] [status bits]\n"
                              "# time_s call what: result\n") +
                      c.calls);
    }
    // A kernel's refusal needs a kernel: the program built in has none.
    EXPECT_EQ(varkel_sim::Run({"--fault", "devmem-missing"}, out, err), 2);
}

TEST_F(BinaryRunTest, FilesThatAreNotBoardBinariesAreRefusedBeforeAnythingIsWritten) {
    std::ofstream(dir / "notes.txt") << "not a program\n";
    std::ofstream(dir / "empty");
    std::filesystem::create_directory(dir / "folder");
    const std::pair<std::string, std::string> cases[] = {
        {dir / "missing", "cannot read " + (dir / "missing") + ": No such file or directory"},
        {dir / "folder", dir / "folder" + " is not a regular file, so not a board binary"},
        {dir / "notes.txt", dir / "notes.txt" + " is not an ELF executable"},
        {dir / "empty", dir / "empty" + " is not an ELF executable"},
        {"/proc/self/exe", "/proc/self/exe is a 64-bit executable; the board runs 32-bit ARM"},
    };
    for (const auto& [path, line] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Run(path, {}), 2);
        EXPECT_EQ(err.str(), "varkel-sim: " + line + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir / "w.txt"));
        EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));
    }
}

TEST_F(BinaryRunTest, TheSummaryNamesTheBinaryAndItsSha256AsSha256sumDoes) {
    ASSERT_EQ(Run(VARKEL_PROBE, {}, {"word"}), 0);
    std::string sum;
    FILE* pipe =
        ::popen((std::string("sha256sum '") + VARKEL_PROBE + "'").c_str(), "r");  // the path may hold spaces
    ASSERT_NE(pipe, nullptr);
    char buffer[128] = {};
    if (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        sum = std::string(buffer).substr(0, 64);
    }
    ::pclose(pipe);
    ASSERT_EQ(sum.size(), 64u);
    EXPECT_EQ(FirstLine(), std::string("varkel-sim: binary: ") + VARKEL_PROBE + " (sha256 " + sum + ")");
    EXPECT_NE(ReadFile(dir / "s.json")
                  .find(std::string("\"binary\": {\"path\": \"") + VARKEL_PROBE + "\", \"sha256\": \"" + sum +
                        "\"}"),
              std::string::npos);
}

TEST_F(BinaryRunTest, TheEmulatorsOwnSettingsInTheEnvironmentChangeNothing) {
    ::setenv("QEMU_STRACE", "1", 1);
    const int status = Run(VARKEL_PROBE, {}, {"word"});
    ::unsetenv("QEMU_STRACE");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(err.str().find("mmap2("), std::string::npos) << err.str();
    EXPECT_EQ(ReadFile(dir / "c.txt"), "word: 0x00000004\n");
}

// A run stopped by a signal ends the emulator with it, and completes its
// outputs. The test waits for the binary's first message, then stops it.
TEST_F(BinaryRunTest, ASignalStopsTheRunAndTheEmulatorWithIt) {
    int console[2];
    ASSERT_EQ(::pipe(console), 0);
    const std::string tmp = dir / "tmp";
    std::filesystem::create_directory(tmp);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(console[0]);
        ::dup2(console[1], 1);
        const int log = ::open((dir / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, 2);
        ::setenv("TMPDIR", tmp.c_str(), 1);  // where the emulator's working folder goes
        ::execl(VARKEL_SIM_BINARY, "varkel-sim", "--binary", VARKEL_BOARD_BINARY, "--time", "real", "--wire",
                (dir / "w.txt").c_str(), nullptr);
        ::_exit(98);
    }
    ::close(console[1]);
    std::string text;
    char buffer[256];
    ssize_t n = 0;
    while (text.find("Sending SSP Message\n") == std::string::npos &&
           (n = ::read(console[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::kill(child, SIGINT);
    while (::read(console[0], buffer, sizeof buffer) > 0) {
    }
    ::close(console[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    EXPECT_EQ(Lines(ReadFile(dir / "err.txt")).back(),
              "varkel-sim: FAIL: stopped by SIGINT before the run ended");
    EXPECT_FALSE(std::filesystem::exists(dir / "w.txt.part"));
    EXPECT_TRUE(std::filesystem::exists(dir / "w.txt"));
    // The emulator is gone, and its working folder with it.
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string cmdline = ReadFile(entry.path().string() + "/cmdline");
        EXPECT_EQ(cmdline.find(tmp), std::string::npos) << "still running: " << entry.path();
    }
}

// The board preset's file with its build line patched (the text is wide:
// four bytes a character): each form that differs from the program's is
// caught, the file unchanged compares identical.
TEST_F(BinaryRunTest, CompareCatchesABuildLineOfAnotherForm) {
    const auto wide = [](const std::string& text) {
        std::string bytes;
        for (const char c : text) {
            bytes += std::string{c, '\0', '\0', '\0'};
        }
        return bytes;
    };
    const std::string image = ReadFile(VARKEL_BOARD_BINARY);
    const std::string line = wide("built %s %s\r\n");
    ASSERT_NE(image.find(line), std::string::npos);
    const std::pair<const char*, std::string> forms[] = {
        {"ends in a bare line feed", wide("built %s %s\n") + std::string(4, '\0')},
        {"has no time", wide("built %s\r\n") + std::string(12, '\0')},
        {"joins date and time", wide("built %s-%s\r\n")},
    };
    const std::vector<std::string> early = {"--fault", "reserve:1"};  // the banner, then a stop
    std::vector<std::string> args = {"--binary", VARKEL_BOARD_BINARY, "--compare"};
    args.insert(args.end(), early.begin(), early.end());
    ASSERT_EQ(varkel_sim::Run(args, out, err), 0) << err.str();
    for (const auto& [what, patch] : forms) {
        SCOPED_TRACE(what);
        std::string patched = image;
        patched.replace(patched.find(line), line.size(), patch);
        const std::string file = dir / "patched";
        std::filesystem::remove(file);
        std::ofstream(file, std::ios::binary) << patched;
        args[1] = file;
        err.str("");
        EXPECT_EQ(varkel_sim::Run(args, out, err), 1);
        EXPECT_NE(
            err.str().find("varkel-sim: --compare: different: the debug channel differs first at line 3: " +
                           file + " has \"  431806-52774 built "),
            std::string::npos)
            << err.str();
    }
}

TEST_F(BinaryRunTest, CompareRefusesWhatItCannotHold) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--compare"}, "--compare needs --binary FILE: it holds that file against the program built in"},
        {{"--binary", VARKEL_BOARD_BINARY, "--compare", "--wire", "w.txt"},
         "--compare writes no outputs: it compares its own (drop --wire, --vcd, --trace, --debug-log, "
         "--console-log, --summary-json)"},
        {{"--binary", VARKEL_BOARD_BINARY, "--compare", "--time", "real"}, "--compare runs in virtual time"},
        {{"--binary", VARKEL_BOARD_BINARY, "--compare", "--fault", "devmem-strict"},
         "--compare cannot hold fault 'devmem-strict' against the program built in, which has no kernel"},
    };
    for (const auto& [args, line] : cases) {
        SCOPED_TRACE(line);
        err.str("");
        EXPECT_EQ(varkel_sim::Run(args, out, err), 2);
        EXPECT_EQ(err.str(), std::string("varkel-sim: ") + line + "\n");
    }
}

}  // namespace
