#include "sim/iso7816_card.h"

#include <algorithm>

namespace {

using Bytes = ContactlessCard::Bytes;

Bytes with_status(Bytes data, uint8_t sw1, uint8_t sw2) {
  data.push_back(sw1);
  data.push_back(sw2);
  return data;
}

// Le 00 asks for 256 bytes.
size_t le_of(uint8_t le) { return le == 0 ? 256 : le; }

}  // namespace

Iso7816Card::Iso7816Card(Bytes atr) : atr_(std::move(atr)) {
  for (uint8_t i = 0; i < 16; ++i) binary.push_back(i);
}

void Iso7816Card::setField(Type type, Bytes uid, Bytes activation_answer) {
  type_ = type;
  uid_ = std::move(uid);
  activation_ = std::move(activation_answer);
}

std::optional<Bytes> Iso7816Card::apdu(const Bytes& command) {
  log.push_back(command);
  if (!scripted_.empty()) {
    Bytes next = std::move(scripted_.front());
    scripted_.pop_front();
    return next;
  }
  if (forever_) return *forever_;
  return answer(command);
}

Bytes Iso7816Card::answer(const Bytes& c) {
  if (c.size() < 4) return {0x67, 0x00};
  const uint8_t cla = c[0], ins = c[1];
  if (cla == 0x80 && ins == 0xEE) return with_status(Bytes(c.begin() + 2, c.end()), 0x90, 0x00);
  if (cla != 0x00) return {0x6E, 0x00};
  switch (ins) {
    case 0xB0: {
      const size_t offset = size_t(c[2] << 8 | c[3]);
      if (offset > binary.size()) return {0x6B, 0x00};
      const size_t left = std::min<size_t>(binary.size() - offset, 255);
      if (c.size() != 5 || le_of(c[4]) != left) return {0x6C, uint8_t(left)};
      return with_status(Bytes(binary.begin() + long(offset), binary.begin() + long(offset + left)),
                         0x90, 0x00);
    }
    case 0xA4:
      if (c.size() < 5 || c.size() < size_t(5 + c[4])) return {0x67, 0x00};
      waiting_ = fci;
      return {0x61, uint8_t(std::min<size_t>(waiting_.size(), 255))};
    case 0xC0: {
      if (waiting_.empty()) return {0x69, 0x85};
      if (c.size() != 5) return {0x67, 0x00};
      const size_t n = std::min(le_of(c[4]), waiting_.size());
      Bytes data(waiting_.begin(), waiting_.begin() + long(n));
      waiting_.erase(waiting_.begin(), waiting_.begin() + long(n));
      if (waiting_.empty()) return with_status(std::move(data), 0x90, 0x00);
      return with_status(std::move(data), 0x61, uint8_t(std::min<size_t>(waiting_.size(), 255)));
    }
    case 0x84: {
      if (c.size() != 5) return {0x67, 0x00};
      Bytes challenge(le_of(c[4]));
      for (size_t i = 0; i < challenge.size(); ++i) challenge[i] = uint8_t(i + 1);
      return with_status(std::move(challenge), 0x90, 0x00);
    }
    default:
      return {0x6D, 0x00};
  }
}
