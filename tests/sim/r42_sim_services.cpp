#include "sim/r42_sim_services.h"

#include <algorithm>

#include "platform/byte_cursor.h"
#include "sim/evp_oracle.h"
#include "sim/sim_replies.h"

namespace {

using Bytes = ServicesSim::Bytes;

constexpr uint16_t kMalformed = 0x6A80;
constexpr uint16_t kUnknownKey = 0x6A88;
constexpr uint16_t kWrongSecret = 0x6300;
constexpr uint16_t kBalanceShort = 0x9401;
constexpr int kLineWaitMs = 500;

Bytes first(const Bytes& bytes, size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + long(std::min(n, bytes.size())));
}

// [01][n][data] sets `field`; [00][n] reads at most n bytes of it.
Bytes counted_field(Bytes& field, ByteCursor& in) {
  uint8_t mode = 0, n = 0;
  if (!in.u8(mode) || !in.u8(n)) return sim_refused(kMalformed);
  if (mode == 0x00) return in.remaining() == 0 ? sim_ok(first(field, n)) : sim_refused(kMalformed);
  if (mode != 0x01 || in.remaining() != n) return sim_refused(kMalformed);
  field.assign(in.here(), in.here() + n);
  return sim_ok();
}

// [01][value] sets a one-byte setting; [00] reads it.
Bytes byte_field(uint8_t& field, ByteCursor& in) {
  uint8_t mode = 0;
  if (!in.u8(mode)) return sim_refused(kMalformed);
  if (mode == 0x00 && in.remaining() == 0) return sim_ok({field});
  if (mode == 0x01 && in.u8(field) && in.remaining() == 0) return sim_ok();
  return sim_refused(kMalformed);
}

}  // namespace

void ServicesSim::attach(R42ReaderModel& model) {
  const uint16_t codes[] = {0xB000, 0xB001, 0xB002, 0xB003, 0xB004, 0xB005, 0xB006, 0xB007,
                            0xB008, 0xB009, 0xB010, 0xB011, 0xB012, 0xC001, 0xC002, 0xC003,
                            0xC004, 0x0601, 0x0F18, 0x0F26, 0x0F27, 0x0F28, 0x0F29, 0x0F31,
                            0x0F32, 0x0712, 0x0713, 0x0714, 0x2200, 0xAF01, 0xAF02, 0xAF03,
                            0xAF04, 0xAF05, 0xAF06, 0xD001, 0x4000};
  for (uint16_t code : codes)
    model.addCommand(code, [this](const Bytes& request) { return answer(request); });
}

PtyPair& ServicesSim::serialLine() {
  std::lock_guard<std::mutex> lock(mu_);
  if (!line_) line_ = std::make_unique<PtyPair>();
  return *line_;
}

Bytes ServicesSim::answer(const Bytes& request) {
  std::lock_guard<std::mutex> lock(mu_);
  if (request.size() < 3) return sim_refused(kMalformed);
  const uint16_t code = uint16_t(request[0] << 8 | request[1]);
  const Bytes params(request.begin() + 3, request.end());
  switch (code >> 8) {
    case 0xB0:
      return terminal(code, params);
    case 0xC0:
      return cipher(code, params);
    case 0xD0: {
      auto it = params.empty() ? state_.tunnel_answers.end()
                               : state_.tunnel_answers.find(params[0]);
      return it != state_.tunnel_answers.end() ? it->second : sim_ok();
    }
    case 0x40: {
      const uint16_t inner = params.size() < 2 ? 0 : uint16_t(params[0] << 8 | params[1]);
      auto it = state_.module_answers.find(inner);
      return it != state_.module_answers.end() ? it->second : sim_ok({0x00, 0x00});
    }
    default:
      return settings(code, params);
  }
}

