// Answering a wait's reads in one step, where they cannot see a change,
// against answering them one by one: every figure, every file and every
// count must agree.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "hw/map_physical.h"
#include "hw/reg_io.h"
#include "sim/trace_log.h"
#include "sim/vcd_writer.h"
#include "sim/wire_log.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

// The same run answered one read at a time and in one step per quiet
// stretch: every figure and every file must agree.
struct RunRecord {
    std::vector<std::uint64_t> figures;
    std::vector<Traffic> traffic;
    std::string wire, vcd, trace;
    std::uint64_t accessEvents = 0;
};

struct EventCounter : sim::BoardListener {
    std::uint64_t events = 0;
    void OnAccess(const sim::Access&) override { ++events; }
};

class WaitExactnessTest : public BoardTest {
  protected:
    RunRecord Run(sim::BoardOptions options, int prefill, int messages) {
        MakeBoard(options);
        StringSink wire, vcd, trace;
        sim::WireLog wireLog(wire);
        sim::VcdWriter vcdWriter(vcd, options.rxd, {});
        sim::TraceLog traceLog(trace);
        EventCounter counter;
        for (sim::BoardListener* l :
             std::initializer_list<sim::BoardListener*>{&wireLog, &vcdWriter, &traceLog, &counter}) {
            board->AddListener(l);
        }
        MapAndConfigure();
        for (int i = 0; i < prefill; ++i) {
            SspWriteByte(0xEE);
        }
        SendMessages(messages);
        board->Finish();
        const sim::BoardStats& s = board->stats();
        return {{board->Now(), s.accesses, s.framesOnWire, giveUps.sendsGaveUp(),
                 board->portStats().framesReceived, board->portStats().rxDropped},
                traffic.traffic,
                wire.text,
                vcd.text,
                trace.text,
                counter.events};
    }
};

TEST_F(WaitExactnessTest, OneStepAnswersAreExactlyTheReadsOneByOne) {
    struct Case {
        const char* name;
        sim::BoardOptions options;
        int prefill;
        int messages;
    };
    for (const Case& c :
         {Case{"slow port, stalls that end", {.faults = {.txSlow = 3}}, 15, 3},
          Case{"very slow port, waits that give up mid-frame", {.faults = {.txSlow = 20000}}, 15, 3},
          Case{"stopped clock", {.faults = {.clockOff = true}}, 0, 3},
          Case{"stuck FIFO", {.faults = {.txStuck = true}}, 0, 2}}) {
        SCOPED_TRACE(c.name);
        sim::BoardOptions slow = c.options;
        slow.oneReadAtATime = true;
        const RunRecord fast = Run(c.options, c.prefill, c.messages);
        const RunRecord exact = Run(slow, c.prefill, c.messages);
        EXPECT_EQ(fast.figures, exact.figures);
        EXPECT_EQ(fast.traffic, exact.traffic);
        EXPECT_EQ(fast.wire, exact.wire);
        EXPECT_EQ(fast.vcd, exact.vcd);
        EXPECT_EQ(fast.trace, exact.trace);
        EXPECT_GT(exact.accessEvents, 10 * fast.accessEvents);  // the shortcut did answer in steps
    }
}

TEST_F(WaitExactnessTest, AWaitWhereTheBoardHasNothingIsCountedTheSame) {
    std::vector<std::uint64_t> figures[2];
    std::vector<Traffic> seen[2];
    for (const bool exact : {false, true}) {
        MakeBoard({.oneReadAtATime = exact});
        MapAndConfigure();
        RegisterWindow nothing = MapPhysicalAddr(0x50000000, 4);
        EXPECT_FALSE(RegPollUntilSet(SspRegPtr, 0x0C, 0x04, 999));  // no register at +0x0C
        EXPECT_FALSE(RegPollUntilSet(nothing, 0, 0x04, 499));       // no device at all
        const sim::BoardStats& s = board->stats();
        figures[exact] = {board->Now(), s.accesses, s.unknownRegisterAccesses, s.noDeviceAccesses};
        seen[exact] = traffic.traffic;
    }
    EXPECT_EQ(figures[0],
              (std::vector<std::uint64_t>{2000 + 150000, 20 + 1500, 1000, 500}));  // after the set-up's 20
    EXPECT_EQ(figures[1], figures[0]);
    EXPECT_EQ(seen[1], seen[0]);
}

}  // namespace
