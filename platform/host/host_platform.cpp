#include "platform/host/host_platform.h"

#include <sys/mman.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "hw/poll.h"
#include "hw/reg_io.h"
#include "platform/platform.h"
#include "platform/text_output.h"
#include "sim/board.h"

namespace host {
namespace {

constexpr std::uint32_t kPageSize = 0x1000;

struct Binding {
    std::uintptr_t base;
    std::uint32_t size;
    std::uint64_t physical;
};

struct State {
    sim::Board* board = nullptr;
    Faults faults;
    std::function<void(const CallRecord&)> observer;
    std::vector<Region> regions;
    std::vector<Binding> bindings;
    std::uint32_t reserveRequests = 0;
    std::uint32_t bindRequests = 0;
    std::uint64_t strayAccesses = 0;
};

State g_state;
// The attached board's remembered status, stamped with the address the
// program reads that register at: a poll on that address then answers its
// reads from it with no translation and no call. With no board attached it
// points at an empty one, so the poll needs no null check.
sim::RememberedStatus g_noStatus;
sim::RememberedStatus* g_remembered = &g_noStatus;

bool Listed(const std::vector<std::uint32_t>& list, std::uint32_t n) {
    for (const std::uint32_t entry : list) {
        if (entry == n) {
            return true;
        }
    }
    return false;
}

void Record(Call call, std::uint64_t a0, std::uint64_t a1, std::uint64_t a2, std::uint64_t a3,
            std::int64_t result, const std::string& text = {}) {
    if (g_state.observer) {
        g_state.observer(CallRecord{call, {a0, a1, a2, a3}, result, text});
    }
}

Region* FindRegion(std::uintptr_t base) {
    for (Region& region : g_state.regions) {
        if (region.base == base) {
            return &region;
        }
    }
    return nullptr;
}

// Physical address behind a register access, or false if no binding covers it.
bool Translate(RegisterWindow window, std::uint32_t offset, std::uint64_t& physical) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(window) + offset;
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

void Stray(RegisterWindow window, std::uint32_t offset, bool write) {
    if (g_state.strayAccesses++ == 0 && g_state.board != nullptr && g_state.board->note) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "register %s at %p + 0x%X, which no window binds (not reported again)",
                      write ? "write" : "read", static_cast<const volatile void*>(window), offset);
        g_state.board->note(line);
    }
}

}  // namespace

void Attach(sim::Board* board) {
    g_state.board = board;
    g_remembered = board != nullptr ? &board->rememberedStatus() : &g_noStatus;
    g_remembered->busAddress = 0;
}
void SetFaults(const Faults& faults) {
    g_state.faults = faults;
}
void SetCallObserver(std::function<void(const CallRecord&)> observer) {
    g_state.observer = std::move(observer);
}
std::vector<Region> Regions() {
    return g_state.regions;
}
std::uint64_t StrayAccesses() {
    return g_state.strayAccesses;
}

void Reset() {
    Attach(nullptr);
    for (const Region& region : g_state.regions) {
        ::munmap(reinterpret_cast<void*>(region.base), region.size);
    }
    g_state = State{};
    platform::ResetChannels();
}

}  // namespace host

using host::g_state;

void* ReserveRegion(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect) {
    const std::uint32_t request = ++g_state.reserveRequests;
    void* base = nullptr;
    const bool valid = address == nullptr && size != 0 && size % host::kPageSize == 0 &&
                       (allocationType & kMemReserve) != 0 && protect == kPageNoAccess;
    if (valid && !host::Listed(g_state.faults.refuseReserve, request)) {
        base = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base == MAP_FAILED) {
            base = nullptr;
        } else {
            g_state.regions.push_back(host::Region{reinterpret_cast<std::uintptr_t>(base), size, false, 0});
        }
    }
    host::Record(host::Call::Reserve, reinterpret_cast<std::uintptr_t>(address), size, allocationType,
                 protect, static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(base)));
    return base;
}

