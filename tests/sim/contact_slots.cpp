#include "sim/contact_slots.h"

#include <algorithm>

#include "sim/mifare_card.h"
#include "sim/sim_replies.h"

namespace {

using Bytes = ContactSlots::Bytes;

Bytes answer_to_reset(const Iso7816Card& card) {
  Bytes data(1 + card.atr().size());
  data[0] = uint8_t(card.atr().size());
  std::copy(card.atr().begin(), card.atr().end(), data.begin() + 1);
  return sim_ok(data);
}

}  // namespace

std::shared_ptr<Iso7816Card> ContactSlots::insert(int slot, std::shared_ptr<Iso7816Card> card) {
  cards_.at(size_t(slot)) = card;
  powered_.at(size_t(slot)) = false;
  return card;
}

std::shared_ptr<Iso7816Card> ContactSlots::insert(int slot, Bytes atr) {
  return insert(slot, std::make_shared<Iso7816Card>(std::move(atr)));
}

void ContactSlots::attach(R42ReaderModel& model) {
  for (uint16_t code = 0x0300; code <= 0x0304; ++code)
    model.addCommand(code, [this](const Bytes& request) { return *respond(request); });
}

std::optional<Bytes> ContactSlots::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0x03 || request[1] > 0x04) return std::nullopt;
  using namespace card_status;
  const uint8_t code = request[1];
  const size_t fixed = code == 0x01 ? 6 : 4;
  if (request.size() < fixed || (code != 0x04 && request.size() != fixed) || request[3] >= kSlots)
    return sim_refused(kBadRequest);
  const size_t slot = request[3];
  Iso7816Card* card = cards_[slot].get();
  if (card == nullptr) return sim_refused(kNoCard);
  switch (code) {
    case 0x00:
      return sim_ok();
    case 0x01:
      power_ups_.push_back({request[3], request[4], request[5]});
      powered_[slot] = true;
      return answer_to_reset(*card);
    case 0x02:
      powered_[slot] = true;
      return answer_to_reset(*card);
    case 0x03:
      powered_[slot] = false;
      return sim_ok();
    default: {
      if (!powered_[slot]) return sim_refused(kNoCard);
      const auto response = card->apdu(Bytes(request.begin() + 4, request.end()));
      if (!response) return sim_refused(kNoCard);
      return sim_ok(*response);
    }
  }
}
