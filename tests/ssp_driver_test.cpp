// The port driver's register traffic, stated as the board's manual would:
// physical address, read or write, value, and for each read the reply the
// test gives. The driver runs against that script, not the board model, so
// these tables say what the driver does whatever the model's timing; the
// model's own tests are elsewhere. Nothing here is taken from the
// program's headers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hw/reg_io.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"
#include "tests/scripted_bus.h"

namespace {

using namespace manual;  // the board's registers
constexpr const std::uint8_t (&kMessage)[9] = kProgramMessage;
constexpr std::uint64_t kWaitReads = 262144;  // a wait that gives up: its limit and one

class SspDriverTest : public BoardTest {
  protected:
    // Maps the windows, then hands the bus to `script`.
    void Script(std::vector<Traffic> script) {
        MapWindows();
        bus = std::make_unique<ScriptedBus>(std::move(script));
        platform::host::AttachBus(bus.get());
    }
    void TearDown() override {
        if (bus) {
            bus->Verify();
        }
        BoardTest::TearDown();
    }
    // A send of `bytes`, each stored after one status read with room.
    static std::vector<Traffic> Sends(const std::uint8_t* bytes, std::size_t count) {
        std::vector<Traffic> out;
        for (std::size_t i = 0; i < count; ++i) {
            out.insert(out.end(), {{'R', kStatus, 0x04}, {'W', kData, bytes[i]}});
        }
        return out;
    }

    std::unique_ptr<ScriptedBus> bus;
};

TEST_F(SspDriverTest, SetUpFromResetIsExactlyThisTraffic) {
    Script(SetUpTrafficFromReset(0x607));  // rate 6
    ConfigureSspPort();
}

TEST_F(SspDriverTest, SetUpKeepsEveryBitItDoesNotOwn) {
    for (const std::uint32_t garbage : {0xFFFFFFFFu, 0xA5A5A5A5u, 0x5A5A5A5Au, 0u}) {
        SCOPED_TRACE(garbage);
        std::uint32_t altfn = garbage;
        std::vector<Traffic> script = {{'R', kClockEnable, garbage}, {'W', kClockEnable, garbage & ~0x200u}};
        for (const std::uint32_t field : {0x00Cu, 0x030u, 0x0C0u, 0x300u}) {  // pins 81 to 84
            const std::uint32_t next = (altfn & ~field) | (field & 0x154u);
            script.insert(script.end(), {{'R', kAltFunction, altfn}, {'W', kAltFunction, next}});
            altfn = next;
        }
        script.insert(script.end(), {{'R', kAltFunction, altfn},
                                     {'R', kPinDirection, garbage},
                                     {'W', kPinDirection, (garbage | 0x1A0000u) & ~0x40000u},
                                     {'W', kControl0, 0x2A07},
                                     {'W', kStatus, 0x80},
                                     {'W', kControl1, 0},
                                     {'R', kControl0, 0x2A07},
                                     {'W', kControl0, 0x2A87},
                                     {'R', kClockEnable, garbage & ~0x200u},
                                     {'W', kClockEnable, garbage | 0x200u}});
        EXPECT_EQ(altfn, (garbage & ~0x3FCu) | 0x154u);
        MakeBoard({});
        SspClockRate = 0x2A;
        Script(script);
        ConfigureSspPort();
        bus->Verify();
    }
}

TEST_F(SspDriverTest, ClockRateIsCutToItsEightBitField) {
    for (const auto& [rate, control0] :
         {std::pair{0x1FF, 0xFF07u}, std::pair{-1, 0xFF07u}, std::pair{0x100, 0x07u}}) {
        SCOPED_TRACE(rate);
        MakeBoard({});
        SspClockRate = rate;
        Script(SetUpTrafficFromReset(control0));
        ConfigureSspPort();
        bus->Verify();
    }
}

TEST_F(SspDriverTest, SendStoresEachByteAfterOneStatusRead) {
    Script(Sends(kMessage, 9));
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 1);
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E53535000\r\n");
}

TEST_F(SspDriverTest, AFullFifoIsWaitedOutAndTheBytesKeepTheirOrder) {
    // Room for two, then full for 37 reads; a frame comes in meanwhile.
    std::vector<Traffic> script = Sends(kMessage, 2);
    script.insert(script.end(), {{'R', kStatus, 0x00, 37}, {'R', kStatus, 0x08, 7}, {'R', kStatus, 0x0C}});
    script.push_back({'W', kData, kMessage[2]});
    for (std::size_t i = 3; i < 9; ++i) {
        script.insert(script.end(),
                      {{'R', kStatus, 0x08, 61}, {'R', kStatus, 0x0C}, {'W', kData, kMessage[i]}});
    }
    Script(script);
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 1);
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E53535000\r\n");
}

