// The contact memory-card slot of the simulated m6 reader, an attachment:
// the reader's memory-card commands become the cards' own (memory_cards.h),
// so that the same SLE4442, SLE4428 and 24C models serve both families.
//   [B0|B1|B5-BA][offset LE16][count][data]   chunk reads and writes
//   [B2|BB][PSC], [B3|BC], [B4|BD][PSC]        verify, read, change the PSC
// Replies are [status][data]: 00, or the low byte of the slot's status word
// (01 no card, 02 a card of another kind, 03 a malformed request).
#pragma once

#include <optional>

#include "sim/memory_card_slot.h"
#include "sim/sim_attachment.h"

class M6MemoryFront : public SimAttachment {
 public:
  std::optional<Bytes> respond(const Bytes& command) override;

  MemoryCardSlot slot;
};
