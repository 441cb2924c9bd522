#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/settings.h"
#include "test_support.h"

namespace {

constexpr char kExpectedMark[] = "QM_EXPECTED_TRACE_LEVEL";

// The level a fresh process reads from `level` (no variable when null).
int child_status(const char* level, int expected) {
  const std::vector<std::string> settings = {
      std::string(kExpectedMark) + "=" + std::to_string(expected),
      level ? std::string("QM_READER_TRACE_LEVEL=") + level : "QM_READER_TRACE_LEVEL"};
  return run_test_in_child("Settings.TraceLevelComesFromTheEnvironment", settings);
}

}  // namespace

TEST(Settings, TraceLevelComesFromTheEnvironment) {
  if (const char* expected = std::getenv(kExpectedMark)) {
    EXPECT_EQ(std::atoi(expected), trace_level.load());
    return;
  }
  EXPECT_EQ(0, child_status("3", 3));
  EXPECT_EQ(0, child_status("-1", -1));
  EXPECT_EQ(0, child_status(nullptr, 0));
  EXPECT_EQ(0, child_status("", 0));
  EXPECT_EQ(0, child_status("3x", 0));
  EXPECT_EQ(0, child_status("high", 0));
  EXPECT_EQ(0, child_status("99999999999", 0));
}

TEST(Settings, PortNamesOutsideTheTableAreNeverStored) {
  set_port_name(0, "COM1");
  set_port_name(kPortCount - 1, "last");
  set_port_name(kPortCount, "over");
  set_port_name(-1, "under");
  EXPECT_EQ("COM1", port_name(0));
  EXPECT_EQ("last", port_name(kPortCount - 1));
  EXPECT_EQ("", port_name(kPortCount));
  EXPECT_EQ("", port_name(-1));
  set_port_name(0, "");
  set_port_name(kPortCount - 1, "");
}

TEST(Settings, TextsReadWhileWrittenAreWhole) {
  const std::string saved = library_directory();
  const std::string a(200, 'a');
  const std::string b(300, 'b');
  std::thread writer([&] {
    for (int i = 0; i < 5000; ++i) {
      set_library_directory(i % 2 ? a : b);
      set_port_name(7, i % 2 ? a : b);
    }
  });
  int torn = 0;
  for (int i = 0; i < 5000; ++i) {
    const std::string dir = library_directory();
    const std::string name = port_name(7);
    if ((dir != a && dir != b && dir != saved) || (name != a && name != b && !name.empty())) ++torn;
  }
  writer.join();
  set_library_directory(saved);
  set_port_name(7, "");
  EXPECT_EQ(0, torn);
}
