#include "platform/host/host_platform.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/stop.h"
#include "platform/channels.h"
#include "platform/platform.h"
#include "platform/regions.h"
#include "sim/board.h"

namespace platform::host {
namespace {

struct Binding {
    std::uintptr_t base;
    std::uint32_t size;
    std::uint64_t physical;
};

// The attached board, as the bus's target.
class BoardTarget : public BusTarget {
  public:
    std::uint32_t Read(std::uint64_t physical) override { return board->Read(physical); }
    void Write(std::uint64_t physical, std::uint32_t value) override { board->Write(physical, value); }
    bool Poll(std::uint64_t physical, std::uint32_t mask, std::uint64_t reads) override {
        return board->Poll(physical, mask, reads);
    }
    void Unbound(std::uint64_t address, bool write, std::uint64_t count) override {
        board->Unbound(address, write, count);
    }
    sim::Board* board = nullptr;
};

struct State {
    sim::Board* board = nullptr;
    BoardTarget boardTarget;
    BusTarget* bus = nullptr;
    FaultPlan faults;
    std::vector<std::function<void(const CallRecord&)>> observers;
    platform::ReservationTable reservations;
    std::vector<Binding> bindings;
    std::uint32_t reserveRequests = 0;
    std::uint32_t bindRequests = 0;
    std::uint32_t pauses = 0;  // SleepMs calls so far
};

State g_state;

// A fault tied to the program's progress changes only between its
// register accesses, here.
void ApplyScheduledFaults() {
    if (g_state.faults.Scheduled() && g_state.board != nullptr) {
        g_state.board->SetTransmitStuck(g_state.faults.TxStuckIn(g_state.pauses + 1));
    }
}

// Every platform operation starts here, before it holds anything: where a
// run that is stopping leaves the program.
void Enter() {
    if (common::StopRequested()) {
        throw RunStopped{};
    }
    ApplyScheduledFaults();
}

void Record(Call call, std::uint64_t a0, std::uint64_t a1, std::uint64_t a2, std::uint64_t a3,
            std::int64_t result, const std::string& text = {}) {
    const CallRecord record{call, {a0, a1, a2, a3}, result, text};
    for (const auto& observer : g_state.observers) {
        observer(record);
    }
}

}  // namespace

bool FaultPlan::Names(const std::vector<std::uint32_t>& list, std::uint32_t n) {
    return std::find(list.begin(), list.end(), n) != list.end();
}

void Attach(sim::Board* board) {
    g_state.board = board;
    g_state.boardTarget.board = board;
    g_state.bus = board != nullptr ? &g_state.boardTarget : nullptr;
}
void AttachBus(BusTarget* target) {
    g_state.board = nullptr;
    g_state.bus = target;
}
sim::Board* AttachedBoard() {
    return g_state.board;
}
void SetFaults(const FaultPlan& faults) {
    g_state.faults = faults;
}
void AddCallObserver(std::function<void(const CallRecord&)> observer) {
    g_state.observers.push_back(std::move(observer));
}
std::vector<Reserved> Reservations() {
    std::vector<Reserved> out;
    for (std::size_t i = 0; i < g_state.reservations.size(); ++i) {
        out.push_back({g_state.reservations[i].base, g_state.reservations[i].size});
    }
    return out;
}

namespace {

// The physical address behind a program address, or false when no binding
// covers it or it is not word-aligned.
bool ToPhysical(std::uintptr_t address, std::uint64_t& physical) {
    if ((address & 3) != 0) {
        return false;
    }
    for (const Binding& binding : g_state.bindings) {
        if (address - binding.base < binding.size) {
            physical = binding.physical + (address - binding.base);
            return true;
        }
    }
    return false;
}

}  // namespace

std::uint32_t BusRead(std::uintptr_t address) {
    std::uint64_t physical = 0;
    if (g_state.bus == nullptr) {
        return 0;
    }
    if (!ToPhysical(address, physical)) {
        g_state.bus->Unbound(address, false, 1);
        return 0;
    }
    return g_state.bus->Read(physical);
}

void BusWrite(std::uintptr_t address, std::uint32_t value) {
    std::uint64_t physical = 0;
    if (g_state.bus == nullptr) {
        return;
    }
    if (!ToPhysical(address, physical)) {
        g_state.bus->Unbound(address, true, 1);
        return;
    }
    g_state.bus->Write(physical, value);
}

bool BusPoll(std::uintptr_t address, std::uint32_t mask, std::uint64_t reads) {
    std::uint64_t physical = 0;
    if (g_state.bus == nullptr) {
        return false;
    }
    if (!ToPhysical(address, physical)) {
        g_state.bus->Unbound(address, false, reads);  // each reads 0: the wait runs out
        return false;
    }
    return g_state.bus->Poll(physical, mask, reads);
}

std::uint32_t Pauses() {
    return g_state.pauses;
}
std::uint32_t ReserveRequests() {
    return g_state.reserveRequests;
}
std::uint32_t BindRequests() {
    return g_state.bindRequests;
}

void Reset() {
    for (std::size_t i = 0; i < g_state.reservations.size(); ++i) {
        ::munmap(reinterpret_cast<void*>(g_state.reservations[i].base), g_state.reservations[i].size);
    }
    g_state = State{};
    platform::ResetChannels();
}

}  // namespace platform::host

