#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "tool.h"
#include "tool/trace.h"
#include "tool_test_support.h"

namespace {

const std::string kStamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\])";

// Each test starts with an empty tag, line 0 and no remembered file.
class ToolTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    StdoutCapture quiet;
    ASSERT_EQ(0, Tool_TraceSaveFile_New(dir_.file("reset.log").c_str(), "", 0));
    Tool_Trace("reset");
  }
  std::string file(const std::string& name) const { return dir_.file(name); }

  TempDir dir_;
};

bool matches(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

TEST_F(ToolTrace, RememberedFileServesOneLineAndStdoutAll) {
  StdoutCapture out;
  EXPECT_EQ(0, Tool_Trace("before %d", 1));
  ASSERT_EQ(0, Tool_TraceSaveFile(file("t.log").c_str()));
  EXPECT_EQ(0, Tool_Trace("one %s", "x"));
  EXPECT_EQ(0, Tool_Trace("two"));
  EXPECT_TRUE(matches(read_text(file("t.log")), kStamp + "  one x\n")) << read_text(file("t.log"));
  EXPECT_TRUE(
      matches(out.text(), kStamp + "  before 1\n" + kStamp + "  one x\n" + kStamp + "  two\n"))
      << out.text();
}

TEST_F(ToolTrace, TagAndLineStayUntilSetAgain) {
  StdoutCapture out;
  ASSERT_EQ(0, Tool_TraceSaveFile_New(file("t.log").c_str(), "main.cpp", 12));
  Tool_Trace("a");
  ASSERT_EQ(0, Tool_TraceSaveFile(file("t.log").c_str()));
  Tool_Trace("b");
  const std::string tag(150, 'g');
  ASSERT_EQ(0, Tool_TraceSaveFile_New(file("t.log").c_str(), tag.c_str(), -7));
  Tool_Trace("c");
  EXPECT_TRUE(matches(read_text(file("t.log")), kStamp + " main.cpp :12 a\n" + kStamp +
                                                    " main.cpp :12 b\n" + kStamp + " " +
                                                    std::string(99, 'g') + " :-7 c\n"))
      << read_text(file("t.log"));
}

TEST_F(ToolTrace, NamedFilesTakeEveryLineAndLeaveTheSettings) {
  StdoutCapture out;
  ASSERT_EQ(0, Tool_TraceSaveFile(file("remembered.log").c_str()));
  const uint8_t bytes[] = {0x0A, 0x1B, 0xFF};
  Tool_TraceF(file("f.log").c_str(), "n=%d", 5);
  Tool_TraceHexF(file("f.log").c_str(), "data:", bytes, 3);
  Tool_TraceF(file("no/such/folder/f.log").c_str(), "lost");
  // The remembered name is still there for this line.
  Tool_TraceHex("hex:", bytes, 2);
  EXPECT_TRUE(matches(read_text(file("f.log")), kStamp + "  n=5\n" + kStamp + "  data:0A1BFF\n"));
  EXPECT_TRUE(matches(read_text(file("remembered.log")), kStamp + "  hex:0A1B\n"));
  EXPECT_FALSE(std::filesystem::exists(file("no")));
  // A file that cannot be opened still gets its line on standard output.
  EXPECT_NE(std::string::npos, out.text().find("  lost\n"));
}

TEST_F(ToolTrace, LongLinesAreCutAndLongHexShortened) {
  StdoutCapture out;
  const std::string text(5000, 'x');
  Tool_TraceF(file("f.log").c_str(), "%s", text.c_str());
  const std::vector<uint8_t> bytes(3000, 0xAB);
  Tool_TraceHexF(file("f.log").c_str(), "", bytes.data(), int(bytes.size()));
  std::ifstream in(file("f.log"));
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(4095u, line.size());
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(4095u, line.size());
  EXPECT_TRUE(matches(line, kStamp + "  (AB)+A?"));
}

TEST_F(ToolTrace, BadArgumentsWriteNothing) {
  StdoutCapture out;
  const uint8_t bytes[] = {1};
  EXPECT_EQ(0, Tool_Trace(nullptr));
  EXPECT_EQ(0, Tool_TraceF(nullptr, "x"));
  EXPECT_EQ(0, Tool_TraceF(file("f.log").c_str(), nullptr));
  EXPECT_EQ(0, Tool_TraceHex(nullptr, bytes, 1));
  EXPECT_EQ(0, Tool_TraceHex("t", nullptr, 1));
  EXPECT_EQ(0, Tool_TraceHex("t", bytes, -1));
  EXPECT_EQ(0, Tool_TraceHexF(file("f.log").c_str(), "t", bytes, -1));
  EXPECT_EQ(0, Tool_TraceHexF(nullptr, "t", bytes, 1));
  EXPECT_EQ(-1, Tool_TraceSaveFile(nullptr));
  EXPECT_EQ(-1, Tool_TraceSaveFile_New(nullptr, "t", 1));
  EXPECT_EQ(-1, Tool_TraceSaveFile_New(file("t.log").c_str(), nullptr, 1));
  EXPECT_EQ("", out.text());
  EXPECT_FALSE(std::filesystem::exists(file("f.log")));
}

TEST_F(ToolTrace, FoldersAreMadeAlongTheName) {
  StdoutCapture out;
  const mode_t saved = umask(0);
  ASSERT_EQ(0, Tool_TraceSaveFile(file("a/b\\c/t.log").c_str()));
  Tool_Trace("x");
  umask(saved);
  // "\" is an ordinary character of a name.
  EXPECT_EQ(0700u, mode_of(file("a")));
  EXPECT_EQ(0700u, mode_of(file("a/b\\c")));
  EXPECT_EQ(0600u, mode_of(file("a/b\\c/t.log")));
  // Existing folders and a name without any "/" are fine.
  ASSERT_EQ(0, Tool_TraceSaveFile(file("a/b\\c/t.log").c_str()));
  const std::string cwd = std::filesystem::current_path();
  ASSERT_EQ(0, chdir(dir_.path().c_str()));
  EXPECT_EQ(0, Tool_TraceSaveFile("plain.log"));
  Tool_Trace("y");
  ASSERT_EQ(0, chdir(cwd.c_str()));
  EXPECT_TRUE(matches(read_text(file("plain.log")), kStamp + "  y\n"));
}

TEST_F(ToolTrace, FailedNamesLeaveTheSettings) {
  StdoutCapture out;
  ASSERT_EQ(0, Tool_TraceSaveFile_New(file("kept.log").c_str(), "kept", 1));
  std::ofstream(file("plain")) << "x";
  EXPECT_EQ(-1, Tool_TraceSaveFile(file("plain/t.log").c_str()));
  const std::string too_long = dir_.path() + "/" + std::string(4095 - dir_.path().size(), 'n');
  EXPECT_EQ(-1, Tool_TraceSaveFile_New(too_long.c_str(), "lost", 2));
  Tool_Trace("z");
  EXPECT_TRUE(matches(read_text(file("kept.log")), kStamp + " kept :1 z\n"))
      << read_text(file("kept.log"));
  // One character less is taken (the file itself cannot be opened).
  EXPECT_EQ(0, Tool_TraceSaveFile(too_long.substr(0, 4095).c_str()));
}

std::string lines(int count, const std::string& line) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + std::to_string(i) + "\n";
  return text;
}

