// The one way a run ends early: a stop asked for (a signal, or a register
// access that cannot be performed) ends the program at its next platform
// call, unwinding its frames so that what they hold is destroyed.
#include <gtest/gtest.h>

#include <csignal>

#include "common/stop.h"
#include "hw/map_physical.h"
#include "hw/reg_io.h"
#include "platform/platform.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

class RunStopTest : public BoardTest {
  protected:
    void TearDown() override {
        common::ClearStop();
        BoardTest::TearDown();
    }
};

// Counts its own destructions: a stand-in for anything a frame may own.
struct Held {
    int& destroyed;
    ~Held() { ++destroyed; }
};

TEST_F(RunStopTest, AStopUnwindsFromTheNextPlatformCallDestroyingWhatFramesHold) {
    int destroyed = 0;
    auto send = [&] {
        const Held held{destroyed};
        DebugPrint(L"before the stop\r\n");
        common::RequestStop(SIGINT);
        DebugPrint(L"never written\r\n");
    };
    EXPECT_THROW(send(), platform::host::RunStopped);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(debugText, "before the stop\r\n");
    EXPECT_EQ(common::StopSignal(), SIGINT);
}

// An access that cannot be performed: said once, every access after it
// reaches nothing (a wait ends at once), and the run stops at the next call.
TEST_F(RunStopTest, AnAbandonedRunReachesNothingMoreAndStopsAtItsNextCall) {
    MapAndConfigure();
    platform::host::Abandon("an access that cannot be performed");
    platform::host::Abandon("a second reason is not kept");
    int destroyed = 0;
    auto send = [&] {
        const Held held{destroyed};
        const std::uint8_t message[] = {'Z'};
        return SspSendBuffer(message, 1);  // "Data sent" is a platform call: it stops there
    };
    EXPECT_THROW(send(), platform::host::RunStopped);
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(traffic.traffic.empty());
    EXPECT_EQ(RegRead(SspRegPtr, 0x08), ~0u);
    EXPECT_TRUE(traffic.traffic.empty());
    EXPECT_STREQ(platform::host::AbandonReason(), "an access that cannot be performed");
    EXPECT_EQ(common::StopSignal(), 0);
}

}  // namespace
