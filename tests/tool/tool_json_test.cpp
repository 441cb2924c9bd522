#include <string>

#include <gtest/gtest.h>

#include "tool.h"
#include "tool_test_support.h"

namespace {

// A JSON text of exactly `size` characters: one member x holding a string.
std::string sized_json(size_t size) { return "{\"x\":\"" + std::string(size - 8, 'v') + "\"}"; }

std::string dotted(int count, const std::string& name = "a") {
  std::string path = name;
  for (int i = 1; i < count; ++i) path += "." + name;
  return path;
}

struct GetCase {
  std::string json;
  std::string path;
  int result;
  std::string value;
};

class ToolJsonGet : public ::testing::TestWithParam<GetCase> {};

TEST_P(ToolJsonGet, ValueWithoutNul) {
  const GetCase& c = GetParam();
  std::vector<char> value = guarded(5000);
  ASSERT_EQ(c.result, Tool_GetJsonString(c.json.c_str(), c.path.c_str(), value.data()));
  EXPECT_EQ(c.value, written(value));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolJsonGet,
    ::testing::Values(
        GetCase{R"({"a":{"b":"1"}})", "a.b", 0, "1"}, GetCase{R"({"a":{"b":"1"}})", "a.c", -1, ""},
        GetCase{R"({"x":"1","y":"22"})", "y", 0, "22"}, GetCase{R"({"x":""})", "x", 0, ""},
        GetCase{R"({"a": {"b":"1"}})", "a.b", 0, "1"},
        // The first quoted text behind the name, whatever the member holds.
        GetCase{R"({"a":{"b":"1"}})", "a", 0, "b"}, GetCase{R"({"x":"1})", "x", -1, ""},
        GetCase{R"({"x":1})", "x", -1, ""},
        GetCase{sized_json(4096), "x", 0, std::string(4088, 'v')},
        GetCase{sized_json(4097), "x", -1, ""},
        GetCase{"{\"" + std::string(46, 'n') + "\":\"1\"}", std::string(46, 'n'), 0, "1"},
        GetCase{"{\"" + std::string(47, 'n') + "\":\"1\"}", std::string(47, 'n'), -1, ""},
        GetCase{R"({"a":"1"})", "", -1, ""}, GetCase{R"({"a":"1"})", "a.", -1, ""},
        GetCase{R"({"a":"1"})", ".a", -1, ""}, GetCase{R"({"a":{"b":"1"}})", "a..b", -1, ""},
        GetCase{R"({"a\"":"1"})", "a\"", -1, ""}),
    RowName());

struct SetCase {
  std::string json;
  std::string path;
  std::string value;
  int result;
  std::string out;
};

class ToolJsonSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(ToolJsonSet, WholeNewText) {
  const SetCase& c = GetParam();
  std::vector<char> out = guarded(5000);
  ASSERT_EQ(c.result,
            Tool_SetJsonString(c.json.c_str(), c.path.c_str(), c.value.c_str(), out.data()));
  if (c.result == 0) {
    EXPECT_EQ(c.out, std::string(out.data()));
    EXPECT_EQ(kGuard, out[c.out.size() + 1]);
  } else {
    EXPECT_EQ("", written(out));
  }
}

const std::string kTen = dotted(10);

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolJsonSet,
    ::testing::Values(
        SetCase{"", "a.b", "1", 0, R"({"a":{"b":"1"}})"}, SetCase{"", "x", "1", 0, R"({"x":"1"})"},
        SetCase{R"({"x":"1"})", "x", "2", 0, R"({"x":"2"})"},
        SetCase{R"({"x":"1"})", "y", "2", 0, R"({"x":"1","y":"2"})"},
        SetCase{R"({"a":{"b":"1"}})", "a.c", "2", 0, R"({"a":{"b":"1","c":"2"}})"},
        SetCase{R"({ })", "x", "1", 0, R"({ "x":"1"})"},
        // Each level replaces the object it found, not every equal text.
        SetCase{R"({"x":{},"y":{}})", "x.z.w", "1", 0, R"({"x":{"z":{"w":"1"}},"y":{}})"},
        SetCase{R"({"a": {"b":"1"}})", "a.b", "2", 0, R"({"a": {"b":"2"}})"},
        SetCase{"", kTen, "1", 0,
                "{\"a\":{\"a\":{\"a\":{\"a\":{\"a\":{\"a\":{\"a\":{\"a\":{\"a\":{\"a\":\"1\"}}}}}}}"
                "}}}"},
        // A member that holds something else is not overwritten.
        SetCase{R"({"a":{"b":"1"}})", "a", "2", -1, ""},
        SetCase{R"({"a":"s","c":{}})", "a.b", "1", -1, ""},
        SetCase{R"({"x": 5})", "x", "1", -1, ""}, SetCase{R"({"x":"1})", "x", "2", -1, ""},
        SetCase{"abc", "x", "1", -1, ""}, SetCase{"abc", "a.b", "1", -1, ""},
        SetCase{R"({"x":"1"})", "x", "a\"b", -1, ""}, SetCase{R"({"x":"1"})", "x", "{", -1, ""},
        SetCase{R"({"x":"1"})", "x}", "1", -1, ""}, SetCase{"", dotted(11), "1", -1, ""},
        SetCase{"", "a..b", "1", -1, ""}, SetCase{"", "", "1", -1, ""},
        SetCase{"", std::string(47, 'n'), "1", -1, ""},
        // 4096 characters in and out, no more.
        SetCase{sized_json(4096), "x", std::string(4088, 'w'), 0,
                "{\"x\":\"" + std::string(4088, 'w') + "\"}"},
        SetCase{sized_json(4096), "x", std::string(4089, 'w'), -1, ""},
        SetCase{sized_json(4097), "x", "1", -1, ""}),
    RowName());

TEST(ToolJson, SetThenGetAndBadArguments) {
  char out[4097] = "";
  ASSERT_EQ(0, Tool_SetJsonString("", "a.b", "1", out));
  // The output may be the input.
  ASSERT_EQ(0, Tool_SetJsonString(out, "a.c", "2", out));
  char value[8] = "";
  EXPECT_EQ(0, Tool_GetJsonString(out, "a.c", value));
  EXPECT_STREQ("2", value);
  EXPECT_EQ(-1, Tool_GetJsonString(nullptr, "a", value));
  EXPECT_EQ(-1, Tool_GetJsonString(out, nullptr, value));
  EXPECT_EQ(-1, Tool_GetJsonString(out, "a", nullptr));
  EXPECT_EQ(-1, Tool_SetJsonString(nullptr, "a", "1", out));
  EXPECT_EQ(-1, Tool_SetJsonString("", nullptr, "1", out));
  EXPECT_EQ(-1, Tool_SetJsonString("", "a", nullptr, out));
  EXPECT_EQ(-1, Tool_SetJsonString("", "a", "1", nullptr));
  EXPECT_STREQ(R"({"a":{"b":"1","c":"2"}})", out);
}

}  // namespace