using platform::host::g_state;

void* ReserveRegion(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect) {
    platform::host::Enter();
    const std::uint32_t request = ++g_state.reserveRequests;
    void* base = nullptr;
    if (platform::ReserveArgsValid(address, size, allocationType, protect) && !g_state.reservations.full() &&
        !platform::host::FaultPlan::Names(g_state.faults.refuseReserve, request)) {
        base = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base == MAP_FAILED) {
            base = nullptr;
        } else {
            g_state.reservations.Add(reinterpret_cast<std::uintptr_t>(base), size);
        }
    }
    platform::host::Record(platform::host::Call::Reserve, reinterpret_cast<std::uintptr_t>(address), size,
                           allocationType, protect,
                           static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(base)));
    return base;
}

int VirtualCopy(void* base, std::uint32_t physicalDiv256, std::uint32_t size, std::uint32_t protect) {
    platform::host::Enter();
    const std::uint32_t request = ++g_state.bindRequests;
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::uint64_t physical = static_cast<std::uint64_t>(physicalDiv256) << 8;
    int ok = 0;
    if (g_state.reservations.Holding(address, size) != nullptr &&
        platform::BindArgsValid(address, physical, size, protect) &&
        !platform::host::FaultPlan::Names(g_state.faults.refuseBind, request)) {
        g_state.bindings.push_back(platform::host::Binding{address, size, physical});
        ok = 1;
    }
    platform::host::Record(platform::host::Call::Bind, address, physicalDiv256, size, protect, ok);
    return ok;
}

int ReleaseRegion(void* address, std::uint32_t size, std::uint32_t freeType) {
    platform::host::Enter();
    const auto base = reinterpret_cast<std::uintptr_t>(address);
    const platform::Reservation* reservation = g_state.reservations.At(base);
    int ok = 0;
    if (reservation != nullptr && platform::ReleaseArgsValid(size, freeType)) {
        ::munmap(address, reservation->size);
        std::erase_if(g_state.bindings, [&](const platform::host::Binding& b) {
            return b.base - reservation->base < reservation->size;
        });
        g_state.reservations.Remove(reservation);
        ok = 1;
    }
    platform::host::Record(platform::host::Call::Release, base, size, freeType, 0, ok);
    return ok;
}

void DebugPrint(const wchar_t* format, ...) {
    platform::host::Enter();
    va_list args;
    va_start(args, format);
    const std::string& text = platform::PrintWide(platform::Channel::Debug, format, args);
    va_end(args);
    platform::host::Record(platform::host::Call::Debug, 0, 0, 0, 0, 0, text);
}

int ConsolePrint(const char* format, ...) {
    platform::host::Enter();
    va_list args;
    va_start(args, format);
    const std::string& text = platform::PrintNarrow(platform::Channel::Console, format, args);
    va_end(args);
    platform::host::Record(platform::host::Call::Console, 0, 0, 0, 0, static_cast<std::int64_t>(text.size()),
                           text);
    return static_cast<int>(text.size());
}

void* CopyBytes(void* destination, const void* source, std::size_t count) {
    platform::host::Enter();
    if (count != 0) {
        std::memcpy(destination, source, count);
    }
    platform::host::Record(platform::host::Call::CopyBytes, reinterpret_cast<std::uintptr_t>(destination),
                           reinterpret_cast<std::uintptr_t>(source), count, 0, 0);
    return destination;
}

void SleepMs(std::uint32_t milliseconds) {
    platform::host::Enter();
    platform::host::Record(platform::host::Call::Sleep, milliseconds, 0, 0, 0, 0);
    ++g_state.pauses;
    platform::host::ApplyScheduledFaults();
    const std::uint64_t ns = static_cast<std::uint64_t>(milliseconds) * 1000000u;
    if (g_state.board == nullptr) {
        timespec ts{static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
        while (nanosleep(&ts, &ts) != 0) {
        }
        return;
    }
    if (g_state.board->timeMode() == sim::TimeMode::Real) {
        platform::FlushChannels();  // someone may be watching the run live
    }
    if (!g_state.board->Sleep(ns)) {
        throw platform::host::RunStopped{};  // woken early: the run is stopping
    }
}
