// Ultralight C through an m6 reader: the authentication's bare frames go
// through slot 82, the key pages through the block write of slot 13.
#include "connection/mifare_plus_ulc_slots.h"
#include "family_m6/m6_device.h"

int16_t M6Device::auth_ulc(int32_t icdev, const unsigned char* key) {
  return ulc_authenticate(bare_card_frames(*this, icdev), key);
}

int16_t M6Device::auth_ulc_hex(int32_t icdev, const char* key) {
  return mfp_twins::auth_ulc(*this, icdev, key);
}

int16_t M6Device::changekey_ulc(int32_t icdev, const unsigned char* newkey) {
  return ulc_change_key(page_writes(*this, icdev), newkey);
}

int16_t M6Device::changekey_ulc_hex(int32_t icdev, const char* newkey) {
  return mfp_twins::changekey_ulc(*this, icdev, newkey);
}
