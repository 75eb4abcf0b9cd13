// The agent: a library that qemu-arm loads twice over, before anything else
// (LD_PRELOAD) and as a plugin (-plugin), so that an unmodified board
// binary's /dev/mem windows are answered by varkel-sim's simulated board.
// It is that binary's kernel and bus:
//
//  - the plugin's system-call hooks see each of the binary's own calls
//    with its arguments: a reservation, a /dev/mem mapping, a release;
//  - mmap64, which the emulator calls to carry them out, is ours first: a
//    /dev/mem mapping becomes a range with no access, a window, so each
//    load and store there faults;
//  - our SIGSEGV handler, kept ahead of the emulator's, takes a fault in a
//    window, decodes the host instruction, performs the access on the
//    board and resumes after it; any other fault is the emulator's;
//  - a seccomp filter traps the system calls the emulator makes for the
//    binary (they all leave from its safe-syscall code): writes to the
//    console and debug channel, sleeps and opens come here first;
//  - clock_gettime and gettimeofday answer the binary's own clock reads
//    with board time.
//
// Every access is performed once, in program order, or the run is refused
// with the physical address: a byte or halfword access, a 64-bit one, an
// exchange, an access from a second thread, a system call reading a window.
// Handlers allocate nothing: the disassembler's room is made up front.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "tools/varkel-sim/binary/agent_protocol.h"
#include "tools/varkel-sim/binary/guest_calls.h"
#include "tools/varkel-sim/binary/host_access.h"

#define AGENT_EXPORT extern "C" __attribute__((visibility("default")))

