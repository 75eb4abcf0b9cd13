// An output file that is either complete or visibly not there.
//
// Text goes to "<path>.part" and is renamed to <path> only by Commit(), so
// a run that dies half-way leaves no file that looks finished.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // an uncommitted file is removed

    // False, with a one-line reason, when the file cannot be created.
    bool Open(const std::string& path, std::string& error);
    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    // For text written by file descriptor instead of Write().
    int fd() const { return file_ != nullptr ? fileno(file_) : -1; }

    void Write(std::string_view text) {
        if (file_ != nullptr) {
            std::fwrite(text.data(), 1, text.size(), file_);
        }
    }
    void Flush();
    // Flushes, closes and renames into place. False, with a reason, if any
    // write failed; the partial file is then removed.
    bool Commit(std::string& error);
    // Closes and removes the partial file.
    void Discard();

  private:
    std::string path_;
    std::string partPath_;
    std::FILE* file_ = nullptr;
};

}  // namespace sim
