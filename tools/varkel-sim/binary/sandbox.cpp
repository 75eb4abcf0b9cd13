#include "tools/varkel-sim/binary/sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varkel_sim::binary {
namespace {

// The nodes a C library opens, taken from this machine's /dev: none of
// them reaches anything but itself.
constexpr const char* kNodes[] = {"null", "zero", "full", "random", "urandom"};
constexpr const char* kAgentName = ".varkel-sim-agent.so";

// Paths are built into fixed buffers: the process that enters the sandbox
// is a fork of one that may hold locks.
struct Path {
    char text[4096];
};

bool Join(Path& out, const char* a, const char* b, const char* c = "") {
    const int n = std::snprintf(out.text, sizeof out.text, "%s%s%s", a, b, c);
    return n > 0 && static_cast<std::size_t>(n) < sizeof out.text;
}

bool Fail(char* error, std::size_t size, const char* step) {
    std::snprintf(error, size, "cannot make the binary's sandbox (%s: %s)", step, std::strerror(errno));
    return false;
}

bool WriteProc(const char* path, const char* text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const auto length = static_cast<ssize_t>(std::strlen(text));
    const bool ok = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    return ok;
}

bool Touch(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return fd >= 0 && ::close(fd) == 0;
}

bool Copy(const char* from, const char* to, mode_t mode) {
    const int in = ::open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    const int out = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t m = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            ok = m > 0 || (m < 0 && errno == EINTR);
            done += m > 0 ? m : 0;
        }
    }
    ::close(in);
    return out >= 0 && ::close(out) == 0 && ok;
}

bool SetAttr(const char* path, unsigned recursive, std::uint64_t set, std::uint64_t clear) {
    struct mount_attr attr {};
    attr.attr_set = set;
    attr.attr_clr = clear;
    return ::mount_setattr(AT_FDCWD, path, recursive, &attr, sizeof attr) == 0;
}

}  // namespace

std::string SandboxBinaryPath(const SandboxPlan& plan) {
    return "/tmp/" + plan.name;
}

std::string SandboxAgentPath(const SandboxPlan&) {
    return std::string("/tmp/") + kAgentName;
}

bool PrepareSandbox(const SandboxPlan& plan, std::string& error) {
    for (const char* dir : {"/dev", "/tmp"}) {
        if (::mkdir((plan.root + dir).c_str(), 0700) != 0) {
            error = "cannot prepare the binary's sandbox in " + plan.root + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool EnterSandbox(const SandboxPlan& plan, char* error, std::size_t size) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    // A user namespace of its own even for root: there the binary holds no
    // capability over this machine (no raw I/O, no module, no clock).
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | CLONE_NEWUTS) != 0) {
        return Fail(error, size, "new namespaces");
    }
    char map[64];
    std::snprintf(map, sizeof map, "%u %u 1\n", static_cast<unsigned>(uid), static_cast<unsigned>(uid));
    if (!WriteProc("/proc/self/setgroups", "deny") || !WriteProc("/proc/self/uid_map", map)) {
        return Fail(error, size, "user map");
    }
    std::snprintf(map, sizeof map, "%u %u 1\n", static_cast<unsigned>(gid), static_cast<unsigned>(gid));
    if (!WriteProc("/proc/self/gid_map", map)) {
        return Fail(error, size, "group map");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Fail(error, size, "private mounts");
    }
    Path dev, tmp, node, from;
    if (!Join(dev, plan.root.c_str(), "/dev") || !Join(tmp, plan.root.c_str(), "/tmp")) {
        errno = ENAMETOOLONG;
        return Fail(error, size, "its folder");
    }
    // /dev: the nodes bound from this machine's, and the stand-in.
    if (::mount("tmpfs", dev.text, "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755,size=64k") != 0) {
        return Fail(error, size, "/dev");
    }
    for (const char* name : kNodes) {
        if (!Join(node, dev.text, "/", name) || !Join(from, "/dev/", name) || !Touch(node.text) ||
            ::mount(from.text, node.text, nullptr, MS_BIND, nullptr) != 0) {
            return Fail(error, size, name);
        }
    }
    if (!plan.deviceMissing && (!Join(node, dev.text, "/mem") || !Touch(node.text) ||
                                ::mount(plan.standIn.c_str(), node.text, nullptr, MS_BIND, nullptr) != 0)) {
        return Fail(error, size, "/dev/mem");
    }
    for (const auto& [name, target] :
         {std::pair{"/fd", "/proc/self/fd"}, std::pair{"/stdin", "/proc/self/fd/0"},
          std::pair{"/stdout", "/proc/self/fd/1"}, std::pair{"/stderr", "/proc/self/fd/2"}}) {
        if (!Join(node, dev.text, name) || ::symlink(target, node.text) != 0) {
            return Fail(error, size, name);
        }
    }
    // This machine's whole tree, the new /dev with it: read-only, no
    // set-user-id programs, no device opened through any node of it ...
    if (!SetAttr("/", AT_RECURSIVE, MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV, 0)) {
        return Fail(error, size, "a read-only tree");
    }
    // ... but the harmless nodes bound into /dev, and the stand-in, which
    // the binary opens for writing as it would the device.
    for (const char* name : kNodes) {
        if (!Join(node, dev.text, "/", name) || !SetAttr(node.text, 0, 0, MOUNT_ATTR_NODEV)) {
            return Fail(error, size, name);
        }
    }
    if (!plan.deviceMissing &&
        (!Join(node, dev.text, "/mem") || !SetAttr(node.text, 0, 0, MOUNT_ATTR_RDONLY))) {
        return Fail(error, size, "/dev/mem");
    }
    // /tmp: its own, holding the binary and the agent.
    if (::mount("tmpfs", tmp.text, "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=64m") != 0) {
        return Fail(error, size, "/tmp");
    }
    if (!Join(node, tmp.text, "/", plan.name.c_str()) || !Copy(plan.binary.c_str(), node.text, 0500) ||
        !Join(node, tmp.text, "/", kAgentName) || !Copy(plan.agent.c_str(), node.text, 0500)) {
        return Fail(error, size, "copying the binary in");
    }
    if (::mount(dev.text, "/dev", nullptr, MS_MOVE, nullptr) != 0) {
        return Fail(error, size, "moving /dev in place");
    }
    if (::mount(tmp.text, "/tmp", nullptr, MS_MOVE, nullptr) != 0) {
        return Fail(error, size, "moving /tmp in place");
    }
    return true;
}

}  // namespace varkel_sim::binary
