// What a card's first answer says about the link to it: the frame waiting
// time that a type A processor card announces in its answer to select, and
// the first protocol that a contact card names in its answer to reset.
#pragma once

#include <cstddef>
#include <cstdint>

// The frame waiting time in the form the m6 readers take it: `fwt_class`
// 0-10 (the smallest class whose time exceeds the card's, 10 past the
// table) and `fwi`, the card's frame waiting integer.
struct FrameWaiting {
  uint8_t fwt_class;
  uint8_t fwi;
};

// The class a card gets when its ATS carries no TB1.
inline constexpr uint8_t kDefaultFwtClass = 7;

// Updates `timing` from an ATS (TL, T0, TA1, TB1, ...). An ATS that is
// empty, longer than 20 bytes, not as long as its TL says, or too short for
// the interface bytes T0 announces leaves `timing` as it is; one without
// TB1 sets the default class and keeps `fwi`.
void ats_frame_waiting(const uint8_t* ats, size_t length, FrameWaiting& timing);

// The protocol of TD1 (its low nibble) in an answer to reset (TS, T0,
// interface bytes): 0 when T0 announces no TD1, -1 when the answer is
// shorter than its T0 or than the TD1 it announces.
int atr_first_protocol(const uint8_t* atr, size_t length);
