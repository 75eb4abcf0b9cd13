// varkel-sim as a user drives it: options, output files, summary.
#include "tools/varkel-sim/sim_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/host_platform.h"
#include "tests/board_fixture.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class SimRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("varkel-runner-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        host::Reset();
        fs::remove_all(dir);
    }

    // Runs varkel-sim with the program's console and debug output in files,
    // as a script would.
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        return RunSimulatorQuietly(args, (dir / "console.txt").string(), (dir / "stderr.txt").string(), out,
                                   err);
    }
    std::string Path(const char* name) const { return (dir / name).string(); }

    fs::path dir;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(SimRunnerTest, BadInputIsOneLineAndStatusTwoWithNothingRun) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--time"},
        {"--time", "fast"},
        {"--fault", "melt"},
        {"--fault", "reserve:0"},
        {"--fault", "bind:x"},
        {"--fault", "tx-slow"},
        {"--wire"},
        {"--loopback=yes"},
        {"stray-argument"},
        {"--wire", Path("w.txt"), "--vcd", Path("missing/dir/x.vcd")},
        {"--wire", Path("w.txt"), "--trace", Path("w.txt")},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.front());
        EXPECT_EQ(Run(args), 2);
        const auto lines = Lines(err.str());
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("varkel-sim: ", 0), 0u);
        EXPECT_TRUE(out.str().empty());
        EXPECT_EQ(ReadFile(dir / "console.txt"), "");
    }
    EXPECT_FALSE(fs::exists(dir / "w.txt"));
    EXPECT_FALSE(fs::exists(dir / "w.txt.part"));
}

TEST_F(SimRunnerTest, TimeIsRealUnlessAskedOtherwise) {
    std::string error;
    EXPECT_EQ(runner::ParseOptions({}, error)->board.time, sim::TimeMode::Real);
    EXPECT_EQ(runner::ParseOptions({"--time=virtual"}, error)->board.time, sim::TimeMode::Virtual);
    EXPECT_EQ(runner::ParseOptions({"--time", "virtual", "--time", "real"}, error)->board.time,
              sim::TimeMode::Real);
}

TEST_F(SimRunnerTest, HelpAndVersion) {
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out.str().find("--fault SPEC"), std::string::npos);
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(out.str().rfind("varkel-sim ", 0), 0u);
}

TEST_F(SimRunnerTest, VirtualRunWritesTheWholeWireAndAMatchingSummary) {
    ASSERT_EQ(Run({"--time", "virtual", "--wire", Path("w.txt"), "--debug-log", Path("debug.txt"),
                   "--summary-json", Path("summary.json")}),
              0);
    const auto wire = Lines(ReadFile(dir / "w.txt"));
    ASSERT_EQ(wire.size(), 90000u);
    const char* message[] = {"0x5A", "0x45", "0x4C", "0x20", "0x4E", "0x53", "0x53", "0x50", "0x00"};
    std::size_t bad = 0;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        const std::string& line = wire[i];
        bad += line.size() < 5 || line.compare(line.size() - 4, 4, message[i % 9]) != 0 ? 1 : 0;
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(wire[0].find(' '), wire[0].size() - 5);  // "<seconds> 0xNN"
    EXPECT_FALSE(fs::exists(dir / "w.txt.part"));

    const std::string json = ReadFile(dir / "summary.json");
    EXPECT_NE(json.find("\"frames_on_wire\": 90000,"), std::string::npos);
    EXPECT_NE(json.find("\"sends_gave_up\": 0,"), std::string::npos);
    EXPECT_NE(json.find("\"frames_dropped\": 0,"), std::string::npos);
    EXPECT_NE(err.str().find("varkel-sim: frames put on the wire: 90000\n"), std::string::npos);

    const auto console = Lines(ReadFile(dir / "console.txt"));
    EXPECT_EQ(console.size(), 10001u);
    const std::string debug = ReadFile(dir / "debug.txt");
    EXPECT_EQ(debug.substr(debug.size() - 14), " NSSP: Done \r\n");
}

TEST_F(SimRunnerTest, LoopbackJumperFeedsTheReceiveSide) {
    ASSERT_EQ(Run({"--time", "virtual", "--loopback", "--debug-log", Path("debug.txt")}), 0);
    // Nothing reads the port, so the first sixteen frames fill the receive FIFO.
    EXPECT_NE(err.str().find("varkel-sim: frames received: 16 (dropped at a full receive FIFO: 89984)\n"),
              std::string::npos);
}

TEST_F(SimRunnerTest, RefusedWindowExitsOneAndSaysWhich) {
    EXPECT_EQ(Run({"--time", "virtual", "--fault", "bind:3", "--debug-log", Path("debug.txt")}), 1);
    const std::string debug = ReadFile(dir / "debug.txt");
    EXPECT_NE(debug.find("\tMapPhysicalAddr : return false from VirtualCopy(). \r\n"
                         " Error 'cause v_pClkRegs == NULL \r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir / "console.txt"), "hit c to contine \n");
}

TEST_F(SimRunnerTest, InterruptedRunLeavesCompleteFiles) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        std::vector<std::string> args = {"varkel-sim",  "--time",         "real",
                                         "--wire",      Path("w.txt"),    "--vcd",
                                         Path("w.vcd"), "--summary-json", Path("s.json")};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::_exit(runner::Main(static_cast<int>(args.size()), argv.data()));
    }
    // Two messages go out, a second apart; stop it during the second pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);

    // A slow machine may have sent one message only; what was sent is whole.
    const std::size_t frames = Lines(ReadFile(dir / "w.txt")).size();
    EXPECT_TRUE(frames == 9 || frames == 18) << frames;
    const std::string vcd = ReadFile(dir / "w.vcd");
    EXPECT_EQ(vcd.substr(vcd.rfind('\n', vcd.size() - 2) + 1, 1), "#");
    const std::string json = ReadFile(dir / "s.json");
    EXPECT_NE(json.find("\"interrupted\": true"), std::string::npos);
    EXPECT_NE(json.find("\"frames_on_wire\": " + std::to_string(frames) + ","), std::string::npos);
    for (const char* part : {"w.txt.part", "w.vcd.part", "s.json.part"}) {
        EXPECT_FALSE(fs::exists(dir / part)) << part;
    }
}

}  // namespace
