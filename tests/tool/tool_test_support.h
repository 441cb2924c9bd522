// Shared pieces of the utility-library tests: standard output captured into
// a file, and a text buffer with guard bytes behind the part a call may
// write.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/test_support.h"

// Standard output goes to a temporary file while the object lives.
class StdoutCapture {
 public:
  StdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
  }
  ~StdoutCapture() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    std::fclose(file_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything written so far.
  std::string text() const {
    std::fflush(stdout);
    return read_text("/proc/self/fd/" + std::to_string(fileno(file_)));
  }

 private:
  std::FILE* file_;
  int saved_ = -1;
};

// A buffer of `size` bytes filled with '#', the guard character: what a
// call wrote is the text before the first guard.
inline constexpr char kGuard = '#';
inline std::vector<char> guarded(size_t size) { return std::vector<char>(size, kGuard); }
inline std::string written(const std::vector<char>& buffer) {
  std::string text(buffer.begin(), buffer.end());
  return text.substr(0, text.find(kGuard));
}

// Names table rows "row0", "row1", ... (ctest would otherwise name each by
// the bytes of its row).
struct RowName {
  template <typename Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return "row" + std::to_string(info.index);
  }
};
