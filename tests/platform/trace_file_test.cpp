#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <ctime>
#include <memory>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "platform/settings.h"
#include "platform/trace_file.h"
#include "test_support.h"
#include "sim/process_probe.h"

namespace {

const std::string kStamp = R"(\[time:\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\])";

std::string today() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

// Restores the library directory a test changed.
class LibraryDirectory {
 public:
  explicit LibraryDirectory(const std::string& directory) : saved_(library_directory()) {
    set_library_directory(directory);
  }
  ~LibraryDirectory() { set_library_directory(saved_); }

 private:
  std::string saved_;
};

}  // namespace

TEST(TraceFile, WritesTheLineFormat) {
  TempDir dir;
  const std::string path = dir.file("port.log");
  {
    TraceFile trace(path.c_str());
    ASSERT_TRUE(trace.hasFile());
    EXPECT_GT(trace.writeLine("COM3:115200", "ComPort:", " Is Opened!"), 0);
    EXPECT_GT(trace.writeLine("", "P:", "S"), 0);
    const uint8_t bytes[] = {0x0A, 0x1B, 0xFF};
    EXPECT_GT(trace.writeHex(bytes, 3, "  Data[in]:", ""), 0);
    EXPECT_GT(trace.writeHex(nullptr, 0, "  Data[out]:", nullptr), 0);
    // The count is in bytes: two GBK characters are four.
    EXPECT_GT(trace.writeLine("\xC4\xD0\xC4\xD0", nullptr, nullptr), 0);
    EXPECT_EQ(7, trace.printf("n=%d\n", 1234));
  }
  const std::regex expected(kStamp + R"(ComPort:\[len:11\]COM3:115200 Is Opened!\n)" +  //
                            kStamp + R"(P:\[len:0\]S\n)" +                              //
                            kStamp + R"(  Data\[in\]:\[len:3\]0A1BFF\n)" +              //
                            kStamp + R"(  Data\[out\]:\[len:0\]\n)" +                   //
                            kStamp + "\\[len:4\\]\xC4\xD0\xC4\xD0\n" +                  //
                            "n=1234\n");
  EXPECT_TRUE(std::regex_match(read_text(path), expected)) << read_text(path);
}

TEST(TraceFile, ResultIsTheByteCountOfTheLine) {
  TempDir dir;
  const std::string path = dir.file("t.log");
  TraceFile trace(path.c_str());
  const int n = trace.writeLine("abc", "X:", "!");
  EXPECT_EQ(int(read_text(path).size()), n);
  EXPECT_EQ(int(sizeof "[time:2026-12-08 00:55:59.123]X:[len:3]abc!\n") - 1, n);
}

TEST(TraceFile, WithoutAFileEveryWriteFailsAndNothingIsMade) {
  TempDir dir;
  std::ofstream(dir.file("plain")) << "x";
  const std::string under_file = dir.file("plain/trace.log");
  const std::string missing = dir.file("missing/trace.log");
  for (const char* path : {static_cast<const char*>(nullptr), "", under_file.c_str(), missing.c_str()}) {
    TraceFile trace(path);
    EXPECT_FALSE(trace.hasFile());
    EXPECT_EQ(-1, trace.writeLine("a", "b", "c"));
    const uint8_t byte = 1;
    EXPECT_EQ(-1, trace.writeHex(&byte, 1, "b", "c"));
    EXPECT_EQ(-1, trace.printf("%s", "a"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir.path()),
                             std::filesystem::directory_iterator()));
}

TEST(TraceFile, BadArgumentsWriteNothing) {
  TempDir dir;
  const std::string path = dir.file("t.log");
  TraceFile trace(path.c_str());
  const uint8_t byte = 1;
  EXPECT_EQ(-1, trace.writeLine(nullptr, "p", "s"));
  EXPECT_EQ(-1, trace.writeHex(&byte, -1, "p", "s"));
  EXPECT_EQ(-1, trace.writeHex(nullptr, 4, "p", "s"));
  EXPECT_EQ(-1, trace.writeHex(&byte, INT_MAX, "p", "s"));
  EXPECT_EQ("", read_text(path));
}

TEST(TraceFile, WriteErrorsReturnMinusOne) {
  TraceFile full("/dev/full");
  ASSERT_TRUE(full.hasFile());
  EXPECT_EQ(-1, full.writeLine("a", "", ""));
  EXPECT_EQ(-1, full.printf("%d", 5));
}

