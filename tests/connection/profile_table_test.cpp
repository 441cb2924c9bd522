#include "connection/profile_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/text_helpers.h"

namespace {

template <size_t N>
bool zero_after_terminator(const char (&field)[N]) {
  size_t len = strnlen(field, N);
  if (len == N) return false;  // no terminator at all
  for (size_t i = len; i < N; ++i)
    if (field[i] != 0) return false;
  return true;
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const ProfileRecord* find_by_name(const char* name) {
  for (const ProfileRecord& row : kProfileTable)
    if (std::strcmp(row.name, name) == 0) return &row;
  return nullptr;
}

TEST(ProfileTable, EveryFieldIsTerminatedAndZeroFilled) {
  for (const ProfileRecord& row : kProfileTable) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(zero_after_terminator(row.name));
    EXPECT_TRUE(zero_after_terminator(row.port_type));
    EXPECT_TRUE(zero_after_terminator(row.params));
    EXPECT_TRUE(zero_after_terminator(row.family));
    EXPECT_TRUE(zero_after_terminator(row.expect_version));
    EXPECT_TRUE(zero_after_terminator(row.expect_serial));
    // Only the version probe decides with this table.
    EXPECT_STREQ(row.expect_version, "");
    EXPECT_STREQ(row.expect_serial, "");
  }
}

TEST(ProfileTable, NamesAreUniqueAndPrefixMatchesFamily) {
  std::set<std::string> names;
  std::map<std::string, int> per_type;
  for (const ProfileRecord& row : kProfileTable) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(names.insert(row.name).second);
    per_type[row.port_type]++;
    std::string family = row.family;
    if (starts_with(row.name, "m6-")) {
      EXPECT_TRUE(family == "m6s" || family == "m6u");
    } else {
      ASSERT_TRUE(starts_with(row.name, "r42-"));
      EXPECT_TRUE(family == "r42" || family == "pcscr42");
    }
  }
  EXPECT_EQ(per_type, (std::map<std::string, int>{
                          {"com", 20}, {"usb", 13}, {"pcsc", 2}, {"bluetooth", 2}, {"vnet", 3}}));
}

TEST(ProfileTable, UsbParamsHaveSixWellFormedPieces) {
  const std::set<std::string> endpoint_types = {"control", "interrupt", "bulk"};
  for (const ProfileRecord& row : kProfileTable) {
    if (std::strcmp(row.port_type, "usb") != 0) continue;
    SCOPED_TRACE(row.name);
    std::vector<std::string> pieces = split(row.params, ":");
    ASSERT_EQ(pieces.size(), 6u);
    for (int id = 0; id < 2; ++id) {
      ASSERT_EQ(pieces[id].size(), 4u);
      for (char c : pieces[id])
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')) << c;
    }
    EXPECT_TRUE(endpoint_types.count(pieces[2]));
    EXPECT_TRUE(endpoint_types.count(pieces[3]));
    for (int len = 4; len < 6; ++len) {
      ASSERT_FALSE(pieces[len].empty());
      for (char c : pieces[len]) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)));
    }
    // Bulk endpoints only ever come with the CCID-wrapped framing.
    bool bulk = pieces[2] == "bulk" || pieces[3] == "bulk";
    EXPECT_EQ(bulk, std::strcmp(row.family, "pcscr42") == 0);
  }
}

TEST(ProfileTable, SerialRatesInOrderWithM6RowFirst) {
  const char* rates[] = {"9600",   "14400",  "19200",  "38400",  "57600",
                         "115200", "230400", "256000", "460800", "921600"};
  std::vector<std::string> seen;
  for (const ProfileRecord& row : kProfileTable)
    if (std::strcmp(row.port_type, "com") == 0) seen.push_back(std::string(row.family) + "@" + row.params);
  ASSERT_EQ(seen.size(), 20u);
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(seen[i], std::string("m6s@") + rates[i]);
    EXPECT_EQ(seen[10 + i], std::string("r42@") + rates[i]);
    // A serial row's name carries its rate.
    EXPECT_TRUE(find_by_name((std::string("m6-s") + rates[i]).c_str()));
    EXPECT_TRUE(find_by_name((std::string("r42-s") + rates[i]).c_str()));
  }
}

TEST(ProfileTable, LookupIsExactAndCaseSensitive) {
  EXPECT_EQ(find_by_name("R42-U"), nullptr);
  EXPECT_EQ(find_by_name("r42-s115200 "), nullptr);
  EXPECT_EQ(find_by_name("r42-u"), &kProfileTable[23]);
}

TEST(ProfileTable, SampleRowsFieldByField) {
  const ProfileRecord& usb = kProfileTable[23];
  EXPECT_STREQ(usb.name, "r42-u");
  EXPECT_STREQ(usb.port_type, "usb");
  EXPECT_STREQ(usb.params, "0471:7002:interrupt:control:64:64");
  EXPECT_STREQ(usb.family, "r42");
  const ProfileRecord& pcsc = kProfileTable[33];
  EXPECT_STREQ(pcsc.name, "r42-pcsc");
  EXPECT_STREQ(pcsc.port_type, "pcsc");
  EXPECT_STREQ(pcsc.params, "user:USB Smart Card Reader");
  EXPECT_STREQ(pcsc.family, "r42");
  EXPECT_STREQ(kProfileTable[31].family, "pcscr42");
  EXPECT_STREQ(kProfileTable[32].family, "pcscr42");
  EXPECT_STREQ(kProfileTable[0].name, "m6-s9600");
}

}  // namespace
