#include "platform/devmem/devmem_platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/channels.h"
#include "platform/platform.h"
#include "platform/regions.h"

namespace platform::devmem {
namespace {

const char* g_devicePath = "/dev/mem";
platform::ReservationTable g_reservations;

// One line on the debug channel that says why the registers cannot be
// reached, in the terms of the person at the board.
void Complain(const char* what, std::uint64_t physical, int error) {
    char line[384];
    int n = std::snprintf(line, sizeof line, "varkel: cannot %s %s for 0x%08llX: %s", what, g_devicePath,
                          static_cast<unsigned long long>(physical), std::strerror(error));
    if (error == EPERM && std::strcmp(what, "map") == 0) {
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n),
                           " (the kernel keeps this block for the driver that owns it: unbind that driver, "
                           "or boot with iomem=relaxed)");
    } else if (error == EACCES || error == EPERM) {
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " (run as root)");
    }
    std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "\n");
    platform::WriteChannel(platform::Channel::Debug, line);
}

}  // namespace

void SetDevicePathForTesting(const char* path) {
    g_devicePath = path;
}

}  // namespace platform::devmem

using platform::devmem::g_reservations;

void* ReserveRegion(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect) {
    if (!platform::ReserveArgsValid(address, size, allocationType, protect) || g_reservations.full()) {
        return nullptr;
    }
    void* base = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    g_reservations.Add(reinterpret_cast<std::uintptr_t>(base), size);
    return base;
}

int VirtualCopy(void* base, std::uint32_t physicalDiv256, std::uint32_t size, std::uint32_t protect) {
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::uint64_t physical = static_cast<std::uint64_t>(physicalDiv256) << 8;
    if (g_reservations.Holding(address, size) == nullptr ||
        !platform::BindArgsValid(address, physical, size, protect) ||
        ::sysconf(_SC_PAGESIZE) != static_cast<long>(kPageSize)) {
        return 0;
    }
    // O_SYNC makes the kernel map the registers uncached.
    const int fd = ::open(platform::devmem::g_devicePath, O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        platform::devmem::Complain("open", physical, errno);
        return 0;
    }
    void* mapped =
        ::mmap(base, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, static_cast<off_t>(physical));
    const int mapErrno = errno;
    ::close(fd);
    if (mapped == MAP_FAILED) {
        platform::devmem::Complain("map", physical, mapErrno);
        // Keep the range reserved so that it can still be given back whole.
        ::mmap(base, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        return 0;
    }
    return 1;
}

int ReleaseRegion(void* address, std::uint32_t size, std::uint32_t freeType) {
    const platform::Reservation* reservation = g_reservations.At(reinterpret_cast<std::uintptr_t>(address));
    if (reservation == nullptr || !platform::ReleaseArgsValid(size, freeType)) {
        return 0;
    }
    ::munmap(address, reservation->size);
    g_reservations.Remove(reservation);
    return 1;
}

void DebugPrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    platform::PrintWide(platform::Channel::Debug, format, args);
    va_end(args);
}

int ConsolePrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string& text = platform::PrintNarrow(platform::Channel::Console, format, args);
    va_end(args);
    return static_cast<int>(text.size());
}

void* CopyBytes(void* destination, const void* source, std::size_t count) {
    return count == 0 ? destination : std::memcpy(destination, source, count);
}

void SleepMs(std::uint32_t milliseconds) {
    platform::FlushChannels();  // the person at the board sees each line as it happens
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
