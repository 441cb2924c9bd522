#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tool.h"
#include "tool/file_util.h"
#include "tool_test_support.h"

namespace {

// INI files in "<program folder>/ini.<pid>/": reading takes names relative
// to the program's folder, writing takes the full path.
class ToolIni : public ::testing::Test {
 protected:
  ToolIni()
      : relative_("ini." + std::to_string(getpid()) + "/"), folder_(program_folder() + relative_) {
    std::filesystem::create_directories(folder_);
  }
  ~ToolIni() override { std::filesystem::remove_all(folder_); }

  std::string full(const std::string& name = "x.ini") const { return folder_ + name; }
  void write(const std::string& text, const std::string& name = "x.ini") const {
    std::ofstream(full(name), std::ios::binary) << text;
  }
  // get's result, with the value as written (up to its NUL) behind a "|".
  std::string get(const std::string& section, const std::string& key,
                  const std::string& name = "x.ini") const {
    std::vector<char> value = guarded(4000);
    const int result =
        Tool_GetIniString((relative_ + name).c_str(), section.c_str(), key.c_str(), value.data());
    const std::string all(value.begin(), value.end());
    const size_t end = all.find('\0');
    if (result != 0) {
      EXPECT_EQ(std::string(value.size(), kGuard), all);
      return std::to_string(result) + "|";
    }
    // Exactly the value and its NUL are written.
    EXPECT_EQ(kGuard, all.at(end + 1));
    return "0|" + all.substr(0, end);
  }
  int set(const std::string& section, const std::string& key, const std::string& value,
          const std::string& name = "x.ini") const {
    return Tool_SetIniString(full(name).c_str(), section.c_str(), key.c_str(), value.c_str());
  }

