#include "sim/pinpad_sim.h"

#include <algorithm>
#include <optional>

#include "platform/byte_cursor.h"
#include "sim/evp_oracle.h"
#include "sim/sim_replies.h"

namespace {

using Bytes = PinpadSim::Bytes;

constexpr uint8_t kDone = 0xAA;
constexpr uint8_t kBusy = 0xBB;
constexpr uint8_t kError = 0xEE;
constexpr size_t kKeySize = 16;

// Nibble characters back to bytes; nothing for an odd count or a character
// outside '0'..'?'.
std::optional<Bytes> from_digits(const Bytes& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  for (size_t i = 0; i < text.size(); i += 2) {
    const uint8_t high = uint8_t(text[i] - '0'), low = uint8_t(text[i + 1] - '0');
    if (high > 0x0F || low > 0x0F) return std::nullopt;
    out.push_back(uint8_t(high << 4 | low));
  }
  return out;
}

Bytes slice(const Bytes& bytes, size_t at, size_t n) {
  return Bytes(bytes.begin() + long(at), bytes.begin() + long(at + n));
}

}  // namespace

void PinpadSim::attach(R42ReaderModel& model) {
  for (uint16_t code : {uint16_t(0x2201), uint16_t(0x2202)})
    model.addCommand(code, [this](const Bytes& request) { return answer(request); });
}

Bytes PinpadSim::answer(const Bytes& request) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!state_.present) return sim_refused(kNoPadStatus);
  ByteCursor in(request.data(), request.size());
  uint16_t code = 0, count = 0;
  uint8_t skip = 0, short_count = 0;
  in.be16(code);
  in.u8(skip);
  bool ok = false;
  if (code == 0x2201) {
    ok = in.u8(skip) && in.u8(short_count);
    count = short_count;
  } else {
    ok = in.skip(2) && in.be16(count);
  }
  if (!ok || count != in.remaining()) return sim_refused(0x6A80);
  const Bytes frame(in.here(), in.here() + count);
  state_.frames.push_back(frame);
  return sim_ok(frameAnswer(frame));
}

Bytes PinpadSim::frameAnswer(const Bytes& frame) {
  if (frame.size() == 2 && frame[0] == 0xA1) return state_.pin_answer;
  const size_t n = frame.size();
  if (n < 4 || frame[0] != 0x1B || frame[n - 2] != 0x0D || frame[n - 1] != 0x0A)
    return {kError};
  return escape(frame[1], slice(frame, 2, n - 4));
}

Bytes PinpadSim::workKey() const {
  auto it = state_.work_keys.find(state_.active);
  if (it == state_.work_keys.end()) return {};
  return state_.key_length == 0x08 ? slice(it->second, 0, 8) : it->second;
}

Bytes PinpadSim::escape(uint8_t letter, const Bytes& body) {
  switch (letter) {
    case 0xF8:
      return Bytes(state_.version.begin(), state_.version.end());
    case 0xFD:
      if (body.size() != 1) return {kError};
      state_.voices.push_back(body[0]);
      return {kDone};
    case 'R':
      return {kDone};
    case 'M': {
      const auto keys = from_digits(body);
      if (!keys || keys->size() != 1 + 2 * kKeySize) return {kError};
      Bytes& main = state_.main_keys[(*keys)[0]];
      if (main.empty()) main.assign(kKeySize, 0);
      if (slice(*keys, 1, kKeySize) != main) return {kError};
      main = slice(*keys, 1 + kKeySize, kKeySize);
      return {kDone};
    }
    case 'S': {
      const auto keys = from_digits(body);
      if (!keys || keys->size() != 2 + kKeySize) return {kError};
      Bytes main = state_.main_keys[(*keys)[0]];
      if (main.empty()) main.assign(kKeySize, 0);
      state_.work_keys[{(*keys)[0], (*keys)[1]}] =
          evp_des_ecb(main, slice(*keys, 2, kKeySize), false);
      return {kDone};
    }
    case 'A': {
      const auto sets = from_digits(body);
      if (!sets || sets->size() != 2 || !state_.work_keys.count({(*sets)[0], (*sets)[1]}))
        return {kError};
      state_.active = {(*sets)[0], (*sets)[1]};
      return {kDone};
    }
    case 'N': {
      const auto length = from_digits(body);
      if (!length || length->size() != 1 || ((*length)[0] != 0x08 && (*length)[0] != 0x10))
        return {kError};
      state_.key_length = (*length)[0];
      return {kDone};
    }
    case 'H': {
      const Bytes key = workKey();
      if (body.empty() || (body[0] != '0' && body[0] != '1') || (body.size() - 1) % 8 != 0 ||
          key.empty())
        return {kError};
      if (body.size() == 1) return {};
      return evp_des_ecb(key, slice(body, 1, body.size() - 1), body[0] == '0');
    }
    case 'E':
    case 'G': {
      const Bytes key = workKey();
      if (key.empty()) return {kError};
      Bytes data = body;
      data.resize((data.size() + 7) / 8 * 8, 0);
      Bytes mac(8, 0);
      for (size_t at = 0; at < data.size(); at += 8) {
        for (size_t i = 0; i < 8; ++i) mac[i] ^= data[at + i];
        mac = evp_des_ecb(key, mac, true);
      }
      return mac;
    }
    case 'F':
    case 'I':
      if (body.size() != (letter == 'F' ? 2u : 14u)) return {kError};
      return state_.pin_answer;
    case 'P':
      if (body.size() != 2 || body[0] != '0') return {kError};
      state_.des_selections.push_back(body[1]);
      return {kDone};
    case 'D':
      state_.display.emplace_back(body.begin(), body.end());
      return {kDone};
    case 0xDA: {
      if (body.size() != 1) return {kError};
      if (body[0] == 0x00) return {kDone};
      if (body[0] == 0x01) {
        const size_t n = std::min(kBarcodePiece, state_.barcode.size() - state_.barcode_sent);
        const Bytes piece = slice(state_.barcode, state_.barcode_sent, n);
        state_.barcode_sent += n;
        return piece;
      }
      if (body[0] == 0x02) {
        if (state_.busy_exits > 0) {
          --state_.busy_exits;
          return {kBusy};
        }
        return {kDone};
      }
      return {kError};
    }
    default:
      return {kError};
  }
}
