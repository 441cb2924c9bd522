// Pieces shared by the table rows of the processor-card tests: card models
// placed behind the in-memory reader, and output helpers.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/card_field.h"
#include "sim/contact_slots.h"
#include "sim/wire_table.h"

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;

// A text output with its NUL, as output bytes.
inline Bytes text_bytes(const std::string& text) {
  Bytes out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

inline Bytes repeated(size_t n, uint8_t value) { return Bytes(n, value); }

// A 32-bit length in front of the data: the output starts with it (LE) on
// success only.
template <typename F>
int32_t with_length32(Call& c, F call) {
  int32_t length = -7;
  const int32_t result = call(&length, c.bytes() + 4);
  if (result == 0) std::memcpy(c.bytes(), &length, 4);
  return result;
}

// given(): contact slots with a powered card in `slot`, changed by `edit`.
inline std::function<void(State&)> contact_card(
    int slot, std::function<void(Iso7816Card&)> edit = {}, Bytes atr = hx("3B 02 14 50")) {
  return [=](State& s) {
    auto slots = std::make_shared<ContactSlots>();
    auto card = slots->insert(slot, atr);
    slots->setPowered(slot, true);
    if (edit) edit(*card);
    s.attachments.push_back(slots);
  };
}

// The APDUs the card in `slot` received.
inline std::vector<Bytes> apdus_in(const State& s, int slot) {
  auto slots = attached<ContactSlots>(s);
  return slots && slots->card(slot) ? slots->card(slot)->log : std::vector<Bytes>{};
}
