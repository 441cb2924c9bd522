#include "family_r42/stripe_tracks.h"

#include <cstring>

bool StripeOutputs::complete() const {
  for (size_t i = 0; i < kStripeTracks; ++i)
    if (data[i] == nullptr || length[i] == nullptr) return false;
  return true;
}

void StripeOutputs::write(const StripeTracks& tracks) const {
  for (size_t i = 0; i < kStripeTracks; ++i) {
    if (tracks.length[i]) std::memcpy(data[i], tracks.data[i], tracks.length[i]);
    data[i][tracks.length[i]] = '\0';
    *length[i] = tracks.length[i];
  }
}

bool parse_stripe_tracks(ByteCursor reply, StripeTracks& tracks) {
  for (size_t i = 0; i < kStripeTracks; ++i) {
    uint8_t length = 0;
    if (!reply.u8(length)) return false;
    tracks.data[i] = reply.here();
    tracks.length[i] = length;
    if (!reply.skip(length)) return false;
  }
  return true;
}

int16_t read_stripe(R42Device& device, R42Request& request, int32_t timeout_ms,
                    std::initializer_list<R42Device::StatusResult> map, const StripeOutputs& out) {
  if (!out.complete()) return -1;
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      device.length_first_exchange(request, timeout_ms, r42_cmd::kDataReply, map, &reply);
  if (result != 0) return result;
  StripeTracks tracks;
  if (!parse_stripe_tracks(reply, tracks)) return -1;
  out.write(tracks);
  return 0;
}
