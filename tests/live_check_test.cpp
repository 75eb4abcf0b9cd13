// varkel-check acquiring live through libsigrok, from its demo driver: a
// real driver with no hardware behind it. It stops on each limit and on
// Ctrl-C, gives a verdict for what it saw, and holds its memory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace {

struct Child {
    int status = 0;
    long maxRssKb = 0;
    std::string out, err;
};

// Runs varkel-check with `args`; once its standard error holds `waitFor`,
// `then` runs (given the child's pid).
Child Spawn(const std::vector<std::string>& args, const std::string& waitFor = {},
            void (*then)(pid_t) = nullptr) {
    int out[2], err[2];
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A sanitizer's quarantine holds freed memory for a while, which
        // would read as growth; it is not the tool's memory.
        const char* asan = std::getenv("ASAN_OPTIONS");
        ::setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":quarantine_size_mb=0").c_str(),
                 1);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        std::vector<char*> argv = {const_cast<char*>(VARKEL_CHECK_BINARY)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(VARKEL_CHECK_BINARY, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    Child c;
    bool done = waitFor.empty();
    char buffer[4096];
    for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) > 0;) {  // stderr first: it says when
        c.err.append(buffer, static_cast<std::size_t>(n));
        if (!done && c.err.find(waitFor) != std::string::npos) {
            done = true;
            if (then != nullptr) {
                then(pid);
            }
        }
    }
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        c.out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    ::close(err[0]);
    rusage usage{};
    ::wait4(pid, &c.status, 0, &usage);
    c.maxRssKb = usage.ru_maxrss;
    return c;
}

// The end of the capture's time, from its details.
double EndSeconds(const std::string& out) {
    std::smatch m;
    const std::regex to(R"(s to ([0-9.]+) s)");
    return std::regex_search(out, m, to) ? std::stod(m[1]) : -1;
}

class LiveCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string version = Spawn({"--version"}).out;
        if (version.find("\nlive acquisition: libsigrok 0.") == std::string::npos) {
            if (std::getenv("VARKEL_REQUIRE_SIGROK") != nullptr) {
                FAIL() << "varkel-check must acquire here, but says: " << version;
            }
            GTEST_SKIP() << "varkel-check was built without libsigrok (Debian package libsigrok-dev)";
        }
    }
    const std::vector<std::string> demo = {"--driver", "demo",       "--samplerate",
                                           "1m",       "--channels", "D0=sclk,D1=sfrm,D2=txd"};
    std::vector<std::string> With(std::vector<std::string> more) const {
        std::vector<std::string> all = demo;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
};

TEST_F(LiveCheckTest, ASecondFromTheDemoDriverGetsAVerdictInBoundedMemory) {
    const Child shortRun = Spawn(With({"--time", "500"}));  // milliseconds, as sigrok-cli reads it
    ASSERT_TRUE(WIFEXITED(shortRun.status));
    EXPECT_EQ(WEXITSTATUS(shortRun.status), 1) << shortRun.err;  // its pattern is no program's message
    EXPECT_EQ(shortRun.out.rfind("varkel-check: mismatch", 0), 0u) << shortRun.out;
    EXPECT_NE(shortRun.out.find("(live acquisition, demo at 1 MHz)"), std::string::npos) << shortRun.out;
    EXPECT_NE(shortRun.err.find("varkel-check: acquiring: demo at 1 MHz"), std::string::npos) << shortRun.err;
    EXPECT_NEAR(EndSeconds(shortRun.out), 0.5, 0.05);

    // sigrok-cli's spellings: a device setting, the channels, a count of
    // samples that cuts the last packet to it.
    const Child counted =
        Spawn({"-d", "demo", "-c", "samplerate=1m", "-C", "D0=sclk,D1=sfrm,D2=txd", "--samples", "250000"});
    EXPECT_EQ(WEXITSTATUS(counted.status), 1) << counted.err;
    EXPECT_NE(counted.out.find(" 0.000000 s to 0.250000 s\n"), std::string::npos) << counted.out;

    // Six times as long, in the same memory: nothing is kept as it goes.
    const Child longRun = Spawn(With({"--time", "3s"}));
    EXPECT_EQ(WEXITSTATUS(longRun.status), 1);
    EXPECT_NEAR(EndSeconds(longRun.out), 3, 0.05);
    EXPECT_LT(longRun.maxRssKb, shortRun.maxRssKb + 4096)
        << shortRun.maxRssKb << " KB, then " << longRun.maxRssKb;
}

