#include "tests/board_fixture.h"

#include "hw/map_physical.h"
#include "hw/physical_map.h"
#include "platform/text_output.h"
#include "ssp/registers.h"
#include "ssp/ssp.h"

void BoardTest::MakeBoard(const sim::BoardOptions& options) {
    host::Reset();
    GpioRegPtr = SspRegPtr = v_pClkRegs = nullptr;
    SspClockRate = 6;
    SspSendGiveUps = 0;
    accesses.accesses.clear();
    frames.frames.clear();
    calls.clear();
    debugText.clear();
    consoleText.clear();
    board = std::make_unique<sim::Board>(options);
    board->AddListener(&frames);
    host::Attach(board.get());
    host::SetCallObserver([this](const host::CallRecord& record) { calls.push_back(record); });
    platform::CaptureChannel(platform::Channel::Debug, &debugText);
    platform::CaptureChannel(platform::Channel::Console, &consoleText);
}

void BoardTest::TearDown() {
    host::Reset();
    board.reset();
}

void BoardTest::RecordAccesses() { board->AddListener(&accesses, true); }

void BoardTest::MapAndConfigure() {
    GpioRegPtr = MapPhysicalAddr(phys::kGpioBase, phys::kGpioBytes);
    SspRegPtr = MapPhysicalAddr(phys::kSspBase, phys::kSspBytes);
    v_pClkRegs = MapPhysicalAddr(phys::kClockBase, phys::kClockBytes);
    ASSERT_NE(GpioRegPtr, nullptr);
    ASSERT_NE(SspRegPtr, nullptr);
    ASSERT_NE(v_pClkRegs, nullptr);
    ConfigureSspPort();
}

std::vector<host::CallRecord> BoardTest::CallsOf(host::Call call) const {
    std::vector<host::CallRecord> out;
    for (const host::CallRecord& record : calls) {
        if (record.call == call) {
            out.push_back(record);
        }
    }
    return out;
}

std::uint64_t BoardTest::StatusReads() const {
    std::uint64_t n = 0;
    for (const sim::Access& a : accesses.accesses) {
        n += (!a.write && a.block == sim::Block::Ssp && a.offset == ssp::kStatus) ? 1 : 0;
    }
    return n;
}
