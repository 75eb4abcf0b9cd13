#include "app/sequence.h"

#include <cstdint>

#include "app/build_stamp.h"
#include "app/exit_status.h"
#include "app/program_texts.h"
#include "hw/map_physical.h"
#include "hw/register_blocks.h"
#include "platform/platform.h"
#include "ssp/ssp.h"

namespace {

constexpr const char* kPrompt = "hit c to contine \n";
constexpr const char* kSending = "Sending SSP Message\n";
constexpr const wchar_t* kDone = L" NSSP: Done \r\n";

}  // namespace

std::int32_t PortTestMain(void* /*instance*/, void* /*previousInstance*/, wchar_t* /*commandLine*/,
                          int /*showState*/) {
    std::uint8_t message[kTestMessageLength];
    CopyBytes(message, kTestMessage, kTestMessageLength);

    // Nothing waits for the key: the run goes straight on, so it can be scripted.
    ConsolePrint(kPrompt);
    DebugPrint(kBanner);
    DebugPrint(kBuiltLine, kBuildDate, kBuildTime);

    GpioRegPtr = MapPhysicalAddr(blocks::kGpioBase, blocks::kGpioBytes);
    if (GpioRegPtr == nullptr) {
        DebugPrint(kGpioFailed);
        return kExitUnmapped;
    }
    SspRegPtr = MapPhysicalAddr(blocks::kSspBase, blocks::kSspBytes);
    if (SspRegPtr == nullptr) {
        DebugPrint(kSspFailed);
        return kExitUnmapped;
    }
    v_pClkRegs = MapPhysicalAddr(blocks::kClockBase, blocks::kClockBytes);
    if (v_pClkRegs == nullptr) {
        DebugPrint(kClockFailed);
        return kExitUnmapped;
    }

    ConfigureSspPort();

    for (std::uint32_t i = 0; i < kMessageCount; ++i) {
        ConsolePrint(kSending);
        (void)SspSendBuffer(message, static_cast<std::int32_t>(kTestMessageLength));
        SleepMs(kMessageIntervalMs);
    }

    ReleasePhysicalAddr(v_pClkRegs);
    ReleasePhysicalAddr(SspRegPtr);
    ReleasePhysicalAddr(GpioRegPtr);

    DebugPrint(kDone);
    return kExitOk;
}
