#include "tools/varkel-sim/binary/binary_run.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "common/escape.h"
#include "common/stop.h"
#include "common/write_all.h"
#include "platform/channels.h"
#include "sim/board.h"
#include "tools/varkel-sim/binary/agent_protocol.h"
#include "tools/varkel-sim/binary/board_elf.h"
#include "tools/varkel-sim/binary/sandbox.h"
#include "tools/varkel-sim/program_watch.h"

extern char** environ;

namespace varkel_sim::binary {
namespace {

constexpr const char* kAgentFile = "libvarkel-sim-agent.so";
// The file standing for /dev/mem spans every 32-bit physical address, so
// the emulator never shortens a mapping; it is sparse and never read.
constexpr off_t kDeviceBytes = off_t{1} << 32;
// The most reads the agent may answer ahead of the board at once.
constexpr std::uint64_t kMostAhead = 1u << 20;
// Board time never wraps: the binary's pauses may carry it this far.
constexpr std::uint64_t kLongestBoardNs = std::uint64_t{1} << 62;

std::string Shown(const std::string& path) {
    return common::Escaped(path, common::kShownPath);
}

std::string Errno(int error) {
    return std::strerror(error);
}

// qemu-arm from PATH, as a user's shell would find it.
std::string FindOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const std::string dir = end > start ? list.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

// The agent beside varkel-sim (as built), below it (as installed), or
// where this build put it.
std::string FindAgent() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::vector<std::filesystem::path> candidates;
    if (!ec) {
        candidates.push_back(self.parent_path() / kAgentFile);
        candidates.push_back(self.parent_path().parent_path() / "lib" / "varkel" / kAgentFile);
    }
#if defined(VARKEL_AGENT_BUILT)
    candidates.push_back(VARKEL_AGENT_BUILT);
#endif
    for (const auto& candidate : candidates) {
        if (std::filesystem::is_regular_file(candidate, ec)) {
            return candidate.string();
        }
    }
    return {};
}

std::string Hex(const unsigned char* bytes, unsigned size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string Sha256(const std::vector<std::uint8_t>& image) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (EVP_Digest(image.data(), image.size(), digest, &size, EVP_sha256(), nullptr) == 1) {
        return Hex(digest, size);
    }
    return {};
}

// Reads the whole of `path`, a regular file of a board binary's size.
bool ReadBinary(const std::string& path, std::vector<std::uint8_t>& image, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read " + Shown(path) + ": " + Errno(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok || !S_ISREG(st.st_mode)) {
        error =
            ok ? Shown(path) + " is not a regular file, so not a board binary" : "cannot read " + Shown(path);
    } else if (static_cast<std::uint64_t>(st.st_size) > kMaxBinaryBytes) {
        error = Shown(path) + " is " + std::to_string(st.st_size) + " bytes, far more than a board binary";
        ok = false;
    } else {
        image.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < image.size()) {
            const ssize_t n = ::read(fd, image.data() + got, image.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                error =
                    "cannot read " + Shown(path) + (n < 0 ? ": " + Errno(errno) : ": it shrank while read");
                ok = false;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return ok && error.empty();
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    const bool ok = common::WriteAll(fd, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    return ::close(fd) == 0 && ok;
}

// A name the emulator can give the binary as its argv[0]: the file's own,
// unless it is not a plain one.
std::string ProgramName(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    const bool plain =
        !name.empty() && name != "." && name != ".." && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == '.' ||
                   c == '+';
        });
    return plain ? name : "varkel";
}

std::uint64_t RealtimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

}  // namespace

