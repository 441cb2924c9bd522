#include "family_m6/m6_pos_frame.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_helpers.h"

namespace {

constexpr uint8_t kFrameStart = 0xAA;
constexpr uint8_t kFrameCommand = 0x00;
constexpr uint8_t kAnswerStart = 0x55;

}  // namespace

bool build_pos_frame(const uint8_t* data, size_t count, PosFrame& frame) {
  frame.size = 0;
  if (count > kPosFrameDataMax || (data == nullptr && count > 0)) return false;
  uint8_t* out = frame.bytes;
  out[0] = kFrameStart;
  out[1] = kFrameCommand;
  out[2] = uint8_t(count >> 8);
  out[3] = uint8_t(count);
  if (count) std::memcpy(out + kPosFrameHead, data, count);
  const size_t checked = kPosFrameHead + count;
  out[checked] = xor_checksum(out, int(checked));
  frame.size = uint8_t(checked + 1);
  return true;
}

bool read_pos_answer(const uint8_t* answer, size_t length, ByteCursor& data) {
  if (answer == nullptr || length < kPosFrameOverhead || answer[0] != kAnswerStart) return false;
  if (xor_checksum(answer, int(length)) != 0) return false;
  data = ByteCursor(answer + kPosFrameHead, length - kPosFrameOverhead);
  return true;
}

bool pos_done(ByteCursor data) {
  uint8_t lead = 0, second = 0xFF;
  return data.u8(lead) && data.u8(second) && lead == kPosDone && second == 0x00;
}

int16_t read_pos_keys(ByteCursor data, uint8_t* count, char* keys) {
  uint8_t lead = 0, length = 0;
  if (!data.u8(lead) || lead != kPosKeys || !data.u8(length)) return -1;
  const uint8_t* bytes = data.here();
  if (!data.skip(length)) return -1;
  for (size_t i = 0; i < length; ++i) keys[i] = char(uint8_t(bytes[i] + '0'));
  keys[length] = '\0';
  *count = length;
  return 0;
}

bool to_bcd(uint8_t value, uint8_t& bcd) {
  if (value > 99) return false;
  bcd = uint8_t((value / 10) << 4 | value % 10);
  return true;
}

bool from_bcd(uint8_t bcd, uint8_t& value) {
  if ((bcd >> 4) > 9 || (bcd & 0x0F) > 9) return false;
  value = uint8_t((bcd >> 4) * 10 + (bcd & 0x0F));
  return true;
}

bool read_pos_clock(ByteCursor data, uint8_t values[kPosClockFields]) {
  uint8_t lead = 0;
  uint8_t bcd[kPosClockFields];
  if (!data.u8(lead) || lead != kPosClock || !data.skip(1) || !data.take(bcd, kPosClockFields))
    return false;
  uint8_t decoded[kPosClockFields];
  for (size_t i = 0; i < kPosClockFields; ++i)
    if (!from_bcd(bcd[i], decoded[i])) return false;
  std::memcpy(values, decoded, kPosClockFields);
  return true;
}

bool decode_stripe_track(char* track, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const uint8_t byte = uint8_t(track[i]);
    if (__builtin_popcount(byte & 0x1F) % 2 == 0) return false;
    track[i] = char('0' + (byte & 0x0F));
  }
  if (length > 0 && track[0] == '?') std::reverse(track, track + length);
  return true;
}

bool parse_stripe_lengths_first(ByteCursor answer, StripeTracks& tracks) {
  StripeTracks found;
  for (size_t i = 0; i < kStripeTracks; ++i)
    if (!answer.u8(found.length[i])) return false;
  for (size_t i = 0; i < kStripeTracks; ++i) {
    found.data[i] = answer.here();
    if (!answer.skip(found.length[i])) return false;
  }
  tracks = found;
  return true;
}

bool read_pos_stripe(ByteCursor data, StripeTracks& tracks) {
  uint8_t lead = 0;
  if (!data.u8(lead) || lead != kPosStripe) return false;
  StripeTracks found;
  if (!parse_stripe_tracks(data, found, 1)) return false;
  tracks = found;
  return true;
}
