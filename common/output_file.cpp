#include "common/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/escape.h"
#include "common/stop.h"
#include "common/write_all.h"

namespace common {
namespace {

constexpr std::size_t kBufferBytes = 1 << 20;
constexpr int kMaxLinks = 40;
constexpr long kFifoPollNs = 20'000'000;

std::string Shown(const std::string& path) {
    return common::Escaped(path, common::kShownPath);
}

std::string Cannot(const std::string& shown, int error) {
    return "cannot write " + shown + ": " + std::strerror(error);
}

// Says what a tool did on its own, on standard error.
void Note(const std::string& text) {
    common::WriteAll(STDERR_FILENO, std::string(program_invocation_short_name) + ": " + text + "\n");
}

// What a file that is not a regular file is, when a tool cannot write to
// it in place; null for a character device or a FIFO, which it can.
const char* Unwritable(mode_t mode) {
    return S_ISSOCK(mode)                                     ? "a socket"
           : S_ISBLK(mode)                                    ? "a block device"
           : S_ISCHR(mode) || S_ISFIFO(mode) || S_ISREG(mode) ? nullptr
                                                              : "not a file, terminal, pipe or FIFO";
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileKey KeyOf(const struct stat& st, std::string name = {}) {
    const bool device = name.empty() && S_ISCHR(st.st_mode);
    return FileKey{st.st_dev, st.st_ino, std::move(name), device};
}

// Follows a chain of symlinks from `path` to the name it finally stands
// for, which need not exist.
bool ResolveLinks(std::string path, std::string& out) {
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out = path;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0) {
            return false;
        }
        const std::string target(link, static_cast<std::size_t>(n));
        path = target[0] == '/' ? target : DirectoryOf(path) + "/" + target;
    }
    errno = ELOOP;
    return false;
}

}  // namespace

void OpenClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        }
    }
}

bool KeyOfDescriptor(int fd, FileKey& key) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    key = KeyOf(st);
    return true;
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Plan(const std::string& path, std::string& error, bool fresh) {
    path_ = path;
    shown_ = Shown(path);
    fresh_ = fresh;
    keys_.clear();
    FileKey out;
    struct stat st {};
    if (!fresh && (path == "-" || (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                                   KeyOfDescriptor(STDOUT_FILENO, out) && out.Same(KeyOf(st))))) {
        kind_ = Kind::StandardOutput;
        if (KeyOfDescriptor(STDOUT_FILENO, out)) {
            keys_.push_back(out);
        }
        return true;
    }
    struct stat link {};
    if (fresh && ::lstat(path.c_str(), &link) == 0) {
        error = "cannot write " + shown_ + ": something is there already";
        return false;
    }
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "cannot write " + shown_ + ": it is a directory";
            return false;
        }
        if (const char* what = Unwritable(st.st_mode)) {
            error = "cannot write " + shown_ + ": it is " + what;
            return false;
        }
        keys_.push_back(KeyOf(st));
        if (!S_ISREG(st.st_mode)) {
            kind_ = Kind::Special;
            return true;
        }
        char real[PATH_MAX];
        if (::realpath(path.c_str(), real) == nullptr || ::access(real, W_OK) != 0) {
            error = Cannot(shown_, errno);
            return false;
        }
        target_ = real;
        mode_ = st.st_mode & 07777;
        kind_ = Kind::Replace;
    } else if (errno == ENOENT) {
        if (!ResolveLinks(path, target_)) {
            error = Cannot(shown_, errno);
            return false;
        }
        kind_ = Kind::Create;
    } else {
        error = Cannot(shown_, errno);
        return false;
    }
    const std::string directory = DirectoryOf(target_);
    struct stat dir {};
    const int dirError = ::stat(directory.c_str(), &dir) != 0     ? errno
                         : !S_ISDIR(dir.st_mode)                  ? ENOTDIR
                         : ::access(directory.c_str(), W_OK) != 0 ? errno
                                                                  : 0;
    if (dirError != 0) {
        error = Cannot(shown_, dirError) + " (" + Shown(directory) + ")";
        kind_ = Kind::None;
        return false;
    }
    part_ = target_ + ".part";
    if (kind_ == Kind::Create) {
        keys_.push_back(KeyOf(dir, NameOf(target_)));
    }
    keys_.push_back(KeyOf(dir, NameOf(part_)));
    // A working file already there is a file of its own: the input, say.
    struct stat part {};
    if (::lstat(part_.c_str(), &part) == 0 && S_ISREG(part.st_mode)) {
        keys_.push_back(KeyOf(part));
    }
    return true;
}

