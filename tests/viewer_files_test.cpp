// The viewer's save file: where it sits, what it opens on, and the markers
// that label the first message's bytes.
#include "tools/varkel-sim/viewer_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/board_fixture.h"

namespace {

TEST(ViewerFiles, GtkwaveFileOpensOnTheFirstMessageWithItsBytesMarked) {
    EXPECT_EQ(runner::GtkwavePath("out/run.vcd"), "out/run.gtkw");
    EXPECT_EQ(runner::GtkwavePath("out.d/run"), "out.d/run.gtkw");
    std::vector<sim::Frame> burst;
    for (std::uint64_t i = 0; i < 9; ++i) {
        burst.push_back({2100 + i * 6300, kProgramMessage[i], 8, 700});
    }
    const auto lines = Lines(runner::GtkwaveSaveFile("/data/run.vcd", burst));
    const std::vector<std::string> tail(lines.end() - 5, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"@28", "ssp.sclk", "ssp.sfrm", "ssp.txd", "ssp.rxd"}));
    EXPECT_EQ(lines[1], "[dumpfile] \"/data/run.vcd\"");
    EXPECT_EQ(lines[2], "[timestart] 0");  // four bits before 2100 ns, clamped
    EXPECT_EQ(lines[5].substr(0, 26), "*-13.370593 -1 2450 8750 1");
    EXPECT_EQ(lines[6], "[markername] AZ");
    EXPECT_EQ(lines[9], "[markername] D0x20");
    EXPECT_EQ(lines[14], "[markername] I0x00");
}

}  // namespace