  std::string relative_;
  std::string folder_;
};

struct GetCase {
  std::string text;
  std::string section;
  std::string key;
  std::string expected;  // "result|value"
};

class ToolIniGet : public ToolIni, public ::testing::WithParamInterface<GetCase> {};

TEST_P(ToolIniGet, FindsTheValue) {
  write(GetParam().text);
  EXPECT_EQ(GetParam().expected, get(GetParam().section, GetParam().key));
}

const std::string kLongValue(1100, 'a');

INSTANTIATE_TEST_SUITE_P(Cases, ToolIniGet,
                         ::testing::Values(GetCase{"[A]\nx=1\n[B]\ny=2\n", "A", "y", "0|2"},
                                           GetCase{"[A]\nx=1\n[B]\ny=2\n", "B", "x", "-1|"},
                                           GetCase{"[A]\nx=1\n[B]\ny=2\n", "C", "x", "-1|"},
                                           GetCase{"[A]\n#x=1\nx=5\n", "A", "x", "0|5"},
                                           GetCase{"[A]\npid=7\n", "A", "id", "0|7"},
                                           GetCase{"[A]\nkey=\n", "A", "key", "0|"},
                                           GetCase{"[A] ; note\nk = v=w", "A", "k", "0| v=w"},
                                           GetCase{"x=0\n[A]\r\nx=1\r\n", "A", "x", "0|1"},
                                           // Lines are read to 1023 characters; the rest of a
                                           // longer one is skipped, not read as a line of its own.
                                           GetCase{"[A]\nk=" + kLongValue + "q=bad\nq=good\n", "A",
                                                   "k", "0|" + kLongValue.substr(0, 1021)},
                                           GetCase{"[A]\nk=" + kLongValue + "q=bad\nq=good\n", "A",
                                                   "q", "0|good"}),
                         RowName());

TEST_F(ToolIni, GetFailsForMissingFilesAndBadArguments) {
  EXPECT_EQ("-1|", get("A", "x", "missing.ini"));
  char value[8] = "#######";
  EXPECT_EQ(-1, Tool_GetIniString(nullptr, "A", "x", value));
  EXPECT_EQ(-1, Tool_GetIniString("x.ini", nullptr, "x", value));
  EXPECT_EQ(-1, Tool_GetIniString("x.ini", "A", nullptr, value));
  EXPECT_EQ(-1, Tool_GetIniString("x.ini", "A", "x", nullptr));
  EXPECT_STREQ("#######", value);
}

struct SetCase {
  std::string text;
  std::string section;
  std::string key;
  std::string value;
  std::string expected;
};

class ToolIniSet : public ToolIni, public ::testing::WithParamInterface<SetCase> {};

TEST_P(ToolIniSet, RewritesTheFile) {
  const SetCase& c = GetParam();
  write(c.text);
  ASSERT_EQ(0, set(c.section, c.key, c.value));
  EXPECT_EQ(c.expected, read_text(full()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolIniSet,
    ::testing::Values(
        SetCase{"# top\n[A]\n\nx=1\n# c\n[B]\ny=2\n", "A", "x", "5", "[A]\nx=5\n\n[B]\ny=2\n"},
        SetCase{"[A]\nx=1\n", "A", "z", "5", "[A]\nx=1\n"},
        SetCase{"[A]\nx=1\n[B]\nx=1\n", "B", "x", "2", "[A]\nx=1\n\n[B]\nx=2\n"},
        // A key line is the key and "=", a blank or a tab.
        SetCase{"[A]\nidx=3\nid=1\nid = 2\nid\t=3\npid=7\n", "A", "id", "9",
                "[A]\nidx=3\nid=9\nid=9\nid=9\npid=7\n"},
        // Headers never count as key lines.
        SetCase{"[ A]\nx=1\n", " A", "[", "v", "[ A]\nx=1\n"},
        // Header names run to the line end less one "]"; CRLF files read.
        SetCase{"[A]\nx=1\n[B]", "A", "x", "2", "[A]\nx=2\n\n[B]\n"},
        SetCase{"[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "B", "y", "3", "[A]\nx=1\n\n[B]\ny=3\n"},
        // Long lines and names are taken whole.
        SetCase{"[A]\nlong=" + std::string(1500, 'v') + "\nx=1\n", "A", "long", "short",
                "[A]\nlong=short\nx=1\n"},
        SetCase{"[" + std::string(150, 's') + "]\nx=1\n", std::string(150, 's'), "x", "2",
                "[" + std::string(150, 's') + "]\nx=2\n"}),
    RowName());

TEST_F(ToolIni, ReadingStillMatchesWhatWritingLeaves) {
  write("[A]\nidx=3\nid=1\n");
  ASSERT_EQ(0, set("A", "id", "9"));
  EXPECT_EQ("[A]\nidx=3\nid=9\n", read_text(full()));
  EXPECT_EQ("0|3", get("A", "id"));
}

TEST_F(ToolIni, RefusedWritesLeaveTheFile) {
  EXPECT_EQ(-1, set("A", "x", "1", "missing.ini"));
  EXPECT_FALSE(std::filesystem::exists(full("missing.ini")));
  const std::string text = "[A]\nx=1\n";
  write(text);
  EXPECT_EQ(-1, set("A", "", "1"));
  EXPECT_EQ(-1, set("A", "x", std::string(1024, 'v')));
  EXPECT_EQ(0, set("A", "x", std::string(1023, 'v')));
  EXPECT_EQ("[A]\nx=" + std::string(1023, 'v') + "\n", read_text(full()));
  // The rewritten text may hold 40000 bytes, no more.
  std::string big = "[A]\n";
  while (big.size() < 40000 - 10) big += "k=" + std::string(7, 'v') + "\n";
  big += std::string(39999 - big.size(), 'w') + "\n";
  ASSERT_EQ(40000u, big.size());
  write(big);
  EXPECT_EQ(0, set("A", "x", "1"));
  EXPECT_EQ(big, read_text(full()));
  write(big + "z");
  EXPECT_EQ(-1, set("A", "x", "1"));
  EXPECT_EQ(big + "z", read_text(full()));
  EXPECT_EQ(-1, Tool_SetIniString(nullptr, "A", "x", "1"));
  EXPECT_EQ(-1, Tool_SetIniString(full().c_str(), "A", "x", nullptr));
  EXPECT_EQ(-1, Tool_SetIniString((folder_ + std::string(4096, 'n')).c_str(), "A", "x", "1"));
}

}  // namespace
