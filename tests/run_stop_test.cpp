// The one way a run ends early: a stop asked for (a signal) ends the
// program at its next platform call, unwinding its frames so that what
// they hold is destroyed.
#include <gtest/gtest.h>

#include <csignal>

#include "common/stop.h"
#include "platform/platform.h"
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

}  // namespace
