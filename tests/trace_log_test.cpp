// The register trace: every column named, every access in order, each
// wait's identical reads folded on a line of its own.
#include "sim/trace_log.h"

#include <cstdint>
#include <string>
#include <vector>

#include "hw/reg_io.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

constexpr std::uint8_t kMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};

class TraceLogTest : public BoardTest {};

TEST_F(TraceLogTest, TraceNamesEveryColumnAndFoldsEachWaitOnItsOwn) {
    MakeBoard({.faults = {.txStuck = true}});
    StringSink sink;
    sim::TraceLog trace(sink);
    board->AddListener(&trace);
    platform::host::AddCallObserver(
        [&](const platform::host::CallRecord&) { trace.EndFold(); });  // as the runner tells it
    MapAndConfigure();
    SspSendBuffer(kMessage, 9);
    SspSendBuffer(kMessage, 9);
    RegWrite(SspRegPtr, 0x10, 0x41);
    (void)RegRead(SspRegPtr, 0x08);
    (void)RegRead(SspRegPtr, 0x08);
    board->Finish();

    // clang-format off
    EXPECT_EQ(Lines(sink.text), (std::vector<std::string>{
        "# time_s R/W block register offset physical value [xcount] [status bits]",
        "# time_s call what: result",
        "0.000000100 R clock enable    +0x004 0x41300004 0x004003E1",
        "0.000000200 W clock enable    +0x004 0x41300004 0x004001E1",
        "0.000000300 R gpio  altfn     +0x068 0x40E00068 0x00000000",
        "0.000000400 W gpio  altfn     +0x068 0x40E00068 0x00000004",
        "0.000000500 R gpio  altfn     +0x068 0x40E00068 0x00000004",
        "0.000000600 W gpio  altfn     +0x068 0x40E00068 0x00000014",
        "0.000000700 R gpio  altfn     +0x068 0x40E00068 0x00000014",
        "0.000000800 W gpio  altfn     +0x068 0x40E00068 0x00000054",
        "0.000000900 R gpio  altfn     +0x068 0x40E00068 0x00000054",
        "0.000001000 W gpio  altfn     +0x068 0x40E00068 0x00000154",
        "0.000001100 R gpio  altfn     +0x068 0x40E00068 0x00000154",
        "0.000001200 R gpio  direction +0x014 0x40E00014 0x00000000",
        "0.000001300 W gpio  direction +0x014 0x40E00014 0x001A0000",
        "0.000001400 W ssp   control0  +0x000 0x41900000 0x00000607",
        "0.000001500 W ssp   status    +0x008 0x41900008 0x00000080 {rx-overrun}",
        "0.000001600 W ssp   control1  +0x004 0x41900004 0x00000000",
        "0.000001700 R ssp   control0  +0x000 0x41900000 0x00000607",
        "0.000001800 W ssp   control0  +0x000 0x41900000 0x00000687",
        "0.000001900 R clock enable    +0x004 0x41300004 0x004001E1",
        "0.000002000 W clock enable    +0x004 0x41300004 0x004003E1",
        // each send's wait gives up on its own line, and a platform call ends a fold
        "0.000002100 R ssp   status    +0x008 0x41900008 0x00000000 x262144 {}",
        "0.026216500 R ssp   status    +0x008 0x41900008 0x00000000 x262144 {}",
        "0.052430900 W ssp   data      +0x010 0x41900010 0x00000041",
        "0.052431000 R ssp   status    +0x008 0x41900008 0x00000000 x2 {}",
    }));
    // clang-format on
}

}  // namespace
