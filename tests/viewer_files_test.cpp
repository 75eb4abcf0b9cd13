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
    EXPECT_EQ(varkel_sim::GtkwavePath("out/run.vcd"), "out/run.gtkw");
    EXPECT_EQ(varkel_sim::GtkwavePath("out.d/run"), "out.d/run.gtkw");
    std::vector<sim::Frame> burst;
    for (std::uint64_t i = 0; i < 9; ++i) {
        burst.push_back({2100 + i * 6300, kProgramMessage[i], 8, 700});
    }
    // clang-format off
    EXPECT_EQ(Lines(varkel_sim::GtkwaveSaveFile("/data/run.vcd", burst)), (std::vector<std::string>{
        "[*] varkel-sim: the serial port's pins, opened on the first message",
        "[dumpfile] \"run.vcd\"",  // beside this file: found from anywhere, and after a move
        "[savefile] \"run.gtkw\"",
        "[timestart] 0",  // four bits before 2100 ns, clamped
        "[size] 1400 420",
        "[pos] -1 -1",
        // the zoom that fits the message, then a marker at each frame's first rising edge
        "*-13.370593 -1 2450 8750 15050 21350 27650 33950 40250 46550 52850 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 "
        "-1 -1 -1 -1",
        "[markername] AZ", "[markername] BE", "[markername] CL", "[markername] D0x20", "[markername] EN",
        "[markername] FS", "[markername] GS", "[markername] HP", "[markername] I0x00",
        "[sst_expanded] 0",
        "[signals_width] 120",
        "@28",
        "ssp.sclk", "ssp.sfrm", "ssp.txd", "ssp.rxd",
    }));
    // clang-format on

    // A path the file cannot carry writes no line of its own into it.
    const std::vector<std::string> lines =
        Lines(varkel_sim::GtkwaveSaveFile("/data/a\"\n[savefile] x\"b.vcd", {}));
    EXPECT_EQ(lines.at(1),
              "[*] the dump's name holds characters this file cannot name it by: gtkwave DUMP THIS-FILE");
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("[savefile]"), std::string::npos) << line;
    }
}

}  // namespace
