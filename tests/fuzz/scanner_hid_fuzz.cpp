// Messages of the scanner's HID link read from input reports cut from the
// input: byte 0 picks the caller's capacity; then each report is a length
// byte (reports of other sizes than 64 are refused) followed by its bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "scanner/hid_link.h"

namespace {

class InputReports : public HidDevice {
 public:
  InputReports(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int getFeatureReport(uint8_t*, size_t) override { return -1; }
  int sendFeatureReport(const uint8_t*, size_t) override { return -1; }
  int writeOutput(const uint8_t*, size_t) override { return -1; }
  void close() override {}
  // The next report, or a failed read (unplugged) once the input is used up.
  int readInput(uint8_t* out, size_t length, int) override {
    if (at_ >= size_) return -1;
    const size_t n = std::min<size_t>({data_[at_++], size_ - at_, length});
    std::memcpy(out, data_ + at_, n);
    at_ += n;
    return int(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t capacity = data[0] * 5;
  InputReports device(data + 1, size - 1);
  HidTurns turns;
  HidMessageReader reader;
  std::vector<uint8_t> out(capacity + 1, 0xCC);
  for (int i = 0; i < 64; ++i) {
    const int32_t n = reader.read(device, turns, out.data(), capacity, kHidIdleBeforeMs);
    if (n > int32_t(kHidMessageCapacity) || out[capacity] != 0xCC) __builtin_trap();
    if (n == -2) break;
  }
  return 0;
}
