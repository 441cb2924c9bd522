// GBK <-> UTF-16 through glibc iconv. A conversion descriptor is opened per
// call: descriptors carry shift state and must not be shared by threads.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/os.h"

namespace {

constexpr const char* kNarrowCode = "GBK";
constexpr const char* kWideCode = "UTF-16LE";  // char16_t in host (x86-64) order

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

size_t bounded_length(const char* text, size_t count) {
  const void* nul = std::memchr(text, 0, count);
  return nul ? size_t(static_cast<const char*>(nul) - text) : count;
}

size_t bounded_length(const char16_t* text, size_t count) {
  size_t n = 0;
  while (n < count && text[n] != 0) ++n;
  return n;
}

}  // namespace

std::u16string os_to_wide(const char* text, size_t count) {
  if (!text) return {};
  const size_t length = bounded_length(text, count);
  if (length == 0) return {};
  Converter conv(kWideCode, kNarrowCode);
  if (!conv.ok()) return {};

  // Every GBK character is one or two bytes and becomes one UTF-16 unit.
  std::u16string out(length, u'\0');
  char* in = const_cast<char*>(text);
  size_t in_left = length;
  char* dst = reinterpret_cast<char*>(out.data());
  size_t out_left = out.size() * sizeof(char16_t);
  if (iconv(conv.get(), &in, &in_left, &dst, &out_left) == size_t(-1)) return {};
  out.resize(out.size() - out_left / sizeof(char16_t));
  return out;
}

std::string os_to_narrow(const char16_t* text, size_t count) {
  if (!text) return {};
  const size_t length = bounded_length(text, count);
  if (length == 0) return {};
  Converter conv(kNarrowCode, kWideCode);
  if (!conv.ok()) return {};

  // At most two GBK bytes for each unit, "?" included.
  std::string out(2 * length, '\0');
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text));
  size_t in_left = length * sizeof(char16_t);
  char* dst = out.data();
  size_t out_left = out.size();
  while (in_left > 0) {
    if (iconv(conv.get(), &in, &in_left, &dst, &out_left) != size_t(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) return {};
    // A unit with no GBK form (or a stray surrogate) is replaced by one "?".
    *dst++ = '?';
    --out_left;
    in += sizeof(char16_t);
    in_left -= sizeof(char16_t);
  }
  out.resize(out.size() - out_left);
  return out;
}

std::u16string os_to_wide(const std::string& text) { return os_to_wide(text.data(), text.size()); }

std::string os_to_narrow(const std::u16string& text) {
  return os_to_narrow(text.data(), text.size());
}
