#include "sim/ultralight_c_card.h"

#include <cstring>

#include "sim/sim_crypto.h"

using namespace sim_crypto;

namespace {
constexpr int kKeyPage = 0x2C;
// Key byte that starts each key page (the page holds it and the three below).
constexpr int kPageFirstByte[4] = {7, 3, 15, 11};
const ContactlessCard::Bytes kZeroIv(8, 0x00);
}  // namespace

UltralightCCard::UltralightCCard(Bytes rnd_b) : rnd_b_(std::move(rnd_b)) {
  // Pages 2C-2F as delivered read "BREAKMEIFYOUCAN!".
  const char* delivered = "BREAKMEIFYOUCAN!";
  for (int p = 0; p < 4; ++p)
    for (int i = 0; i < 4; ++i) pages_[size_t(kKeyPage + p)][size_t(i)] = uint8_t(delivered[4 * p + i]);
  const Bytes id = uid();
  std::memcpy(pages_[0].data(), id.data(), 3);
  std::memcpy(pages_[1].data(), id.data() + 3, 4);
}

ContactlessCard::Bytes UltralightCCard::key() const {
  Bytes key(16);
  for (int p = 0; p < 4; ++p)
    for (int i = 0; i < 4; ++i) key[size_t(kPageFirstByte[p] - i)] = pages_[size_t(kKeyPage + p)][size_t(i)];
  return key;
}

std::optional<ContactlessCard::Bytes> UltralightCCard::frame(const Bytes& f) {
  const bool second = waiting_;
  waiting_ = false;
  if (f == Bytes{0x1A, 0x00}) {
    waiting_ = true;
    ek_rnd_b_ = des_cbc(key(), kZeroIv, rnd_b_, true);
    Bytes answer{0xAF};
    answer.insert(answer.end(), ek_rnd_b_.begin(), ek_rnd_b_.end());
    return answer;
  }
  if (!second || f.size() != 17 || f[0] != 0xAF) return Bytes{0x04};
  const Bytes c1(f.begin() + 1, f.begin() + 9), c2(f.begin() + 9, f.end());
  const Bytes plain = des_cbc(key(), ek_rnd_b_, Bytes(f.begin() + 1, f.end()), false);
  const Bytes rnd_a(plain.begin(), plain.begin() + 8);
  if (Bytes(plain.begin() + 8, plain.end()) != rotate_left(rnd_b_)) return Bytes{0x04};
  recovered_rnd_a = rnd_a;
  Bytes answer{0x00};
  const Bytes proof = des_cbc(key(), c2, rotate_left(rnd_a), true);
  answer.insert(answer.end(), proof.begin(), proof.end());
  return answer;
}

bool UltralightCCard::writePage(uint8_t page, const uint8_t* data) {
  if (page < 2 || page >= kPages) return false;
  std::memcpy(pages_[page].data(), data, 4);
  return true;
}

bool UltralightCCard::readPages(uint8_t page, uint8_t* out) {
  if (page >= kPages) return false;
  for (int i = 0; i < 4; ++i) std::memcpy(out + 4 * i, pages_[size_t((page + i) % kPages)].data(), 4);
  return true;
}
