#include "sim/r42_reader_model.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_cursor.h"

namespace {

void put_text(R42ReaderModel::Bytes& area, size_t at, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) area[at + i] = i < text.size() ? uint8_t(text[i]) : ' ';
}

template <typename Map, typename Key>
uint8_t sparse_get(const Map& map, Key at) {
  auto it = map.find(at);
  return it == map.end() ? 0xFF : it->second;
}

}  // namespace

R42ReaderModel::R42ReaderModel() {
  state_.eeprom.assign(kEepromSize, 0xFF);
  const std::string serial = "KX000000000000000R42SIM000012345";
  std::memcpy(&state_.eeprom[1450], serial.data(), 32);
  put_text(state_.info, 0, "SIM-UID-0001", 32);
  put_text(state_.info, 32, "TRADE-7", 32);
  put_text(state_.info, 64, "TERM-42", 32);
  for (size_t i = 0; i < 8; ++i) state_.info[96 + i] = uint8_t(i + 1);
  state_.info[104] = 0xAA;
  state_.info[105] = 0x55;
  put_text(state_.info, 106, "R42 SIMULATOR", 32);
  state_.multi_flash[0].size = uint64_t(1) << 20;
  state_.multi_flash[1].size = uint64_t(1) << 40;
  state_.multi_flash[2].size = 0x123456789ABCull;
}

std::function<R42ReaderModel::Bytes(const R42ReaderModel::Bytes&)> R42ReaderModel::handler() {
  return [this](const Bytes& request) { return answer(request); };
}

void R42ReaderModel::addCommand(uint16_t code, CommandHandler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  extra_[code] = std::move(handler);
}

void R42ReaderModel::scriptReply(uint16_t code, Bytes reply, int nth, bool repeat) {
  std::lock_guard<std::mutex> lock(mu_);
  size_t first = counts_[code] + size_t(nth < 1 ? 1 : nth);
  scripts_.push_back(Script{code, first, repeat, std::move(reply)});
}

void R42ReaderModel::failWithStatus(uint16_t code, uint16_t status, int nth, bool repeat) {
  uint8_t spare = with([](State& s) { return s.spare_byte; });
  scriptReply(code, reply(status, spare), nth, repeat);
}

void R42ReaderModel::clearScripts() {
  std::lock_guard<std::mutex> lock(mu_);
  scripts_.clear();
}

R42ReaderModel::State R42ReaderModel::snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

std::vector<R42ReaderModel::Bytes> R42ReaderModel::log() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

void R42ReaderModel::clearLog() {
  std::lock_guard<std::mutex> lock(mu_);
  log_.clear();
}

size_t R42ReaderModel::count(uint16_t code) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = counts_.find(code);
  return it == counts_.end() ? 0 : it->second;
}

R42ReaderModel::Bytes R42ReaderModel::reply(uint16_t status, uint8_t spare, const Bytes& data) {
  Bytes out(3 + data.size());
  out[0] = uint8_t(status >> 8);
  out[1] = uint8_t(status);
  out[2] = spare;
  std::copy(data.begin(), data.end(), out.begin() + 3);
  return out;
}

R42ReaderModel::Bytes R42ReaderModel::ok(const Bytes& data) const {
  std::lock_guard<std::mutex> lock(mu_);
  return okLocked(data);
}

R42ReaderModel::Bytes R42ReaderModel::okLocked(const Bytes& data) const {
  return reply(0, state_.spare_byte, data);
}

R42ReaderModel::Bytes R42ReaderModel::errorLocked() const {
  return reply(state_.error_status, state_.spare_byte);
}

R42ReaderModel::Bytes R42ReaderModel::answer(const Bytes& request) {
  std::lock_guard<std::mutex> lock(mu_);
  log_.push_back(request);
  if (request.size() < 3) return errorLocked();
  const uint16_t code = uint16_t(request[0] << 8 | request[1]);
  const size_t seen = ++counts_[code];
  for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
    if (it->code != code || (it->repeat ? seen < it->first : seen != it->first)) continue;
    Bytes scripted = it->reply;
    if (!it->repeat) scripts_.erase(it);
    return scripted;
  }
  auto extra = extra_.find(code);
  if (extra != extra_.end()) return extra->second(request);
  for (const auto& attachment : state_.attachments)
    if (auto reply = attachment->respond(request)) return *reply;
  return answerLocked(request);
}

