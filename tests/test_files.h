// Files for tests: a scratch folder removed after the test, a file's
// bytes, a text's lines. Nothing here knows the board or the program.
#pragma once

#include <string>
#include <vector>

// A scratch directory for one test, removed after it.
class TempDir {
  public:
    TempDir();
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
