// The utility library from several threads at once: process-wide state is
// guarded, files and lines stay whole.
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tool.h"
#include "tool_test_support.h"

namespace {

constexpr int kThreads = 4;

// Runs work(0) to work(kThreads - 1) on their own threads at once.
void on_threads(const std::function<void(int)>& work) {
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) threads.emplace_back(work, id);
  for (std::thread& t : threads) t.join();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Tag and line number of a prefix always come from the same setting call.
const std::regex kLine(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\] T(\d) :\1 t(\d) k(\d+))");

TEST(ToolConcurrency, TracesFromFourThreads) {
  constexpr int kLines = 200;
  TempDir dir;
  StdoutCapture out;
  const std::string shared = dir.file("shared/t.log");
  on_threads([&](int id) {
    const std::string own = dir.file("own" + std::to_string(id) + ".log");
    const std::string tag = "T" + std::to_string(id);
    for (int k = 0; k < kLines; ++k) {
      Tool_TraceSaveFile_New(shared.c_str(), tag.c_str(), id);
      Tool_Trace("t%d k%d", id, k);
      Tool_TraceF(own.c_str(), "t%d k%d", id, k);
    }
  });
  for (int id = 0; id < kThreads; ++id) {
    const auto own = lines_of(read_text(dir.file("own" + std::to_string(id) + ".log")));
    ASSERT_EQ(size_t(kLines), own.size());
    for (int k = 0; k < kLines; ++k) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(own[size_t(k)], m, kLine)) << own[size_t(k)];
      EXPECT_EQ(std::to_string(id), m[2]);
      EXPECT_EQ(std::to_string(k), m[3]);
    }
  }
  // Each remembered name serves one line: the shared file has at most one
  // line per Tool_Trace call, every one whole.
  const auto remembered = lines_of(read_text(shared));
  EXPECT_GE(remembered.size(), 1u);
  EXPECT_LE(remembered.size(), size_t(kThreads * kLines));
  for (const std::string& line : remembered) EXPECT_TRUE(std::regex_match(line, kLine)) << line;
  const auto printed = lines_of(out.text());
  EXPECT_EQ(size_t(2 * kThreads * kLines), printed.size());
  for (const std::string& line : printed) EXPECT_TRUE(std::regex_match(line, kLine)) << line;
}

// Bitmap writers from four threads join here as their own test on
// on_threads: each thread writes its own file, which must decode to its
// own text.

}  // namespace
