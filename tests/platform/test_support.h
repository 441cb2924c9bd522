// Shared pieces of the platform tests: hex vectors, random data, a fresh
// folder per test and the OpenSSL oracles.
#pragma once

#include <openssl/evp.h>
#include <openssl/params.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/evp_oracle.h"

extern char** environ;

using Bytes = std::vector<uint8_t>;

inline Bytes from_hex(const std::string& text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// n bytes of the generator's output, one draw a byte.
inline Bytes random_bytes(std::mt19937& rng, size_t n) {
  Bytes out(n);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

inline mode_t mode_of(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// A new empty folder, removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_platform_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  bool empty() const { return std::filesystem::is_empty(path_); }

 private:
  std::string path_;
};

// The full 16-byte AES-128 CMAC tag.
inline Bytes evp_cmac(const Bytes& key, const Bytes& message) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX* ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr;
  char cipher_name[] = "AES-128-CBC";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("cipher", cipher_name, 0),
                               OSSL_PARAM_construct_end()};
  Bytes tag(16);
  size_t length = 0;
  const bool ok = ctx && EVP_MAC_init(ctx, key.data(), key.size(), params) == 1 &&
                  EVP_MAC_update(ctx, message.data(), message.size()) == 1 &&
                  EVP_MAC_final(ctx, tag.data(), &length, tag.size()) == 1 && length == 16;
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  if (!ok) throw std::runtime_error("OpenSSL CMAC failed");
  return tag;
}

// The reader's 8-byte MAC: the tag's bytes 1, 3, ..., 15.
inline Bytes odd_bytes(const Bytes& tag) {
  Bytes out;
  for (size_t i = 1; i < tag.size(); i += 2) out.push_back(tag[i]);
  return out;
}

// Runs one test of this program in a fresh process whose environment is
// this one with `settings` applied: "NAME=value" adds or replaces, a bare
// "NAME" removes. For settings the loader or a static initialiser reads only
// at start. The child's exit status, -1 when it did not exit normally.
inline int run_test_in_child(const std::string& test, const std::vector<std::string>& settings) {
  std::vector<std::string> env_text;
  for (const std::string& s : settings) {
    if (s.find('=') != std::string::npos) env_text.push_back(s);
  }
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& s : settings) {
      const std::string name = s.substr(0, s.find('=')) + "=";
      replaced = replaced || entry.rfind(name, 0) == 0;
    }
    if (!replaced) env_text.push_back(entry);
  }
  std::vector<char*> env;
  for (auto& s : env_text) env.push_back(s.data());
  env.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=" + test;
  char* argv[] = {program.data(), filter.data(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, env.data()) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
