#include <openssl/evp.h>

#include <climits>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "platform/byte_helpers.h"
#include "test_support.h"

namespace {

std::string encode(const std::string& data) {
  char* text = nullptr;
  const int n = base64_encode(reinterpret_cast<const uint8_t*>(data.data()), int(data.size()), &text);
  EXPECT_NE(nullptr, text);
  std::string result = text ? std::string(text) : std::string("<null>");
  EXPECT_EQ(int(result.size()), n);
  std::free(text);
  return result;
}

}  // namespace

TEST(Base64, EncodesTheRfcVectors) {
  EXPECT_EQ("", encode(""));
  EXPECT_EQ("Zg==", encode("f"));
  EXPECT_EQ("Zm8=", encode("fo"));
  EXPECT_EQ("Zm9v", encode("foo"));
  EXPECT_EQ("Zm9vYg==", encode("foob"));
  EXPECT_EQ("Zm9vYmE=", encode("fooba"));
  EXPECT_EQ("Zm9vYmFy", encode("foobar"));
  EXPECT_EQ("YWJj", encode("abc"));
}

TEST(Base64, MatchesOpenSslAndRoundTripsForEveryLengthUpTo300) {
  std::mt19937 rng(1234);
  for (int length = 0; length <= 300; ++length) {
    const Bytes data = random_bytes(rng, size_t(length));
    std::string expected(size_t(4 * ((length + 2) / 3) + 1), '\0');
    const int expected_length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()),
                                                data.data(), length);
    expected.resize(size_t(expected_length));

    char* text = nullptr;
    ASSERT_EQ(expected_length, base64_encode(data.data(), length, &text)) << length;
    ASSERT_EQ(expected, std::string(text)) << length;

    // Decoding through the index table gives the bytes back.
    Bytes back;
    uint32_t bits = 0;
    int held = 0;
    for (const char* p = text; *p && *p != '='; ++p) {
      const int index = base64_index(*p);
      ASSERT_GE(index, 0);
      bits = bits << 6 | uint32_t(index);
      held += 6;
      if (held >= 8) {
        held -= 8;
        back.push_back(uint8_t(bits >> held));
      }
    }
    std::free(text);
    ASSERT_EQ(data, back) << length;
  }
  EXPECT_EQ(-1, base64_index('='));
  EXPECT_EQ(-1, base64_index('\0'));
  EXPECT_EQ(63, base64_index('/'));
}

TEST(Base64, RefusesBadArgumentsAndLeavesTheOutputAlone) {
  const uint8_t data[3] = {1, 2, 3};
  char sentinel = 'x';
  char* text = &sentinel;
  EXPECT_EQ(-1, base64_encode(data, -1, &text));
  EXPECT_EQ(-1, base64_encode(nullptr, 3, &text));
  // A text over INT_MAX characters is refused before anything is read.
  EXPECT_EQ(-1, base64_encode(data, INT_MAX, &text));
  EXPECT_EQ(&sentinel, text);
  EXPECT_EQ(-1, base64_encode(data, 3, nullptr));
}
