#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/file_helpers.h"
#include "test_support.h"

namespace {

// read_file's result with the buffer freed; the buffer's bytes go to `data`.
int read_all(const std::string& path, Bytes* data = nullptr, bool* got_buffer = nullptr) {
  uint8_t* buffer = reinterpret_cast<uint8_t*>(&buffer);  // must be overwritten
  const int n = read_file(path.c_str(), &buffer);
  if (got_buffer) *got_buffer = buffer != nullptr;
  if (n > 0 && data) data->assign(buffer, buffer + n);
  if (n < 0) {
    EXPECT_EQ(nullptr, buffer);
  }
  std::free(buffer);
  return n;
}

}  // namespace

TEST(Files, WritesAndReadsBackAWholeFile) {
  TempDir dir;
  Bytes data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  ASSERT_TRUE(write_file(dir.file("font.bin").c_str(), data.data(), int(data.size())));
  Bytes back;
  EXPECT_EQ(int(data.size()), read_all(dir.file("font.bin"), &back));
  EXPECT_EQ(data, back);
  // A second write replaces the content.
  ASSERT_TRUE(write_file(dir.file("font.bin").c_str(), data.data(), 3));
  EXPECT_EQ(3, read_all(dir.file("font.bin")));
}

TEST(Files, EmptyFileGivesZeroAndABufferToFree) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("empty").c_str(), nullptr, 0));
  bool got_buffer = false;
  EXPECT_EQ(0, read_all(dir.file("empty"), nullptr, &got_buffer));
  EXPECT_TRUE(got_buffer);
}

TEST(Files, ReadRefusesAnythingButARegularFile) {
  TempDir dir;
  EXPECT_EQ(-1, read_all(dir.file("missing")));
  EXPECT_EQ(-1, read_all(dir.path()));
  EXPECT_EQ(-1, read_all("/dev/zero"));
  // A FIFO without a writer would block an ordinary open for ever.
  ASSERT_EQ(0, mkfifo(dir.file("fifo").c_str(), 0600));
  EXPECT_EQ(-1, read_all(dir.file("fifo")));
  uint8_t* buffer = nullptr;
  EXPECT_EQ(-1, read_file(nullptr, &buffer));
  EXPECT_EQ(-1, read_file(dir.file("missing").c_str(), nullptr));
}

TEST(Files, ReadsAtAnOffsetOnlyWithinTheFile) {
  TempDir dir;
  const Bytes data = {1, 2, 3, 4, 5};
  ASSERT_TRUE(write_file(dir.file("f").c_str(), data.data(), 5));
  const RegularFile file(dir.file("f").c_str());
  ASSERT_TRUE(file.ok());
  EXPECT_EQ(file.size(), 5u);
  uint8_t out[3] = {};
  EXPECT_TRUE(file.read_at(2, out, 3));
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{3, 4, 5}));
  EXPECT_FALSE(file.read_at(3, out, 3));
  EXPECT_FALSE(file.read_at(~uint64_t(0), out, 2));  // offset + count wraps
  EXPECT_FALSE(RegularFile(dir.path().c_str()).ok());
  EXPECT_FALSE(RegularFile(nullptr).read_at(0, out, 0));
}

TEST(Files, WriteReportsAFullDiskAndBadArguments) {
  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_FALSE(write_file("/dev/full", data, 4));
  TempDir dir;
  EXPECT_FALSE(write_file(dir.file("x").c_str(), data, -1));
  EXPECT_FALSE(write_file(dir.file("x").c_str(), nullptr, 4));
  EXPECT_FALSE(write_file(nullptr, data, 4));
  EXPECT_FALSE(write_file(dir.file("no/such/folder").c_str(), data, 4));
  EXPECT_TRUE(dir.empty());
}