TEST_F(LiveCheckTest, AMessageCountEndsItAndCtrlCGivesTheVerdictForWhatWasSeen) {
    const Child counted = Spawn(With({"--messages", "20", "--time", "60s"}));
    EXPECT_EQ(WEXITSTATUS(counted.status), 1);
    EXPECT_LT(EndSeconds(counted.out), 30);  // ended by the count, long before the time
    std::smatch m;
    ASSERT_TRUE(std::regex_search(counted.out, m, std::regex(R"(messages: (\d+) complete)")));
    EXPECT_GE(std::stoul(m[1]), 20u);

    const Child stopped =
        Spawn(With({"--time", "60s"}), "varkel-check: acquiring:", [](pid_t pid) { ::kill(pid, SIGINT); });
    ASSERT_TRUE(WIFEXITED(stopped.status)) << stopped.err;
    EXPECT_EQ(WEXITSTATUS(stopped.status), 1);
    EXPECT_EQ(stopped.out.rfind("varkel-check: mismatch", 0), 0u) << stopped.out;
    EXPECT_LT(EndSeconds(stopped.out), 30);
}

TEST_F(LiveCheckTest, AnAnalyserThatStopsSendingMidRunGetsTheVerdictForWhatWasSeenAndExitTwo) {
    // The demo driver told to stop by itself, as an unplugged analyser does.
    const Child c = Spawn({"--driver", "demo:limit_samples=250k", "--samplerate", "1m", "--channels",
                           "D0=sclk,D1=sfrm,D2=txd", "--time", "10s"});
    EXPECT_EQ(WEXITSTATUS(c.status), 2);
    EXPECT_EQ(c.out.rfind("varkel-check: mismatch", 0), 0u) << c.out;
    EXPECT_NEAR(EndSeconds(c.out), 0.25, 0.001);
    EXPECT_EQ(
        Lines(c.err).back(),
        "varkel-check: the analyser stopped sending after 0.250 s (unplugged?): the verdict is for what was "
        "seen");
}

