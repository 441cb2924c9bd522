// Magnetic stripe tracks as the reader carries them: three in turn, each a
// length byte and that many bytes, in track reads (from reply byte 3) and
// in the track write request alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "family_r42/r42_device.h"
#include "platform/byte_cursor.h"

inline constexpr size_t kStripeTracks = 3;

// The tracks of one reply, pointing into it.
struct StripeTracks {
  const uint8_t* data[kStripeTracks] = {};
  uint8_t length[kStripeTracks] = {};
};

// The caller's side of a track read: for each track a buffer of 256 bytes
// (up to 255 bytes and a NUL) and its length.
struct StripeOutputs {
  char* data[kStripeTracks];
  int32_t* length[kStripeTracks];

  bool complete() const;
  void write(const StripeTracks& tracks) const;
};

// Reads the three tracks from `reply`; false when one runs past its end.
bool parse_stripe_tracks(ByteCursor reply, StripeTracks& tracks);

// One track read: `request`, whose reply's length counts before its status
// (shorter than 3 bytes: -1), the status words of `map` to their results
// (others -1), then the tracks. The outputs are written only when all
// three lie within the reply.
int16_t read_stripe(R42Device& device, R42Request& request, int32_t timeout_ms,
                    std::initializer_list<R42Device::StatusResult> map, const StripeOutputs& out);
