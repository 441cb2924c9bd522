// GBK <-> UTF-16 through glibc iconv. A conversion descriptor is opened per
// call: descriptors carry shift state and must not be shared by threads.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
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

// Bytes of a sequence iconv refused at `bytes`: a lead and a trail byte in
// the two-byte ranges form one unassigned character; anything else (a byte
// that is never valid, a lead followed by no trail or a bad one) is one byte,
// so a following ASCII byte is read again as itself.
size_t bad_sequence_length(const uint8_t* bytes, size_t left) {
  const bool lead = bytes[0] >= 0x81 && bytes[0] <= 0xFE;
  const bool trail = left > 1 && bytes[1] >= 0x40 && bytes[1] <= 0xFE && bytes[1] != 0x7F;
  return lead && trail ? 2 : 1;
}

}  // namespace

std::u16string os_to_wide(const char* text, size_t count) {
  if (!text) return {};
  const size_t length = bounded_length(text, count);
  if (length == 0) return {};
  Converter conv(kWideCode, kNarrowCode);
  if (!conv.ok()) return {};

  // Every GBK character is one or two bytes and becomes one UTF-16 unit, and
  // so does each replaced sequence: the text's length in units is enough.
  std::u16string out(length, u'\0');
  char* in = const_cast<char*>(text);
  size_t in_left = length;
  char16_t* dst = out.data();
  while (in_left > 0) {
    char* dst_bytes = reinterpret_cast<char*>(dst);
    size_t out_left = size_t(out.data() + out.size() - dst) * sizeof(char16_t);
    const size_t done = iconv(conv.get(), &in, &in_left, &dst_bytes, &out_left);
    dst = reinterpret_cast<char16_t*>(dst_bytes);
    if (done != size_t(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) return {};
    // A bad or cut-off sequence becomes one U+FFFD and the text goes on:
    // a field cut after a lead byte keeps what came before it.
    *dst++ = u'\uFFFD';
    const size_t skip = bad_sequence_length(reinterpret_cast<const uint8_t*>(in), in_left);
    in += skip;
    in_left -= skip;
  }
  out.resize(size_t(dst - out.data()));
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
