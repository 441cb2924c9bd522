// The r42 track read: the reader carries the three tracks in turn, each a
// length byte and that many bytes, in track reads (from reply byte 3) and
// in the track write request alike.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "family_r42/r42_device.h"
#include "platform/stripe_tracks.h"

// One track read: `request`, whose reply's length counts before its status
// (shorter than 3 bytes: -1), the status words of `map` to their results
// (others -1), then the tracks. The outputs are written only when all
// three lie within the reply.
int16_t read_stripe(R42Device& device, R42Request& request, int32_t timeout_ms,
                    std::initializer_list<R42Device::StatusResult> map, const StripeOutputs& out);
