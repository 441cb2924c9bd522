// MIFARE Plus and Ultralight C through an m6 reader. The flows are the
// host's (connection/mifare_plus_ulc_slots.h); level-0 and level-3 frames go
// whole through the host's block protocol (frame size 64, time-out class 7,
// and no case-4 cut, which would drop the last byte of a frame whose byte 4
// happens to equal its length - 6); level-1 and Ultralight C frames go bare
// through slot 82, the Ultralight C key pages through slot 13.
#include "family_m6/m6_device.h"

CardFlowChannel M6Device::card_flows(int32_t icdev) {
  return {whole_card_frames(icdev), bare_card_frames(*this, icdev)};
}

MfpSession& M6Device::mfp_session() { return state_.mfp_session; }
