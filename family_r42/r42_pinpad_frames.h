// What an r42 reader's PIN pad adds to the shared pad frames: plain PIN
// entry goes as 0xA1 and the prompt, the pad cancels it with 0x08, and it
// acknowledges a command with 0xAA.
#pragma once

#include <cstdint>

#include "platform/pinpad_frames.h"

// 0xA1 and the prompt (pinpad_pin_prompt).
PinpadFrame pinpad_plain_pin_frame(uint8_t flag);
// 0 when the pad answered 0xAA first, else -1.
int16_t pinpad_done(const PinpadAnswer& answer);
// A plain PIN from a relay that succeeded: a lone 0x08 is 161 (cancelled);
// else the answer as text and 0 (an empty answer gives "").
int16_t pinpad_plain_pin(const PinpadAnswer& answer, char* out);
