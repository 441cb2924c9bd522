// The digest library as the device identifier loads it.
#include <dlfcn.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/test_support.h"

namespace {

using EncryptMd5 = int (*)(int, const unsigned char*, int, char*);

class Md5 : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(QM_QOLBIC_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, library_) << dlerror();
    digest_ = reinterpret_cast<EncryptMd5>(dlsym(library_, "Encrypt_MD5"));
    ASSERT_NE(nullptr, digest_);
  }
  void TearDown() override {
    if (library_) dlclose(library_);
  }

  std::string hex_digest(const std::string& data) {
    char out[40];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(0, digest_(1, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()), out));
    EXPECT_EQ('#', out[33]);
    return out;
  }

  void* library_ = nullptr;
  EncryptMd5 digest_ = nullptr;
};

std::string openssl_md5(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  char hex[2 * EVP_MAX_MD_SIZE + 1];
  for (unsigned i = 0; i < length; ++i) snprintf(hex + 2 * i, 3, "%02X", digest[i]);
  return std::string(hex, 2 * length);
}

}  // namespace

TEST_F(Md5, Rfc1321Vectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
      {std::string("\x02\x00\x00\x00\x00\x01", 6), "9ABDA0C2BE18B571F1E3178529B52DA8"},
  };
  for (const auto& [data, digest] : vectors) EXPECT_EQ(digest, hex_digest(data)) << data;
}

TEST_F(Md5, AgreesWithOpenSslForLengthsUpTo300) {
  std::mt19937 rng(1321);
  for (size_t length = 0; length <= 300; ++length) {
    std::string data(length, '\0');
    for (char& c : data) c = char(rng());
    EXPECT_EQ(openssl_md5(data), hex_digest(data)) << length;
  }
}

TEST_F(Md5, RefusesOtherModesAndBadArguments) {
  const unsigned char data[] = "abc";
  char out[40] = "untouched";
  EXPECT_EQ(-1, digest_(0, data, 3, out));
  EXPECT_EQ(-1, digest_(2, data, 3, out));
  EXPECT_EQ(-1, digest_(1, nullptr, 0, out));
  EXPECT_EQ(-1, digest_(1, data, -1, out));
  EXPECT_EQ(-1, digest_(1, data, 3, nullptr));
  EXPECT_STREQ("untouched", out);
}