namespace varkel_sim::binary {
namespace {

// The 32-bit ARM Linux system calls the agent watches, by the numbers the
// binary uses.
namespace guest {
constexpr std::int64_t kLseek = 19, kIoctl = 54, kMunmap = 91, kClone = 120, kLlseek = 140, kMremap = 163,
                       kPread64 = 180, kPwrite64 = 181, kMmap2 = 192, kFtruncate64 = 194, kClockGettime = 263,
                       kClockGettime64 = 403, kGettimeofday = 78, kPreadv = 361, kPwritev = 362;
constexpr std::uint64_t kMapShared = 0x01, kMapPrivate = 0x02, kMapAnonymous = 0x20, kMapFixed = 0x10;
constexpr std::uint64_t kProtWrite = 0x2, kCloneVm = 0x100;
constexpr std::uint64_t kTcgets = 0x5401, kTiocgwinsz = 0x5413;
}  // namespace guest

struct Window {
    std::uintptr_t base = 0;
    std::uint64_t size = 0;
    std::uint64_t physical = 0;
    int protection = 0;     // as the binary mapped it, or last changed it
    bool mayWrite = false;  // /dev/mem was opened for writing
};
struct Range {
    std::uintptr_t base = 0;
    std::uint64_t size = 0;
};

constexpr int kMaxRanges = 64;

// What the binary's system call now in progress asks of mmap64.
enum class Pending { None, Reserve, Bind };

struct State {
    bool active = false;  // the agent's socket is open: everything below applies
    int socket = -1;
    char devicePath[4096] = {};
    dev_t deviceDev = 0;
    ino_t deviceIno = 0;
    pid_t mainTid = 0;
    std::uint64_t realtimeAtZero = 0;  // the host's real time at board time 0, ns
    // The emulator chooses where the guest's addresses start only after it
    // has loaded its plugins, so this is read at each use.
    const std::uintptr_t* guestBase = nullptr;
    std::uintptr_t safeSyscallStart = 0, safeSyscallEnd = 0;
    Window windows[kMaxRanges];
    int windowCount = 0;
    Range reservations[kMaxRanges];
    int reservationCount = 0;
    // The binary's current system call, on its main thread.
    std::int64_t syscall = -1;
    Pending pending = Pending::None;
    int pendingErrno = 0;
    std::uint64_t pendingPhysical = 0;
    int pendingProtection = 0;
    bool pendingMayWrite = false;
    // The sandbox's /dev, where /dev/mem is named whether or not it is there.
    dev_t devDirDev = 0;
    ino_t devDirIno = 0;
    bool deviceThere = false;
    // Reads answered here, since the board said they could not see a change.
    std::uint64_t runPhysical = 0, runCount = 0, runLeft = 0;
    std::uint32_t runValue = 0;
    struct sigaction emulatorSegv {};
    struct sigaction emulatorSys {};
    bool emulatorSegvSet = false, emulatorSysSet = false;
    // Executable code that is not the emulator's translation: the emulator
    // itself and the libraries. A fault from there is not the binary's.
    Range code[32];
    int codeCount = 0;
};

State g;
alignas(HostDecoder) unsigned char g_decoderRoom[sizeof(HostDecoder)];
HostDecoder* g_decoder = nullptr;

// Decoded host instructions by address, so a wait's loop is decoded once.
struct Decoded {
    std::uintptr_t rip = 0;
    std::uint8_t bytes[16] = {};
    HostAccess access;
};
Decoded g_decoded[64];

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using MmapFn = void* (*)(void*, std::size_t, int, int, int, off_t);
using SigactionFn = int (*)(int, const struct sigaction*, struct sigaction*);
using ClockGettimeFn = int (*)(clockid_t, struct timespec*);
using GettimeofdayFn = int (*)(struct timeval*, void*);

MmapFn RealMmap() {
    static MmapFn real = Real<MmapFn>("mmap64");
    return real;
}
SigactionFn RealSigaction() {
    static SigactionFn real = Real<SigactionFn>("sigaction");
    return real;
}

pid_t Tid() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

std::uintptr_t GuestToHost(std::uint64_t guest) {
    return *g.guestBase + static_cast<std::uintptr_t>(guest);
}

bool OnMainThread() {
    return Tid() == g.mainTid;
}

// --- The socket to varkel-sim ---------------------------------------------

[[noreturn]] void Lost() {
    ::_exit(125);  // varkel-sim is gone: nobody is left to answer the binary
}

// Records wait here until one wants a reply, or there is no room left.
struct Outbox {
    alignas(8) unsigned char bytes[kDatagramBytes];
    std::size_t used = 0;
};
Outbox g_outbox;

void Flush() {
    if (g_outbox.used == 0) {
        return;
    }
    for (;;) {
        const ssize_t n = ::send(g.socket, g_outbox.bytes, g_outbox.used, MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(g_outbox.used)) {
            g_outbox.used = 0;
            return;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        Lost();
    }
}

void Append(Op op, std::uint64_t a, std::uint64_t b, std::uint64_t c, const char* text,
            std::uint32_t length) {
    if (g_outbox.used + RecordBytes(length) > sizeof g_outbox.bytes) {
        Flush();
    }
    const Record record{op, length, a, b, c};
    std::memcpy(g_outbox.bytes + g_outbox.used, &record, sizeof record);
    if (length > 0) {
        std::memcpy(g_outbox.bytes + g_outbox.used + sizeof record, text, length);
    }
    g_outbox.used += RecordBytes(length);
}

// Queues a record; the reads answered ahead since the last one go first,
// so that varkel-sim sees everything in the binary's order.
void Post(Op op, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0, const char* text = nullptr,
          std::uint32_t length = 0) {
    if (g.runCount > 0) {
        const std::uint64_t count = g.runCount;
        g.runCount = 0;
        Append(Op::Repeat, g.runPhysical, count, 0, nullptr, 0);
    }
    g.runLeft = 0;
    Append(op, a, b, c, text, length);
}

// Sends what waits with a record that wants a reply, and returns the reply.
Reply Call(Op op, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0) {
    Post(op, a, b, c);
    Flush();
    Reply reply{};
    for (;;) {
        const ssize_t n = ::recv(g.socket, &reply, sizeof reply, 0);
        if (n == static_cast<ssize_t>(sizeof reply)) {
            return reply;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        Lost();
    }
}

// Ends the run: says what cannot be performed exactly and waits to be
// stopped.
[[noreturn]] void Refuse(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Post(Op::Refuse, 0, 0, 0, text,
         static_cast<std::uint32_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
    Flush();
    for (;;) {
        ::pause();
    }
}

void SendText(int channel, const char* text, std::size_t size) {
    while (size > 0) {
        const std::size_t chunk = std::min(size, kMostText);
        Post(Op::Text, static_cast<std::uint64_t>(channel), 0, 0, text, static_cast<std::uint32_t>(chunk));
        text += chunk;
        size -= chunk;
    }
}

std::uint64_t BoardNow() {
    return Call(Op::Now).a;
}

// --- Windows and reservations ---------------------------------------------

const Window* FindWindow(std::uintptr_t address) {
    for (int i = 0; i < g.windowCount; ++i) {
        if (address - g.windows[i].base < g.windows[i].size) {
            return &g.windows[i];
        }
    }
    return nullptr;
}

bool Overlaps(std::uintptr_t base, std::uint64_t size, std::uintptr_t otherBase, std::uint64_t otherSize) {
    return base < otherBase + otherSize && otherBase < base + size;
}

// The first window that [base, base + size) touches, or null.
Window* WindowIn(std::uintptr_t base, std::uint64_t size) {
    for (int i = 0; i < g.windowCount; ++i) {
        if (Overlaps(base, size, g.windows[i].base, g.windows[i].size)) {
            return &g.windows[i];
        }
    }
    return nullptr;
}

// Forgets the ranges of `table` that [base, base + size) touches; true if
// there were any.
template <typename T>
bool ForgetIn(T* table, int& count, std::uintptr_t base, std::uint64_t size) {
    bool any = false;
    for (int i = 0; i < count;) {
        if (Overlaps(base, size, table[i].base, table[i].size)) {
            table[i] = table[--count];
            any = true;
        } else {
            ++i;
        }
    }
    return any;
}

bool InReservation(std::uintptr_t base, std::uint64_t size) {
    for (int i = 0; i < g.reservationCount; ++i) {
        if (base >= g.reservations[i].base &&
            base + size <= g.reservations[i].base + g.reservations[i].size) {
            return true;
        }
    }
    return false;
}

// Forgets the windows and reservations [base, base + size) touches.
bool Forget(std::uintptr_t base, std::uint64_t size) {
    const bool windows = ForgetIn(g.windows, g.windowCount, base, size);
    return ForgetIn(g.reservations, g.reservationCount, base, size) || windows;
}

bool IsDevice(int fd) {
    struct stat st {};
    return g.deviceThere && fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == g.deviceDev &&
           st.st_ino == g.deviceIno;
}

// --- Register accesses ------------------------------------------------------

std::uint32_t BoardRead(std::uint64_t physical) {
    if (g.runLeft > 0 && physical == g.runPhysical) {
        --g.runLeft;
        ++g.runCount;
        return g.runValue;
    }
    const Reply reply = Call(Op::Read, physical);
    g.runPhysical = physical;
    g.runValue = static_cast<std::uint32_t>(reply.a);
    g.runLeft = reply.b;
    return g.runValue;
}

void BoardWrite(std::uint64_t physical, std::uint32_t value) {
    Post(Op::Write, physical, value);
}

bool InCode(std::uintptr_t rip) {
    for (int i = 0; i < g.codeCount; ++i) {
        if (rip - g.code[i].base < g.code[i].size) {
            return true;
        }
    }
    return false;
}

const HostAccess& DecodeAt(std::uintptr_t rip) {
    Decoded& slot = g_decoded[(rip >> 2) % (sizeof g_decoded / sizeof g_decoded[0])];
    const auto* code = reinterpret_cast<const std::uint8_t*>(rip);
    if (slot.rip != rip || std::memcmp(slot.bytes, code, sizeof slot.bytes) != 0) {
        slot.rip = rip;
        std::memcpy(slot.bytes, code, sizeof slot.bytes);
        slot.access = g_decoder->Decode(slot.bytes, sizeof slot.bytes, rip);
    }
    return slot.access;
}

// A signal that is not ours goes where the emulator asked it to. The
// emulator ends a guest killed by a signal by restoring the default action
// and sending the signal to itself: that one must be sent again once the
// default is back, or the emulator waits for it forever. A fault raised by
// an instruction needs nothing more: it recurs when the instruction does.
void PassToEmulator(const struct sigaction& emulator, bool set, int signal, siginfo_t* info, void* context) {
    if (set && (emulator.sa_flags & SA_SIGINFO) != 0) {
        emulator.sa_sigaction(signal, info, context);
        return;
    }
    if (set && emulator.sa_handler == SIG_IGN) {
        return;
    }
    if (set && emulator.sa_handler != SIG_DFL) {
        emulator.sa_handler(signal);
        return;
    }
    Flush();  // what the binary wrote before it died reaches varkel-sim
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    RealSigaction()(signal, &standard, nullptr);
    if (info->si_code <= 0) {  // sent by kill(), tgkill() or sigqueue()
        ::raise(signal);       // held until this handler returns
    }
}

void OnSegv(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const Window* window = g.active ? FindWindow(address) : nullptr;
    if (window == nullptr) {
        PassToEmulator(g.emulatorSegv, g.emulatorSegvSet, signal, info, context);
        return;
    }
    const std::uint64_t physical = window->physical + (address - window->base);
    if (!OnMainThread()) {
        Refuse(
            "an access from a second thread at physical 0x%08llX: the board's registers are "
            "modelled for one thread",
            static_cast<unsigned long long>(physical));
    }
    auto* uc = static_cast<ucontext_t*>(context);
    greg_t* regs = uc->uc_mcontext.gregs;
    const auto rip = static_cast<std::uintptr_t>(regs[REG_RIP]);
    const HostAccess& access = DecodeAt(rip);
    const bool write = (regs[REG_ERR] & 2) != 0;
    // What the binary's own mapping does not allow faults as it would on
    // the board: the emulator hands the binary its SIGSEGV.
    if (!(write ? (window->protection & PROT_WRITE) != 0
                : (window->protection & (PROT_READ | PROT_WRITE)) != 0)) {
        PassToEmulator(g.emulatorSegv, g.emulatorSegvSet, signal, info, context);
        return;
    }
    if (InCode(rip) && !access.exchange) {  // an exchange is carried out by the emulator's own code
        Refuse(
            "the emulator itself touched the register window at physical 0x%08llX (a system call's "
            "argument in a window?): only the binary's own loads and stores are performed",
            static_cast<unsigned long long>(physical));
    }
    if (access.kind == HostAccess::Kind::Refused) {
        Refuse(
            "%s (host %s) at physical 0x%08llX: the board's registers take only aligned 32-bit loads "
            "and stores",
            access.what, access.mnemonic, static_cast<unsigned long long>(physical));
    }
    if ((access.kind == HostAccess::Kind::Store) != write) {
        Refuse("a host %s at physical 0x%08llX that the processor reports as a %s", access.mnemonic,
               static_cast<unsigned long long>(physical), write ? "write" : "read");
    }
    if ((address & 3) != 0) {
        Refuse(
            "a misaligned 32-bit %s at physical 0x%08llX: the board's registers take only aligned "
            "32-bit loads and stores",
            write ? "store" : "load", static_cast<unsigned long long>(physical));
    }
    if (write) {
        const std::uint32_t value =
            access.reg >= 0 ? static_cast<std::uint32_t>(regs[access.reg]) : access.constant;
        BoardWrite(physical, value);
    } else {
        const std::uint32_t value = BoardRead(physical);
        regs[access.reg] = access.signExtend ? static_cast<greg_t>(static_cast<std::int32_t>(value))
                                             : static_cast<greg_t>(value);
    }
    regs[REG_RIP] += access.length;
}

// --- The binary's system calls, trapped on their way to the host -----------

std::uint64_t Ns(const struct timespec& ts) {
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

// Board time on `clock`: the monotonic clocks count from board time 0, the
// real-time clock from the host's time when the run began.
std::uint64_t BoardClock(clockid_t clock) {
    const std::uint64_t now = BoardNow();
    return clock == CLOCK_REALTIME || clock == CLOCK_TAI ? g.realtimeAtZero + now : now;
}

bool BoardClockId(clockid_t clock) {
    return clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW || clock == CLOCK_BOOTTIME ||
           clock == CLOCK_REALTIME || clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_REALTIME_COARSE ||
           clock == CLOCK_TAI;
}

// Lets the board's time pass; false when varkel-sim is ending the run.
long Sleep(std::uint64_t ns) {
    if (Call(Op::Sleep, ns).a != 0) {
        for (;;) {
            ::pause();  // varkel-sim stops the emulator
        }
    }
    return 0;
}

void CheckBuffer(const char* call, std::uintptr_t buffer, std::uint64_t size) {
    if (const Window* window = WindowIn(buffer, size)) {
        const std::uint64_t start = buffer > window->base ? buffer - window->base : 0;
        Refuse(
            "a system call (%s) on the register window at physical 0x%08llX: the board answers only "
            "the binary's own loads and stores",
            call, static_cast<unsigned long long>(window->physical + start));
    }
}

long Perform(long nr, const greg_t* regs) {
    const long result =
        ::syscall(nr, regs[REG_RDI], regs[REG_RSI], regs[REG_RDX], regs[REG_R10], regs[REG_R8], regs[REG_R9]);
    return result == -1 ? -errno : result;
}

// Reading or writing /dev/mem as a file would reach the board's registers
// by a way the board does not model.
void CheckNotDevice(const char* call, int fd) {
    if (IsDevice(fd)) {
        Refuse(
            "a system call (%s) on /dev/mem itself: the board answers only loads and stores in a mapped "
            "window",
            call);
    }
}

// The nodes of the sandbox's /dev that a C library opens; every other
// device is refused before it is opened, wherever its node lies.
bool Harmless(dev_t device) {
    return major(device) == 1 && (minor(device) == 3 || minor(device) == 5 || minor(device) == 7 ||
                                  minor(device) == 8 || minor(device) == 9);
}

bool IsDevDir(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == g.devDirDev && st.st_ino == g.devDirIno;
}

// Whether `path`, looked up from `dirfd` as the kernel would, following
// links, ends at the name "mem" in /dev, which does not exist: how the
// binary meets a kernel without /dev/mem, however it spells it.
bool NamesAbsentDevice(int dirfd, const char* path) {
    char text[4096];
    std::snprintf(text, sizeof text, "%s", path);
    int dir = dirfd == AT_FDCWD ? ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                : ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    bool found = false;
    for (int links = 0; dir >= 0 && links < 40; ++links) {
        char* slash = std::strrchr(text, '/');
        const char* leaf = slash != nullptr ? slash + 1 : text;
        int parent = -1;
        if (slash == nullptr) {
            parent = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
        } else {
            *slash = '\0';
            parent = ::openat(dir, text[0] == '\0' ? "/" : text, O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        if (parent < 0) {
            break;
        }
        char target[4096];
        const ssize_t n = ::readlinkat(parent, leaf, target, sizeof target - 1);
        if (n < 0) {
            found = std::strcmp(leaf, "mem") == 0 && IsDevDir(parent);
            ::close(parent);
            break;
        }
        target[n] = '\0';
        std::memcpy(text, target, static_cast<std::size_t>(n) + 1);
        ::close(dir);
        dir = parent;  // a relative link goes on from the link's folder
    }
    if (dir >= 0) {
        ::close(dir);
    }
    return found;
}

// An open, by what the path names rather than how it is spelled: the
// stand-in for /dev/mem (with the kernel's faults), /dev/mem where the
// kernel has none, a device of this machine (never opened), or a file.
long OnOpen(long nr, const greg_t* regs) {
    const int dirfd = nr == SYS_openat ? static_cast<int>(regs[REG_RDI]) : AT_FDCWD;
    const char* path = reinterpret_cast<const char*>(nr == SYS_openat ? regs[REG_RSI] : regs[REG_RDI]);
    const int flags = static_cast<int>(nr == SYS_openat ? regs[REG_RDX] : regs[REG_RSI]);
    const int probe = ::openat(dirfd, path, O_PATH | O_CLOEXEC | (flags & O_NOFOLLOW));
    if (probe >= 0) {
        struct stat st {};
        const bool known = ::fstat(probe, &st) == 0;
        ::close(probe);
        if (known && g.deviceThere && st.st_dev == g.deviceDev && st.st_ino == g.deviceIno) {
            const Reply reply = Call(Op::Open, static_cast<std::uint64_t>(flags), 0);
            if (reply.a != 0) {
                return -static_cast<long>(reply.a);
            }
        } else if (known && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) && !Harmless(st.st_rdev)) {
            const bool memory = S_ISCHR(st.st_mode) && major(st.st_rdev) == 1 &&
                                (minor(st.st_rdev) == 1 || minor(st.st_rdev) == 2 || minor(st.st_rdev) == 4);
            if (memory) {
                Refuse("the binary asked to open %s, this machine's own memory device: refused, never opened",
                       path);
            }
            Refuse("the binary asked to open %s, a device of this machine (%s %u:%u): refused, never opened",
                   path, S_ISCHR(st.st_mode) ? "character" : "block", major(st.st_rdev), minor(st.st_rdev));
        }
        return Perform(nr, regs);
    }
    if (errno == ENOENT && NamesAbsentDevice(dirfd, path)) {
        if ((flags & O_CREAT) != 0) {
            Refuse(
                "the binary created %s where its kernel has no /dev/mem: on the board that makes a plain "
                "file, which no register sees: refused",
                path);
        }
        Call(Op::Open, static_cast<std::uint64_t>(flags), 1);
        return -ENOENT;
    }
    return Perform(nr, regs);
}

long OnWrite(long nr, const greg_t* regs) {
    const int fd = static_cast<int>(regs[REG_RDI]);
    const char* name = nr == SYS_write ? "write" : nr == SYS_pwrite64 ? "pwrite64" : "writev";
    CheckNotDevice(name, fd);
    if (nr == SYS_writev) {
        const auto* iov = reinterpret_cast<const struct iovec*>(regs[REG_RSI]);
        const auto count = static_cast<int>(regs[REG_RDX]);
        long total = 0;
        for (int i = 0; i < count; ++i) {
            CheckBuffer(name, reinterpret_cast<std::uintptr_t>(iov[i].iov_base), iov[i].iov_len);
        }
        if (fd != 1 && fd != 2) {
            return Perform(nr, regs);
        }
        for (int i = 0; i < count; ++i) {
            SendText(fd, static_cast<const char*>(iov[i].iov_base), iov[i].iov_len);
            total += static_cast<long>(iov[i].iov_len);
        }
        return total;
    }
    const auto buffer = static_cast<std::uintptr_t>(regs[REG_RSI]);
    const auto size = static_cast<std::uint64_t>(regs[REG_RDX]);
    CheckBuffer(name, buffer, size);
    if (nr == SYS_write && (fd == 1 || fd == 2)) {
        SendText(fd, reinterpret_cast<const char*>(buffer), size);
        return static_cast<long>(size);
    }
    return Perform(nr, regs);
}

long OnRead(long nr, const greg_t* regs) {
    const char* name = nr == SYS_read ? "read" : nr == SYS_pread64 ? "pread64" : "readv";
    CheckNotDevice(name, static_cast<int>(regs[REG_RDI]));
    if (nr == SYS_readv) {
        const auto* iov = reinterpret_cast<const struct iovec*>(regs[REG_RSI]);
        for (int i = 0; i < static_cast<int>(regs[REG_RDX]); ++i) {
            CheckBuffer(name, reinterpret_cast<std::uintptr_t>(iov[i].iov_base), iov[i].iov_len);
        }
    } else {
        CheckBuffer(name, static_cast<std::uintptr_t>(regs[REG_RSI]),
                    static_cast<std::uint64_t>(regs[REG_RDX]));
    }
    return Perform(nr, regs);
}

// A pause's length, as the kernel takes it: EINVAL for a time that is not
// one (a negative second, nanoseconds past a second).
bool Valid(const struct timespec& ts) {
    return ts.tv_sec >= 0 && ts.tv_nsec >= 0 && ts.tv_nsec < 1000000000;
}

// Nanoseconds, saturated: varkel-sim refuses a pause past what board time
// holds, so it can never wrap.
std::uint64_t PauseNs(const struct timespec& ts) {
    constexpr std::uint64_t kMostSeconds = UINT64_MAX / 1000000000u - 1;
    return static_cast<std::uint64_t>(ts.tv_sec) > kMostSeconds ? UINT64_MAX : Ns(ts);
}

long OnSleep(long nr, const greg_t* regs) {
    if (nr == SYS_nanosleep) {
        const auto& request = *reinterpret_cast<const struct timespec*>(regs[REG_RDI]);
        return Valid(request) ? Sleep(PauseNs(request)) : -EINVAL;
    }
    const auto clock = static_cast<clockid_t>(regs[REG_RDI]);
    const auto flags = static_cast<int>(regs[REG_RSI]);
    const auto& request = *reinterpret_cast<const struct timespec*>(regs[REG_RDX]);
    if (clock != CLOCK_REALTIME && clock != CLOCK_MONOTONIC && clock != CLOCK_BOOTTIME &&
        clock != CLOCK_TAI) {
        Refuse(
            "the binary slept on clock %d, which board time does not model (only the real-time, monotonic, "
            "boot-time and atomic clocks)",
            static_cast<int>(clock));
    }
    if (!Valid(request)) {
        return -EINVAL;
    }
    if ((flags & TIMER_ABSTIME) == 0) {
        return Sleep(PauseNs(request));
    }
    const std::uint64_t now = BoardClock(clock);
    const std::uint64_t deadline = PauseNs(request);
    return Sleep(deadline > now ? deadline - now : 0);
}

// The host calls the emulator makes for the binary that are trapped, each
// with its handler: the one table the filter is built from and the trap
// dispatches by.
struct Trap {
    long nr;
    long (*handler)(long, const greg_t*);
};
constexpr Trap kTraps[] = {
    {SYS_open, OnOpen},       {SYS_openat, OnOpen},
    {SYS_write, OnWrite},     {SYS_writev, OnWrite},
    {SYS_pwrite64, OnWrite},  {SYS_read, OnRead},
    {SYS_readv, OnRead},      {SYS_pread64, OnRead},
    {SYS_nanosleep, OnSleep}, {SYS_clock_nanosleep, OnSleep},
};
constexpr std::size_t kTrapCount = sizeof kTraps / sizeof kTraps[0];

void OnSys(int signal, siginfo_t* info, void* context) {
    if (info->si_code != 1 /* SYS_SECCOMP */ || !g.active) {
        PassToEmulator(g.emulatorSys, g.emulatorSysSet, signal, info, context);
        return;
    }
    const int saved = errno;
    greg_t* regs = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    const long nr = info->si_syscall;
    const bool text = (nr == SYS_write || nr == SYS_writev) && (regs[REG_RDI] == 1 || regs[REG_RDI] == 2);
    if (!OnMainThread() && (text || nr == SYS_nanosleep || nr == SYS_clock_nanosleep)) {
        Refuse("a second thread of the binary %s: the board and its time are modelled for one thread",
               text ? "wrote text" : "slept");
    }
    long result = -ENOSYS;
    for (const Trap& trap : kTraps) {
        if (trap.nr == nr) {
            result = trap.handler(nr, regs);
            break;
        }
    }
    regs[REG_RAX] = result;
    errno = saved;
}

// Traps the calls of kTraps, and only when they leave from the emulator's
// safe-syscall code: the binary's, never the emulator's own.
bool InstallFilter() {
    const auto start = static_cast<std::uint64_t>(g.safeSyscallStart);
    const auto end = static_cast<std::uint64_t>(g.safeSyscallEnd);
    if ((start >> 32) != (end >> 32)) {
        return false;
    }
    const auto high = static_cast<std::uint32_t>(start >> 32);
    const auto low = static_cast<std::uint32_t>(start);
    const auto lowEnd = static_cast<std::uint32_t>(end);  // the address after its one syscall instruction
    constexpr std::uint32_t ipLow = offsetof(seccomp_data, instruction_pointer);
    constexpr std::uint32_t ipHigh = ipLow + 4;
    sock_filter program[12 + kTrapCount + 2] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ipHigh),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, high, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ipLow),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, low, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, lowEnd, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    // Each trapped number jumps past the jumps after it and the ALLOW to
    // the TRAP; a number none matches falls through to the ALLOW.
    for (std::size_t i = 0; i < kTrapCount; ++i) {
        program[12 + i] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(kTraps[i].nr),
                                   static_cast<std::uint8_t>(kTrapCount - i), 0);
    }
    program[12 + kTrapCount] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    program[12 + kTrapCount + 1] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP);
    const sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}

// --- The plugin's view of the binary's system calls ------------------------
//
// Each call is seen here before the emulator performs it. A call no board
// binary makes never reaches it, whichever way the emulator would have
// carried it out.

const char* CallName(std::int64_t num, char (&room)[32]) {
    if (const char* name = GuestCallName(num)) {
        return name;
    }
    std::snprintf(room, sizeof room, "system call %lld", static_cast<long long>(num));
    return room;
}

[[noreturn]] void RefuseCall(std::int64_t num) {
    char room[32];
    const char* name = CallName(num, room);
    if (const char* why = GuestRefusalReason(num)) {
        Refuse("the binary called %s: %s", name, why);
    }
    Refuse(
        "the binary called %s, which a board binary and its C library do not call: refused, never performed",
        name);
}

// Where on the board a call on /dev/mem itself would have read or written:
// the offset it names, or the descriptor's own.
std::uint64_t DeviceOffset(std::int64_t num, int fd, const std::uint64_t* a) {
    const auto pair = [&](int low) { return (a[low] & 0xFFFFFFFFu) | (a[low + 1] << 32); };
    switch (num) {
        case guest::kPread64:
        case guest::kPwrite64:
            return pair(4);
        case guest::kPreadv:
        case guest::kPwritev:
            return pair(3);
        case guest::kFtruncate64:
            return pair(2);
        case guest::kLseek:
            if (a[2] == SEEK_SET) {
                return a[1] & 0xFFFFFFFFu;
            }
            break;
        case guest::kLlseek:
            if (a[4] == SEEK_SET) {
                return ((a[1] & 0xFFFFFFFFu) << 32) | (a[2] & 0xFFFFFFFFu);
            }
            break;
        default:
            break;
    }
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<std::uint64_t>(at);
}

// The descriptors a call names: never the agent's own channel, and /dev/mem
// only to be mapped, closed or duplicated.
void CheckDescriptors(std::int64_t num, const GuestCall& call, const std::uint64_t* a) {
    for (int i = 0; i < 6; ++i) {
        if ((call.descriptors & (1u << i)) == 0) {
            continue;
        }
        const auto fd = static_cast<int>(static_cast<std::int32_t>(a[i]));
        char room[32];
        if (fd == g.socket) {
            Refuse("the binary used descriptor %d in %s, a descriptor it was never given: refused", fd,
                   CallName(num, room));
        }
        if ((call.notDevice & (1u << i)) == 0 || !IsDevice(fd)) {
            continue;
        }
        if (num == guest::kIoctl || call.rule == GuestRule::Open || num == 197 /* fstat64 */ ||
            num == 327 /* fstatat64 */ || num == 397 /* statx */) {
            Refuse(
                "a system call (%s) on /dev/mem itself: the simulated board stands in for it only where it "
                "is mapped",
                CallName(num, room));
        }
        Refuse(
            "a system call (%s) on /dev/mem itself, at physical 0x%08llX: the board answers only loads and "
            "stores in a mapped window",
            CallName(num, room), static_cast<unsigned long long>(DeviceOffset(num, fd, a)));
    }
}

// A mapping of /dev/mem, as the kernel checks it: a private one would keep
// the binary's stores from the board; one that may write needs the
// descriptor opened for writing.
void OnDeviceMapping(int fd, std::uint64_t address, std::uint64_t size, std::uint64_t protection,
                     std::uint64_t flags, std::uint64_t pageOffset) {
    const std::uint64_t physical = pageOffset * 4096;
    if ((flags & (guest::kMapShared | guest::kMapPrivate)) == guest::kMapPrivate) {
        Refuse(
            "a private mapping (MAP_PRIVATE) of /dev/mem at physical 0x%08llX: the board would never see "
            "its stores",
            static_cast<unsigned long long>(physical));
    }
    const int access = ::fcntl(fd, F_GETFL) & O_ACCMODE;
    g.pending = Pending::Bind;
    g.pendingPhysical = physical;
    g.pendingProtection = static_cast<int>(protection);
    g.pendingMayWrite = access == O_RDWR;
    if (access == O_WRONLY || ((protection & guest::kProtWrite) != 0 && access != O_RDWR)) {
        g.pendingErrno = EACCES;  // before the device is asked, as the kernel does
        return;
    }
    g.pendingErrno = static_cast<int>(Call(Op::Bind, address, size, physical).a);
}

void OnGuestSyscall(std::uint64_t /*id*/, unsigned /*vcpu*/, std::int64_t num, std::uint64_t a1,
                    std::uint64_t a2, std::uint64_t a3, std::uint64_t a4, std::uint64_t a5, std::uint64_t a6,
                    std::uint64_t, std::uint64_t) {
    static bool started = false;
    if (!started) {
        started = true;
        Post(Op::Started);
    }
    const GuestCall* call = FindGuestCall(num);
    if (call == nullptr) {
        RefuseCall(num);
    }
    const std::uint64_t args[6] = {a1, a2, a3, a4, a5, a6};
    CheckDescriptors(num, *call, args);
    if (call->rule == GuestRule::Ioctl && a2 != guest::kTcgets && a2 != guest::kTiocgwinsz) {
        Refuse("the binary called ioctl 0x%llX on descriptor %d: only a terminal's queries are performed",
               static_cast<unsigned long long>(a2 & 0xFFFFFFFFu), static_cast<int>(a1));
    }
    if (call->rule == GuestRule::Thread) {
        // Without a shared address space a clone is a fork; clone3 holds
        // its flags first in the structure it is given.
        const std::uint64_t flags =
            num == guest::kClone ? a1 : *reinterpret_cast<const std::uint64_t*>(GuestToHost(a1));
        if ((flags & guest::kCloneVm) == 0) {
            Refuse(
                "the binary started a second process (clone without CLONE_VM, as fork does): the board's "
                "registers are modelled for one process");
        }
        return;
    }
    if (!OnMainThread()) {
        if (call->rule == GuestRule::Map && WindowIn(GuestToHost(a1), a2) != nullptr) {
            Refuse("a second thread changed the mapping of a register window");
        }
        return;
    }
    g.syscall = num;
    g.pending = Pending::None;
    const std::uintptr_t host = GuestToHost(a1);
    switch (num) {
        case guest::kMmap2: {
            const bool anonymous = (a4 & guest::kMapAnonymous) != 0;
            if (!anonymous && IsDevice(static_cast<int>(a5))) {
                OnDeviceMapping(static_cast<int>(a5), a1, a2, a3, a4, a6);
            } else if (anonymous && a3 == 0 && (a4 & guest::kMapFixed) != 0 && InReservation(host, a2)) {
                // A window taken back into its reservation (as after a refused
                // mapping): the reservation stays.
                ForgetIn(g.windows, g.windowCount, host, a2);
            } else if (anonymous && a3 == 0 /* PROT_NONE */) {
                g.pendingErrno = static_cast<int>(Call(Op::Reserve, a1, a2).a);
                g.pending = Pending::Reserve;
            } else if ((a4 & guest::kMapFixed) != 0 && Forget(host, a2)) {
                Post(Op::Release, a1, a2);
            }
            break;
        }
        case guest::kMunmap:
            if (Forget(host, a2)) {
                Post(Op::Release, a1, a2);
            }
            break;
        case guest::kMremap:
            if (const Window* window = WindowIn(host, a2)) {
                Refuse(
                    "the binary moved or resized the register window at physical 0x%08llX (mremap): not "
                    "modelled",
                    static_cast<unsigned long long>(window->physical));
            }
            break;
        default:
            break;  // mprotect: the emulator's call to the host comes to mprotect() below
    }
}

void OnExit(std::uint64_t /*id*/, void* /*data*/) {
    if (g.active) {
        Post(Op::Exit);  // after the reads answered ahead, if any
        Flush();
    }
}

void OnGuestSyscallReturn(std::uint64_t /*id*/, unsigned /*vcpu*/, std::int64_t /*num*/,
                          std::int64_t /*ret*/) {
    if (OnMainThread()) {
        g.syscall = -1;
        g.pending = Pending::None;
    }
}

bool GuestReadsTheClock() {
    return g.active && OnMainThread() &&
           (g.syscall == guest::kClockGettime || g.syscall == guest::kClockGettime64 ||
            g.syscall == guest::kGettimeofday);
}

int CollectCode(struct dl_phdr_info* info, std::size_t, void*) {
    for (int i = 0; i < info->dlpi_phnum && g.codeCount < static_cast<int>(sizeof g.code / sizeof g.code[0]);
         ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X) != 0) {
            g.code[g.codeCount++] = {info->dlpi_addr + segment.p_vaddr, segment.p_memsz};
        }
    }
    return 0;
}

// Puts `handler` first for `signal`; a handler the emulator installed
// already is kept, to be called for what is not ours.
void InstallHandler(int signal, void (*handler)(int, siginfo_t*, void*)) {
    struct sigaction old {};
    if (RealSigaction()(signal, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) != 0) {
        (signal == SIGSEGV ? g.emulatorSegv : g.emulatorSys) = old;
        (signal == SIGSEGV ? g.emulatorSegvSet : g.emulatorSysSet) = true;
    }
    struct sigaction action {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO;
    sigfillset(&action.sa_mask);
    for (const int synchronous : {SIGSEGV, SIGBUS, SIGSYS, SIGILL, SIGFPE, SIGTRAP}) {
        sigdelset(&action.sa_mask, synchronous);
    }
    RealSigaction()(signal, &action, nullptr);
}

// Set up once the emulator has loaded the agent as its plugin: on its main
// thread, before the binary's first instruction.
const char* Start() {
    const char* socketText = std::getenv(kAgentSocketVariable);
    const char* device = std::getenv(kAgentDeviceVariable);
    if (socketText == nullptr || device == nullptr) {
        return "varkel-sim's agent was loaded without varkel-sim";
    }
    g.socket = std::atoi(socketText);
    std::snprintf(g.devicePath, sizeof g.devicePath, "%s", device);
    struct stat st {};
    if (::stat(g.devicePath, &st) == 0) {  // else the kernel has none: devmem-missing
        g.deviceThere = true;
        g.deviceDev = st.st_dev;
        g.deviceIno = st.st_ino;
    }
    if (::stat("/dev", &st) != 0) {
        return "the sandbox has no /dev";
    }
    g.devDirDev = st.st_dev;
    g.devDirIno = st.st_ino;
    g.mainTid = Tid();
    void* start = ::dlsym(RTLD_DEFAULT, "safe_syscall_start");
    void* end = ::dlsym(RTLD_DEFAULT, "safe_syscall_end");
    auto* base = static_cast<std::uintptr_t*>(::dlsym(RTLD_DEFAULT, "guest_base"));
    if (start == nullptr || end == nullptr || base == nullptr) {
        return "this qemu-arm does not show its safe-syscall code and guest base (a build of qemu-user 7 "
               "as Debian ships it is needed)";
    }
    g.safeSyscallStart = reinterpret_cast<std::uintptr_t>(start);
    g.safeSyscallEnd = reinterpret_cast<std::uintptr_t>(end);
    g.guestBase = base;
    ::dl_iterate_phdr(CollectCode, nullptr);
    g_decoder = new (g_decoderRoom) HostDecoder();
    if (!g_decoder->ok()) {
        return "the host disassembler could not be opened";
    }
    g.active = true;
    g.realtimeAtZero = Call(Op::Hello, static_cast<std::uint64_t>(::getpid())).a;
    InstallHandler(SIGSEGV, OnSegv);
    InstallHandler(SIGSYS, OnSys);
    if (!InstallFilter()) {
        g.active = false;
        return "the system-call filter could not be installed";
    }
    return nullptr;
}

}  // namespace
}  // namespace varkel_sim::binary