bool OutputFile::Open(std::string& error) {
    switch (kind_) {
        case Kind::None:
            error = "cannot write " + shown_ + ": not checked";
            return false;
        case Kind::StandardOutput:
            fd_ = STDOUT_FILENO;
            return true;
        case Kind::Special:
            // A FIFO that nobody reads yet: wait for its reader, saying so
            // once on a terminal, and looking for a stop as it waits.
            for (bool said = false;
                 (fd_ = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0;) {
                // Only a FIFO with no reader yet is worth a wait; anything else
                // that will not open (a socket put there since) never opens.
                const int openError = errno;
                struct stat st {};
                const bool there = ::stat(path_.c_str(), &st) == 0;
                if (openError != ENXIO || !there || !S_ISFIFO(st.st_mode)) {
                    const char* what = there ? Unwritable(st.st_mode) : nullptr;
                    error = what != nullptr ? "cannot write " + shown_ + ": it is " + what
                                            : Cannot(shown_, openError);
                    return false;
                }
                if (StopRequested()) {
                    error = "cannot write " + shown_ + ": stopped while waiting for something to read it";
                    return false;
                }
                if (!said && ::isatty(STDERR_FILENO) != 0) {
                    said = true;
                    Note("waiting for something to read " + shown_ + " (Ctrl-C stops)");
                }
                const struct timespec pause = {0, kFifoPollNs};
                ::nanosleep(&pause, nullptr);
            }
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
            return true;
        case Kind::Replace:
        case Kind::Create:
            break;
    }
    if (!CreateWorkingFile(error)) {
        return false;
    }
    ::flock(fd_, LOCK_EX | LOCK_NB);  // tells a second run that this one is writing
    if (kind_ == Kind::Replace) {
        ::fchmod(fd_, mode_);
    }
    buffer_.reserve(kBufferBytes);
    return true;
}

// Creates the working file, exclusively. One left by a run that did not
// finish, which nobody holds locked, is removed first and said so; one a
// run is writing, or anything that is not a regular file, is refused.
bool OutputFile::CreateWorkingFile(std::string& error) {
    for (int attempt = 0;; ++attempt) {
        fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            return true;
        }
        const int openError = errno;
        struct stat st {};
        if (openError != EEXIST || ::lstat(part_.c_str(), &st) != 0) {
            error = Cannot(shown_, openError);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            error = "cannot write " + shown_ + ": " + Shown(part_) +
                    " exists and is not a regular file; not following it";
            return false;
        }
        const int stale = ::open(part_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat held {};
        const bool ours = stale >= 0 && ::flock(stale, LOCK_EX | LOCK_NB) == 0 &&
                          ::fstat(stale, &held) == 0 && held.st_dev == st.st_dev &&
                          held.st_ino == st.st_ino && attempt == 0;
        // Still the file that was looked at, and nobody writing it: gone.
        const bool removed = ours && ::unlink(part_.c_str()) == 0;
        if (stale >= 0) {
            ::close(stale);
        }
        if (!removed) {
            error = "cannot write " + shown_ + ": another run is writing it (" + Shown(part_) + " is in use)";
            return false;
        }
        Note("removed " + Shown(part_) + ", left by a run that did not finish");
    }
}

void OutputFile::Fail(int error) {
    if (error_ == 0) {
        error_ = error;
    }
}

void OutputFile::Write(std::string_view text) {
    if (fd_ < 0 || error_ != 0) {
        return;
    }
    buffer_.append(text);
    if (buffer_.size() >= kBufferBytes) {
        Flush();
    }
}

void OutputFile::Flush() {
    if (fd_ >= 0 && !buffer_.empty() && error_ == 0 && !common::WriteAll(fd_, buffer_)) {
        Fail(errno);
    }
    buffer_.clear();
}

bool OutputFile::Commit(std::string& error) {
    if (fd_ < 0) {
        return true;
    }
    Flush();
    const bool special = isSpecial();
    if (fd_ != STDOUT_FILENO && ::close(fd_) != 0) {
        Fail(errno);
    }
    fd_ = -1;
    // A fresh file never replaces one that appeared since it was planned.
    if (error_ == 0 && !special &&
        (fresh_ ? ::renameat2(AT_FDCWD, part_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE)
                : ::rename(part_.c_str(), target_.c_str())) != 0) {
        Fail(errno);
    }
    if (error_ != 0) {
        error = Cannot(shown_, error_);
        if (!special) {
            ::unlink(part_.c_str());
        }
        return false;
    }
    return true;
}

void OutputFile::Discard() {
    if (fd_ < 0) {
        return;
    }
    if (fd_ != STDOUT_FILENO) {
        ::close(fd_);
    }
    fd_ = -1;
    if (!isSpecial()) {
        ::unlink(part_.c_str());
    }
}

bool PlanOutputs(const std::vector<std::pair<OutputFile*, std::string>>& outputs,
                 const std::vector<std::pair<std::string, int>>& claimed, std::string& error) {
    for (const auto& [file, path] : outputs) {
        if (!path.empty() && !file->Plan(path, error)) {
            return false;
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const OutputFile& a = *outputs[i].first;
        if (!a.planned() || outputs[i].second.empty()) {
            continue;
        }
        for (const auto& [name, fd] : claimed) {
            FileKey key;
            for (std::size_t k = 0; k < a.keys().size() && KeyOfDescriptor(fd, key); ++k) {
                if (a.keys()[k].Same(key)) {
                    error = "cannot write " + Shown(a.path()) + ": " +
                            (k == 0 ? "it is " : "its working file " + Shown(a.workingFile()) + " is ") +
                            name;
                    return false;
                }
            }
        }
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            const OutputFile& b = *outputs[j].first;
            if (outputs[j].second.empty()) {
                continue;
            }
            for (const FileKey& key : a.keys()) {
                for (const FileKey& other : b.keys()) {
                    if (key.Same(other)) {
                        error = Shown(a.path()) + " and " + Shown(b.path()) +
                                " are the same file; give each output its own";
                        return false;
                    }
                }
            }
        }
    }
    return true;
}

}  // namespace common