BinaryRun::~BinaryRun() {
    if (child_ > 0) {
        ::kill(-child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
    if (!root_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

bool BinaryRun::Prepare(const std::string& path, std::string& error) {
    std::vector<std::uint8_t> image;
    if (!ReadBinary(path, image, error)) {
        return false;
    }
    std::string why;
    if (!CheckBoardElf(image, why)) {
        error = Shown(path) + " " + why;
        return false;
    }
    qemu_ = FindOnPath("qemu-arm");
    if (qemu_.empty()) {
        error = "--binary needs qemu-arm, which is not on PATH (Debian: apt-get install qemu-user)";
        return false;
    }
    agent_ = FindAgent();
    if (agent_.empty()) {
        error = std::string("--binary needs varkel-sim's agent, ") + kAgentFile +
                ", beside varkel-sim; it is missing";
        return false;
    }
    sha256_ = Sha256(image);
    if (sha256_.empty()) {
        error = "cannot hash " + Shown(path) + " (SHA-256 failed)";
        return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/varkel-sim-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a working folder in " + Shown(pattern.substr(0, pattern.rfind('/'))) + ": " +
                Errno(errno);
        return false;
    }
    root_ = pattern;
    name_ = ProgramName(path);
    int fd = -1;
    const bool ok =
        (fd = ::open((root_ + "/mem").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600)) >= 0 &&
        ::ftruncate(fd, kDeviceBytes) == 0 && WriteFile(root_ + "/" + name_, image, 0500);
    const int saved = errno;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!ok) {
        error = "cannot prepare the binary's run in " + Shown(root_) + ": " + Errno(saved);
        return false;
    }
    return PrepareSandbox({root_, root_ + "/mem", root_ + "/" + name_, name_, agent_, false}, error);
}

namespace {

// Serves one run: the agent's messages, in order, until the emulator ends.
class Kernel {
  public:
    Kernel(sim::Board& board, const platform::host::FaultPlan& faults, const std::function<void()>& onCall,
           const std::function<void(const std::string&)>& onPlatformCall, std::uint32_t& pauses,
           std::uint32_t& reservations, std::uint32_t& bindings, std::uint32_t& opens)
        : board_(board),
          faults_(faults),
          onCall_(onCall),
          onPlatformCall_(onPlatformCall),
          pauses_(pauses),
          reservations_(reservations),
          bindings_(bindings),
          opens_(opens) {}

    // Handles one datagram of records; false when the run ends here
    // (refused, broken, or stopping).
    bool Handle(const unsigned char* bytes, std::size_t size, int socket, BinaryOutcome& outcome) {
        std::size_t at = 0;
        while (at < size) {
            Record record;
            if (size - at < sizeof record) {
                outcome.failed = "the agent in the emulator sent a damaged message";
                return false;
            }
            std::memcpy(&record, bytes + at, sizeof record);
            if (record.length > size - at - sizeof record) {
                outcome.failed = "the agent in the emulator sent a damaged message";
                return false;
            }
            const char* text = reinterpret_cast<const char*>(bytes + at + sizeof record);
            at += std::min(RecordBytes(record.length), size - at);
            const bool last = at == size;
            if (WantsReply(record.op) && !last) {
                outcome.failed = "the agent in the emulator sent its messages out of turn";
                return false;
            }
            Reply reply{};
            if (!Perform(record, text, reply, outcome)) {
                return false;
            }
            if (last && WantsReply(record.op) &&
                ::send(socket, &reply, sizeof reply, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof reply)) {
                break;  // the emulator is gone: its end of the socket says so next
            }
        }
        return !common::StopRequested();
    }

    bool hello() const { return hello_; }
    bool started() const { return started_; }

  private:
    // One record, in the binary's order; false when the run ends here.
    bool Perform(const Record& record, const char* text, Reply& reply, BinaryOutcome& outcome) {
        if (!hello_ && record.op != Op::Hello) {
            outcome.failed = "the agent in the emulator did not introduce itself";
            return false;
        }
        switch (record.op) {
            case Op::Hello:
                hello_ = true;
                reply.a = RealtimeNs() - board_.Now();
                ScheduleFaults();
                return true;
            case Op::Read:
                reply.a = board_.Read(record.a);
                reply.b = board_.UnchangedReads(record.a, kMostAhead);
                return true;
            case Op::Repeat:  // exactly as the board would have answered them
                board_.Poll(record.a, 0, record.b);
                return true;
            case Op::Write:
                board_.Write(record.a, static_cast<std::uint32_t>(record.b));
                return true;
            case Op::Reserve:
                ++reservations_;
                reply.a = platform::host::FaultPlan::Names(faults_.refuseReserve, reservations_) ? ENOMEM : 0;
                onCall_();
                if (reply.a != 0) {
                    onPlatformCall_(witness_.Reserved(record.b, 0));
                }
                return true;
            case Op::Bind:
                ++bindings_;
                reply.a =
                    faults_.mapsRefused || platform::host::FaultPlan::Names(faults_.refuseBind, bindings_)
                        ? EPERM
                        : 0;
                onCall_();
                onPlatformCall_(witness_.Bound(record.a, record.c, record.b, reply.a == 0));
                return true;
            case Op::Open:  // b = 1: /dev/mem, where the kernel has none
                ++opens_;
                reply.a = record.b != 0 ? ENOENT : faults_.deviceRefused ? EACCES : 0;
                onCall_();
                return true;
            case Op::Release:
                onCall_();
                onPlatformCall_(witness_.Released(record.a, true));
                return true;
            case Op::Text:
                platform::WriteChannel(record.a == 1 ? platform::Channel::Console : platform::Channel::Debug,
                                       {text, record.length});
                onCall_();
                return true;
            case Op::Sleep:
                if (record.a > kLongestBoardNs - board_.Now()) {
                    outcome.refused =
                        "the binary slept past what the simulated board's time holds (2^62 ns, about 146 "
                        "years)";
                    return false;
                }
                onCall_();
                ++pauses_;
                ScheduleFaults();
                if (board_.timeMode() == sim::TimeMode::Real) {
                    platform::FlushChannels();  // someone may be watching the run live
                }
                reply.a = board_.Sleep(record.a) ? 0 : 1;
                return true;
            case Op::Now:
                reply.a = board_.Now();
                return true;
            case Op::Refuse:
                outcome.refused.assign(text, record.length);
                return false;
            case Op::Exit:
                return true;
            case Op::Placed:
                onPlatformCall_(witness_.Reserved(record.b, record.a));
                return true;
            case Op::Started:
                started_ = true;
                return true;
        }
        outcome.failed = "the agent in the emulator sent a message varkel-sim does not know";
        return false;
    }

    void ScheduleFaults() {
        if (faults_.Scheduled()) {
            board_.SetTransmitStuck(faults_.TxStuckIn(pauses_ + 1));
        }
    }

    sim::Board& board_;
    const platform::host::FaultPlan& faults_;
    const std::function<void()>& onCall_;
    const std::function<void(const std::string&)>& onPlatformCall_;
    PlatformWitness witness_;
    std::uint32_t& pauses_;
    std::uint32_t& reservations_;
    std::uint32_t& bindings_;
    std::uint32_t& opens_;
    bool hello_ = false;
    bool started_ = false;
};

}  // namespace

namespace {

// Closes every descriptor above standard error but `a` and `b`, so the
// binary is given only what a board's shell gives it.
void KeepOnly(int lowest, int a, int b) {
    const unsigned low = static_cast<unsigned>(std::min(a, b)), high = static_cast<unsigned>(std::max(a, b));
    const auto from = static_cast<unsigned>(lowest + 1);
    if (low > from) {
        ::close_range(from, low - 1, 0);
    }
    if (high > low + 1) {
        ::close_range(low + 1, high - 1, 0);
    }
    ::close_range(high + 1, ~0u, 0);
}

// The run is a strict alternation: the emulator waits while varkel-sim
// answers, and varkel-sim waits while the binary runs. On one CPU each
// hand-over is a local switch; across two, each wakes an idle CPU, which
// on a virtual machine costs several times the access itself. So the run
// keeps to the CPU it started on (one the user allows), and the emulator,
// started from it, inherits that; the user's choice is restored after.
class OneCpu {
  public:
    OneCpu() {
        if (::sched_getaffinity(0, sizeof allowed_, &allowed_) != 0) {
            return;
        }
        int cpu = ::sched_getcpu();
        for (int i = 0; (cpu < 0 || !CPU_ISSET(cpu, &allowed_)) && i < CPU_SETSIZE; ++i) {
            cpu = CPU_ISSET(i, &allowed_) ? i : -1;
        }
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pinned_ = cpu >= 0 && ::sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~OneCpu() {
        if (pinned_) {
            ::sched_setaffinity(0, sizeof allowed_, &allowed_);
        }
    }
    OneCpu(const OneCpu&) = delete;
    OneCpu& operator=(const OneCpu&) = delete;

  private:
    cpu_set_t allowed_{};
    bool pinned_ = false;
};

}  // namespace

BinaryOutcome BinaryRun::Run(sim::Board& board, const platform::host::FaultPlan& faults,
                             const std::vector<std::string>& args, const std::function<void()>& onCall,
                             const std::function<void(const std::string&)>& onPlatformCall) {
    BinaryOutcome outcome;
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        outcome.failed = "cannot make the emulator's socket: " + Errno(errno);
        return outcome;
    }
    // Everything the child needs, made before it exists.
    const SandboxPlan sandbox{root_, root_ + "/mem", root_ + "/" + name_,
                              name_, agent_,         faults.deviceMissing};
    const std::string agentInside = SandboxAgentPath(sandbox);
    std::vector<std::string> argv = {qemu_, "-plugin", agentInside, "-0", name_};
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        // The emulator takes settings from QEMU_* variables: none may change this run.
        if (entry.rfind("QEMU_", 0) != 0 && entry.rfind("LD_PRELOAD=", 0) != 0 &&
            entry.rfind(std::string(kAgentSocketVariable) + "=", 0) != 0 &&
            entry.rfind(std::string(kAgentDeviceVariable) + "=", 0) != 0) {
            environment.push_back(entry);
        }
    }
    for (const char* variable : {"LD_PRELOAD", kAgentSocketVariable, kAgentDeviceVariable}) {
        argv.insert(argv.end(), {"-U", variable});  // the binary sees none of them
    }
    argv.push_back(SandboxBinaryPath(sandbox));
    argv.insert(argv.end(), args.begin(), args.end());
    environment.push_back("LD_PRELOAD=" + agentInside);
    environment.push_back(std::string(kAgentSocketVariable) + "=" + std::to_string(sockets[1]));
    environment.push_back(std::string(kAgentDeviceVariable) + "=/dev/mem");
    std::vector<char*> argvPointers, environmentPointers;
    for (std::string& arg : argv) {
        argvPointers.push_back(arg.data());
    }
    argvPointers.push_back(nullptr);
    for (std::string& entry : environment) {
        environmentPointers.push_back(entry.data());
    }
    environmentPointers.push_back(nullptr);
    const std::string execFailed = "cannot run " + Shown(qemu_) + ": ";
    const pid_t parent = ::getpid();
    const OneCpu oneCpu;
    // The child says here why it could not become the emulator; the pipe
    // closes empty once it has.
    int why[2];
    if (::pipe2(why, O_CLOEXEC) != 0) {
        outcome.failed = "cannot start the emulator: " + Errno(errno);
        ::close(sockets[0]);
        ::close(sockets[1]);
        return outcome;
    }

    child_ = ::fork();
    if (child_ < 0) {
        outcome.failed = "cannot start the emulator: " + Errno(errno);
        for (const int fd : {sockets[0], sockets[1], why[0], why[1]}) {
            ::close(fd);
        }
        return outcome;
    }
    if (child_ == 0) {
        // Its own process group, so that a Ctrl-C reaches varkel-sim, which
        // ends the run; killed if varkel-sim dies; no core file left behind.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::fcntl(sockets[1], F_SETFD, 0);
        for (const int signal : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP}) {
            ::signal(signal, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        KeepOnly(STDERR_FILENO, sockets[1], why[1]);
        char problem[512];
        if (EnterSandbox(sandbox, problem, sizeof problem)) {
            ::execve(qemu_.c_str(), argvPointers.data(), environmentPointers.data());
            std::snprintf(problem, sizeof problem, "%s%s", execFailed.c_str(), std::strerror(errno));
        }
        (void)!::write(why[1], problem, std::strlen(problem));
        ::_exit(127);
    }
    ::setpgid(child_, child_);
    ::close(sockets[1]);
    ::close(why[1]);
    const int socket = sockets[0];
    std::string problem(512, '\0');
    ssize_t got = 0;
    while ((got = ::read(why[0], problem.data(), problem.size())) < 0 && errno == EINTR) {
    }
    ::close(why[0]);
    if (got > 0) {
        problem.resize(static_cast<std::size_t>(got));
        outcome.failed = problem;
        ::close(socket);
        while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
        return outcome;
    }

    Kernel kernel(board, faults, onCall, onPlatformCall, pauses_, reservations_, bindings_, deviceOpens_);
    std::vector<unsigned char> datagram(kDatagramBytes);
    bool going = true;
    while (going) {
        const ssize_t n = ::recv(socket, datagram.data(), datagram.size(), MSG_TRUNC);
        if (n < 0 && errno == EINTR) {
            going = !common::StopRequested();
            continue;
        }
        if (n <= 0) {
            break;  // the emulator has ended, and its end of the socket with it
        }
        if (static_cast<std::size_t>(n) > datagram.size()) {
            outcome.failed = "the agent in the emulator sent a message longer than any it may send";
            break;
        }
        going = kernel.Handle(datagram.data(), static_cast<std::size_t>(n), socket, outcome);
    }
    if (!going || common::StopRequested()) {
        ::kill(-child_, SIGKILL);
    }
    ::close(socket);
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
    if (!outcome.refused.empty() || !outcome.failed.empty() || common::StopRequested()) {
        return outcome;
    }
    if (!kernel.hello()) {
        outcome.failed =
            "the emulator did not run the binary" +
            std::string(WIFEXITED(status) ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                                          : "") +
            "; its own message, if any, is above";
        return outcome;
    }
    if (!kernel.started()) {
        outcome.failed = "the emulator could not load the binary; its own message is above";
        return outcome;
    }
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.killedBy = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace varkel_sim::binary
