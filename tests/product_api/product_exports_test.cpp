// The built libQM_Reader.so exports exactly the product names its header
// declares and its description lists, and each resolves.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "core_api/export_support.h"

namespace {

std::set<std::string> names_in(const std::string& file, const std::regex& pattern) {
  std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/" + file);
  std::set<std::string> names;
  std::smatch m;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, m, pattern)) names.insert(m[1]);
  return names;
}

TEST(ProductExports, TheListedNamesAreDeclaredAndExported) {
  const std::set<std::string> listed =
      names_in("tests/product_api/qm_exports.txt", std::regex(R"(^(qm_\w+)$)"));
  EXPECT_EQ(listed.size(), 191u);
  EXPECT_EQ(names_in("include/qm_reader.h", std::regex(R"(^QM_API [^(]*?\b(\w+)\()")), listed);
  std::set<std::string> exported;
  for (const std::string& name : exported_names(QM_READER_LIBRARY))
    if (name.rfind("qm_", 0) == 0) exported.insert(name);
  EXPECT_EQ(exported, listed);
  Library library(QM_READER_LIBRARY);
  ASSERT_TRUE(library.loaded()) << dlerror();
  for (const std::string& name : listed) EXPECT_NE(library.symbol(name), nullptr) << name;
}

}  // namespace
