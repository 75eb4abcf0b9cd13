#include "tests/board_fixture.h"

#include "hw/map_physical.h"
#include "hw/reg_io.h"
#include "platform/channels.h"
#include "ssp/ssp.h"

void PrintTo(const Traffic& t, std::ostream* os) {
    *os << t.op << " 0x" << std::hex << t.physical << " 0x" << t.value << std::dec;
    if (t.count != 1) {
        *os << " x" << t.count;
    }
}

void TrafficRecorder::OnAccess(const sim::Access& a) {
    const char op = a.write ? 'W' : 'R';
    if (!fresh && !a.write && !traffic.empty() && traffic.back().op == 'R' &&
        traffic.back().physical == a.physical && traffic.back().value == a.value) {
        traffic.back().count += a.count;
    } else {
        traffic.push_back({op, a.physical, a.value, a.count});
    }
    fresh = false;
}

std::uint64_t TrafficRecorder::Reads(std::uint64_t physical) const {
    std::uint64_t n = 0;
    for (const Traffic& t : traffic) {
        n += t.op == 'R' && t.physical == physical ? t.count : 0;
    }
    return n;
}

std::vector<std::uint32_t> FrameRecorder::OnWire() const {
    std::vector<std::uint32_t> values;
    for (const Ended& e : ended) {
        if (e.fate == sim::FrameFate::OnWire) {
            values.push_back(e.frame.value);
        }
    }
    return values;
}

void BoardTest::MakeBoard(const sim::BoardOptions& options) {
    platform::host::Reset();
    GpioRegPtr = SspRegPtr = v_pClkRegs = nullptr;
    SspClockRate = 6;
    traffic = {};
    frames = {};
    giveUps = {};
    calls.clear();
    debugText.clear();
    consoleText.clear();
    board = std::make_unique<sim::Board>(options);
    board->AddListener(&frames);
    board->AddListener(&traffic);
    board->AddListener(&giveUps);
    platform::host::Attach(board.get());
    platform::host::AddCallObserver([this](const platform::host::CallRecord& record) {
        calls.push_back(record);
        traffic.fresh = true;  // a fold ends at a platform call, as the trace's
        giveUps.OnProgramCall();
    });
    platform::CaptureChannel(platform::Channel::Debug, &debugText);
    platform::CaptureChannel(platform::Channel::Console, &consoleText);
}

void BoardTest::TearDown() {
    platform::host::Reset();
    board.reset();
}

void BoardTest::MapWindows() {
    GpioRegPtr = MapPhysicalAddr(0x40E00000, 0x74);
    SspRegPtr = MapPhysicalAddr(0x41900000, 0x14);
    v_pClkRegs = MapPhysicalAddr(0x41300000, 0x0C);
    ASSERT_NE(GpioRegPtr, nullptr);
    ASSERT_NE(SspRegPtr, nullptr);
    ASSERT_NE(v_pClkRegs, nullptr);
}

void BoardTest::MapAndConfigure() {
    MapWindows();
    ConfigureSspPort();
    traffic = {};
    frames = {};
    giveUps = {};
}

std::vector<platform::host::CallRecord> BoardTest::CallsOf(platform::host::Call call) const {
    std::vector<platform::host::CallRecord> out;
    for (const platform::host::CallRecord& record : calls) {
        if (record.call == call) {
            out.push_back(record);
        }
    }
    return out;
}

std::vector<Traffic> SetUpTrafficFromReset(std::uint32_t control0) {
    using namespace manual;
    // clang-format off
    return {
        {'R', kClockEnable, 0x004003E1}, {'W', kClockEnable, 0x004001E1},  // port clock off first
        {'R', kAltFunction, 0x000}, {'W', kAltFunction, 0x004},            // pin 81: function 1
        {'R', kAltFunction, 0x004}, {'W', kAltFunction, 0x014},            // pin 82
        {'R', kAltFunction, 0x014}, {'W', kAltFunction, 0x054},            // pin 83
        {'R', kAltFunction, 0x054}, {'W', kAltFunction, 0x154},            // pin 84
        {'R', kAltFunction, 0x154},                                        // read back
        {'R', kPinDirection, 0}, {'W', kPinDirection, 0x1A0000},           // 81, 83, 84 out; 82 in
        {'W', kControl0, control0},                                        // 8-bit frames, the rate
        {'W', kStatus, 0x80},                                              // clear receive overrun
        {'W', kControl1, 0},
        {'R', kControl0, control0}, {'W', kControl0, control0 | 0x80},     // enable
        {'R', kClockEnable, 0x004001E1}, {'W', kClockEnable, 0x004003E1},  // port clock on last
    };
    // clang-format on
}

void BoardTest::SendMessages(int count) {
    for (int i = 0; i < count; ++i) {
        SspSendBuffer(kProgramMessage, 9);
        board->Sleep(1000000000);
    }
}

void BoardTest::ShiftFrames(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        SspWriteByte(value);
        while (board->framesQueued() != 0) {
            (void)RegRead(SspRegPtr, 0x08);  // status: time passes, the port shifts
        }
    }
}
