#include "tools/varkel-sim/binary/guest_calls.h"

#include <algorithm>
#include <iterator>

namespace varkel_sim::binary {
namespace {

struct Name {
    std::uint32_t number;
    const char* name;
};

constexpr Name kNames[] = {
#include "tools/varkel-sim/binary/arm_syscall_names.inc"
};

constexpr std::uint8_t A0 = 1, A1 = 2, A2 = 4, A4 = 16;

using R = GuestRule;

// Sorted by number. A descriptor argument is never the agent's own
// channel; one marked `notDevice` is never /dev/mem, whose only use on the
// board is to be mapped.
constexpr GuestCall kAllowed[] = {
    {0, R::Kernel, 0, 0},          // restart_syscall
    {1, R::Kernel, 0, 0},          // exit (a thread's)
    {3, R::Kernel, A0, A0},        // read
    {4, R::Kernel, A0, A0},        // write
    {5, R::Open, 0, 0},            // open
    {6, R::Kernel, A0, 0},         // close
    {10, R::Kernel, 0, 0},         // unlink
    {12, R::Kernel, 0, 0},         // chdir
    {19, R::Kernel, A0, A0},       // lseek
    {20, R::Kernel, 0, 0},         // getpid
    {33, R::Kernel, 0, 0},         // access
    {38, R::Kernel, 0, 0},         // rename
    {39, R::Kernel, 0, 0},         // mkdir
    {40, R::Kernel, 0, 0},         // rmdir
    {41, R::Kernel, A0, 0},        // dup
    {45, R::Kernel, 0, 0},         // brk
    {54, R::Ioctl, A0, A0},        // ioctl
    {63, R::Kernel, A0 | A1, 0},   // dup2
    {78, R::Kernel, 0, 0},         // gettimeofday (board time)
    {83, R::Kernel, 0, 0},         // symlink
    {85, R::Kernel, 0, 0},         // readlink
    {91, R::Map, 0, 0},            // munmap
    {119, R::Kernel, 0, 0},        // sigreturn
    {120, R::Thread, 0, 0},        // clone
    {122, R::Kernel, 0, 0},        // uname
    {125, R::Map, 0, 0},           // mprotect
    {133, R::Kernel, A0, 0},       // fchdir
    {140, R::Kernel, A0, A0},      // _llseek
    {145, R::Kernel, A0, A0},      // readv
    {146, R::Kernel, A0, A0},      // writev
    {158, R::Kernel, 0, 0},        // sched_yield
    {162, R::Sleep, 0, 0},         // nanosleep
    {163, R::Map, 0, 0},           // mremap
    {173, R::Kernel, 0, 0},        // rt_sigreturn
    {174, R::Kernel, 0, 0},        // rt_sigaction
    {175, R::Kernel, 0, 0},        // rt_sigprocmask
    {180, R::Kernel, A0, A0},      // pread64
    {181, R::Kernel, A0, A0},      // pwrite64
    {183, R::Kernel, 0, 0},        // getcwd
    {186, R::Kernel, 0, 0},        // sigaltstack
    {191, R::Kernel, 0, 0},        // ugetrlimit
    {192, R::Map, A4, 0},          // mmap2
    {194, R::Kernel, A0, A0},      // ftruncate64
    {195, R::Kernel, 0, 0},        // stat64
    {196, R::Kernel, 0, 0},        // lstat64
    {197, R::Kernel, A0, A0},      // fstat64
    {199, R::Kernel, 0, 0},        // getuid32
    {200, R::Kernel, 0, 0},        // getgid32
    {201, R::Kernel, 0, 0},        // geteuid32
    {202, R::Kernel, 0, 0},        // getegid32
    {217, R::Kernel, A0, A0},      // getdents64
    {220, R::Kernel, 0, 0},        // madvise
    {221, R::Kernel, A0, 0},       // fcntl64
    {224, R::Kernel, 0, 0},        // gettid
    {240, R::Kernel, 0, 0},        // futex
    {242, R::Kernel, 0, 0},        // sched_getaffinity
    {248, R::Kernel, 0, 0},        // exit_group
    {256, R::Kernel, 0, 0},        // set_tid_address
    {263, R::Kernel, 0, 0},        // clock_gettime (board time)
    {264, R::Kernel, 0, 0},        // clock_getres
    {265, R::Sleep, 0, 0},         // clock_nanosleep
    {268, R::Kernel, 0, 0},        // tgkill
    {322, R::Open, A0, A0},        // openat
    {323, R::Kernel, A0, 0},       // mkdirat
    {327, R::Kernel, A0, A0},      // fstatat64
    {328, R::Kernel, A0, 0},       // unlinkat
    {329, R::Kernel, A0 | A2, 0},  // renameat
    {331, R::Kernel, A1, 0},       // symlinkat
    {334, R::Kernel, A0, 0},       // faccessat
    {338, R::Kernel, 0, 0},        // set_robust_list
    {358, R::Kernel, A0 | A1, 0},  // dup3
    {361, R::Kernel, A0, A0},      // preadv
    {362, R::Kernel, A0, A0},      // pwritev
    {369, R::Kernel, 0, 0},        // prlimit64
    {382, R::Kernel, A0 | A2, 0},  // renameat2
    {384, R::Kernel, 0, 0},        // getrandom
    {397, R::Kernel, A0, A0},      // statx
    {398, R::Kernel, 0, 0},        // rseq
    {403, R::Kernel, 0, 0},        // clock_gettime64 (board time)
    {406, R::Kernel, 0, 0},        // clock_getres_time64
    {407, R::Sleep, 0, 0},         // clock_nanosleep_time64
    {422, R::Kernel, 0, 0},        // futex_time64
    {435, R::Thread, 0, 0},        // clone3
    {0xf0002, R::Kernel, 0, 0},    // cacheflush
    {0xf0005, R::Kernel, 0, 0},    // set_tls
};
static_assert(std::is_sorted(std::begin(kAllowed), std::end(kAllowed),
                             [](const GuestCall& a, const GuestCall& b) { return a.number < b.number; }));

struct Reason {
    std::uint32_t number;
    const char* why;
};

constexpr const char* kOtherProgram =
    "it would run another program, where the emulator cannot follow it: refused, never run";
constexpr const char* kProcess = "a second process: the board's registers are modelled for one";
constexpr const char* kHandle = "it names files by handle, past the binary's own paths";
constexpr const char* kNode = "it makes a device node";
constexpr const char* kWait = "it waits with a timeout, which board time does not model";

constexpr Reason kReasons[] = {
    {2, kProcess},         // fork
    {11, kOtherProgram},   // execve
    {14, kNode},           // mknod
    {29, kWait},           // pause
    {104, kWait},          // setitimer
    {142, kWait},          // _newselect
    {168, kWait},          // poll
    {177, kWait},          // rt_sigtimedwait
    {179, kWait},          // rt_sigsuspend
    {190, kProcess},       // vfork
    {252, kWait},          // epoll_wait
    {324, kNode},          // mknodat
    {335, kWait},          // pselect6
    {336, kWait},          // ppoll
    {346, kWait},          // epoll_pwait
    {370, kHandle},        // name_to_handle_at
    {371, kHandle},        // open_by_handle_at
    {387, kOtherProgram},  // execveat
    {413, kWait},          // pselect6_time64
    {414, kWait},          // ppoll_time64
    {421, kWait},          // rt_sigtimedwait_time64
    {441, kWait},          // epoll_pwait2
};

}  // namespace

const GuestCall* FindGuestCall(std::int64_t number) {
    const auto* it = std::lower_bound(std::begin(kAllowed), std::end(kAllowed), number,
                                      [](const GuestCall& call, std::int64_t n) { return call.number < n; });
    return it != std::end(kAllowed) && it->number == number ? it : nullptr;
}

const char* GuestCallName(std::int64_t number) {
    for (const Name& name : kNames) {
        if (name.number == number) {
            return name.name;
        }
    }
    return nullptr;
}

const char* GuestRefusalReason(std::int64_t number) {
    for (const Reason& reason : kReasons) {
        if (reason.number == number) {
            return reason.why;
        }
    }
    return nullptr;
}

}  // namespace varkel_sim::binary
