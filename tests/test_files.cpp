#include "tests/test_files.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}

TempDir::TempDir(const std::string& under) {
    std::string pattern = under + "/varkel-test-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

LibsigrokLeaksIgnored::LibsigrokLeaksIgnored() {
    const char* old = ::getenv("ASAN_OPTIONS");
    had_ = old != nullptr;
    old_ = had_ ? old : "";
    ::setenv("ASAN_OPTIONS", (old_.empty() ? "" : old_ + ":").append("detect_leaks=0").c_str(), 1);
}

LibsigrokLeaksIgnored::~LibsigrokLeaksIgnored() {
    if (had_) {
        ::setenv("ASAN_OPTIONS", old_.c_str(), 1);
    } else {
        ::unsetenv("ASAN_OPTIONS");
    }
}
