// Texts that reach the pane. The reader library and the social-security
// driver hand back GBK; the scanner hands back UTF-8 of its own choosing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The GBK text in `text`, up to its NUL or the end of its `size` bytes, as
// UTF-8. A byte that does not begin a GBK character (or begins one the text
// ends inside of) becomes U+FFFD and the conversion goes on after it.
std::string gbk_to_utf8(const char* text, size_t size);

template <size_t N>
std::string gbk_to_utf8(const char (&buffer)[N]) {
  return gbk_to_utf8(buffer, N);
}

// `bytes` as valid UTF-8: each invalid sequence becomes U+FFFD.
std::string clean_utf8(std::string_view bytes);

// A scan result as the pane shows it: the text up to its NUL (or the end of
// `size` bytes), without a leading byte-order mark, at most 250 bytes of it,
// cleaned. A character that the 250-byte cut splits is dropped whole.
std::string scan_text_for_pane(const char* buffer, size_t size);
