// The POS terminal behind an m6 reader's microcontroller pass-through and
// what the terminal, the reader's keypad and its stripe reader answer.
// Nothing here does I/O.
//
// Host to terminal: [0xAA][command 0x00][n, big-endian 16][n data bytes]
// [XOR of everything before]. Terminal to host: 0x55, three header bytes,
// the data and a check byte that makes the XOR of the whole answer 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_cursor.h"
#include "platform/stripe_tracks.h"

// Start byte, command and length before the data; the check byte after it.
inline constexpr size_t kPosFrameHead = 4;
inline constexpr size_t kPosFrameOverhead = kPosFrameHead + 1;
// The whole frame travels with a one-byte length.
inline constexpr size_t kPosFrameMax = 255;
inline constexpr size_t kPosFrameDataMax = kPosFrameMax - kPosFrameOverhead;

// Lead bytes of the answers the operations read.
inline constexpr uint8_t kPosDone = 0x90;
inline constexpr uint8_t kPosKeys = 0xA0;
inline constexpr uint8_t kPosClock = 0xF0;
inline constexpr uint8_t kPosStripe = 0xB0;

// The clock's six fields: year, month, date, hour, minute, second.
inline constexpr size_t kPosClockFields = 6;

struct PosFrame {
  uint8_t bytes[kPosFrameMax];
  uint8_t size = 0;
};

// The frame around `count` data bytes; false (and an empty frame) for more
// than kPosFrameDataMax.
bool build_pos_frame(const uint8_t* data, size_t count, PosFrame& frame);

// The data of a terminal's answer of `length` bytes: false for fewer than 5
// bytes, another start byte or a check byte that does not match.
bool read_pos_answer(const uint8_t* answer, size_t length, ByteCursor& data);

// True when the data start 0x90 0x00.
bool pos_done(ByteCursor data);

// Keyed input, 0xA0 [len][len key bytes] at the cursor (more may follow):
// 0 with *count := len and each key byte + '0' (8 bits, wrapping) and a
// NUL in `keys` (len + 1 bytes, at most 256). -1 for another lead byte, a
// missing length or keys past the end; nothing is written then.
int16_t read_pos_keys(ByteCursor data, uint8_t* count, char* keys);

// Two decimal digits in one byte; false for a value above 99.
bool to_bcd(uint8_t value, uint8_t& bcd);
// False when either nibble is above 9.
bool from_bcd(uint8_t bcd, uint8_t& value);

// The clock answer 0xF0 [x][six BCD bytes]: the six values, or false, with
// nothing written, for another lead byte, a short answer or a nibble above
// 9.
bool read_pos_clock(ByteCursor data, uint8_t values[kPosClockFields]);

// One stripe track of the terminal's answer, converted in place: each byte
// must have odd parity over bits 0-4 and becomes '0' + its low 4 bits; a
// track that then starts with '?' was swiped backwards and is reversed.
// False at the first byte with bad parity; the bytes before it stay
// converted.
bool decode_stripe_track(char* track, size_t length);

// The stripe reader's reply after its status: [l1][l2][l3], then the
// three tracks in turn. False when they do not all lie within it.
bool parse_stripe_lengths_first(ByteCursor answer, StripeTracks& tracks);

// The terminal's stripe answer 0xB0 [l2][track 2][l3][track 3]: tracks 2
// and 3, track 1 empty. False for another lead byte or when either track
// does not lie within the answer.
bool read_pos_stripe(ByteCursor data, StripeTracks& tracks);
