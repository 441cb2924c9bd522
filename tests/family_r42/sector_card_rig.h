// An r42 device over a pseudo-terminal whose simulated reader has a card
// field, with helpers to pick the requests of one command out of the log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "family_r42/r42_rig.h"
#include "sim/card_field.h"

inline const MifareCard::Key kKeyFF = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline const Bytes kUid1 = {0x11, 0x22, 0x33, 0x44};

struct SectorRig : R42Rig {
  SectorRig() { field.attach(model); }
  // The simulator thread reaches the field: stop it before the field goes.
  ~SectorRig() {
    if (sim) sim->stop();
  }

  // Requests whose command code is `code`, in order.
  std::vector<Bytes> sentWith(uint16_t code) const {
    std::vector<Bytes> out;
    for (const Bytes& r : requests())
      if (r.size() >= 2 && uint16_t(r[0] << 8 | r[1]) == code) out.push_back(r);
    return out;
  }
  // Selects the card and authenticates `sector` with `key` as key A.
  int16_t open(int sector, const MifareCard::Key& key = kKeyFF) {
    uint32_t snr = 0;
    const int16_t result = device->card(kIcdev, 0, &snr);
    if (result != 0) return result;
    return device->authentication_pass(kIcdev, 0, uint8_t(sector), key.data());
  }
  uint16_t status() {
    int32_t code = 0;
    device->GetLastResponseCode(kIcdev, &code);
    return uint16_t(code);
  }

  CardField field;
};

// A rig with one 1K card, UID 11 22 33 44, in the field.
class OneCardTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_RIG(rig); }
  SectorRig rig;
  ReaderDevice* d = rig.device;
  int card_id = rig.field.insert(MifareCard::classic1k(kUid1));
};
