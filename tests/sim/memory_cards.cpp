#include "sim/memory_cards.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace {

using Bytes = MemoryCard::Bytes;

// 10 04 / 10 05: [offset][length], then the bytes of a write.
bool protection_range(const Bytes& params, bool write, size_t size) {
  if (params.size() < 2) return false;
  const size_t expected = 2 + (write ? params[1] : 0);
  return params.size() == expected && size_t(params[0]) + params[1] <= size;
}

bool same_pin(const uint8_t* given, const uint8_t* pin, size_t size) {
  return std::memcmp(given, pin, size) == 0;
}

// One attempt spent: the lowest set bit goes.
uint8_t spend_attempt(uint8_t counter) { return uint8_t(counter & (counter - 1)); }

}  // namespace

// --- SLE4442 ---

Sle4442Card::Sle4442Card(Pin psc)
    : memory(kSize, 0xFF), protection(kProtectedSize, 0x01), psc(psc) {
  const uint8_t head[8] = {0xA2, 0x13, 0x10, 0x91, 0xFF, 0xFF, 0x81, 0x15};
  std::copy(std::begin(head), std::end(head), memory.begin());
}

int Sle4442Card::attempts() const { return std::popcount(uint8_t(counter & 0x07)); }

void Sle4442Card::verify(const uint8_t* pin) {
  if ((counter & 0x07) == 0) return;
  counter = spend_attempt(counter & 0x07);
  unlocked = same_pin(pin, psc.data(), psc.size());
  if (unlocked) counter = 0x07;
}

std::optional<MemoryCardReply> Sle4442Card::answer(uint16_t code, const Bytes& params) {
  switch (code) {
    case 0x1001:
      if (!params.empty()) return refused();
      unlocked = false;
      return ok();
    case 0x1002: {
      auto chunk = parse_chunk(params, false, false, kSize);
      if (!chunk) return refused();
      return ok(
          Bytes(memory.begin() + chunk->offset, memory.begin() + chunk->offset + chunk->length));
    }
    case 0x1003: {
      auto chunk = parse_chunk(params, true, false, kSize);
      if (!chunk) return refused();
      for (uint32_t i = 0; unlocked && i < chunk->length; ++i) {
        const size_t at = chunk->offset + i;
        if (at < kProtectedSize && protection[at] == 0) continue;
        memory[at] = chunk->data[i];
      }
      return ok();
    }
    case 0x1004:
      if (!protection_range(params, false, kProtectedSize)) return refused();
      return ok(Bytes(protection.begin() + params[0], protection.begin() + params[0] + params[1]));
    case 0x1005:
      if (!protection_range(params, true, kProtectedSize)) return refused();
      for (size_t i = 0; unlocked && i < params[1]; ++i) {
        const size_t at = params[0] + i;
        if (params[2 + i] == memory[at]) protection[at] = 0;
      }
      return ok();
    case 0x1006: {
      if (!params.empty()) return refused();
      Bytes state = {counter, 0, 0, 0};
      if (unlocked) std::copy(psc.begin(), psc.end(), state.begin() + 1);
      return ok(state);
    }
    case 0x1007:
      if (params.size() != psc.size()) return refused();
      if (unlocked) std::copy(params.begin(), params.end(), psc.begin());
      return ok();
    case 0x1008:
      if (params.size() != psc.size()) return refused();
      verify(params.data());
      return ok();
    default:
      return std::nullopt;
  }
}

// --- SLE4428 ---

Sle4428Card::Sle4428Card(Pin psc) : memory(kSize, 0xFF), protection(kSize, 0x01) {
  memory[6] = 0x81;
  memory[7] = 0x13;
  memory[kPscAt] = psc[0];
  memory[kPscAt + 1] = psc[1];
}

int Sle4428Card::attempts() const { return std::popcount(memory[kCounterAt]); }

void Sle4428Card::verify(const uint8_t* pin) {
  uint8_t& counter = memory[kCounterAt];
  if (counter == 0) return;
  unlocked = same_pin(pin, &memory[kPscAt], 2);
  if (!unlocked) counter = spend_attempt(counter);
}

uint8_t Sle4428Card::readable(size_t address) const {
  return address >= kPscAt && !unlocked ? 0x00 : memory[address];
}

std::optional<MemoryCardReply> Sle4428Card::answer(uint16_t code, const Bytes& params) {
  switch (code) {
    case 0x1101:
      if (!params.empty()) return refused();
      unlocked = false;
      return ok();
    case 0x1102: {
      auto chunk = parse_chunk(params, false, true, kSize);
      if (!chunk || chunk->memory > 1) return refused();
      Bytes data(chunk->length);
      for (uint32_t i = 0; i < chunk->length; ++i) {
        const size_t at = chunk->offset + i;
        data[i] = chunk->memory == 0 ? readable(at) : protection[at];
      }
      return ok(data);
    }
    case 0x1103: {
      auto chunk = parse_chunk(params, true, true, kSize);
      if (!chunk || chunk->memory > 1) return refused();
      for (uint32_t i = 0; unlocked && i < chunk->length; ++i) {
        const size_t at = chunk->offset + i;
        if (chunk->memory == 1) {
          if (chunk->data[i] == memory[at]) protection[at] = 0;
        } else if (protection[at] != 0) {
          memory[at] = chunk->data[i];
        }
      }
      return ok();
    }
    case 0x1104:
      if (!params.empty()) return refused();
      return ok({memory[kCounterAt], readable(kPscAt), readable(kPscAt + 1)});
    case 0x1105:
      if (params.size() != 2) return refused();
      if (unlocked) std::copy(params.begin(), params.end(), memory.begin() + kPscAt);
      return ok();
    case 0x1106:
      if (params.size() != 2) return refused();
      verify(params.data());
      return ok();
    default:
      return std::nullopt;
  }
}

// --- 24Cxx ---

EepromCard EepromCard::c24(int kilobits) {
  switch (kilobits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 64:
      return EepromCard(size_t(kilobits) * 128);
    default:
      throw std::invalid_argument("no 24C card of that size");
  }
}

std::optional<MemoryCardReply> EepromCard::answer(uint16_t code, const Bytes& params) {
  if (code < 0x1210 || code > 0x1213) return std::nullopt;
  const bool write = (code & 1) != 0;
  auto chunk = parse_chunk(params, write, false, 0);
  if (!chunk) return refused();
  const size_t size = memory.size();
  if (write) {
    for (uint32_t i = 0; i < chunk->length; ++i)
      memory[(size_t(chunk->offset) + i) % size] = chunk->data[i];
    return ok();
  }
  Bytes data(chunk->length);
  for (uint32_t i = 0; i < chunk->length; ++i) data[i] = memory[(size_t(chunk->offset) + i) % size];
  return ok(data);
}
