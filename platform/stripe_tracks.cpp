#include "platform/stripe_tracks.h"

#include <cstring>

bool StripeOutputs::complete(size_t first) const {
  for (size_t i = first; i < kStripeTracks; ++i)
    if (data[i] == nullptr || length[i] == nullptr) return false;
  return true;
}

void StripeOutputs::write(const StripeTracks& tracks) const {
  for (size_t i = 0; i < kStripeTracks; ++i) write_track(i, tracks);
}

void StripeOutputs::write_track(size_t i, const StripeTracks& tracks) const {
  if (tracks.length[i]) std::memcpy(data[i], tracks.data[i], tracks.length[i]);
  data[i][tracks.length[i]] = '\0';
  *length[i] = tracks.length[i];
}

bool parse_stripe_tracks(ByteCursor reply, StripeTracks& tracks, size_t first) {
  for (size_t i = first; i < kStripeTracks; ++i) {
    uint8_t length = 0;
    if (!reply.u8(length)) return false;
    tracks.data[i] = reply.here();
    tracks.length[i] = length;
    if (!reply.skip(length)) return false;
  }
  return true;
}
