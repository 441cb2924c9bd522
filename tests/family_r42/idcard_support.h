// Shared pieces of the identity-card tests: GBK text written as UTF-8 or
// UTF-16 in the test (converted by iconv here, not by the library's own
// conversion), and UCS-2 bytes as the card and the charset 1 outputs carry
// them.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Characters low byte first.
inline std::vector<uint8_t> ucs2(const std::u16string& text) {
  std::vector<uint8_t> out;
  for (char16_t c : text) {
    out.push_back(uint8_t(c & 0xFF));
    out.push_back(uint8_t(c >> 8));
  }
  return out;
}

// `text` in the encoding `from`, as GBK.
inline std::string to_gbk(const char* from, std::string text) {
  iconv_t cd = iconv_open("GBK", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no GBK in iconv");
  std::string out(text.size() * 2 + 1, '\0');
  char* in = text.data();
  size_t in_left = text.size();
  char* dst = out.data();
  size_t out_left = out.size();
  const size_t done = iconv(cd, &in, &in_left, &dst, &out_left);
  iconv_close(cd);
  if (done == size_t(-1)) throw std::runtime_error("not GBK");
  out.resize(out.size() - out_left);
  return out;
}

inline std::string gbk(const std::string& utf8) { return to_gbk("UTF-8", utf8); }
inline std::string gbk(const std::u16string& text) {
  const std::vector<uint8_t> bytes = ucs2(text);
  return to_gbk("UTF-16LE", std::string(bytes.begin(), bytes.end()));
}
