// An output file a tool writes, safe to point anywhere.
//
// A regular file is written as "<file>.part", created exclusively (a link
// planted there is never followed, and a second run writing the same file
// is refused), and renamed over the file only when it is complete; a
// symlink to a regular file stays a link and its target is replaced.
// A working file left by a run that did not finish (nobody holds its lock)
// is removed, with a note on standard error. Standard output ("-"), a
// character device or a FIFO is written to directly; a FIFO is waited on
// until something reads it, as a shell's redirection would, and a stop
// stop (common/stop.h) ends the wait. Anything else (a socket, a
// block device) is refused. Every check that can fail is made by Plan()
// and Open(), before a run starts; a write error afterwards leaves an
// existing file untouched. Paths in messages are escaped and cut.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/text_sink.h"

namespace common {

// Identifies a file, existing or to be created, independent of spelling.
struct FileKey {
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name;  // for a file yet to be created: its name in directory (dev, ino)
    // A character device (a terminal, a null device): writing it twice
    // mixes nothing a user would want kept apart.
    bool device = false;

    bool Same(const FileKey& other) const {
        return !device && !other.device && dev == other.dev && ino == other.ino && name == other.name;
    }
};

// The key of what descriptor `fd` is open on (empty name), or false.
bool KeyOfDescriptor(int fd, FileKey& key);

class OutputFile : public common::TextSink {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // an output not committed is discarded

    // Works out where text for `path` goes, creating nothing. False, with
    // a one-line reason, when it cannot be written. `fresh`: only a name
    // where nothing is yet, and nothing there when it is committed.
    bool Plan(const std::string& path, std::string& error, bool fresh = false);
    // What writing it touches: the file itself first, then its working
    // file (by name, and, where one is there, as the file it is).
    const std::vector<FileKey>& keys() const { return keys_; }
    bool planned() const { return kind_ != Kind::None; }
    // True when it is standard output.
    bool isStandardOutput() const { return kind_ == Kind::StandardOutput; }
    // True when it is written in place (no working file to rename).
    bool isSpecial() const { return kind_ == Kind::Special || kind_ == Kind::StandardOutput; }
    const std::string& path() const { return path_; }
    // Its working file, for a regular file.
    const std::string& workingFile() const { return part_; }
    // The file that will hold the text once it is complete (links followed).
    const std::string& target() const {
        return kind_ == Kind::Replace || kind_ == Kind::Create ? target_ : path_;
    }

    // Creates the working file, or opens the special file.
    bool Open(std::string& error);
    bool isOpen() const { return fd_ >= 0; }
    // For text written by descriptor instead of Write(); report a failed
    // write with Fail().
    int fd() const { return fd_; }
    void Fail(int error);

    void Write(std::string_view text) override;
    void Flush() override;
    // Completes the file: flushed, closed, renamed into place. False, with
    // a reason, when any write failed; the working file is then removed.
    bool Commit(std::string& error);
    void Discard();

  private:
    enum class Kind { None, StandardOutput, Special, Replace, Create };

    bool CreateWorkingFile(std::string& error);

    Kind kind_ = Kind::None;
    bool fresh_ = false;
    std::string path_;    // as the user gave it
    std::string shown_;   // the same, made safe to show
    std::string target_;  // the regular file to replace or create
    std::string part_;    // its working file
    mode_t mode_ = 0666;
    std::vector<FileKey> keys_;
    int fd_ = -1;
    int error_ = 0;
    std::string buffer_;
};

// Opens /dev/null on any of descriptors 0 to 2 that is closed: otherwise
// the first output file would take that number, and text meant for
// standard output or error would land in it.
void OpenClosedStandardDescriptors();

// Plans every output and refuses any two that would touch the same file,
// or an output on a descriptor already `claimed` (name, descriptor).
// Outputs with an empty path are skipped.
bool PlanOutputs(const std::vector<std::pair<OutputFile*, std::string>>& outputs,
                 const std::vector<std::pair<std::string, int>>& claimed, std::string& error);

}  // namespace common
