#include "tool/bitmap_writers.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_oracle.h"
#include "platform/test_support.h"
#include "tool/qr_encoder.h"

namespace {

constexpr char kIdentifier[] = "A09ABDA0C2BE18B571D7";
constexpr char kCode39Options[] = "-Sdisable -Scode39.enable";

Picture picture_of(const std::string& path) {
  Picture picture;
  const std::string error = parse_bmp(read_text(path), picture);
  EXPECT_EQ("", error) << path;
  return picture;
}

// Whether every pixel shows its module, top row first.
bool shows_symbol(const Picture& p, const QrSymbol& s, int module_pixels) {
  if (p.width != s.size * module_pixels || p.height != p.width) return false;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      if (p.at(x, y) != s.module(x / module_pixels, y / module_pixels)) return false;
    }
  }
  return true;
}

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
  return names;
}

}  // namespace

struct QrPicture {
  const char* text;
  int scale;
  int level;
  int version;
  int width;
  size_t stride;
};

class BitmapQr : public ::testing::TestWithParam<QrPicture> {};

TEST_P(BitmapQr, ShowsTheSymbolUprightWithPaddedRows) {
  const QrPicture& q = GetParam();
  TempDir dir;
  const std::string bmp = dir.file("qr.bmp");
  ASSERT_EQ(0, WriteQrBitmap(bmp.c_str(), q.text, q.scale, q.level));
  const std::string bytes = read_text(bmp);
  EXPECT_EQ(54 + q.stride * size_t(q.width), bytes.size());
  const Picture picture = picture_of(bmp);
  QrEncoder reference;
  ASSERT_TRUE(reference.encode(q.level, q.text));
  EXPECT_EQ(q.version, reference.version());
  EXPECT_EQ(q.width, picture.width);
  EXPECT_TRUE(shows_symbol(picture, reference.symbol(), 2 * q.scale));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BitmapQr,
    ::testing::Values(QrPicture{kIdentifier, 3, 0, 1, 126, 380},  // 47934 bytes
                      QrPicture{"ABCDEFGHIJKLMNOPQRSTUVWXYZ1234", 2, 0, 2, 100, 300},  // no padding
                      QrPicture{"HELLO", 1, 3, 1, 42, 128}));

TEST(Bitmap, RefusalsWriteNothing) {
  TempDir dir;
  const std::string old_file = dir.file("old.bmp");
  std::ofstream(old_file) << "old";
  const std::string fresh = dir.file("fresh.bmp");
  const std::string too_long(1274, 'x');
  const std::string code39_75(75, 'A');
  for (const std::string& target : {old_file, fresh}) {
    const char* f = target.c_str();
    EXPECT_EQ(-1, WriteQrBitmap(f, nullptr, 3, 0));
    EXPECT_EQ(-1, WriteQrBitmap(f, "", 3, 0));
    EXPECT_EQ(-1, WriteQrBitmap(f, "A", 0, 0));
    EXPECT_EQ(-1, WriteQrBitmap(f, "A", -1, 0));
    EXPECT_EQ(-1, WriteQrBitmap(f, "A", 3, -1));
    EXPECT_EQ(-1, WriteQrBitmap(f, "A", 3, 4));
    EXPECT_EQ(-1, WriteQrBitmap(f, too_long.c_str(), 1, 3));
    // 21 modules of 1400 pixels: a file past 2^31 - 1 bytes.
    EXPECT_EQ(-1, WriteQrBitmap(f, "A", 700, 0));
    EXPECT_EQ(-1, WriteQrBitmap(f, "A", INT_MAX, 0));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, nullptr, 10, 1));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "ABC", 0, 1));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "ABC", 10, 0));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "ABC", 10, -3));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "A,B", 10, 1));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "A*B", 10, 1));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "*AB", 10, 1));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "\xC1", 10, 1));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, code39_75.c_str(), 10, 1));
    EXPECT_EQ(-1, WriteCode39Bitmap(f, "ABC", INT_MAX, INT_MAX));
  }
  EXPECT_EQ(-1, WriteQrBitmap(nullptr, "A", 3, 0));
  EXPECT_EQ(-1, WriteCode39Bitmap(nullptr, "A", 10, 1));
  EXPECT_EQ(-1, WriteQrBitmap(dir.file("missing/x.bmp").c_str(), "A", 3, 0));
  EXPECT_EQ(-1, WriteQrBitmap(dir.path().c_str(), "A", 3, 0));
  EXPECT_EQ("old", read_text(old_file));
  EXPECT_EQ(std::vector<std::string>{"old.bmp"}, folder_entries(dir.path()));
}