TEST_F(SspDriverTest, SendGivesUpAfterTheBoundedNumberOfReads) {
    Script({{'R', kStatus, 0x00, kWaitReads}});
    EXPECT_EQ(SspSendBuffer(kMessage, 3), 0);
    EXPECT_EQ(debugText, "Data sent:     0x\r\n");
}

TEST_F(SspDriverTest, AWaitThatSeesRoomOnItsLastReadStillSends) {
    Script({{'R', kStatus, 0x00, kWaitReads - 1}, {'R', kStatus, 0x04}, {'W', kData, 0x5A}});
    EXPECT_EQ(SspSendBuffer(kMessage, 1), 1);
}

TEST_F(SspDriverTest, ReadWaitsForAFrameThenTakesItsLowByte) {
    Script(
        {{'W', kData, 0x1234ABA7}, {'R', kStatus, 0x04, 55}, {'R', kStatus, 0x0C}, {'R', kData, 0x1234ABA7}});
    EXPECT_EQ(SspWriteByte(0x1234ABA7), 1);  // stored whole
    EXPECT_EQ(SspReadByte(), 0xA7);
}

TEST_F(SspDriverTest, ReadKeepsTheLowByteOfAWiderFrame) {
    Script({{'R', kStatus, 0x0C}, {'R', kData, 0x1A5}});
    EXPECT_EQ(SspReadByte(), 0xA5);
}

TEST_F(SspDriverTest, FlushEmptiesTheReceiveFifoThenClearsOverrun) {
    std::vector<Traffic> script;
    for (int i = 0; i < 16; ++i) {
        script.insert(script.end(), {{'R', kStatus, 0x8C}, {'R', kData, 0x00}});
    }
    script.insert(script.end(), {{'R', kStatus, 0x84}, {'W', kStatus, 0x80}});
    Script(script);
    EXPECT_EQ(SspFlushReceive(), 16);
}

TEST_F(SspDriverTest, FlushStopsAtItsLimitOnALineThatNeverEmpties) {
    std::vector<Traffic> script;
    for (int i = 0; i < 64; ++i) {
        script.insert(script.end(), {{'R', kStatus, 0x0C}, {'R', kData, 0xFF}});
    }
    script.push_back({'W', kStatus, 0x80});
    Script(script);
    EXPECT_EQ(SspFlushReceive(), 64);
}

TEST_F(SspDriverTest, ReadGivesUpWithoutTakingAFrame) {
    Script({{'R', kStatus, 0x04, kWaitReads}});
    EXPECT_EQ(SspReadByte(), -1);
}

TEST_F(SspDriverTest, EmptySendsAndUnmappedWindowsTouchNothing) {
    EXPECT_EQ(SspReadByte(), -1);
    EXPECT_EQ(SspWriteByte(1), 0);
    ConfigureSspPort();
    EXPECT_EQ(SspSendBuffer(kMessage, 1), 0);
    Script({});
    v_pClkRegs = nullptr;
    ConfigureSspPort();  // the clock window is missing
    EXPECT_EQ(SspSendBuffer(nullptr, 3), 0);
    EXPECT_EQ(SspSendBuffer(kMessage, 0), 1);
    EXPECT_EQ(SspSendBuffer(kMessage, -5), 1);
    EXPECT_EQ(SspSettleDelay(), 1);
    EXPECT_EQ(debugText,
              "Data sent:     0x\r\nData sent:     0x\r\nData sent:     0x\r\nData sent:     0x\r\n");
}

TEST_F(SspDriverTest, SendLineListsWhatWasStoredWhateverTheLength) {
    std::vector<Traffic> script = Sends(kMessage, 7);  // room for seven, then none
    script.push_back({'R', kStatus, 0x00, kWaitReads});
    Script(script);
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 0);
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E5353\r\n");
    bus->Verify();

    std::vector<std::uint8_t> bytes(40);
    std::string hex;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(0xC0 + i);
        hex += "0123456789ABCDEF"[bytes[i] >> 4];
        hex += "0123456789ABCDEF"[bytes[i] & 15];
    }
    MakeBoard({});
    Script(Sends(bytes.data(), bytes.size()));
    EXPECT_EQ(SspSendBuffer(bytes.data(), 40), 1);
    EXPECT_EQ(debugText, "Data sent:     0x" + hex + "\r\n");
}

}  // namespace