using varkel_sim::binary::g;

// --- The plugin -------------------------------------------------------------

struct QemuInfo {
    const char* targetName;
    struct {
        int min;
        int cur;
    } version;
    bool systemEmulation;
};

extern "C" {
__attribute__((visibility("default"))) int qemu_plugin_version = 1;  // the plugin interface it was written to
}

AGENT_EXPORT int qemu_plugin_install(std::uint64_t id, const QemuInfo* info, int, char**) {
    using SyscallHook =
        void (*)(std::uint64_t, unsigned, std::int64_t, std::uint64_t, std::uint64_t, std::uint64_t,
                 std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t);
    using ReturnHook = void (*)(std::uint64_t, unsigned, std::int64_t, std::int64_t);
    auto onSyscall = reinterpret_cast<void (*)(std::uint64_t, SyscallHook)>(
        ::dlsym(RTLD_DEFAULT, "qemu_plugin_register_vcpu_syscall_cb"));
    auto onReturn = reinterpret_cast<void (*)(std::uint64_t, ReturnHook)>(
        ::dlsym(RTLD_DEFAULT, "qemu_plugin_register_vcpu_syscall_ret_cb"));
    auto onExit = reinterpret_cast<void (*)(std::uint64_t, void (*)(std::uint64_t, void*), void*)>(
        ::dlsym(RTLD_DEFAULT, "qemu_plugin_register_atexit_cb"));
    const char* problem = nullptr;
    if (info->systemEmulation || std::strcmp(info->targetName, "arm") != 0) {
        problem = "varkel-sim's agent runs only in qemu-arm, the 32-bit ARM user-mode emulator";
    } else if (onSyscall == nullptr || onReturn == nullptr || onExit == nullptr) {
        problem = "this qemu-arm has no system-call hooks for plugins";
    } else {
        problem = varkel_sim::binary::Start();
    }
    if (problem != nullptr) {
        std::fprintf(stderr, "varkel-sim agent: %s\n", problem);
        return -1;
    }
    onSyscall(id, varkel_sim::binary::OnGuestSyscall);
    onReturn(id, varkel_sim::binary::OnGuestSyscallReturn);
    onExit(id, varkel_sim::binary::OnExit, nullptr);
    return 0;
}

