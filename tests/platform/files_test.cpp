#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

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
