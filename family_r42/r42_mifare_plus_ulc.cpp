// MIFARE Plus and Ultralight C through an r42 reader: the operations are
// MifarePlusUlcDevice's (connection/mifare_plus_ulc_slots.h). Level-3 and
// personalisation frames travel whole through 0x0411, level-1 and
// Ultralight C frames through slot 82.
#include "connection/mifare_plus_ulc_slots.h"
#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "platform/mifare_plus_ulc_flow.h"

CardFlowChannel R42Device::card_flows(int32_t icdev) {
  return {[this](const uint8_t* frame, size_t length, uint8_t* reply, size_t* reply_length) {
            return card_flow_frame(frame, length, reply, reply_length);
          },
          bare_card_frames(*this, icdev)};
}

MfpSession& R42Device::mfp_session() { return mfp_session_; }
