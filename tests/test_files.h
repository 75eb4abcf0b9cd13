// Files for tests: a scratch folder removed after the test, a file's
// bytes, a text's lines, and the leak checker kept from what libsigrok
// keeps. Nothing here knows the board or the program.
#pragma once

#include <string>
#include <vector>

// A scratch directory for one test, removed after it.
class TempDir {
  public:
    TempDir();
    explicit TempDir(const std::string& under);  // a folder of its own in `under`
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
std::vector<std::string> Lines(const std::string& text);

// While it lives, programs this test starts skip the leak checker (a
// sanitized build's): libsigrok's csv input and some drivers' scans keep a
// few bytes that no caller can free. Every other error is still reported.
class LibsigrokLeaksIgnored {
  public:
    LibsigrokLeaksIgnored();
    ~LibsigrokLeaksIgnored();
    LibsigrokLeaksIgnored(const LibsigrokLeaksIgnored&) = delete;
    LibsigrokLeaksIgnored& operator=(const LibsigrokLeaksIgnored&) = delete;

  private:
    bool had_ = false;
    std::string old_;
};
