// The one automatic follow-up of the contact-card APDU operations: a 61xx
// answer fetches the xx waiting bytes with GET RESPONSE, and a 6Cxx answer
// to a 5-byte APDU (where byte 4 is Le) sends it again with Le = xx. Any
// other answer is the response; so is the answer to the follow-up, even a
// 61xx after a 6Cxx.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace apdu_follow_up {

inline constexpr uint8_t kMoreData = 0x61;
inline constexpr uint8_t kWrongLe = 0x6C;
inline constexpr size_t kCase2Length = 5;
inline constexpr size_t kLeIndex = 4;

// `send`(apdu, length, rlen, out) runs one exchange. The APDU (`slen`
// bytes, at most Area) and the first answer stay in local areas; the first
// answer reaches `rlen` and `out` only when it is the response, and the
// follow-up writes them itself. An answer longer than the area gives -1.
template <size_t Area, typename Length, typename Send>
int16_t run(const uint8_t* apdu, size_t slen, Length* rlen, uint8_t* out, Send send) {
  if (slen > Area || (slen > 0 && apdu == nullptr) || rlen == nullptr || out == nullptr)
    return -1;
  uint8_t command[Area];
  if (slen) std::memcpy(command, apdu, slen);
  uint8_t first[Area];
  Length first_length = 0;
  const int16_t result = send(command, slen, &first_length, first);
  if (result != 0) return result;
  if (int64_t(first_length) < 0 || int64_t(first_length) > int64_t(Area)) return -1;
  if (first_length == 2 && first[1] != 0) {
    if (first[0] == kWrongLe && slen == kCase2Length) {
      command[kLeIndex] = first[1];
      return send(command, slen, rlen, out);
    }
    if (first[0] == kMoreData) {
      const uint8_t get_response[kCase2Length] = {0x00, 0xC0, 0x00, 0x00, first[1]};
      return send(get_response, kCase2Length, rlen, out);
    }
  }
  *rlen = first_length;
  if (first_length) std::memcpy(out, first, size_t(first_length));
  return 0;
}

}  // namespace apdu_follow_up