// --- The emulator's calls to the host, interposed ----------------------------

AGENT_EXPORT void* mmap64(void* address, std::size_t size, int protection, int flags, int fd,
                          off_t offset) noexcept {
    using varkel_sim::binary::Pending;
    const auto real = varkel_sim::binary::RealMmap();
    if (!g.active) {
        return real(address, size, protection, flags, fd, offset);
    }
    // The file standing for /dev/mem is never mapped: each mapping of it
    // becomes a window, whoever asks.
    const bool device = varkel_sim::binary::IsDevice(fd);
    if (!device && (!varkel_sim::binary::OnMainThread() || g.pending != Pending::Reserve)) {
        return real(address, size, protection, flags, fd, offset);
    }
    if (device && (!varkel_sim::binary::OnMainThread() || g.pending != Pending::Bind)) {
        varkel_sim::binary::Refuse("/dev/mem mapped other than by the binary's own mmap: not modelled");
    }
    const Pending pending = g.pending;
    g.pending = Pending::None;
    if (g.pendingErrno != 0) {
        errno = g.pendingErrno;
        return MAP_FAILED;
    }
    if (pending == Pending::Reserve) {
        void* base = real(address, size, protection, flags, fd, offset);
        if (base != MAP_FAILED && g.reservationCount < varkel_sim::binary::kMaxRanges) {
            g.reservations[g.reservationCount++] = {reinterpret_cast<std::uintptr_t>(base), size};
            varkel_sim::binary::Post(varkel_sim::binary::Op::Placed,
                                     reinterpret_cast<std::uintptr_t>(base) - *g.guestBase, size);
        }
        return base;
    }
    // A window: no access, so that every load and store comes here.
    void* base = real(address, size, PROT_NONE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | (flags & MAP_FIXED), -1, 0);
    if (base != MAP_FAILED) {
        varkel_sim::binary::ForgetIn(g.windows, g.windowCount, reinterpret_cast<std::uintptr_t>(base), size);
        if (g.windowCount == varkel_sim::binary::kMaxRanges) {
            varkel_sim::binary::Refuse("the binary mapped more than %d register windows",
                                       varkel_sim::binary::kMaxRanges);
        }
        g.windows[g.windowCount++] = {reinterpret_cast<std::uintptr_t>(base), size, g.pendingPhysical,
                                      g.pendingProtection, g.pendingMayWrite};
    }
    return base;
}