TEST(Bitmap, ReplacesTheWholeFileKeepingItsMode) {
  TempDir dir;
  const std::string kept = dir.file("kept.bmp");
  std::ofstream(kept) << "old";
  ASSERT_EQ(0, chmod(kept.c_str(), 0640));
  ASSERT_EQ(0, WriteQrBitmap(kept.c_str(), "A", 1, 0));
  EXPECT_EQ(0640u, mode_of(kept));
  EXPECT_EQ(21, picture_of(kept).width / 2);

  const mode_t old_mask = umask(027);
  EXPECT_EQ(0, WriteCode39Bitmap(dir.file("new.bmp").c_str(), "A", 5, 1));
  umask(old_mask);
  EXPECT_EQ(0640u, mode_of(dir.file("new.bmp")));

  // Through a symbolic link the file it names is replaced; the link stays.
  const std::string named = dir.file("named.bmp");
  std::ofstream(named) << "old";
  std::filesystem::create_symlink(named, dir.file("link.bmp"));
  ASSERT_EQ(0, WriteQrBitmap(dir.file("link.bmp").c_str(), "LINK", 1, 0));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.bmp")));
  EXPECT_EQ(42, picture_of(named).width);
}

TEST(Bitmap, FailedWriteLeavesTheOldFile) {
  TempDir dir;
  const std::string target = dir.file("target.bmp");
  std::ofstream(target) << "old";
  // A child whose files may not grow past 1000 bytes; with SIGXFSZ ignored
  // the write fails with EFBIG.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const int qr = WriteQrBitmap(target.c_str(), kIdentifier, 3, 0);
    const int code39 = WriteCode39Bitmap(target.c_str(), "ABC", 100, 2);
    _exit(qr == -1 && code39 == -1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ("old", read_text(target));
  EXPECT_EQ(std::vector<std::string>{"target.bmp"}, folder_entries(dir.path()));
}

struct Code39Case {
  std::string text;
  int module_width;
  std::string decoded;
};

class Code39 : public ::testing::TestWithParam<Code39Case> {};

TEST_P(Code39, DrawsFramedTextThatDecodes) {
  const Code39Case& c = GetParam();
  TempDir dir;
  const std::string bmp = dir.file("code39.bmp");
  ASSERT_EQ(0, WriteCode39Bitmap(bmp.c_str(), c.text.c_str(), 30, c.module_width));
  const Picture picture = picture_of(bmp);
  EXPECT_EQ(int(c.text.size() + 2) * 13 * c.module_width, picture.width);
  EXPECT_EQ(30, picture.height);
  for (int y = 1; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) ASSERT_EQ(picture.at(x, 0), picture.at(x, y));
  }
  // The 13th module of every character is light.
  for (int x = 13 * c.module_width - 1; x < picture.width; x += 13 * c.module_width) {
    EXPECT_FALSE(picture.at(x, 0));
  }
  EXPECT_EQ(c.decoded, zbar_decode(picture, 10 * c.module_width, dir.file("code39.pgm"), kCode39Options));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Code39,
    ::testing::Values(Code39Case{"abc", 1, "ABC"}, Code39Case{"abc", 2, "ABC"},
                      Code39Case{"0123456789", 3, "0123456789"},
                      Code39Case{"ABCDEFGHIJKLMNOPQRSTUVWXYZ", 2, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
                      Code39Case{"-. $/+%", 3, "-. $/+%"},
                      Code39Case{std::string(74, '7'), 2, std::string(74, '7')}));

TEST(ToolConcurrency, BitmapsFromFourThreads) {
  TempDir dir;
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::vector<std::string> texts;
  for (int t = 0; t < kThreads; ++t) texts.push_back("THREAD " + std::to_string(t) + std::string(size_t(20 * t), 'x'));
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string file = dir.file("t" + std::to_string(t) + ".bmp");
      const std::string bars = dir.file("c" + std::to_string(t) + ".bmp");
      for (int round = 0; round < kRounds; ++round) {
        failures[size_t(t)] += WriteQrBitmap(file.c_str(), texts[size_t(t)].c_str(), 1 + round % 2, t) != 0;
        failures[size_t(t)] += WriteCode39Bitmap(bars.c_str(), "ABC", 5, 1) != 0;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(0, failures[size_t(t)]);
    const std::string file = dir.file("t" + std::to_string(t) + ".bmp");
    QrEncoder reference;
    ASSERT_TRUE(reference.encode(t, texts[size_t(t)].c_str()));
    const Picture picture = picture_of(file);
    EXPECT_TRUE(shows_symbol(picture, reference.symbol(), 2 * (1 + (kRounds - 1) % 2)));
    EXPECT_EQ(texts[size_t(t)], zbar_decode(picture, 16, dir.file("t.pgm")));
  }
}