Bytes ServicesSim::terminal(uint16_t code, const Bytes& params) {
  ByteCursor in(params.data(), params.size());
  State& s = state_;
  uint32_t amount = 0;
  switch (code) {
    case 0xB000:
      ++s.flash_cards;
      return sim_ok();
    case 0xB001:
      return sim_ok({uint8_t(s.balance >> 24), uint8_t(s.balance >> 16), uint8_t(s.balance >> 8),
                 uint8_t(s.balance)});
    case 0xB002:
      if (!in.be32(amount) || in.remaining() != 3) return sim_refused(kMalformed);
      if (!std::equal(s.wallet_secret.begin(), s.wallet_secret.end(), in.here()))
        return sim_refused(kWrongSecret);
      if (amount > s.balance) return sim_refused(kBalanceShort);
      s.balance -= amount;
      return sim_ok();
    case 0xB003:
      if (!in.be32(amount) || in.remaining() != 0) return sim_refused(kMalformed);
      s.balance += amount;
      return sim_ok();
    case 0xB004:
      if (params.size() != 16) return sim_refused(kMalformed);
      s.authentication = params;
      return sim_ok();
    case 0xB005:
      return counted_field(s.terminal_number, in);
    case 0xB006:
      return counted_field(s.merchant_code, in);
    case 0xB009:
      return counted_field(s.hardware_serial, in);
    case 0xB007:
      return byte_field(s.transaction_type, in);
    case 0xB008:
      if (params == Bytes{0x00}) return sim_ok(s.trade_key);
      if (params.size() != 9 || params[0] != 0x01) return sim_refused(kMalformed);
      s.trade_key.assign(params.begin() + 1, params.end());
      return sim_ok();
    case 0xB010:
      ++s.factory_resets;
      s.terminal_number.clear();
      s.merchant_code.clear();
      s.hardware_serial.clear();
      s.transaction_type = 0;
      s.trade_key.assign(8, 0);
      return sim_ok();
    case 0xB011:
      if (params.size() != 1) return sim_refused(kMalformed);
      return sim_ok(first(s.sign_parameters, params[0]));
    case 0xB012: {
      if (params.size() != 2) return sim_refused(kMalformed);
      const std::vector<Bytes>& table = s.records[params[0]];
      Bytes data = {uint8_t(table.size())};
      if (params[1] < table.size())
        data.insert(data.end(), table[params[1]].begin(), table[params[1]].end());
      return sim_ok(data);
    }
    default:
      return sim_refused(kMalformed);
  }
}

Bytes ServicesSim::cipher(uint16_t code, const Bytes& params) {
  State& s = state_;
  ByteCursor in(params.data(), params.size());
  uint8_t keytype = 0, enmode = 0;
  switch (code) {
    case 0xC001:
      if (!in.u8(s.kb_key_id) || in.remaining() != 0) return sim_refused(kMalformed);
      return sim_ok();
    case 0xC002:
      return sim_ok();
    case 0xC003:
      return sim_ok(s.en_pass);
    case 0xC004:
      break;
    default:
      return sim_refused(kMalformed);
  }
  if (!in.u8(keytype) || !in.u8(enmode) || (in.remaining() != 8 && in.remaining() != 16) ||
      (enmode & 0x0F) > 1 || (enmode >> 4) > 3)
    return sim_refused(kMalformed);
  auto key = s.key_table.find(keytype);
  if (key == s.key_table.end() || key->second.size() != 24) return sim_refused(kUnknownKey);
  ++s.cipher_calls;
  const Bytes block(in.here(), in.here() + in.remaining());
  const bool encrypt = (enmode & 0x0F) == 0;
  const uint8_t part = enmode >> 4;
  if (block.size() == 16)
    return sim_ok(evp_cipher("SM4-ECB", first(key->second, 16), {}, block, encrypt ? 1 : 0));
  const Bytes des_key = part == 0 ? key->second
                                  : Bytes(key->second.begin() + 8 * (part - 1),
                                          key->second.begin() + 8 * part);
  return sim_ok(evp_des_ecb(des_key, block, encrypt));
}

Bytes ServicesSim::settings(uint16_t code, const Bytes& params) {
  State& s = state_;
  ByteCursor in(params.data(), params.size());
  // A set of one byte: exactly that byte after the header.
  auto set = [&](uint8_t& field) {
    if (params.size() != 1) return sim_refused(kMalformed);
    field = params[0];
    return sim_ok();
  };
  switch (code) {
    case 0x0601:
      return sim_ok(Bytes(s.reader_pin.begin(), s.reader_pin.end()));
    case 0x0F18:
      if (params.size() != 68) return sim_refused(kMalformed);
      s.config = params;
      return sim_ok();
    case 0x0F26:
      return set(s.cpu_616c);
    case 0x0F27:
      return sim_ok({s.cpu_616c});
    case 0x0F28:
      return sim_ok({s.device_baud});
    case 0x0F29:
      return sim_ok({s.usb_mode});
    case 0x0F31:
      return set(s.pps);
    case 0x0F32:
      return sim_ok({s.pps_read_back.value_or(s.pps)});
    case 0x0712:
      return set(s.mag_format);
    case 0x0713:
      return sim_ok({s.mag_format});
    case 0x0714:
      return sim_ok(s.mag);
    case 0x2200:
      return byte_field(s.pinpad_baud, in);
    case 0xAF01:
      return sim_ok(s.nic_mac);
    case 0xAF02:
      s.nic_mac = params;
      return sim_ok();
    case 0xAF03:
    case 0xAF04:
    case 0xAF06:
      return sim_ok();
    case 0xAF05:
      return loopBack(params);
    default:
      return sim_refused(kMalformed);
  }
}

Bytes ServicesSim::loopBack(const Bytes& params) {
  if (params.size() < 2 || params[1] != params.size() - 2 || !line_) return sim_refused(kMalformed);
  const Bytes arrived = line_->readExact(params[1], kLineWaitMs);
  line_->writeAll(arrived);
  Bytes data = {uint8_t(arrived.size())};
  data.insert(data.end(), arrived.begin(), arrived.end());
  if (state_.garble_line_reply && data.size() > 1) data[1] ^= 0xFF;
  return sim_ok(data);
}