TEST_F(ToolTrace, TrimDropsTheOldestFifthOfTheLines) {
  const std::string path = file("t.log");
  std::ofstream(path) << lines(10, "line ");
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  const auto size = std::filesystem::file_size(path);
  EXPECT_EQ(0, trim_trace_file(path, int64_t(size)));
  EXPECT_EQ(lines(10, "line "), read_text(path));
  EXPECT_EQ(0, trim_trace_file(path, int64_t(size) - 1));
  EXPECT_EQ(lines(10, "line ").substr(14), read_text(path));
  EXPECT_EQ(0640u, mode_of(path));
  // A last line without "\n" counts: 5 lines lose 1.
  std::ofstream(path) << "a\nb\nc\nd\ne";
  EXPECT_EQ(0, trim_trace_file(path, 1));
  EXPECT_EQ("b\nc\nd\ne", read_text(path));
  EXPECT_EQ(-1, trim_trace_file(file("missing"), 1));
  EXPECT_EQ(-1, trim_trace_file("", 1));
}

TEST_F(ToolTrace, NamingAFileOverTwentyMebibytesTrimsIt) {
  const std::string path = file("big.log");
  const std::string line = std::string(1023, 'x') + "\n";
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 20480; ++i) out << line;
  }
  ASSERT_EQ(uint64_t(kTraceTrimThreshold), std::filesystem::file_size(path));
  ASSERT_EQ(0, Tool_TraceSaveFile(path.c_str()));
  EXPECT_EQ(uint64_t(kTraceTrimThreshold), std::filesystem::file_size(path));
  std::ofstream(path, std::ios::app) << "y";
  ASSERT_EQ(0, Tool_TraceSaveFile(path.c_str()));
  // 20481 lines lose 4096.
  EXPECT_EQ(uint64_t(kTraceTrimThreshold) + 1 - 4096 * 1024, std::filesystem::file_size(path));
}

// A file past 2 GiB, sparse but for its last lines, is trimmed like any
// other: the oldest fifth goes in whole lines, here all but the last two.
TEST_F(ToolTrace, FilesPastTwoGibibytesAreTrimmedToo) {
  const std::string path = file("huge.log");
  const off_t hole = off_t(1) << 31;
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, hole));
    const std::string tail = "tail 1\ntail 2\ntail 3\n";
    ASSERT_EQ(ssize_t(tail.size()), pwrite(fd, tail.data(), tail.size(), hole));
    ::close(fd);
  }
  ASSERT_GT(std::filesystem::file_size(path), uint64_t(INT32_MAX));
  ASSERT_EQ(0, Tool_TraceSaveFile(path.c_str()));
  ASSERT_EQ(14u, std::filesystem::file_size(path));
  EXPECT_EQ("tail 2\ntail 3\n", read_text(path));
}

}  // namespace
