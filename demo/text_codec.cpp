#include "demo/text_codec.h"

#include <cerrno>
#include <cstring>

#include <iconv.h>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr size_t kScanTextLimit = 250;

// Bytes of the sequence that `lead` begins, 0 when it begins none.
size_t utf8_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Length of the valid UTF-8 sequence at the start of `s`, 0 when none.
size_t utf8_sequence(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  const size_t n = utf8_length(lead);
  if (n <= 1) return n;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead == 0xE0) low = 0xA0;   // no overlong forms
  if (lead == 0xED) high = 0x9F;  // no surrogates
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  if (s.size() < n || b(1) < low || b(1) > high) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  }
  return n;
}

}  // namespace

std::string gbk_to_utf8(const char* text, size_t size) {
  std::string out;
  if (!text) return out;
  const size_t length = strnlen(text, size);
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: ASCII passes, every other byte is unknown.
    for (size_t i = 0; i < length; ++i) {
      if (static_cast<unsigned char>(text[i]) < 0x80) {
        out += text[i];
      } else {
        out += kReplacement;
      }
    }
    return out;
  }
  char* in = const_cast<char*>(text);
  size_t in_left = length;
  char chunk[256];
  while (in_left > 0) {
    char* to = chunk;
    size_t to_left = sizeof chunk;
    const size_t rc = iconv(cd, &in, &in_left, &to, &to_left);
    out.append(chunk, size_t(to - chunk));
    if (rc != size_t(-1) || errno == E2BIG) continue;
    // EILSEQ, or EINVAL for a character the text ends inside of: one byte
    // is unknown, the rest is tried again.
    out += kReplacement;
    ++in;
    --in_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

std::string clean_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    size_t n = utf8_sequence(bytes);
    if (n == 0) {
      out += kReplacement;
      n = 1;
    } else {
      out.append(bytes.substr(0, n));
    }
    bytes.remove_prefix(n);
  }
  return out;
}

std::string scan_text_for_pane(const char* buffer, size_t size) {
  if (!buffer) return {};
  std::string_view text(buffer, strnlen(buffer, size));
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (text.size() > kScanTextLimit) {
    text = text.substr(0, kScanTextLimit);
    // Drop a character the cut split: at most its first three bytes.
    for (size_t back = 1; back <= 3; ++back) {
      const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
      if ((c & 0xC0) == 0x80) continue;  // a continuation byte
      if (utf8_length(c) > back) text.remove_suffix(back);
      break;
    }
  }
  return clean_utf8(text);
}
