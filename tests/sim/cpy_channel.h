// The second APDU channel of the simulated r42 reader (the cpy commands),
// in front of the card models already behind it.
//
//   D0 10 00              the channel key (16 bytes)
//   D0 10 10 [16 bytes]   sets the key
//   D0 11 [slot][APDU]    the APDU, whole, to the card in that contact slot:
//                         its response (data and status word) as 03 04 gives it
//   D0 12 [len BE16][APDU]  the APDU to the active contactless processor
//                         card: [len BE16][response], as 04 11 gives it
// Without the card model a channel needs, or with a malformed request, the
// answer is card_status::kNoCard or kBadRequest.
//
// Join a model as an attachment of its state, beside the card models.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sim/card_field.h"
#include "sim/contact_slots.h"
#include "sim/r42_reader_model.h"

class CpyChannel : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;
  static constexpr size_t kKeySize = 16;

  CpyChannel(std::shared_ptr<ContactSlots> contact, std::shared_ptr<CardField> field)
      : contact_(std::move(contact)), field_(std::move(field)) {}

  std::optional<Bytes> respond(const Bytes& request) override;

  Bytes key = Bytes(kKeySize, 0x00);

 private:
  std::shared_ptr<ContactSlots> contact_;
  std::shared_ptr<CardField> field_;
};
