#include "demo/ack_filter.h"

namespace {

constexpr uint8_t kAckStart = 0x22;

bool printable(uint8_t b) { return b >= 0x20 && b <= 0x7E; }

bool continues_ack(uint8_t b) { return b == 0x00 || b == 0x05 || b == 0x41 || b == 0x61; }

}  // namespace

std::string AckFilter::feed(uint8_t b) {
  std::string out;
  if (position_ > 0) {
    if (continues_ack(b)) {
      held_[position_++] = b;
      if (position_ == kLength) position_ = 0;  // a whole acknowledgement
      return out;
    }
    for (size_t i = 0; i < position_; ++i) {
      if (printable(held_[i])) out += char(held_[i]);
    }
    position_ = 0;
  }
  if (b == kAckStart) {
    held_[0] = b;
    position_ = 1;
  } else if (printable(b)) {
    out += char(b);
  }
  return out;
}