TEST(TraceFile, BorrowedStreamStaysOpenAndOwnDescriptorIsClosed) {
  TempDir dir;
  const int before = open_fd_count();
  {
    TraceFile trace(dir.file("own.log").c_str());
    EXPECT_EQ(before + 1, open_fd_count());
  }
  EXPECT_EQ(before, open_fd_count());

  FILE* stream = fopen(dir.file("borrowed.log").c_str(), "w");
  ASSERT_NE(nullptr, stream);
  {
    TraceFile trace(stream);
    EXPECT_TRUE(trace.hasFile());
    EXPECT_GT(trace.writeLine("one", "", ""), 0);
  }
  EXPECT_GE(fputs("two\n", stream), 0);
  EXPECT_EQ(0, fclose(stream));
  EXPECT_TRUE(std::regex_match(read_text(dir.file("borrowed.log")),
                               std::regex(kStamp + "\\[len:3\\]one\ntwo\n")));
  TraceFile none(static_cast<FILE*>(nullptr));
  EXPECT_EQ(-1, none.writeLine("x", "", ""));
}

TEST(TraceFile, DayPathMakesAPrivateFolderAndPrivateFiles) {
  TempDir dir;
  LibraryDirectory prefix(dir.path() + "/");
  const mode_t old_mask = umask(0);
  const std::string path = port_log_file_name();
  TraceFile trace(path.c_str());
  trace.writeLine("x", "", "");
  umask(old_mask);

  EXPECT_EQ(dir.path() + "/kxrf32log/port" + today() + ".log", path);
  EXPECT_EQ(dir.path() + "/kxrf32log/func" + today() + ".log", trace_day_path("func"));
  EXPECT_EQ(0700u, mode_of(dir.file("kxrf32log")));
  EXPECT_EQ(0600u, mode_of(path));

  // An existing file keeps its mode.
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  TraceFile again(path.c_str());
  again.writeLine("y", "", "");
  EXPECT_EQ(0640u, mode_of(path));
}

TEST(TraceFile, DayPathJoinsThePrefixWithoutASeparator) {
  TempDir dir;
  LibraryDirectory prefix(dir.path() + "/app_");
  EXPECT_EQ(dir.path() + "/app_kxrf32log/port" + today() + ".log", trace_day_path("port"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/app_kxrf32log"));
}

TEST(TraceFile, LinesOfManyWritersStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kLines = 500;
  constexpr int kBytes = 3072;  // 6 KiB of hex a line
  TempDir dir;
  const std::string path = dir.file("shared.log");
  TraceFile shared(path.c_str());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Even threads share one object, odd ones open their own.
      std::unique_ptr<TraceFile> own;
      if (t % 2) own = std::make_unique<TraceFile>(path.c_str());
      TraceFile& trace = own ? *own : shared;
      const Bytes data(kBytes, uint8_t(0x11 * t));
      const std::string prefix = "T" + std::to_string(t) + ":";
      for (int i = 0; i < kLines; ++i) trace.writeHex(data.data(), kBytes, prefix.c_str(), "");
    });
  }
  for (auto& thread : threads) thread.join();

  std::istringstream lines(read_text(path));
  std::string line;
  int count[kThreads] = {};
  const std::regex stamp(kStamp);
  const size_t stamp_length = sizeof "[time:2026-12-08 00:55:59.123]" - 1;
  const std::string len_field = ":[len:3072]";
  while (std::getline(lines, line)) {
    // Long payloads are checked by hand: std::regex recurses per character.
    ASSERT_GT(line.size(), stamp_length + 2) << line;
    ASSERT_TRUE(std::regex_match(line.substr(0, stamp_length), stamp)) << line.substr(0, 80);
    ASSERT_EQ('T', line[stamp_length]);
    const int t = line[stamp_length + 1] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 80);
    ASSERT_EQ(len_field, line.substr(stamp_length + 2, len_field.size()));
    const std::string payload = line.substr(stamp_length + 2 + len_field.size());
    char pair[3];
    snprintf(pair, sizeof pair, "%02X", 0x11 * t);
    ASSERT_EQ(size_t(2 * kBytes), payload.size());
    ASSERT_EQ(std::string::npos, payload.find_first_not_of(pair)) << "mixed payload";
    ++count[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(kLines, count[t]);
}
