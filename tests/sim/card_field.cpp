#include "sim/card_field.h"

#include <algorithm>
#include <cstring>

#include "sim/r42_reader_model.h"

namespace {

using Bytes = CardField::Bytes;

Bytes status_reply(uint16_t status, const Bytes& data = {}) {
  return R42ReaderModel::reply(status, 0x00, data);
}

uint32_t be32_at(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool is_classic(const MifareCard& card) {
  return card.kind() != MifareCard::Kind::kFm11rf005;
}

constexpr uint16_t kFieldCodes[] = {0x0433, 0x0401, 0x0434, 0x0435, 0x0437, 0x0404, 0x0405,
                                    0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x0443,
                                    0x0410, 0x0411, 0x0436, 0x040C, 0x044A, 0x0446, 0x0431,
                                    0x0432};
constexpr uint16_t kNoCardPresent = 0x0307;
constexpr uint8_t kKindA = 0x0A, kKindB = 0x0B;

uint16_t be16_at(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

using Cpu = std::shared_ptr<ContactlessCard>;
bool answers_type_a(const Cpu& cpu) { return !cpu || cpu->type() == ContactlessCard::Type::kA; }
uint16_t atqa_of(const MifareCard& card, const Cpu& cpu) { return cpu ? cpu->atqa() : card.atqa(); }
uint8_t sak_of(const MifareCard& card, const Cpu& cpu) { return cpu ? cpu->sak() : card.sak(); }

// Answers of a processor card as the reader frames them: the length, then
// the card's bytes.
Bytes counted(const ContactlessCard::Bytes& data) {
  Bytes out{uint8_t(data.size() >> 8), uint8_t(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  return status_reply(card_status::kOk, out);
}

}  // namespace

void CardField::attach(R42ReaderModel& model) {
  for (uint16_t code : kFieldCodes)
    model.addCommand(code, [this](const Bytes& request) { return answer(request); });
}

std::optional<Bytes> CardField::respond(const Bytes& request) {
  if (request.size() < 2) return std::nullopt;
  const uint16_t code = be16_at(request.data());
  for (uint16_t known : kFieldCodes)
    if (known == code) return answer(request);
  return std::nullopt;
}

uint8_t CardField::rfRegister(uint8_t n) const {
  std::lock_guard<std::mutex> lock(mu_);
  return registers_[n];
}

int CardField::insert(MifareCard card) {
  std::lock_guard<std::mutex> lock(mu_);
  const int id = next_id_++;
  cards_.push_back(Slot{id, std::move(card), State::kIdle});
  return id;
}

int CardField::insert(std::shared_ptr<ContactlessCard> card) {
  std::lock_guard<std::mutex> lock(mu_);
  const int id = next_id_++;
  MifareCard face = MifareCard::classic1k(card->uid());
  cards_.push_back(Slot{id, std::move(face), State::kIdle, std::move(card)});
  return id;
}

void CardField::remove(int id) {
  std::lock_guard<std::mutex> lock(mu_);
  take(id);
}

void CardField::removeAfter(int id, int k) {
  std::lock_guard<std::mutex> lock(mu_);
  pending_.push_back(Pending{k, false, id, MifareCard::classic1k({0, 0, 0, 0})});
}

int CardField::insertAfter(MifareCard card, int k) {
  std::lock_guard<std::mutex> lock(mu_);
  const int id = next_id_++;
  pending_.push_back(Pending{k, true, id, std::move(card)});
  return id;
}

bool CardField::present(int id) const {
  std::lock_guard<std::mutex> lock(mu_);
  return std::any_of(cards_.begin(), cards_.end(), [id](const Slot& s) { return s.id == id; });
}

MifareCard CardField::card(int id) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const Slot& s : cards_)
    if (s.id == id) return s.card;
  return MifareCard::classic1k({0, 0, 0, 0});
}

void CardField::edit(int id, const std::function<void(MifareCard&)>& f) {
  std::lock_guard<std::mutex> lock(mu_);
  if (Slot* slot = find(id)) f(slot->card);
}

size_t CardField::commandCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

Bytes CardField::answer(const Bytes& request) {
  std::lock_guard<std::mutex> lock(mu_);
  ++commands_;
  Bytes reply = request.size() < 3
                    ? status_reply(card_status::kBadRequest)
                    : dispatch(uint16_t(request[0] << 8 | request[1]), request.data() + 3,
                               request.size() - 3);
  runPending();
  return reply;
}

void CardField::runPending() {
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (--it->remaining > 0) {
      ++it;
      continue;
    }
    if (it->insert) {
      cards_.push_back(Slot{it->id, std::move(it->card), State::kIdle});
    } else {
      take(it->id);
    }
    it = pending_.erase(it);
  }
}

CardField::Slot* CardField::find(int id) {
  for (Slot& s : cards_)
    if (s.id == id) return &s;
  return nullptr;
}

void CardField::take(int id) {
  cards_.erase(std::remove_if(cards_.begin(), cards_.end(),
                              [id](const Slot& s) { return s.id == id; }),
               cards_.end());
}

CardField::Slot* CardField::selected() {
  for (Slot& s : cards_)
    if (s.state == State::kActive) return &s;
  return nullptr;
}

CardField::Slot* CardField::blockTarget() {
  if (Slot* s = selected()) return s;
  for (Slot& s : cards_)
    if (s.state == State::kReady && !is_classic(s.card)) return &s;
  return nullptr;
}

void CardField::deselect(Slot& slot) {
  slot.card.clearAuth();
  slot.state = State::kIdle;
}

Bytes CardField::dispatch(uint16_t code, const uint8_t* p, size_t n) {
  using namespace card_status;
  auto reply = [](const Answer& a) { return status_reply(a.status, a.data); };
  switch (code) {
    case 0x0433:
      if (n != 1 || (p[0] != 0x26 && p[0] != 0x52)) break;
      return reply(wake(p[0] == 0x52));
    case 0x0401: {
      if (n != 1 || (p[0] != 0x26 && p[0] != 0x52)) break;
      Slot* s = selected();
      if (s == nullptr) return status_reply(kNoCard);
      const uint16_t atqa = atqa_of(s->card, s->cpu);
      return status_reply(kOk, {uint8_t(atqa), uint8_t(atqa >> 8)});
    }
    case 0x0434: {
      if (n != 1 || (p[0] != 0x93 && p[0] != 0x95)) break;
      Answer a = anticollision(p[0] == 0x93 ? 1 : 2);
      if (a.status == kOk) a.data.insert(a.data.begin(), 0x00);
      return reply(a);
    }
    case 0x0435:
      if (n != 6 || (p[0] != 0x93 && p[0] != 0x95) || p[1] != 0x04) break;
      return reply(select(p[0] == 0x93 ? 1 : 2, p + 2));
    case 0x0437:
      if (n != 0) break;
      return reply(halt());
    case 0x0404:
      if (n != 8) break;
      return reply(authenticate(p[0], p[1], p + 2));
    case 0x0405:
      if (n != 1) break;
      return reply(read(p[0]));
    case 0x0406:
      if (n != 17) break;
      return reply(write(p[0], p + 1));
    case 0x0443: case 0x0410: case 0x0411: case 0x0436: case 0x040C:
    case 0x044A: case 0x0446: case 0x0431: case 0x0432:
      return processorCommand(code, p, n);
    default:
      break;
  }
  if (code < 0x0407 || code > 0x040B) return status_reply(kBadRequest);
  // Value blocks: the selected sector card only.
  Slot* s = selected();
  const size_t expected = code == 0x0408 ? 1 : code == 0x040B ? 2 : 5;
  if (n != expected) return status_reply(kBadRequest);
  if (s == nullptr || !is_classic(s->card) || s->cpu) return status_reply(kNoCard);
  MifareCard& card = s->card;
  switch (code) {
    case 0x0407:
      return status_reply(card.initValue(p[0], int32_t(be32_at(p + 1))));
    case 0x0408: {
      int32_t value = 0;
      const uint16_t status = card.readValue(p[0], &value);
      if (status != kOk) return status_reply(status);
      const uint32_t v = uint32_t(value);
      return status_reply(kOk, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    }
    case 0x0409:
      return status_reply(card.addValue(p[0], be32_at(p + 1), true));
    case 0x040A: {
      const bool light_copy = card.kind() == MifareCard::Kind::kLight && (p[0] == 4 || p[0] == 5);
      if (!light_copy) return status_reply(card.addValue(p[0], be32_at(p + 1), false));
      const uint32_t amount = be32_at(p + 1);
      if (amount > 0xFFFF) return status_reply(kOverflow);
      return status_reply(card.lightDecrement(p[0] == 4 ? 1 : 2, uint16_t(amount)));
    }
    default:
      return status_reply(card.transfer(p[0], p[1]));
  }
}

CardField::Answer CardField::wake(bool all) {
  const Slot* lowest = nullptr;
  for (Slot& s : cards_) {
    s.card.clearAuth();
    if (!answers_type_a(s.cpu) || (s.state == State::kHalted && !all)) continue;
    s.state = State::kReady;
    if (lowest == nullptr || s.card.uid() < lowest->card.uid()) lowest = &s;
  }
  if (lowest == nullptr) return {card_status::kNoCard, {}};
  const uint16_t atqa = atqa_of(lowest->card, lowest->cpu);
  return {card_status::kOk, {uint8_t(atqa), uint8_t(atqa >> 8)}};
}

CardField::Answer CardField::anticollision(int level) {
  const Slot* found = nullptr;
  for (const Slot& s : cards_) {
    if (level == 1 && s.state == State::kReady && is_classic(s.card) && answers_type_a(s.cpu) &&
        (found == nullptr || s.card.uid() < found->card.uid()))
      found = &s;
    if (level == 2 && s.state == State::kCascade) found = &s;
  }
  if (found == nullptr) return {card_status::kNoCard, {}};
  const auto uid = level == 1 ? found->card.level1() : found->card.level2();
  return {card_status::kOk, Bytes(uid.begin(), uid.end())};
}

CardField::Answer CardField::select(int level, const uint8_t* uid) {
  Slot* match = nullptr;
  for (Slot& s : cards_) {
    if (!is_classic(s.card) || !answers_type_a(s.cpu)) continue;
    const auto bytes = level == 1 ? s.card.level1() : s.card.level2();
    const State wanted = level == 1 ? State::kReady : State::kCascade;
    if (s.state == wanted && std::memcmp(bytes.data(), uid, 4) == 0) match = &s;
  }
  if (match == nullptr) return {card_status::kNoCard, {}};
  for (Slot& s : cards_)
    if (&s != match && s.state != State::kHalted) deselect(s);
  const bool cascade = level == 1 && match->card.uid().size() == 7;
  match->state = cascade ? State::kCascade : State::kActive;
  return {card_status::kOk, {uint8_t(cascade ? 0x04 : sak_of(match->card, match->cpu))}};
}

CardField::Answer CardField::halt() {
  Slot* s = selected();
  if (s == nullptr) return {card_status::kNoCard, {}};
  s->card.clearAuth();
  s->state = State::kHalted;
  return {card_status::kOk, {}};
}

CardField::Answer CardField::authenticate(uint8_t key_byte, int block, const uint8_t* key) {
  Slot* s = selected();
  if (s == nullptr) return {card_status::kNoCard, {}};
  if (s->cpu) return {card_status::kAuthFailed, {}};
  const uint16_t status = s->card.authenticate(key_byte, block, key);
  if (status != card_status::kOk) deselect(*s);
  return {status, {}};
}

CardField::Answer CardField::read(int block) {
  Slot* s = blockTarget();
  if (s == nullptr) return {card_status::kNoCard, {}};
  MifareCard::Block data{};
  uint16_t status = card_status::kOk;
  if (s->cpu)
    status = s->cpu->readPages(uint8_t(block), data.data()) ? card_status::kOk
                                                             : card_status::kAccessRefused;
  else
    status = s->card.read(block, &data);
  if (status != card_status::kOk) return {status, {}};
  return {status, Bytes(data.begin(), data.end())};
}

CardField::Answer CardField::write(int block, const uint8_t* data) {
  Slot* s = blockTarget();
  if (s == nullptr) return {card_status::kNoCard, {}};
  if (s->cpu)
    return {s->cpu->writePage(uint8_t(block), data) ? card_status::kOk
                                                    : card_status::kAccessRefused, {}};
  return {s->card.write(block, data), {}};
}

CardField::Answer CardField::wakeCards(bool all) {
  return locked([&] { return wake(all); });
}
CardField::Answer CardField::anticollide(int level) {
  return locked([&] { return anticollision(level); });
}
CardField::Answer CardField::selectCard(int level, const uint8_t uid[4]) {
  return locked([&] { return select(level, uid); });
}
CardField::Answer CardField::haltCard() { return locked([&] { return halt(); }); }
CardField::Answer CardField::authenticateCard(uint8_t key_byte, int block, const uint8_t key[6]) {
  return locked([&] { return authenticate(key_byte, block, key); });
}
CardField::Answer CardField::readBlock(int block) { return locked([&] { return read(block); }); }
CardField::Answer CardField::writeBlock(int block, const uint8_t data[16]) {
  return locked([&] { return write(block, data); });
}

uint16_t CardField::onSelected(const std::function<uint16_t(MifareCard&)>& f) {
  std::lock_guard<std::mutex> lock(mu_);
  Slot* s = selected();
  if (s == nullptr || !is_classic(s->card) || s->cpu) return card_status::kNoCard;
  return f(s->card);
}

Bytes CardField::activate() {
  Slot* target = selected();
  if (target == nullptr || !target->cpu) {
    target = nullptr;
    for (Slot& s : cards_)
      if (s.cpu && s.state != State::kHalted &&
          (target == nullptr || s.cpu->uid() < target->cpu->uid()))
        target = &s;
  }
  if (target == nullptr) return status_reply(card_status::kNoCard);
  for (Slot& s : cards_)
    if (&s != target && s.state != State::kHalted) deselect(s);
  target->state = State::kActive;
  const ContactlessCard& cpu = *target->cpu;
  const Bytes uid = cpu.uid(), answer = cpu.activationAnswer();
  Bytes data{cpu.type() == ContactlessCard::Type::kA ? kKindA : kKindB, uint8_t(uid.size())};
  data.insert(data.end(), uid.begin(), uid.end());
  data.push_back(uint8_t(answer.size()));
  data.insert(data.end(), answer.begin(), answer.end());
  return status_reply(card_status::kOk, data);
}

Bytes CardField::processorCommand(uint16_t code, const uint8_t* p, size_t n) {
  using namespace card_status;
  Slot* active = selected();
  ContactlessCard* cpu = active != nullptr ? active->cpu.get() : nullptr;
  switch (code) {
    case 0x0443:
    case 0x0410:
      if (n != 0) break;
      return activate();
    case 0x0411:
    case 0x0436: {
      const size_t head = code == 0x0411 ? 2 : 4;
      if (n < head || (code == 0x0436 && (p[0] != 0x0A || p[1] != 0x01))) break;
      const size_t length = be16_at(p + head - 2);
      // A plain frame may carry one more byte: the CRC setting.
      if (n != head + length && !(code == 0x0436 && n == head + length + 1)) break;
      if (cpu == nullptr) return status_reply(kNoCard);
      const Bytes data(p + head, p + head + length);
      const auto response = code == 0x0411 ? cpu->apdu(data) : cpu->frame(data);
      if (!response) return status_reply(kNoCard);
      return counted(*response);
    }
    case 0x040C:
      if (n != 2 || be16_at(p) != 100) break;
      if (cpu == nullptr) return status_reply(kNoCard);
      cpu->deactivate();
      active->state = State::kHalted;
      return status_reply(kOk);
    case 0x044A:
      if (n != 0) break;
      if (cards_.empty()) return status_reply(kNoCardPresent);
      return status_reply(kOk, {0x01, 0x00});
    case 0x0446: {
      if (n != 0) break;
      uint16_t present = 0;
      for (const Slot& s : cards_) present |= answers_type_a(s.cpu) ? 1 : 2;
      return status_reply(present == 0 ? kNoCardPresent : present);
    }
    case 0x0431:
      if (n != 1) break;
      return status_reply(kOk, {registers_[p[0]]});
    default:
      if (n != 2) break;
      registers_[p[0]] = p[1];
      return status_reply(kOk);
  }
  return status_reply(kBadRequest);
}
