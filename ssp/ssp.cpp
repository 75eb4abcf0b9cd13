#include "ssp/ssp.h"

#include <cstdint>

#include "hw/reg_io.h"
#include "platform/platform.h"
#include "ssp/registers.h"

std::int32_t SspClockRate = 6;

namespace {

constexpr std::int32_t kNoByte = -1;
constexpr int kSettleIterations = 100;

constexpr const wchar_t* kSendPrefix = L"Data sent:     0x";
constexpr const wchar_t* kSendEnd = L"\r\n";

// Waits, bounded by kPollLimit, for `bit` of the status register.
bool WaitForStatus(std::uint32_t bit) {
    return RegPollUntilSet(SspRegPtr, ssp::kStatus, bit, kPollLimit);
}

// Hex listing of the bytes stored, printed a chunk at a time so a send of
// any length needs no more than this buffer.
struct HexListing {
    wchar_t text[65];
    int used;
};

void FlushHex(HexListing& listing) {
    if (listing.used > 0) {
        listing.text[listing.used] = 0;
        DebugPrint(L"%s", listing.text);
        listing.used = 0;
    }
}

void AddHex(HexListing& listing, std::uint8_t byte) {
    constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    listing.text[listing.used++] = kDigits[byte >> 4];
    listing.text[listing.used++] = kDigits[byte & 0xF];
    if (listing.used == 64) {
        FlushHex(listing);
    }
}

}  // namespace

void ConfigureSspPort() {
    if (GpioRegPtr == nullptr || SspRegPtr == nullptr || v_pClkRegs == nullptr) {
        return;
    }
    RegUpdate(v_pClkRegs, clk::kClockEnable, clk::kClockEnableSsp, 0);

    // One pass per pin, as the pins are listed, so each write changes one field.
    for (const std::uint32_t pin : gpio::kSspPins) {
        const std::uint32_t field = gpio::AltFunctionField(pin);
        RegUpdate(GpioRegPtr, gpio::kAltFunction80, field, FieldPrep(field, gpio::kSspFunction));
    }
    (void)RegRead(GpioRegPtr, gpio::kAltFunction80);  // read back so the last write has landed

    RegUpdate(GpioRegPtr, gpio::kPinDirection64, gpio::kSspInputBits, gpio::kSspOutputBits);

    // The rate is cut to its 8-bit field: a wider setting must not spill
    // into the bits above it.
    const std::uint32_t control0 =
        FieldPrep(ssp::kControl0ClockRate, static_cast<std::uint32_t>(SspClockRate)) |
        FieldPrep(ssp::kControl0DataSize, 8 - 1);
    RegWrite(SspRegPtr, ssp::kControl0, control0);
    RegWrite(SspRegPtr, ssp::kStatus, ssp::kStatusRxOverrun);
    RegWrite(SspRegPtr, ssp::kControl1, 0);
    RegUpdate(SspRegPtr, ssp::kControl0, 0, ssp::kControl0Enable);

    RegUpdate(v_pClkRegs, clk::kClockEnable, 0, clk::kClockEnableSsp);
}

std::int32_t SspSendBuffer(const std::uint8_t* buffer, std::int32_t length) {
    DebugPrint(kSendPrefix);
    std::int32_t result = 1;
    if (length > 0 && (buffer == nullptr || SspRegPtr == nullptr)) {
        result = 0;
        length = 0;
    }
    HexListing listing{{}, 0};
    for (std::int32_t i = 0; i < length; ++i) {
        if (!WaitForStatus(ssp::kStatusTxNotFull)) {
            result = 0;
            break;
        }
        RegWrite(SspRegPtr, ssp::kData, buffer[i]);
        AddHex(listing, buffer[i]);
    }
    FlushHex(listing);
    DebugPrint(kSendEnd);
    return result;
}

std::int32_t SspReadByte() {
    if (SspRegPtr == nullptr || !WaitForStatus(ssp::kStatusRxNotEmpty)) {
        return kNoByte;
    }
    return static_cast<std::int32_t>(RegRead(SspRegPtr, ssp::kData) & 0xFF);
}

std::int32_t SspFlushReceive() {
    if (SspRegPtr == nullptr) {
        return -1;
    }
    std::int32_t discarded = 0;
    while (discarded < kFlushLimit && (RegRead(SspRegPtr, ssp::kStatus) & ssp::kStatusRxNotEmpty) != 0) {
        (void)RegRead(SspRegPtr, ssp::kData);
        ++discarded;
    }
    RegWrite(SspRegPtr, ssp::kStatus, ssp::kStatusRxOverrun);  // write-1-to-clear
    return discarded;
}

std::int32_t SspWriteByte(std::uint32_t value) {
    if (SspRegPtr == nullptr) {
        return 0;
    }
    RegWrite(SspRegPtr, ssp::kData, value);
    return 1;
}

std::int32_t SspSettleDelay() {
    for (int i = 0; i < kSettleIterations; ++i) {
        // An empty statement the optimiser must keep, so the delay is real.
        asm volatile("" ::: "memory");
    }
    return 1;
}
