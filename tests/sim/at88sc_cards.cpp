#include "sim/at88sc_cards.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/byte_cursor.h"

namespace {

using Bytes = MemoryCard::Bytes;
namespace status = at88sc_status;

constexpr uint8_t kFreshCounter = 0x0F;

// Command numbers within a card's group (the low byte of the code).
enum Op : uint8_t {
  kCheck = 0x00,
  kPowerDown = 0x01,
  kRead = 0x02,
  kWrite = 0x03,
  kSelectZone = 0x04,
  kPresent = 0x05,
  kStartAuth = 0x06,
  kFinishAuth = 0x07,
  kWriteFuse = 0x08,
  kReadFuse = 0x09,
};
// The AT88SC102 and AT88SC1604 present codes with 04 and blow the fuse with 05.
constexpr uint8_t kPresentAddressed = 0x04;
constexpr uint8_t kBlowFuse = 0x05;

int set_bits(const uint8_t* counter, size_t size) {
  int bits = 0;
  for (size_t i = 0; i < size; ++i) bits += std::popcount(counter[i]);
  return bits;
}

// Checks `given` against `stored`. With a counter (big-endian, `size`
// bytes): none left locks the code, a wrong one clears its highest set bit,
// the right one sets it to 0F again.
uint16_t check_code(uint8_t* counter, size_t size, const uint8_t* stored, const uint8_t* given,
                    size_t length) {
  if (size != 0 && set_bits(counter, size) == 0) return status::kLocked;
  if (std::memcmp(stored, given, length) == 0) {
    if (size != 0) {
      std::fill(counter, counter + size, 0);
      counter[0] = kFreshCounter;
    }
    return memory_card_status::kOk;
  }
  for (size_t i = 0; i < size; ++i) {
    if (counter[i] != 0) {
      counter[i] = uint8_t(counter[i] & ~std::bit_floor(counter[i]));
      break;
    }
  }
  return status::kWrongPassword;
}

bool within(size_t offset, size_t length, size_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

// --- AT88SC102 and AT88SC1604 ---

At88scAddressedCard::At88scAddressedCard(uint16_t group, size_t size, std::vector<Zone> zones)
    : group(group), memory(size, 0xFF), zones(std::move(zones)) {
  for (const Zone& z : this->zones) {
    if (z.counter_size == 0) continue;
    std::fill_n(memory.begin() + long(z.counter), z.counter_size, 0);
    memory[z.counter] = kFreshCounter;
  }
}

At88scAddressedCard At88scAddressedCard::sc102() {
  return At88scAddressedCard(0x13, 196, {{0, 10, 2, 12, 2}, {11, 86, 6, 0, 0}, {12, 156, 4, 0, 0}});
}

At88scAddressedCard At88scAddressedCard::sc1604() {
  return At88scAddressedCard(0x14, 2048,
                             {{0, 10, 2, 12, 1},
                              {1, 21, 2, 23, 1},
                              {2, 1222, 2, 0, 0},
                              {3, 1483, 2, 0, 0},
                              {4, 1744, 2, 0, 0},
                              {11, 24, 2, 26, 1},
                              {12, 1224, 2, 1226, 1},
                              {13, 1485, 2, 1487, 1},
                              {14, 1746, 2, 1748, 1}});
}

const At88scAddressedCard::Zone* At88scAddressedCard::zone(int number) const {
  for (const Zone& z : zones)
    if (z.zone == number) return &z;
  return nullptr;
}

void At88scAddressedCard::set_password(int number, const Bytes& code) {
  const Zone* z = zone(number);
  std::copy_n(code.begin(), std::min(code.size(), z->length), memory.begin() + long(z->address));
}

int At88scAddressedCard::attempts(int number) const {
  const Zone* z = zone(number);
  return set_bits(memory.data() + z->counter, z->counter_size);
}

MemoryCardReply At88scAddressedCard::present(size_t address, size_t length, const uint8_t* code) {
  for (const Zone& z : zones) {
    if (z.address != address || z.length != length) continue;
    const uint16_t word =
        check_code(memory.data() + z.counter, z.counter_size, &memory[z.address], code, length);
    if (word == memory_card_status::kOk) presented.insert(z.zone);
    return answered(word);
  }
  return refused();
}

MemoryCardReply At88scAddressedCard::read(size_t offset, size_t length) const {
  if (!within(offset, length, memory.size())) return refused();
  return ok(Bytes(memory.begin() + long(offset), memory.begin() + long(offset + length)));
}

MemoryCardReply At88scAddressedCard::write(size_t offset, size_t length, const uint8_t* data) {
  if (!within(offset, length, memory.size())) return refused();
  if (presented.count(0) == 0) return answered(status::kNotPresented);
  std::copy_n(data, length, memory.begin() + long(offset));
  return ok();
}

std::optional<MemoryCard::Chunk> At88scAddressedCard::parse(uint8_t op,
                                                            const Bytes& params) const {
  const bool with_data = op != kRead;
  // The AT88SC1604 takes [address BE32][length BE32] as its chunks do.
  if (memory.size() > 0xFF) return parse_chunk(params, with_data, false, 0);
  if (params.size() < 2) return std::nullopt;
  Chunk request;
  request.offset = params[0];
  request.length = params[1];
  if (params.size() != 2 + (with_data ? request.length : 0)) return std::nullopt;
  request.data = params.data() + 2;
  return request;
}

std::optional<MemoryCardReply> At88scAddressedCard::answer(uint16_t code, const Bytes& params) {
  if (code >> 8 != group) return std::nullopt;
  const uint8_t op = uint8_t(code);
  if (op == kCheck || op == kPowerDown || op == kBlowFuse) {
    if (!params.empty()) return refused();
    if (op == kPowerDown) presented.clear();
    if (op == kBlowFuse) fused = true;
    return ok();
  }
  if (op != kRead && op != kWrite && op != kPresentAddressed) return refused();
  const std::optional<Chunk> request = parse(op, params);
  if (!request) return refused();
  if (op == kRead) return read(request->offset, request->length);
  if (op == kWrite) return write(request->offset, request->length, request->data);
  return present(request->offset, request->length, request->data);
}

// --- AT88SC1608 and AT88SC153 ---

At88scZonedCard::At88scZonedCard(uint16_t group, int zones, size_t user_size, size_t config_size,
                                 size_t password_base)
    : group(group),
      user_size(user_size),
      user_zones(size_t(zones), Bytes(user_size, 0xFF)),
      config(config_size, 0xFF),
      password_base(password_base),
      read_protected(size_t(zones), false),
      write_protected(size_t(zones), false) {
  for (int set = 0; password_at(set, 1) + 4 <= config.size(); ++set)
    for (int type = 0; type < 2; ++type) config[password_at(set, type)] = kFresh;
}

At88scZonedCard At88scZonedCard::sc1608() { return At88scZonedCard(0x18, 8, 256, 128, 0x40); }

At88scZonedCard At88scZonedCard::sc153() { return At88scZonedCard(0x19, 3, 64, 64, 0x28); }

size_t At88scZonedCard::password_at(int set, int type) const {
  return password_base + 8 * size_t(set) + 4 * size_t(type);
}

void At88scZonedCard::set_password(int set, int type, Code password) {
  std::copy(password.begin(), password.end(), config.begin() + long(password_at(set, type) + 1));
}

int At88scZonedCard::attempts(int set, int type) const {
  return std::popcount(config[password_at(set, type)]);
}

bool At88scZonedCard::may(int zone, bool write) const {
  const bool guarded = write ? write_protected[size_t(zone)] : read_protected[size_t(zone)];
  if (!guarded) return true;
  auto opened = presented.find(zone);
  // The write password (type 0) opens both ways, the read password reads.
  return opened != presented.end() && (opened->second == 0 || !write);
}

MemoryCardReply At88scZonedCard::transfer(bool write, const Bytes& params) {
  ByteCursor in(params.data(), params.size());
  uint8_t kind = 0, address = 0, count = 0;
  if (!in.u8(kind) || !in.u8(address) || !in.u8(count) || kind > 1) return refused();
  if (in.remaining() != (write ? count : 0u)) return refused();
  const bool user = kind == 0;
  if (user && !selected) return refused();
  Bytes& zone = user ? user_zones[*selected] : config;
  if (!within(address, count, zone.size())) return refused();
  if (user && !may(*selected, write)) return answered(status::kNotPresented);
  if (!write) return ok(Bytes(zone.begin() + address, zone.begin() + address + count));
  std::copy_n(in.here(), count, zone.begin() + address);
  return ok();
}

MemoryCardReply At88scZonedCard::present(const Bytes& params) {
  if (params.size() != 5 || params[1] > 1) return refused();
  const int set = params[0], type = params[1];
  const size_t at = password_at(set, type);
  if (at + 4 > config.size()) return refused();
  const uint16_t word = check_code(&config[at], 1, &config[at + 1], &params[2], 3);
  if (word == memory_card_status::kOk) {
    // A set opened for writing stays open for writing.
    auto [opened, fresh] = presented.emplace(set, type);
    if (!fresh) opened->second = std::min(opened->second, type);
  }
  return answered(word);
}

std::optional<MemoryCardReply> At88scZonedCard::answer(uint16_t code, const Bytes& params) {
  if (code >> 8 != group) return std::nullopt;
  const uint8_t op = uint8_t(code);
  switch (op) {
    case kCheck:
    case kPowerDown:
      if (!params.empty()) return refused();
      if (op == kPowerDown) {
        presented.clear();
        selected.reset();
        started.reset();
        authenticated = false;
      }
      return ok();
    case kRead:
    case kWrite:
      return transfer(op == kWrite, params);
    case kSelectZone:
      if (params.size() != 1 || params[0] >= user_zones.size()) return refused();
      selected = params[0];
      return ok();
    case kPresent:
      return present(params);
    case kStartAuth:
    case kFinishAuth: {
      Value value{};
      if (params.size() != value.size()) return refused();
      std::copy(params.begin(), params.end(), value.begin());
      if (op == kStartAuth) {
        started = value;
        authenticated = false;
        return ok();
      }
      auto expected = started ? auth_answers.find(*started) : auth_answers.end();
      authenticated = expected != auth_answers.end() && expected->second == value;
      return authenticated ? ok() : answered(status::kAuthRefused);
    }
    case kWriteFuse:
      if (!params.empty()) return refused();
      fuse = uint8_t(fuse & (fuse - 1));
      return ok();
    case kReadFuse:
      if (!params.empty()) return refused();
      return ok({fuse});
    default:
      return refused();
  }
}
