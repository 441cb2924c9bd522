#include "family_r42/stripe_tracks.h"

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