int VirtualCopy(void* base, std::uint32_t physicalDiv256, std::uint32_t size, std::uint32_t protect) {
    const std::uint32_t request = ++g_state.bindRequests;
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::uint64_t physical = static_cast<std::uint64_t>(physicalDiv256) << 8;
    int ok = 0;
    // The range must lie inside one reservation, in whole pages, and name a
    // physical page; only uncached read-write bindings exist on this board.
    const host::Region* region = nullptr;
    for (const host::Region& r : g_state.regions) {
        if (address >= r.base && address - r.base < r.size && size <= r.size - (address - r.base)) {
            region = &r;
        }
    }
    const bool valid = region != nullptr && size != 0 && address % host::kPageSize == 0 &&
                       size % host::kPageSize == 0 && physical % host::kPageSize == 0 &&
                       protect == (kPagePhysical | kPageNoCache | kPageReadWrite);
    if (valid && !host::Listed(g_state.faults.refuseBind, request)) {
        g_state.bindings.push_back(host::Binding{address, size, physical});
        host::FindRegion(region->base)->bound = true;
        host::FindRegion(region->base)->physical = physical;
        ok = 1;
    }
    host::Record(host::Call::Bind, address, physicalDiv256, size, protect, ok);
    return ok;
}

int ReleaseRegion(void* address, std::uint32_t size, std::uint32_t freeType) {
    const auto base = reinterpret_cast<std::uintptr_t>(address);
    int ok = 0;
    host::Region* region = host::FindRegion(base);
    if (region != nullptr && size == 0 && freeType == kMemRelease) {
        ::munmap(address, region->size);
        std::erase_if(g_state.bindings,
                      [&](const host::Binding& b) { return b.base - region->base < region->size; });
        host::g_remembered->busAddress = 0;  // the address may come back for another page
        std::erase_if(g_state.regions, [&](const host::Region& r) { return r.base == base; });
        ok = 1;
    }
    host::Record(host::Call::Release, base, size, freeType, 0, ok);
    return ok;
}

void DebugPrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string& text = platform::PrintWide(platform::Channel::Debug, format, args);
    va_end(args);
    host::Record(host::Call::Debug, 0, 0, 0, 0, 0, text);
}

int ConsolePrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string& text = platform::PrintNarrow(platform::Channel::Console, format, args);
    va_end(args);
    host::Record(host::Call::Console, 0, 0, 0, 0, static_cast<std::int64_t>(text.size()), text);
    return static_cast<int>(text.size());
}

void* CopyBytes(void* destination, const void* source, std::size_t count) {
    if (count != 0) {
        std::memcpy(destination, source, count);
    }
    host::Record(host::Call::CopyBytes, reinterpret_cast<std::uintptr_t>(destination),
                 reinterpret_cast<std::uintptr_t>(source), count, 0, 0);
    return destination;
}

void SleepMs(std::uint32_t milliseconds) {
    host::Record(host::Call::Sleep, milliseconds, 0, 0, 0, 0);
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
    g_state.board->Sleep(ns);
}

std::uint32_t RegRead(RegisterWindow window, std::uint32_t offset) {
    std::uint64_t physical = 0;
    if (!host::Translate(window, offset, physical) || g_state.board == nullptr) {
        host::Stray(window, offset, false);
        return 0;
    }
    const std::uint32_t value = g_state.board->Read(physical);
    sim::RememberedStatus& remembered = *host::g_remembered;
    if (remembered.physical == physical && remembered.left != 0) {
        remembered.busAddress = reinterpret_cast<std::uintptr_t>(window) + offset;
    }
    return value;
}

bool PollRegisterUntilSet(RegisterWindow window, std::uint32_t offset, std::uint32_t mask,
                          std::uint32_t limit) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(window) + offset;
    std::uint32_t counter = limit;
    for (;;) {
        sim::RememberedStatus& remembered = *host::g_remembered;
        if (address == remembered.busAddress && remembered.left != 0) {
            // Reads the board has already answered. Each is still one load of
            // the remembered value; only the count of them stays in a register
            // until the run or the wait ends, so no read waits on the last
            // one's count going through memory.
            const volatile std::uint32_t& value = remembered.value;
            std::uint64_t left = remembered.left;
            for (;;) {
                const std::uint32_t status = value;
                --left;
                if ((status & mask) != 0 || counter == 0) {
                    remembered.left = left;
                    return (status & mask) != 0;
                }
                --counter;
                if (left == 0) {
                    break;
                }
            }
            remembered.left = 0;
            continue;
        }
        if ((RegRead(window, offset) & mask) != 0) {
            return true;
        }
        if (counter == 0) {
            return false;
        }
        --counter;
    }
}

void RegWrite(RegisterWindow window, std::uint32_t offset, std::uint32_t value) {
    std::uint64_t physical = 0;
    if (!host::Translate(window, offset, physical) || g_state.board == nullptr) {
        host::Stray(window, offset, true);
        return;
    }
    g_state.board->Write(physical, value);
}
