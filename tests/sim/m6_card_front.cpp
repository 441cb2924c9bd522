#include "sim/m6_card_front.h"

#include <algorithm>

namespace {

using Answer = CardField::Answer;
using Bytes = SimAttachment::Bytes;

uint8_t key_byte(uint8_t mode) { return mode & 0x04 ? 0x61 : 0x60; }
int first_block(int sector) { return sector < 32 ? 4 * sector : 128 + 16 * (sector - 32); }
int sector_of(int block) { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }
int32_t le32_at(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                 uint32_t(p[3]) << 24);
}
Answer status_only(uint16_t status) { return {status, {}}; }

}  // namespace

Bytes M6CardFront::answer(const Answer& a) const {
  const bool ok = a.status == card_status::kOk;
  Bytes reply(ok ? a.data.size() + 1 : 1, uint8_t(a.status));
  if (ok) std::copy(a.data.begin(), a.data.end(), reply.begin() + 1);
  return reply;
}

Answer M6CardFront::authenticateSector(uint8_t mode, int sector) {
  auto key = keys_.find({mode, uint8_t(sector)});
  if (key == keys_.end()) return status_only(card_status::kAuthFailed);
  return field_->authenticateCard(key_byte(mode), first_block(sector), key->second.data());
}

Answer M6CardFront::prepare(uint8_t mode, const uint8_t* serial, int block, Bytes& uid) {
  Answer a = field_->wakeCards(true);
  if (a.status != card_status::kOk) return a;
  uid.assign(serial, serial + 4);
  if (std::all_of(uid.begin(), uid.end(), [](uint8_t b) { return b == 0; })) {
    a = field_->anticollide(1);
    if (a.status != card_status::kOk) return a;
    uid = a.data;
  }
  a = field_->selectCard(1, uid.data());
  if (a.status != card_status::kOk) return a;
  return authenticateSector(mode, sector_of(block));
}

std::optional<Bytes> M6CardFront::respond(const Bytes& command) {
  using namespace card_status;
  if (command.empty()) return std::nullopt;
  const size_t n = command.size() - 1;
  const uint8_t* p = command.data() + 1;
  auto sized = [&](size_t wanted) { return n == wanted; };
  auto value_step = [&](uint8_t code) {
    return field_->onSelected([&](MifareCard& card) {
      transfer_.reset();
      if (code == 0x49 && card.kind() == MifareCard::Kind::kLight && (p[0] == 4 || p[0] == 5))
        return le32_at(p + 1) > 0xFFFF ? kOverflow
                                       : card.lightDecrement(p[0] - 3, uint16_t(le32_at(p + 1)));
      // The step works on a copy: only the transfer writes the card.
      MifareCard copy = card;
      const uint16_t status = copy.addValue(p[0], uint32_t(le32_at(p + 1)), code == 0x48);
      int32_t value = 0;
      if (status == kOk && MifareCard::valueOf(copy.block(p[0]), &value)) transfer_ = value;
      return status;
    });
  };
  Bytes uid;
  switch (command[0]) {
    case 0x41:
      if (!sized(1)) break;
      return answer(field_->wakeCards(p[0] & 1));
    case 0x42: case 0xA2:
      if (!sized(5)) break;
      return answer(field_->anticollide(command[0] == 0x42 ? 1 : 2));
    case 0x43: case 0xA3:
      if (!sized(4)) break;
      return answer(field_->selectCard(command[0] == 0x43 ? 1 : 2, p));
    case 0x45:
      return answer(field_->haltCard());
    case 0x4C:
      if (!sized(18)) break;
      key_constants.emplace_back(p + 2, p + 8);
      std::copy(p + 10, p + 16, keys_[{p[0], p[1]}].begin());
      return Bytes{kOk};
    case 0x44:
      if (!sized(2)) break;
      return answer(authenticateSector(p[0], p[1]));
    case 0x46:
      if (!sized(1)) break;
      return answer(field_->readBlock(p[0]));
    case 0x47:
      if (!sized(17)) break;
      return answer(field_->writeBlock(p[0], p + 1));
    case 0x48: case 0x49:
      if (!sized(5)) break;
      return answer(status_only(value_step(command[0])));
    case 0x4B: {
      if (!sized(1)) break;
      if (!transfer_) return answer(status_only(kBadValue));
      const int32_t value = *transfer_;
      return answer(status_only(
          field_->onSelected([&](MifareCard& card) { return card.storeValue(p[0], value); })));
    }
    case 0x32: case 0x33: {
      if (!sized(command[0] == 0x32 ? 22 : 6)) break;
      Answer a = prepare(p[0], p + 2, p[1], uid);
      if (a.status != kOk) return answer(a);
      if (command[0] == 0x32) return answer(field_->writeBlock(p[1], p + 6));
      a = field_->readBlock(p[1]);
      if (a.status == kOk) a.data.insert(a.data.end(), uid.begin(), uid.end());
      return answer(a);
    }
    default:
      return std::nullopt;
  }
  return Bytes{uint8_t(kBadRequest)};
}
