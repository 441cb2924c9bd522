// The udev rule made at build time gives every USB reader of the profile
// table to the logged-in user, each vendor and product pair once, and
// nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "connection/profile_table.h"
#include "platform/text_helpers.h"

namespace {

using IdPair = std::pair<std::string, std::string>;

TEST(UdevRules, EveryUsbRowHasItsLineAndNoOtherLineIsThere) {
  const std::string path = QM_TEST_BINARY_DIR "/generated/70-qm-reader.rules";
  std::ifstream file(path);
  ASSERT_TRUE(file) << path << " is built with the library";

  // Each rule line must have exactly the form udev and logind act on.
  const std::regex rule(
      R"re(SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="([0-9a-f]{4})", )re"
      R"re(ATTRS\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess")re");
  std::vector<IdPair> in_file;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, rule)) << line;
    in_file.emplace_back(m[1], m[2]);
  }

  std::set<IdPair> from_table;
  for (const ProfileRecord& row : kProfileTable) {
    if (std::strcmp(row.port_type, "usb") != 0) continue;
    std::vector<std::string> pieces = split(row.params, ":");
    ASSERT_GE(pieces.size(), 2u) << row.name;
    from_table.emplace(str_lower(pieces[0].data()), str_lower(pieces[1].data()));
  }
  ASSERT_FALSE(from_table.empty());

  const std::set<IdPair> file_pairs(in_file.begin(), in_file.end());
  EXPECT_EQ(in_file.size(), file_pairs.size()) << "a pair is named twice";
  EXPECT_EQ(from_table, file_pairs);
}

}  // namespace
