#include "sim/output_file.h"

#include <cerrno>
#include <cstring>

namespace sim {

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Open(const std::string& path, std::string& error) {
    path_ = path;
    partPath_ = path + ".part";
    file_ = std::fopen(partPath_.c_str(), "w");
    if (file_ == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    return true;
}

void OutputFile::Flush() {
    if (file_ != nullptr) {
        std::fflush(file_);
    }
}

bool OutputFile::Commit(std::string& error) {
    if (file_ == nullptr) {
        return true;
    }
    const bool writeFailed = std::ferror(file_) != 0;
    const bool closeFailed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (writeFailed || closeFailed) {
        error = "cannot write " + path_ + ": " + std::strerror(errno != 0 ? errno : EIO);
        std::remove(partPath_.c_str());
        return false;
    }
    if (std::rename(partPath_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        std::remove(partPath_.c_str());
        return false;
    }
    return true;
}

void OutputFile::Discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
        std::remove(partPath_.c_str());
    }
}

}  // namespace sim