R42ReaderModel::Bytes R42ReaderModel::answerLocked(const Bytes& request) {
  const uint16_t code = uint16_t(request[0] << 8 | request[1]);
  const uint8_t* params = request.data() + 3;
  const size_t size = request.size() - 3;
  State& s = state_;
  if (MemoryCardSlot::claims(code)) {
    MemoryCardReply card = s.memory_card.answer(code, params, size);
    return reply(card.status, s.spare_byte, card.data);
  }
  switch (code) {
    case 0x0F10:
      if (size != 0) break;
      return okLocked(Bytes(s.version.begin(), s.version.end()));
    case 0x0F00:
      if (size != 0) break;
      ++s.updates;
      return okLocked();
    case 0x0F20:
      if (size != 0) break;
      ++s.device_resets;
      return okLocked();
    case 0x0F01:
      if (size != 0) break;
      ++s.commands_0f01;
      return okLocked();
    case 0x0F24:
      if (size != 1) break;
      s.baud_code = params[0];
      return okLocked();
    case 0x0F13:
      if (size != 0) break;
      return okLocked(s.query_0f13);
    case 0x0F40:
      if (size != 0) break;
      return okLocked(s.chip_id);
    case 0x0101:
      if (size != 2) break;
      s.beeps.push_back(uint16_t(params[0] << 8 | params[1]));
      return okLocked();
    case 0x0200:
      if (size != 2) break;
      s.leds[params[0]] = params[1];
      return okLocked();
    case 0x0201:
      if (size != 1) break;
      s.led_pulses.push_back(params[0]);
      return okLocked();
    case 0x0802:
      if (size != 1) break;
      s.backlight = params[0];
      return okLocked();
    case 0x040D:
      if (size != 0) break;
      ++s.field_offs;
      return okLocked();
    case 0x0400:
      if (size != 0) break;
      ++s.field_resets;
      return okLocked();
    case 0x1601:
      if (size != 0) break;
      return okLocked({uint8_t(s.year >> 8), uint8_t(s.year), s.month, s.day, s.hour, s.minute,
                       s.second});
    case 0x1600:
      if (size != 7) break;
      s.year = uint16_t(params[0] << 8 | params[1]);
      s.month = params[2];
      s.day = params[3];
      s.hour = params[4];
      s.minute = params[5];
      s.second = params[6];
      return okLocked();
    case 0x0500: case 0x0501: case 0x0502: case 0x0503:
    case 0x0508: case 0x0509: case 0x050A: case 0x050B:
      return chunked(code, params, size);
    case 0x0507: {
      if (size != 2) break;
      const uint16_t sector = uint16_t(params[0] << 8 | params[1]);
      const uint64_t from = uint64_t(sector) * kSectorSize;
      s.flash.erase(s.flash.lower_bound(uint32_t(from)),
                    s.flash.lower_bound(uint32_t(from + kSectorSize)));
      s.erased_flash_sectors.push_back(sector);
      return okLocked();
    }
    case 0x0516: case 0x0517: case 0x0518: case 0x0519:
      return multiFlash(code, params, size);
    case 0x051A: {
      if (size != 1) break;
      auto it = s.custom_serials.find(params[0]);
      if (it == s.custom_serials.end()) break;
      return okLocked(Bytes(it->second.begin(), it->second.end()));
    }
    case 0x051B:
      if (size < 1) break;
      s.custom_serials[params[0]] = std::string(params + 1, params + size);
      return okLocked();
    default:
      break;
  }
  return errorLocked();
}

R42ReaderModel::Bytes R42ReaderModel::chunked(uint16_t code, const uint8_t* params,
                                              size_t size) {
  ByteCursor in(params, size);
  uint32_t at = 0, length = 0;
  if (!in.be32(at) || !in.be32(length)) return errorLocked();
  const bool write = (code & 1) != 0;
  if (write ? in.remaining() != length : in.remaining() != 0) return errorLocked();
  if (!write && length > kMaxReply - 3) return errorLocked();
  const uint64_t end = uint64_t(at) + length;
  State& s = state_;
  Bytes* area = nullptr;
  std::map<uint32_t, uint8_t>* sparse = nullptr;
  switch (code & 0xFFFE) {
    case 0x0500: area = &s.eeprom; break;
    case 0x0502: area = &s.info; break;
    case 0x0508: sparse = &s.flash; break;
    default: sparse = &s.out_eeprom; break;
  }
  if (sparse != nullptr && end > (uint64_t(1) << 32)) return errorLocked();
  if (area != nullptr && end > area->size()) return errorLocked();
  if (write) {
    for (uint32_t i = 0; i < length; ++i) {
      if (area) (*area)[at + i] = in.here()[i];
      else (*sparse)[at + i] = in.here()[i];
    }
    return okLocked();
  }
  Bytes data(length);
  for (uint32_t i = 0; i < length; ++i)
    data[i] = area ? (*area)[at + i] : sparse_get(*sparse, at + i);
  return okLocked(data);
}

R42ReaderModel::Bytes R42ReaderModel::multiFlash(uint16_t code, const uint8_t* params,
                                                 size_t size) {
  ByteCursor in(params, size);
  uint8_t type = 0;
  if (!in.u8(type)) return errorLocked();
  auto region = state_.multi_flash.find(type);
  if (region == state_.multi_flash.end()) return errorLocked();
  MultiRegion& r = region->second;
  if (code == 0x0519) {
    if (in.remaining() != 0) return errorLocked();
    return okLocked({uint8_t(r.size >> 56), uint8_t(r.size >> 48), uint8_t(r.size >> 40),
                     uint8_t(r.size >> 32), uint8_t(r.size >> 24), uint8_t(r.size >> 16),
                     uint8_t(r.size >> 8), uint8_t(r.size)});
  }
  if (code == 0x0516) {
    uint32_t sector = 0;
    if (!in.be32(sector) || in.remaining() != 0) return errorLocked();
    const uint64_t from = uint64_t(sector) * kSectorSize;
    if (from >= r.size) return errorLocked();
    r.bytes.erase(r.bytes.lower_bound(from), r.bytes.lower_bound(from + kSectorSize));
    return okLocked();
  }
  uint32_t high = 0, low = 0, zero = 0, length = 0;
  if (!in.be32(high) || !in.be32(low) || !in.be32(zero) || !in.be32(length) || zero != 0)
    return errorLocked();
  const bool write = code == 0x0518;
  if (write ? in.remaining() != length : in.remaining() != 0) return errorLocked();
  if (!write && length > kMaxReply - 3) return errorLocked();
  const uint64_t at = uint64_t(high) << 32 | low;
  if (at > r.size || length > r.size - at) return errorLocked();
  if (write) {
    for (uint32_t i = 0; i < length; ++i) r.bytes[at + i] = in.here()[i];
    return okLocked();
  }
  Bytes data(length);
  for (uint32_t i = 0; i < length; ++i) data[i] = sparse_get(r.bytes, at + i);
  return okLocked(data);
}