TEST_F(LiveCheckTest, MismatchWindowsAreSessionsBesideTheUsersFilesAtMostTwenty) {
    TempDir dir;
    const std::string old = dir.path() + "/mismatch-0001.sr";
    {
        std::FILE* f = std::fopen(old.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("the user's own\n", f);
        std::fclose(f);
    }
    const Child c = Spawn(With({"--time", "300ms", "--save-mismatches", dir.path()}));
    EXPECT_EQ(WEXITSTATUS(c.status), 1);
    EXPECT_NE(
        c.err.find("varkel-check: saved 20 mismatch window(s), from " + dir.path() + "/mismatch-0002.sr"),
        std::string::npos)
        << c.err;
    EXPECT_NE(c.err.find("more wrong message(s) not saved (at most 20 are kept)"), std::string::npos)
        << c.err;
    EXPECT_EQ(ReadFile(old), "the user's own\n");
    for (int n = 2; n <= 21; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/mismatch-%04d.sr", n);
        const Child window =
            Spawn({dir.path() + name});  // a session varkel-check reads: a verdict, not exit 2
        EXPECT_EQ(WEXITSTATUS(window.status), 1) << name << ": " << window.err;
    }
    EXPECT_NE(::access((dir.path() + "/mismatch-0022.sr").c_str(), F_OK), 0);

    const Child notAFolder = Spawn(With({"--time", "300ms", "--save-mismatches", old}));
    EXPECT_EQ(WEXITSTATUS(notAFolder.status), 2);
    EXPECT_EQ(notAFolder.out, "");
    EXPECT_EQ(notAFolder.err,
              "varkel-check: " + old + " is not a folder varkel-check may write in (--save-mismatches)\n");
}

// As sigrok-cli's --scan: each analyser with what -d needs to reach it.
TEST_F(LiveCheckTest, ScanListsTheAnalysersAsSigrokCliDoes) {
    const Child demoOnly = Spawn({"-d", "demo", "--scan"});
    EXPECT_EQ(WEXITSTATUS(demoOnly.status), 0) << demoOnly.err;
    EXPECT_EQ(demoOnly.out.rfind("demo - Demo device with ", 0), 0u) << demoOnly.out;
    EXPECT_NE(demoOnly.out.find(" channels: D0 D1 D2 "), std::string::npos) << demoOnly.out;
    const LibsigrokLeaksIgnored leaks;
    const Child all = Spawn({"--scan"});
    EXPECT_EQ(WEXITSTATUS(all.status), 0) << all.err;
    EXPECT_NE(all.out.find(demoOnly.out), std::string::npos) << all.out;
}

TEST_F(LiveCheckTest, WhatCannotBeAcquiredIsOneLineAndExitTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--driver", "no-such-analyser", "--time", "1s"}, "libsigrok has no driver 'no-such-analyser'"},
        {{"--driver", "demo", "--time", "1s"},
         "no channel of the demo analyser carries sclk (it has: D0, D1,"},
        {With({"--samplerate", "7q"}),
         "--samplerate takes a rate from 1 to 1g (1 GHz), such as 8m or 24000000, not '7q'"},
        {With({"--samplerate", "100g", "--time", "200"}), "--samplerate takes a rate from 1 to 1g (1 GHz)"},
        {{"-d", "demo", "-c", "samplerate=100g", "--time", "200"},
         "samplerate takes a rate from 1 to 1g (1 GHz)"},
        // --channels against the lines' names, whichever comes first.
        {With({"--sclk", "clk"}), "option --channels takes CH=LINE pairs, each line once, as D0=clk,"},
        {{"--driver", "demo", "--sclk", "clk", "--channels", "D0=sclk,D1=sfrm,D2=txd"},
         "option --channels takes CH=LINE pairs, each line once, as D0=clk,"},
        {{"--driver", "demo", "--sclk", "sfrm"}, "--sclk and --sfrm name one signal, 'sfrm'"},
        {{"--driver", "demo:no_such_option=1"}, "libsigrok has no driver option 'no_such_option'"},
        {{"--time", "1s", "x.sr"},
         "--time, --samples, --messages, --until-done, --samplerate, --config and --save-mismatches are for "
         "--driver"},
        {{"-c", "samplerate=1m", "x.sr"}, "are for --driver"},
        {{"-d", "demo", "-c", "samplerate=1m::"}, "option --config takes KEY=VALUE settings joined by ':'"},
        {With({"--samples", "0"}), "option --samples takes a whole number from 1 to 1000000000000, not '0'"},
        {{"--driver", "demo", "x.sr"}, "a capture file or --driver, not both"},
        {{"-d", "no-such-analyser", "--scan"}, "libsigrok has no driver 'no-such-analyser'"},
        {{"--scan", "x.sr"}, "--scan lists analysers: it takes a driver's name alone"},
        {With({"--channels", "D0=sclk,D1=sclk"}), "option --channels takes CH=LINE pairs"},
        {With({"--time", "-1"}), "option --time takes a time from 1 ms to 1000000 s"},
        {With({"--time", "0.5"}), "option --time takes a time from 1 ms to 1000000 s"},
    };
    for (const auto& [args, line] : cases) {
        SCOPED_TRACE(line);
        const Child c = Spawn(args);
        EXPECT_EQ(WEXITSTATUS(c.status), 2);
        EXPECT_EQ(c.out, "");
        EXPECT_EQ(Lines(c.err).size(), 1u) << c.err;
        EXPECT_NE(c.err.find(line), std::string::npos) << c.err;
    }
}

}  // namespace