namespace {

// replace_file's result in a child process whose files may grow to `limit`
// bytes; SIGXFSZ is ignored so that a write past it fails with EFBIG.
bool replace_with_size_limit(const std::string& path, const Bytes& data, rlim_t limit) {
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit small{limit, limit};
    setrlimit(RLIMIT_FSIZE, &small);
    _exit(replace_file(path.c_str(), data.data(), int(data.size())) ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(Files, ReplaceKeepsTheModeAndFollowsLinks) {
  TempDir dir;
  const std::string path = dir.file("data.ini");
  const mode_t saved = umask(0);
  const Bytes text = {'n', 'e', 'w'};
  ASSERT_TRUE(replace_file(path.c_str(), text.data(), 3));
  EXPECT_EQ(0666u, mode_of(path));
  umask(077);
  ASSERT_TRUE(replace_file(dir.file("private").c_str(), text.data(), 3));
  EXPECT_EQ(0600u, mode_of(dir.file("private")));
  umask(saved);
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  const Bytes longer(5000, 'x');
  ASSERT_TRUE(replace_file(path.c_str(), longer.data(), int(longer.size())));
  EXPECT_EQ(std::string(5000, 'x'), read_text(path));
  EXPECT_EQ(0640u, mode_of(path));
  // Through a link the file it names is replaced; the link stays.
  ASSERT_EQ(0, symlink("data.ini", dir.file("link").c_str()));
  ASSERT_TRUE(replace_file(dir.file("link").c_str(), text.data(), 3));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
  EXPECT_EQ("new", read_text(path));
  EXPECT_TRUE(replace_file(path.c_str(), nullptr, 0));
  EXPECT_EQ("", read_text(path));
}

TEST(Files, FailedReplaceLeavesTheTargetAndNoTemporary) {
  TempDir dir;
  const std::string path = dir.file("data.xml");
  const Bytes old(100, 'o');
  ASSERT_TRUE(write_file(path.c_str(), old.data(), int(old.size())));
  EXPECT_FALSE(replace_with_size_limit(path, Bytes(5000, 'n'), 1000));
  EXPECT_EQ(std::string(100, 'o'), read_text(path));
  EXPECT_TRUE(replace_with_size_limit(path, Bytes(900, 'n'), 1000));
  EXPECT_EQ(std::string(900, 'n'), read_text(path));
  // Not regular files, a link to nothing, a missing folder, bad arguments.
  ASSERT_EQ(0, mkfifo(dir.file("fifo").c_str(), 0600));
  ASSERT_EQ(0, mkdir(dir.file("folder").c_str(), 0700));
  ASSERT_EQ(0, symlink("nowhere", dir.file("dangling").c_str()));
  for (const char* name : {"fifo", "folder", "dangling", "no/such/file"}) {
    EXPECT_FALSE(replace_file(dir.file(name).c_str(), old.data(), 1)) << name;
  }
  EXPECT_FALSE(replace_file("/dev/null", old.data(), 1));
  EXPECT_FALSE(replace_file(path.c_str(), old.data(), -1));
  EXPECT_FALSE(replace_file(path.c_str(), nullptr, 1));
  EXPECT_FALSE(replace_file(nullptr, old.data(), 1));
  EXPECT_FALSE(replace_file("", old.data(), 1));
  EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++entries;
  }
  EXPECT_EQ(4u, entries);  // data.xml, fifo, folder, dangling
}

TEST(Files, ReadStopsAtItsSizeCap) {
  TempDir dir;
  const Bytes data(100, 'd');
  ASSERT_TRUE(write_file(dir.file("f").c_str(), data.data(), 100));
  uint8_t* buffer = nullptr;
  EXPECT_EQ(-1, read_file(dir.file("f").c_str(), &buffer, 99));
  EXPECT_EQ(nullptr, buffer);
  EXPECT_EQ(-1, read_file(dir.file("f").c_str(), &buffer, -1));
  EXPECT_EQ(100, read_file(dir.file("f").c_str(), &buffer, 100));
  std::free(buffer);
}
