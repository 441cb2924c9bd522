#include "sim/mifare_plus_card.h"

#include "sim/sim_crypto.h"

using namespace sim_crypto;

namespace {

using Bytes = ContactlessCard::Bytes;
const Bytes kZeroIv(16, 0x00);

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes le16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }

Bytes part(const Bytes& b, size_t at, size_t n) {
  return Bytes(b.begin() + long(at), b.begin() + long(at + n));
}

}  // namespace

MifarePlusCard::MifarePlusCard(int level_, Bytes rnd_b, Bytes ti)
    : level(level_), rnd_b_(std::move(rnd_b)), ti_(std::move(ti)) {}

Bytes MifarePlusCard::counters() const { return cat({le16(read_counter), le16(write_counter)}); }

Bytes MifarePlusCard::mac(uint8_t head, uint32_t counter, const Bytes& tail) const {
  return cmac8(mac_key, cat({{head}, le16(counter), ti_, tail}));
}

std::optional<Bytes> MifarePlusCard::frame(const Bytes& c) {
  log.push_back(c);
  if (level != 1) return Bytes{refusal};
  return authenticate(c, true);
}

std::optional<Bytes> MifarePlusCard::apdu(const Bytes& c) {
  log.push_back(c);
  if (c.empty()) return Bytes{refusal};
  if (level == 0) {
    if (c[0] == 0xA8 && c.size() == 19) {
      perso[uint16_t(c[1] | c[2] << 8)] = part(c, 3, 16);
      return Bytes{kOk};
    }
    if (c == Bytes{0xAA}) {
      level = 1;
      return Bytes{kOk};
    }
    return Bytes{refusal};
  }
  if (c[0] == 0x76 || c[0] == 0x72) return authenticate(c, false);
  if (next_error) {
    const uint8_t status = *next_error;
    next_error.reset();
    return Bytes{status};
  }
  if (!authenticated) return Bytes{kNotAuthenticated};
  if (c[0] == 0x33 || c[0] == 0x31) return read(c);
  if (c[0] == 0xA3 || c[0] == 0xA1) return write(c);
  return Bytes{refusal};
}

Bytes MifarePlusCard::authenticate(const Bytes& c, bool level1) {
  if (c[0] == 0x76 && c.size() == (level1 ? 3u : 4u) && (level1 || c[3] == 0x00)) {
    const uint16_t number = uint16_t(c[1] | c[2] << 8);
    if ((level1 && number != 0x9004) || !keys.count(number)) return Bytes{kUnknownKey};
    pending_key_ = number;
    pending_level1_ = level1;
    return cat({{kOk}, aes_cbc(keys[number], kZeroIv, rnd_b_, true)});
  }
  const auto number = pending_key_;
  pending_key_.reset();
  if (c[0] != 0x72 || c.size() != 33 || !number || pending_level1_ != level1) return Bytes{refusal};
  if (!level1) {
    // Every attempt starts the session anew.
    authenticated = false;
    read_counter = write_counter = 0;
  }
  const Bytes& key = keys[*number];
  const Bytes plain = aes_cbc(key, kZeroIv, part(c, 1, 32), false);
  const Bytes rnd_a = part(plain, 0, 16);
  if (part(plain, 16, 16) != rotate_left(rnd_b_)) return Bytes{refusal};
  recovered_rnd_a = rnd_a;
  Bytes proof = rotate_left(rnd_a);
  if (bad_token) {
    proof[0] ^= 0xFF;
    bad_token = false;
  }
  if (level1) return cat({{kOk}, aes_cbc(key, kZeroIv, proof, true)});
  const Bytes& a = rnd_a;
  const Bytes& b = rnd_b_;
  const Bytes sv1 = cat({part(a, 11, 5), part(b, 11, 5), xor_of(part(a, 4, 5), part(b, 4, 5)), {0x11}});
  const Bytes sv2 = cat({part(a, 7, 5), part(b, 7, 5), xor_of(part(a, 0, 5), part(b, 0, 5)), {0x22}});
  enc_key = aes_cbc(key, kZeroIv, sv1, true);
  mac_key = aes_cbc(key, kZeroIv, sv2, true);
  authenticated = true;
  return cat({{kOk}, aes_cbc(key, kZeroIv, cat({ti_, proof, Bytes(12, 0x00)}), true)});
}

Bytes MifarePlusCard::read(const Bytes& c) {
  if (c.size() != 12) return Bytes{refusal};
  const Bytes bnr_n = part(c, 1, 3);
  if (mac(c[0], read_counter, bnr_n) != part(c, 4, 8)) return Bytes{kMacError};
  const uint16_t bnr = uint16_t(c[1] | c[2] << 8);
  Bytes data;
  for (uint16_t i = 0; i < c[3]; ++i) {
    auto it = blocks.find(uint16_t(bnr + i));
    const Bytes block = it == blocks.end() ? Bytes(16, 0x00) : it->second;
    data.insert(data.end(), block.begin(), block.end());
  }
  ++read_counter;
  if (c[0] == 0x31) data = aes_cbc(enc_key, cat({counters(), counters(), counters(), ti_}), data, true);
  Bytes response_mac = mac(kOk, read_counter, cat({bnr_n, data}));
  if (bad_mac) {
    response_mac[0] ^= 0xFF;
    bad_mac = false;
  }
  return cat({{kOk}, data, response_mac});
}

Bytes MifarePlusCard::write(const Bytes& c) {
  if (c.size() < 3 + 16 + 8 || (c.size() - 11) % 16 != 0) return Bytes{refusal};
  const size_t size = c.size() - 11;
  if (mac(c[0], write_counter, part(c, 1, 2 + size)) != part(c, 3 + size, 8)) return Bytes{kMacError};
  Bytes data = part(c, 3, size);
  if (c[0] == 0xA1) data = aes_cbc(enc_key, cat({ti_, counters(), counters(), counters()}), data, false);
  const uint16_t bnr = uint16_t(c[1] | c[2] << 8);
  for (size_t i = 0; i < size / 16; ++i) blocks[uint16_t(bnr + i)] = part(data, 16 * i, 16);
  ++write_counter;
  Bytes response_mac = mac(kOk, write_counter, {});
  if (bad_mac) {
    response_mac[0] ^= 0xFF;
    bad_mac = false;
  }
  return cat({{kOk}, response_mac});
}