AGENT_EXPORT void* mmap(void* address, std::size_t size, int protection, int flags, int fd,
                        off_t offset) noexcept {
    return mmap64(address, size, protection, flags, fd, offset);
}

// The emulator carries out the binary's mprotect with this one. A window
// keeps no access on the host, so that every load and store still comes
// to the board; what the binary asked is kept, and checked at each access.
AGENT_EXPORT int mprotect(void* address, std::size_t size, int protection) noexcept {
    using MprotectFn = int (*)(void*, std::size_t, int);
    static const auto real = varkel_sim::binary::Real<MprotectFn>("mprotect");
    const auto base = reinterpret_cast<std::uintptr_t>(address);
    varkel_sim::binary::Window* window = g.active ? varkel_sim::binary::WindowIn(base, size) : nullptr;
    if (window == nullptr) {
        return real(address, size, protection);
    }
    if (base != window->base || size != window->size) {
        varkel_sim::binary::Refuse(
            "the binary changed the protection of part of the register window at physical 0x%08llX, or of "
            "more than it: not modelled",
            static_cast<unsigned long long>(window->physical));
    }
    if ((protection & PROT_WRITE) != 0 && !window->mayWrite) {
        errno = EACCES;  // /dev/mem was not opened for writing
        return -1;
    }
    window->protection = protection;
    return 0;
}

