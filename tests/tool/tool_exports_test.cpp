// The built libtool.so as an application sees it: the functions of tool.h,
// in alphabetical order, are those of its version script and resolve in
// the loaded library.
#include <dlfcn.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tool.h"

namespace {

std::vector<std::string> matches_in(const std::string& path, const std::string& pattern) {
  std::ifstream in(path);
  const std::regex re(pattern);
  std::vector<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, re)) names.push_back(m[1]);
  }
  return names;
}

TEST(ToolExports, ExactlyTheHeaderNamesInOrder) {
  const std::vector<std::string> header = matches_in(
      std::string(QM_TEST_SOURCE_DIR) + "/include/tool.h", R"(^QM_API int (Tool_\w+)\()");
  ASSERT_EQ(28u, header.size());
  EXPECT_TRUE(std::is_sorted(header.begin(), header.end()));
  const std::set<std::string> names(header.begin(), header.end());
  const std::vector<std::string> map =
      matches_in(std::string(QM_TEST_SOURCE_DIR) + "/cmake/tool.map", R"(^\s+(\w+);)");
  EXPECT_EQ(names, std::set<std::string>(map.begin(), map.end()));
  // Exports.tool holds the library to the version script; here every name
  // of it resolves.
  void* library = dlopen(TOOL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << dlerror();
  for (const std::string& name : names) EXPECT_NE(nullptr, dlsym(library, name.c_str())) << name;
  dlclose(library);
}

TEST(ToolExports, LoadedEntriesTakeRecordsByValue) {
  void* library = dlopen(TOOL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << dlerror();
  auto days = reinterpret_cast<decltype(&Tool_TimeGetDays)>(dlsym(library, "Tool_TimeGetDays"));
  auto hex = reinterpret_cast<decltype(&Tool_HexToAsciiStr)>(dlsym(library, "Tool_HexToAsciiStr"));
  ASSERT_TRUE(days && hex);
  int count = 0;
  EXPECT_EQ(0, days(TimeRecord{2020, 2, 28, 1, 2, 3, 4, 5}, TimeRecord{2020, 3, 1, 0, 0, 0, 0, 0},
                    &count));
  EXPECT_EQ(2, count);
  const uint8_t bytes[] = {0x0F, 0xA0};
  char text[8] = "";
  EXPECT_EQ(0, hex(bytes, 2, text));
  EXPECT_STREQ("0FA0", text);
  EXPECT_EQ(-1, hex(nullptr, 2, text));
  dlclose(library);
}

TEST(ToolExports, NullArgumentsOfTheRemainingEntries) {
  char out[32] = "#";
  uint8_t byte = 0xEE;
  EXPECT_EQ(-1, Tool_AsciiStrToHex(nullptr, 2, &byte));
  EXPECT_EQ(-1, Tool_AsciiStrToHex("0A", 2, nullptr));
  EXPECT_EQ(-1, Tool_AsciiStrToHex("0A", -1, &byte));
  EXPECT_EQ(-1, Tool_GetXOR(nullptr, 1, &byte));
  EXPECT_EQ(-1, Tool_GetXOR(&byte, 1, nullptr));
  EXPECT_EQ(-1, Tool_HexToAsciiStr(&byte, -1, out));
  EXPECT_EQ(-1, Tool_HexToAsciiStr(&byte, 1, nullptr));
  EXPECT_EQ(-1, Tool_GetIndexOfStr(nullptr, ",", 0, out));
  EXPECT_EQ(-1, Tool_GetIndexOfStr("a", nullptr, 0, out));
  EXPECT_EQ(-1, Tool_GetIndexOfStr("a", ",", -1, out));
  EXPECT_EQ(-1, Tool_GetIndexOfStr("a", ",", 0, nullptr));
  EXPECT_EQ(-1, Tool_StringReplace(nullptr, "a", "b", out));
  EXPECT_EQ(-1, Tool_StringReplace("a", nullptr, "b", out));
  EXPECT_EQ(-1, Tool_StringReplace("a", "a", nullptr, out));
  EXPECT_EQ(-1, Tool_StringReplace("a", "a", "b", nullptr));
  EXPECT_EQ(-1, Tool_CardNoHandle(nullptr, out));
  EXPECT_EQ(-1, Tool_CardNoHandle("1234567890123", nullptr));
  EXPECT_EQ(-1, Tool_CardNoHandleNew(nullptr, 1, 1, out));
  EXPECT_EQ(-1, Tool_CardNoHandleNew("12345", 1, 1, nullptr));
  EXPECT_EQ(-1, Tool_GetDeviceID(nullptr, "id.bmp"));
  EXPECT_EQ(-1, Tool_GetDeviceID(out, nullptr));
  EXPECT_STREQ("#", out);
  EXPECT_EQ(0xEE, byte);
}

}  // namespace
