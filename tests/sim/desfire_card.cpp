#include "sim/desfire_card.h"

#include "sim/sim_crypto.h"

using namespace sim_crypto;

DesfireCard::DesfireCard(Bytes key, Bytes rnd_b, uint8_t key_number)
    : key_(std::move(key)), rnd_b_(std::move(rnd_b)), key_number_(key_number) {}

std::optional<ContactlessCard::Bytes> DesfireCard::apdu(const Bytes& c) {
  log.push_back(c);
  const bool second = waiting_;
  waiting_ = false;
  if (c.size() == 2 && c[0] == 0x0A && c[1] == key_number_) {
    waiting_ = true;
    Bytes answer{0xAF};
    const Bytes token = des_ecb(key_, rnd_b_, true);
    answer.insert(answer.end(), token.begin(), token.end());
    return answer;
  }
  if (!second || c.size() != 17 || c[0] != 0xAF) return Bytes{0x1C};
  const Bytes d1(c.begin() + 1, c.begin() + 9), d2(c.begin() + 9, c.end());
  const Bytes rnd_a = des_ecb(key_, d1, true);
  if (xor_of(des_ecb(key_, d2, true), d1) != rotate_left(rnd_b_)) return Bytes{0xAE};
  recovered_rnd_a = rnd_a;
  Bytes answer{0x00};
  const Bytes proof = des_ecb(key_, rotate_left(rnd_a), true);
  answer.insert(answer.end(), proof.begin(), proof.end());
  return answer;
}
