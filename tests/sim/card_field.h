// The radio field of a simulated reader: 0..n sector cards, the card
// operations on them and the r42 reader commands that reach them. The
// operations themselves (wake, anticollision, select, halt, authenticate,
// block, value) are public, apart from any command codes, so that another
// family's front (m6_card_front.h) maps its own commands onto them.
//
//   R42ReaderModel model;
//   CardField field;
//   field.attach(model);                    // registers the card commands
//   int id = field.insert(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44}));
//   field.removeAfter(id, 2);               // gone after 2 more card commands
//
// Card states: idle, ready, active, halted (plus a 7-byte card waiting for
// its second cascade level).
//   04 33 [26|52]       26 wakes cards that are not halted, 52 every card;
//                       either clears authentication and selection. Reply:
//                       ATQA (low byte first) of the lowest woken UID.
//   04 01 [26|52]       the selected card's ATQA; it stays selected.
//   04 34 [93|95]       93: [00][level-1 UID] of the lowest ready UID (a
//                       7-byte card gives 88 U0 U1 U2); 95: [00][U3..U6] of
//                       the card waiting for level 2.
//   04 35 [93|95] 04 U  selects the ready card whose UID bytes match (the
//                       others go idle); reply SAK (04 at level 1 of a 7-byte
//                       UID).
//   04 37               halts the selected card.
//   04 04 [60|61] b K   authenticates block b's sector; a failure clears it
//                       and deselects the card.
//   04 05 b, 04 06 b D  block read/write (the selected card, or a woken
//                       FM11RF005 card, which needs no select).
//   04 07 b V, 04 08 b, 04 09 b V, 04 0A b V, 04 0B s d
//                       value blocks; V big-endian. On a MIFARE Light card
//                       04 0A with block 4 or 5 decrements copy 1 or 2.
// Processor cards (contactless_card.h: ISO/IEC 14443-4, DESFire, MIFARE
// Plus, Ultralight C) share the field: type A ones answer the selection
// commands above like sector cards, with their own ATQA and SAK; type B
// ones answer only these:
//   04 43, 04 10        activates the selected processor card, else the
//                       lowest-UID one not halted: [kind 0A|0B][L1][UID]
//                       [L2][ATS or ATQB]
//   04 11 [len][APDU]   the active card's response: [len BE16][response]
//   04 36 0A 01 [len][frame][CRC setting]
//                       a plain frame, the same way (the last byte optional)
//   04 0C 00 64         deactivates (halts) the active processor card
//   04 4A               [01][00] with a card in the field, else 0307
//   04 46               status 1 (type A), 2 (type B) or 3 (both) present,
//                       0307 for none
//   04 31 r, 04 32 r v  RF chip register r: read [v], write
// and block reads and writes reach an Ultralight C card's pages.
// Failures answer with the card_status words of mifare_card.h; replies are
// [status BE16][spare 00][data].
//
// Scheduled changes count the card commands above, from the call on: the
// change happens right after the k-th of them is answered.
//
// Thread safety: handlers run on the simulator thread (under the model's
// lock); every member takes the field's own lock, so a test may insert or
// remove cards while the simulator runs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/contactless_card.h"
#include "sim/mifare_card.h"
#include "sim/r42_reader_model.h"

class CardField : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;
  // A card operation's card_status word and, on success, its data.
  struct Answer {
    uint16_t status;
    Bytes data;
  };

  // Card operations, each under the field's lock. Wake: every card not
  // halted (all: every card) becomes ready; the lowest UID's ATQA, low
  // byte first. Anticollision: the level's 4 UID bytes of the lowest ready
  // card (level 1: 88 U0 U1 U2 for a 7-byte UID). Select: the ready card
  // with those bytes; its SAK (04 at level 1 of a 7-byte UID).
  Answer wakeCards(bool all);
  Answer anticollide(int level);
  Answer selectCard(int level, const uint8_t uid[4]);
  Answer haltCard();
  // A failed authentication deselects the card.
  Answer authenticateCard(uint8_t key_byte, int block, const uint8_t key[6]);
  Answer readBlock(int block);
  Answer writeBlock(int block, const uint8_t data[16]);
  // `f` on the selected sector card; kNoCard when none is selected.
  uint16_t onSelected(const std::function<uint16_t(MifareCard&)>& f);

  // Registers the card commands with the model; the field must outlive it.
  void attach(R42ReaderModel& model);

  // Puts a card into the field (idle); returns its id.
  int insert(MifareCard card);
  int insert(std::shared_ptr<ContactlessCard> card);
  void remove(int id);
  void removeAfter(int id, int k);
  // The id the card will have once inserted.
  int insertAfter(MifareCard card, int k);

  bool present(int id) const;
  // A copy of the card's current state (a default 1K card if it is gone).
  MifareCard card(int id) const;
  // Runs `f` on the card under the lock (no-op when it is gone).
  void edit(int id, const std::function<void(MifareCard&)>& f);
  size_t commandCount() const;

  // One card command, as the model hands it over.
  Bytes answer(const Bytes& request);
  // The same for a model state's attachment: nothing for other commands.
  std::optional<Bytes> respond(const Bytes& request) override;
  uint8_t rfRegister(uint8_t n) const;

 private:
  enum class State { kIdle, kReady, kCascade, kActive, kHalted };
  struct Slot {
    int id;
    MifareCard card;  // for a processor card: its UID only
    State state;
    std::shared_ptr<ContactlessCard> cpu = nullptr;
  };
  struct Pending {
    int remaining;
    bool insert;
    int id;
    MifareCard card;
  };

  Bytes dispatch(uint16_t code, const uint8_t* p, size_t n);
  // The card operations; the caller holds the lock.
  Answer wake(bool all);
  Answer anticollision(int level);
  Answer select(int level, const uint8_t* uid);
  Answer halt();
  Answer authenticate(uint8_t key_byte, int block, const uint8_t* key);
  Answer read(int block);
  Answer write(int block, const uint8_t* data);
  Bytes processorCommand(uint16_t code, const uint8_t* p, size_t n);
  Bytes activate();
  Slot* selected();
  // The card that block commands reach: the selected one, else a woken
  // FM11RF005 card.
  Slot* blockTarget();
  Slot* find(int id);
  // Takes the card out of the field; the caller holds the lock.
  void take(int id);
  void deselect(Slot& slot);
  void runPending();
  template <typename F>
  auto locked(F f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f();
  }

  mutable std::mutex mu_;
  std::vector<Slot> cards_;
  std::vector<Pending> pending_;
  int next_id_ = 1;
  size_t commands_ = 0;
  std::array<uint8_t, 256> registers_{};
};