AGENT_EXPORT int sigaction(int signal, const struct sigaction* action, struct sigaction* old) noexcept {
    if (!g.active || (signal != SIGSEGV && signal != SIGSYS)) {
        return varkel_sim::binary::RealSigaction()(signal, action, old);
    }
    // The emulator's handler is kept, and called for what is not ours.
    struct sigaction& emulator = signal == SIGSEGV ? g.emulatorSegv : g.emulatorSys;
    bool& set = signal == SIGSEGV ? g.emulatorSegvSet : g.emulatorSysSet;
    if (old != nullptr) {
        *old = emulator;
    }
    if (action != nullptr) {
        emulator = *action;
        set = true;
    }
    return 0;
}

AGENT_EXPORT int clock_gettime(clockid_t clock, struct timespec* time) noexcept {
    static const auto real = varkel_sim::binary::Real<varkel_sim::binary::ClockGettimeFn>("clock_gettime");
    if (!varkel_sim::binary::GuestReadsTheClock() || !varkel_sim::binary::BoardClockId(clock)) {
        return real(clock, time);
    }
    const std::uint64_t ns = varkel_sim::binary::BoardClock(clock);
    time->tv_sec = static_cast<time_t>(ns / 1000000000u);
    time->tv_nsec = static_cast<long>(ns % 1000000000u);
    return 0;
}

AGENT_EXPORT int gettimeofday(struct timeval* time, void* zone) noexcept {
    static const auto real = varkel_sim::binary::Real<varkel_sim::binary::GettimeofdayFn>("gettimeofday");
    if (!varkel_sim::binary::GuestReadsTheClock()) {
        return real(time, zone);
    }
    const std::uint64_t ns = varkel_sim::binary::BoardClock(CLOCK_REALTIME);
    time->tv_sec = static_cast<time_t>(ns / 1000000000u);
    time->tv_usec = static_cast<suseconds_t>(ns % 1000000000u / 1000u);
    return 0;
}
