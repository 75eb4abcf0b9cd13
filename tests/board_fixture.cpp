#include "tests/board_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include "hw/map_physical.h"
#include "hw/physical_map.h"
#include "platform/text_output.h"
#include "ssp/registers.h"
#include "ssp/ssp.h"
#include "tools/varkel-sim/sim_runner.h"

int RunSimulatorQuietly(const std::vector<std::string>& args, const std::string& consolePath,
                        const std::string& stderrPath, std::ostream& out, std::ostream& err) {
    const int savedStdout = ::dup(1);
    const int savedStderr = ::dup(2);
    const int console = ::open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int debug = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(console, 1);
    ::dup2(debug, 2);
    const int status = runner::Run(args, out, err);
    ::dup2(savedStdout, 1);
    ::dup2(savedStderr, 2);
    for (const int fd : {savedStdout, savedStderr, console, debug}) {
        ::close(fd);
    }
    return status;
}

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

void BoardTest::RecordAccesses() {
    board->AddListener(&accesses, true);
}

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
