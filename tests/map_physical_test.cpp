// Mapping arithmetic, failure paths and release of register windows.
#include "hw/map_physical.h"

#include <cstdint>

#include "hw/reg_io.h"
#include "tests/board_fixture.h"

namespace {

constexpr char kReserveFailed[] = "\tMapPhysicalAddr : Error Return. \r\n";
constexpr char kBindFailed[] = "\tMapPhysicalAddr : return false from VirtualCopy(). \r\n";

class MapPhysicalAddrTest : public BoardTest {};

struct MapCase {
    std::uint32_t physical;
    std::uint32_t length;
    std::uint32_t inPage;
    std::uint32_t size;
};

void PrintTo(const MapCase& c, std::ostream* os) {
    *os << std::hex << "0x" << c.physical << "+0x" << c.length;
}

class MapPhysicalAddrArithmetic : public MapPhysicalAddrTest,
                                  public ::testing::WithParamInterface<MapCase> {};

TEST_P(MapPhysicalAddrArithmetic, ReservesWholePagesAndPointsAtTheRegister) {
    const MapCase c = GetParam();
    RegisterWindow window = MapPhysicalAddr(c.physical, c.length);
    ASSERT_NE(window, nullptr);

    const auto reserves = CallsOf(platform::host::Call::Reserve);
    const auto binds = CallsOf(platform::host::Call::Bind);
    ASSERT_EQ(reserves.size(), 1u);
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(reserves[0].args[0], 0u);
    EXPECT_EQ(reserves[0].args[1], c.size);
    EXPECT_EQ(reserves[0].args[2], 0x2000u);
    EXPECT_EQ(reserves[0].args[3], 0x01u);
    const auto base = static_cast<std::uint64_t>(reserves[0].result);
    EXPECT_EQ(binds[0].args[0], base);
    EXPECT_EQ(binds[0].args[1], (c.physical & 0xFFFFF000u) >> 8);
    EXPECT_EQ(binds[0].args[2], c.size);
    EXPECT_EQ(binds[0].args[3], 0x604u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(window), base + c.inPage);
    EXPECT_TRUE(debugText.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, MapPhysicalAddrArithmetic,
    ::testing::Values(MapCase{0x40E00000, 0x74, 0, 0x1000}, MapCase{0x41900000, 0x14, 0, 0x1000},
                      MapCase{0x41300000, 0x0C, 0, 0x1000}, MapCase{0x41300004, 8, 4, 0x1000},
                      MapCase{0x41300FF0, 0x20, 0xFF0, 0x2000}, MapCase{0x41300FFC, 4, 0xFFC, 0x1000}));

TEST_F(MapPhysicalAddrTest, StraddlingBlockReachesBothPages) {
    // 16 bytes before the serial port's page ends: the window's +0x10 is the
    // next page's first word, so both pages must be bound to reach it.
    RegisterWindow window = MapPhysicalAddr(0x41900FF0, 0x20);
    ASSERT_NE(window, nullptr);
    (void)RegRead(window, 0x10);   // 0x41901000: nothing there
    RegWrite(window, 0x0C, 0x55);  // 0x41900FFC
    EXPECT_EQ(traffic.traffic, (std::vector<Traffic>{{'R', 0x41901000, 0}, {'W', 0x41900FFC, 0x55}}));
    EXPECT_EQ(board->stats().strayAccesses, 0u);
    EXPECT_EQ(board->stats().noDeviceAccesses, 1u);
    EXPECT_EQ(board->stats().unknownRegisterAccesses, 1u);
}

TEST_F(MapPhysicalAddrTest, RefusedBindingLeavesNothingReserved) {
    platform::host::SetFaults({.refuseBind = {1}});
    EXPECT_EQ(MapPhysicalAddr(0x41900000, 0x14), nullptr);
    EXPECT_EQ(debugText, kBindFailed);
    EXPECT_TRUE(platform::host::Reservations().empty());
    const auto releases = CallsOf(platform::host::Call::Release);
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(releases[0].args[0],
              static_cast<std::uint64_t>(CallsOf(platform::host::Call::Reserve)[0].result));
    EXPECT_EQ(releases[0].args[1], 0u);
    EXPECT_EQ(releases[0].args[2], 0x8000u);
}

TEST_F(MapPhysicalAddrTest, RefusedReservationWritesItsLineAndBindsNothing) {
    platform::host::SetFaults({.refuseReserve = {1}});
    EXPECT_EQ(MapPhysicalAddr(0x40E00000, 0x74), nullptr);
    EXPECT_EQ(debugText, kReserveFailed);
    EXPECT_TRUE(CallsOf(platform::host::Call::Bind).empty());
    EXPECT_TRUE(platform::host::Reservations().empty());
}

TEST_F(MapPhysicalAddrTest, LengthThatWouldWrapIsRefusedBeforeReserving) {
    // 0xFFFFF000 + 0x10 in-page rounds past 4 GiB; unchecked it would map one
    // page for a block of four billion bytes.
    EXPECT_EQ(MapPhysicalAddr(0x41900010, 0xFFFFF000), nullptr);
    EXPECT_EQ(MapPhysicalAddr(0x41900000, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(debugText, std::string(kReserveFailed) + kReserveFailed);
    EXPECT_TRUE(CallsOf(platform::host::Call::Reserve).empty());
    EXPECT_TRUE(platform::host::Reservations().empty());

    // The largest length that still fits is passed on (whether the host
    // can reserve 4 GiB is its own matter).
    (void)MapPhysicalAddr(0x41900000, 0xFFFFF000);
    EXPECT_EQ(CallsOf(platform::host::Call::Reserve).at(0).args[1], 0xFFFFF000u);
}

TEST_F(MapPhysicalAddrTest, ZeroLengthAlignedBlockIsRefusedByTheReservation) {
    EXPECT_EQ(MapPhysicalAddr(0x41900000, 0), nullptr);
    EXPECT_EQ(CallsOf(platform::host::Call::Reserve).at(0).args[1], 0u);
    EXPECT_EQ(debugText, kReserveFailed);
}

TEST_F(MapPhysicalAddrTest, ReleaseGivesBackTheWholePageEvenForAnOffsetWindow) {
    RegisterWindow offsetWindow = MapPhysicalAddr(0x41300004, 8);
    RegisterWindow alignedWindow = MapPhysicalAddr(0x41900000, 0x14);
    ASSERT_EQ(platform::host::Reservations().size(), 2u);
    ReleasePhysicalAddr(offsetWindow);
    ReleasePhysicalAddr(alignedWindow);
    EXPECT_TRUE(platform::host::Reservations().empty());
    for (const auto& release : CallsOf(platform::host::Call::Release)) {
        EXPECT_EQ(release.result, 1);
    }
}

TEST_F(MapPhysicalAddrTest, ReleasedWindowReachesNothing) {
    RegisterWindow port = MapPhysicalAddr(0x41900000, 0x14);
    ASSERT_TRUE(RegPollUntilSet(port, 0x08, 0x04, 0));
    ReleasePhysicalAddr(port);
    EXPECT_FALSE(RegPollUntilSet(port, 0x08, 0x04, 2));  // reads 0 three times
    RegWrite(port, 0x10, 1);
    EXPECT_EQ(board->stats().strayAccesses, 4u);
    EXPECT_EQ(board->stats().accesses, 1u);
}

TEST_F(MapPhysicalAddrTest, AccessWhereTheBoardHasNothingIsCountedAndNoted) {
    std::string notes;
    board->onNote = [&](const std::string& line) { notes += line + "\n"; };
    RegisterWindow window = MapPhysicalAddr(0x50000000, 4);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(RegRead(window, 0), 0u);
    RegWrite(window, 0, 1);
    EXPECT_EQ(board->stats().noDeviceAccesses, 2u);
    EXPECT_NE(notes.find("0x50000000, where the board has no device"), std::string::npos);

    // Inside the port's page, but no register there: counted apart.
    RegisterWindow port = MapPhysicalAddr(0x41900000, 0x14);
    EXPECT_EQ(RegRead(port, 0x0C), 0u);
    EXPECT_EQ(board->stats().unknownRegisterAccesses, 1u);
    EXPECT_EQ(board->stats().noDeviceAccesses, 2u);
    EXPECT_NE(notes.find("read of 0x4190000C, where the board has no register"), std::string::npos);
}

}  // namespace
