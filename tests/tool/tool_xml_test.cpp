#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tool.h"
#include "tool/xml_values.h"
#include "tool_test_support.h"

namespace {

const std::string kAB1 = "<a> \r\n<b>1</b>\r\n </a>\r\n";

// An XML text of exactly `size` characters: one element x.
std::string sized_xml(size_t size) { return "<x>" + std::string(size - 7, 'v') + "</x>"; }

struct SetCase {
  std::string xml;
  std::string path;
  std::string value;
  int result;
  std::string out;
};

class ToolXmlSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(ToolXmlSet, SetsInPlace) {
  const SetCase& c = GetParam();
  std::vector<char> xml = guarded(4200);
  std::copy(c.xml.begin(), c.xml.end(), xml.begin());
  xml[c.xml.size()] = '\0';
  ASSERT_EQ(c.result, Tool_SetXmlData(c.path.c_str(), c.value.c_str(), xml.data()));
  const std::string& expected = c.result == 0 ? c.out : c.xml;
  EXPECT_EQ(expected, std::string(xml.data()));
  EXPECT_EQ(kGuard, xml[std::max(c.xml.size(), expected.size()) + 1]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolXmlSet,
    ::testing::Values(
        SetCase{"", "a.b", "1", 0, kAB1},
        SetCase{kAB1, "a.b", "2", 0, "<a> \r\n<b>2</b>\r\n </a>\r\n"},
        SetCase{"", "a.b.c", "1", 0, "<a> \r\n <b>  \r\n<c>1</c>\r\n </b>\r\n</a>\r\n"},
        SetCase{"", "a.b.c.d", "1", 0,
                "<a> \r\n <b>  \r\n <c>   \r\n<d>1</d>\r\n </c>\r\n</b>\r\n</a>\r\n"},
        SetCase{"", "a", "v", 0, "<a>v</a>\r\n "},
        SetCase{"<r>x</r>", "a", "v", 0, "<r>x</r<a>v</a>\r\n "},
        // Each level replaces the inner text it found, not every equal text.
        SetCase{"<a> \r\n </a>\r\n<b> \r\n </b>\r\n", "a.x", "1", 0,
                "<a> \r\n<x>1</x>\r\n </a>\r\n<b> \r\n </b>\r\n"},
        SetCase{"<a></a>", "a.b", "1", 0, "<a><b>1</b>\r\n </a>"},
        // A closing tag before the opening one does not count.
        SetCase{"</x>", "x.a", "1", 0, "</x><x> \r\n<a>1</a>\r\n </x>\r\n"},
        SetCase{"</a><a>1</a>", "a", "2", 0, "</a><a>2</a>"},
        SetCase{"<a>", "a.b", "1", 0, "<a><a> \r\n<b>1</b>\r\n </a>\r\n"},
        // 4096 characters in and out; names of up to 49 characters, 10 names.
        SetCase{sized_xml(4096), "x", std::string(4089, 'w'), 0,
                "<x>" + std::string(4089, 'w') + "</x>"},
        SetCase{sized_xml(4096), "x", std::string(4090, 'w'), -1, ""},
        SetCase{sized_xml(4097), "x", "1", -1, ""},
        SetCase{"", std::string(49, 'n'), "1", 0,
                "<" + std::string(49, 'n') + ">1</" + std::string(49, 'n') + ">\r\n "},
        SetCase{"", std::string(50, 'n'), "1", -1, ""},
        SetCase{"", "a.a.a.a.a.a.a.a.a.a.a", "1", -1, ""}, SetCase{"", "a..b", "1", -1, ""},
        SetCase{"", "", "1", -1, ""}),
    RowName());

struct GetCase {
  std::string xml;
  std::string path;
  int result;
  std::string value;
};

class ToolXmlGet : public ::testing::TestWithParam<GetCase> {};

TEST_P(ToolXmlGet, ValueWithNul) {
  const GetCase& c = GetParam();
  std::vector<char> value = guarded(4200);
  ASSERT_EQ(c.result, Tool_GetXmlData(c.xml.c_str(), c.path.c_str(), value.data()));
  if (c.result == 0) {
    EXPECT_EQ(c.value, std::string(value.data()));
    EXPECT_EQ(kGuard, value[c.value.size() + 1]);
  } else {
    EXPECT_EQ("", written(value));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolXmlGet,
    ::testing::Values(GetCase{kAB1, "a.b", 0, "1"}, GetCase{kAB1, "a.c", -1, ""},
                      GetCase{kAB1, "a", 0, " \r\n<b>1</b>\r\n "},
                      // The first opening and the first closing tag behind it.
                      GetCase{"<a><a>x</a></a>", "a", 0, "<a>x"},
                      GetCase{"</a><a>1</a>", "a", 0, "1"}, GetCase{"</a><a>", "a", -1, ""},
                      GetCase{"<a></a>", "a", 0, ""},
                      GetCase{sized_xml(4096), "x", 0, std::string(4089, 'v')},
                      GetCase{sized_xml(4097), "x", -1, ""}, GetCase{kAB1, "a.", -1, ""}),
    RowName());

class ToolXml : public ::testing::Test {
 protected:
  std::string file(const std::string& name) const { return dir_.file(name); }
  TempDir dir_;
};

TEST_F(ToolXml, SetCreatesAndRewritesTheFile) {
  const std::string path = file("new/sub/x.xml");
  ASSERT_EQ(0, Tool_SetXmlDataFile("a.b", "1", path.c_str()));
  EXPECT_EQ(kAB1, read_text(path));
  EXPECT_EQ(0700u, mode_of(file("new/sub")));
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  ASSERT_EQ(0, Tool_SetXmlDataFile("a.b", "2", path.c_str()));
  EXPECT_EQ("<a> \r\n<b>2</b>\r\n </a>\r\n", read_text(path));
  EXPECT_EQ(0640u, mode_of(path));
  char value[16] = "";
  EXPECT_EQ(0, Tool_GetXmlDataFile(path.c_str(), "a.b", value));
  EXPECT_STREQ("2", value);
  // The header file replaces everything, and data go behind it.
  ASSERT_EQ(0, Tool_SetXmlHeaderFile("<?xml version=\"1.0\"?>\r\n", path.c_str()));
  ASSERT_EQ(0, Tool_SetXmlDataFile("c", "3", path.c_str()));
  EXPECT_EQ("<?xml version=\"1.0\"?>\r<c>3</c>\r\n ", read_text(path));
  char xml[4097] = "";
  EXPECT_EQ(0, Tool_SetXmlHeader("<h/>", xml));
  EXPECT_STREQ("<h/>", xml);
  EXPECT_EQ(-1, Tool_SetXmlHeader(std::string(4097, 'h').c_str(), xml));
  EXPECT_EQ(0, Tool_SetXmlHeader(std::string(4096, 'h').c_str(), xml));
}

TEST_F(ToolXml, UnreadableFilesAreNotReplaced) {
  char value[16] = "#";
  // A folder, a FIFO (never waited on) and a file holding a NUL.
  std::filesystem::create_directory(file("folder"));
  ASSERT_EQ(0, mkfifo(file("fifo").c_str(), 0600));
  const std::string with_nul("<a>1</a>\0<b>2</b>", 17);
  std::ofstream(file("nul.xml"), std::ios::binary) << with_nul;
  for (const char* name : {"folder", "fifo", "nul.xml"}) {
    EXPECT_EQ(-1, Tool_SetXmlDataFile("a", "9", file(name).c_str())) << name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(file("folder")));
  EXPECT_TRUE(std::filesystem::is_fifo(file("fifo")));
  EXPECT_EQ(with_nul, read_text(file("nul.xml")));
  // Reading takes the text up to the NUL.
  EXPECT_EQ(0, Tool_GetXmlDataFile(file("nul.xml").c_str(), "a", value));
  EXPECT_STREQ("1", value);
  EXPECT_EQ(-1, Tool_GetXmlDataFile(file("nul.xml").c_str(), "b", value));
  EXPECT_EQ(-1, Tool_GetXmlDataFile(file("fifo").c_str(), "a", value));
  // Reading still makes the folders.
  EXPECT_EQ(-1, Tool_GetXmlDataFile(file("made/x.xml").c_str(), "a", value));
  EXPECT_TRUE(std::filesystem::is_directory(file("made")));
  EXPECT_EQ(-1, Tool_SetXmlHeaderFile("x", file("folder").c_str()));
  EXPECT_EQ(-1, Tool_SetXmlHeaderFile("x", (dir_.path() + std::string(4096, '/') + "x").c_str()));
}

TEST_F(ToolXml, FilesAreReadToTenMebibytes) {
  const std::string path = file("big.xml");
  std::string text("<a>1</a>", 8);
  text.resize(size_t(kMaxXmlFile), '\0');
  std::ofstream(path, std::ios::binary) << text;
  char value[16] = "";
  EXPECT_EQ(0, Tool_GetXmlDataFile(path.c_str(), "a", value));
  EXPECT_STREQ("1", value);
  std::ofstream(path, std::ios::app | std::ios::binary) << '\0';
  EXPECT_EQ(-1, Tool_GetXmlDataFile(path.c_str(), "a", value));
}

TEST_F(ToolXml, BadArgumentsWriteNothing) {
  char xml[16] = "<a>1</a>";
  char value[16] = "#";
  EXPECT_EQ(-1, Tool_SetXmlData(nullptr, "1", xml));
  EXPECT_EQ(-1, Tool_SetXmlData("a", nullptr, xml));
  EXPECT_EQ(-1, Tool_SetXmlData("a", "1", nullptr));
  EXPECT_EQ(-1, Tool_GetXmlData(nullptr, "a", value));
  EXPECT_EQ(-1, Tool_GetXmlData(xml, nullptr, value));
  EXPECT_EQ(-1, Tool_GetXmlData(xml, "a", nullptr));
  EXPECT_EQ(-1, Tool_SetXmlDataFile(nullptr, "1", "f"));
  EXPECT_EQ(-1, Tool_SetXmlDataFile("a", nullptr, "f"));
  EXPECT_EQ(-1, Tool_SetXmlDataFile("a", "1", nullptr));
  EXPECT_EQ(-1, Tool_GetXmlDataFile(nullptr, "a", value));
  EXPECT_EQ(-1, Tool_GetXmlDataFile("f", nullptr, value));
  EXPECT_EQ(-1, Tool_GetXmlDataFile("f", "a", nullptr));
  EXPECT_EQ(-1, Tool_SetXmlHeader(nullptr, xml));
  EXPECT_EQ(-1, Tool_SetXmlHeader("h", nullptr));
  EXPECT_EQ(-1, Tool_SetXmlHeaderFile(nullptr, "f"));
  EXPECT_EQ(-1, Tool_SetXmlHeaderFile("h", nullptr));
  EXPECT_STREQ("<a>1</a>", xml);
  EXPECT_STREQ("#", value);
}

}  // namespace
