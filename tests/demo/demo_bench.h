// The reader Trelview's tests press buttons against: an r42 reader simulated
// in memory behind the application's transport (port 480), with its card
// field, identity-card module, contact slots and stripe. The library
// directory holds the trace, the photo decoder and the bank-card library.
#pragma once

#include <filesystem>

#include "core_api/core_test_support.h"
#include "core_api/memory_transport.h"
#include "demo/card_tests.h"
#include "sim/card_field.h"
#include "sim/contact_slots.h"
#include "sim/id_card_module.h"
#include "sim/stripe_keypad.h"

struct DemoBench {
  DemoBench() {
    field.attach(reader.model);
    ids.attach(reader.model);
    slots.attach(reader.model);
    stripe.attach(reader.model);
    ids.with([](IdCardModule::State& s) { s.card.reset(); });
    provider = reader.provider();
    CoreConfigure(KX_CFG_CALLBACKS, &provider);
    for (const char* library : {QM_DEMO_PHOTO_DECODER, QM_DEMO_BANK_LIBRARY}) {
      const std::filesystem::path from(library);
      std::filesystem::copy_file(from, traces.root() + from.filename().string());
    }
    set_trace_level(2);
  }
  ~DemoBench() {
    PortProvider none{};
    CoreConfigure(KX_CFG_CALLBACKS, &none);
  }
  CardTests::Settings settings() const { return {480, 115200, traces.root() + "me.bmp"}; }
  // Sector 1 of this card opens with key A3C5E7092B4D, A and B.
  void insertDemoCard() {
    MifareCard card = MifareCard::classic1k({0x11, 0x22, 0x33, 0x44});
    const MifareCard::Key key = {0xA3, 0xC5, 0xE7, 0x09, 0x2B, 0x4D};
    card.setKeys(1, key, key);
    field.insert(card);
  }
  void insertIdCardA() {
    ids.with([](IdCardModule::State& s) { s.card = IdCard::a(); });
  }

  TraceDir traces;
  MemoryTransportReader reader;
  PortProvider provider{};
  CardField field;
  IdCardModule ids;
  ContactSlots slots;
  StripeKeypadSim stripe;
};
