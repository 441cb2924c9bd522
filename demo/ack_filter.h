// Keeps the scanner's acknowledgements out of the text a serial line
// delivers byte by byte. An acknowledgement is 0x22 followed by four bytes
// of 0x00, 0x05, 0x41 and 0x61; printable bytes (0x20-0x7E) pass, others
// are dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class AckFilter {
 public:
  // The text that byte `b` lets through: empty while an acknowledgement may
  // still be forming. A byte that cannot continue one releases the held
  // bytes (printable ones only) and is then taken as if none were held, so
  // a 0x22 starts the next acknowledgement.
  std::string feed(uint8_t b);

 private:
  static constexpr size_t kLength = 5;
  uint8_t held_[kLength] = {};
  size_t position_ = 0;  // 0: nothing held
};
