#include "family_r42/radio24_frame.h"

#include "platform/byte_helpers.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;

}  // namespace

void append_radio24_frame(R42Request& request, const uint8_t* data, uint16_t count) {
  request.u8(kStx).be16(count).bytes(data, count).u8(xor_checksum(data, count)).u8(kEtx);
}

bool read_radio24_frame(ByteCursor frame, ByteCursor& data) {
  uint16_t count = 0;
  uint8_t check = 0;
  if (!frame.skip(1) || !frame.be16(count)) return false;
  const uint8_t* start = frame.here();
  if (!frame.skip(count) || !frame.u8(check)) return false;
  if (xor_checksum(start, count) != check) return false;
  data = ByteCursor(start, count);
  return true;
}
