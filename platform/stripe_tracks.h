// Magnetic stripe tracks as readers hand them over, and the caller's side
// of a track read. Nothing here does I/O.
#pragma once

#include <cstddef>
#include <cstdint>

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

  // Whether tracks `first` to 2 have both outputs.
  bool complete(size_t first = 0) const;
  // Each track's bytes and a NUL, and its length.
  void write(const StripeTracks& tracks) const;
  void write_track(size_t track, const StripeTracks& tracks) const;
};

// Reads tracks `first` to 2 from `reply`, each a length byte and that many
// bytes in turn (the tracks before `first` stay empty); false when one runs
// past its end.
bool parse_stripe_tracks(ByteCursor reply, StripeTracks& tracks, size_t first = 0);
