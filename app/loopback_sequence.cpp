#include "app/loopback_sequence.h"

#include <cstdint>

#include "app/build_stamp.h"
#include "app/exit_status.h"
#include "app/program_texts.h"
#include "app/sequence.h"
#include "hw/map_physical.h"
#include "hw/register_blocks.h"
#include "platform/platform.h"
#include "ssp/ssp.h"

namespace {

constexpr const wchar_t* kStart = L" Loopback test: %u messages out of TXD, each read back from RXD \r\n";
constexpr const wchar_t* kFlushed = L" Loopback test: %d frames left from before discarded \r\n";
constexpr const char* kPass = "loopback: PASS: %u messages, %u bytes returned unchanged\n";
constexpr const char* kSendFailed =
    "loopback: FAIL: message %u: the send gave up waiting for transmit room (is the port's clock on?)\n";
constexpr const char* kWrongByte = "loopback: FAIL: message %u byte %u: sent 0x%02X, received 0x%02X%s%s\n";
constexpr const char* kNoByte = "loopback: FAIL: message %u byte %u: sent 0x%02X, received nothing%s%s\n";

struct Window {
    std::uint32_t base;
    std::uint32_t bytes;
    RegisterWindow* global;
    const wchar_t* failed;
};

// In the order the test maps them, with the test's error lines.
constexpr Window kWindows[] = {{blocks::kGpioBase, blocks::kGpioBytes, &GpioRegPtr, kGpioFailed},
                               {blocks::kSspBase, blocks::kSspBytes, &SspRegPtr, kSspFailed},
                               {blocks::kClockBase, blocks::kClockBytes, &v_pClkRegs, kClockFailed}};

bool AllAre(const std::int32_t* received, std::size_t count, std::int32_t value) {
    for (std::size_t i = 0; i < count; ++i) {
        if (received[i] != value) {
            return false;
        }
    }
    return true;
}

// Every byte is what was sent moved one bit later (`late`) or earlier,
// the bit that crossed from its neighbour aside.
bool ShiftedOneBit(const std::uint8_t* sent, const std::int32_t* received, std::size_t count, bool late) {
    bool anyDiffers = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (received[i] < 0) {
            return false;
        }
        const auto got = static_cast<std::uint32_t>(received[i]);
        const bool shifted = late ? (got & 0x7Fu) == (sent[i] >> 1u) : (got >> 1u) == (sent[i] & 0x7Fu);
        if (!shifted) {
            return false;
        }
        anyDiffers = anyDiffers || got != sent[i];
    }
    return anyDiffers;
}

// Sends one message and reads it back: true when it came back whole;
// otherwise its verdict line has been printed.
bool LoopOneMessage(const std::uint8_t* message, std::uint32_t number) {
    if (SspSendBuffer(message, static_cast<std::int32_t>(kTestMessageLength)) == 0) {
        ConsolePrint(kSendFailed, number);
        return false;
    }
    std::int32_t received[kTestMessageLength];
    for (std::size_t i = 0; i < kTestMessageLength; ++i) {
        received[i] = SspReadByte();  // all nine, so the cause can be judged on the whole message
    }
    for (std::size_t i = 0; i < kTestMessageLength; ++i) {
        if (received[i] == message[i]) {
            continue;
        }
        const char* cause = LoopbackCause(message, received, kTestMessageLength);
        const char* separator = cause != nullptr ? ": " : "";
        cause = cause != nullptr ? cause : "";
        const auto byte = static_cast<unsigned>(i + 1);
        if (received[i] < 0) {
            ConsolePrint(kNoByte, number, byte, static_cast<unsigned>(message[i]), separator, cause);
        } else {
            ConsolePrint(kWrongByte, number, byte, static_cast<unsigned>(message[i]),
                         static_cast<unsigned>(received[i]), separator, cause);
        }
        return false;
    }
    return true;
}

}  // namespace

const char* LoopbackCause(const std::uint8_t* sent, const std::int32_t* received, std::size_t count) {
    if (AllAre(received, count, -1)) {
        return "the port is not receiving (receive pin not routed, or the port's clock off)";
    }
    if (AllAre(received, count, 0xFF)) {
        return "the receive pin reads high (is the jumper from TXD to RXD on?)";
    }
    if (AllAre(received, count, 0x00)) {
        return "the receive pin is held low";
    }
    if (ShiftedOneBit(sent, received, count, true) || ShiftedOneBit(sent, received, count, false)) {
        return "every byte is shifted by one bit (clock phase)";
    }
    return nullptr;
}

std::int32_t LoopbackTestMain(std::uint32_t messages) {
    std::uint8_t message[kTestMessageLength];
    CopyBytes(message, kTestMessage, kTestMessageLength);
    DebugPrint(kBanner);
    DebugPrint(kBuiltLine, kBuildDate, kBuildTime);
    DebugPrint(kStart, messages);

    for (const Window& window : kWindows) {
        *window.global = MapPhysicalAddr(window.base, window.bytes);
        if (*window.global == nullptr) {
            DebugPrint(window.failed);
            return kExitUnmapped;
        }
    }
    ConfigureSspPort();
    if (const std::int32_t stale = SspFlushReceive(); stale > 0) {
        DebugPrint(kFlushed, stale);
    }

    bool passed = true;
    for (std::uint32_t i = 1; i <= messages && passed; ++i) {
        passed = LoopOneMessage(message, i);
    }

    ReleasePhysicalAddr(v_pClkRegs);
    ReleasePhysicalAddr(SspRegPtr);
    ReleasePhysicalAddr(GpioRegPtr);

    if (!passed) {
        return kExitLoopbackFailed;
    }
    ConsolePrint(kPass, messages, messages * static_cast<std::uint32_t>(kTestMessageLength));
    return kExitOk;
}
