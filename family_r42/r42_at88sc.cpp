// Atmel secure memory cards in the reader's contact slot: the AT88SC102 and
// AT88SC1604, whose passwords lie at fixed card addresses, and the
// AT88SC1608 and AT88SC153, whose memory is split into zones with passwords
// and mutual authentication. The reader runs the card protocol; the host
// picks addresses, zones and lengths and forwards passwords. Also the
// power-down of the SLE4428 and SLE4442 cards.
#include <bit>
#include <cstddef>
#include <span>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_chunked.h"
#include "family_r42/r42_device.h"

namespace {

// --- AT88SC102 and AT88SC1604 ---

// A password zone: the code's card address and length, and the attempt
// counter's address and size (size 0: the zone has no counter).
struct PasswordZone {
  int16_t zone;
  uint16_t address;
  uint8_t length;
  uint16_t counter;
  uint8_t counter_size;
};

constexpr PasswordZone k102Zones[] = {
    {0, 10, 2, 12, 2},
    {11, 86, 6, 0, 0},
    {12, 156, 4, 0, 0},
};
constexpr PasswordZone k1604Zones[] = {
    {0, 10, 2, 12, 1},      {1, 21, 2, 23, 1},      {2, 1222, 2, 0, 0},
    {3, 1483, 2, 0, 0},     {4, 1744, 2, 0, 0},     {11, 24, 2, 26, 1},
    {12, 1224, 2, 1226, 1}, {13, 1485, 2, 1487, 1}, {14, 1746, 2, 1748, 1},
};
// The longest code of any zone (AT88SC102 zone 11).
constexpr size_t kLongestPassword = 6;
constexpr size_t k1604Password = 2;

const PasswordZone* find_zone(std::span<const PasswordZone> zones, int16_t zone) {
  for (const PasswordZone& z : zones)
    if (z.zone == zone) return &z;
  return nullptr;
}

constexpr ChunkedMemory k1604Memory = {r42_cmd::kRead1604, r42_cmd::kWrite1604, 2048, 192};
// The attempts left in a zone: the set bits of its counter, read with
// `read`(address, size, bytes). A zone without a counter gives -1.
template <typename Read>
int16_t count_attempts(std::span<const PasswordZone> zones, int16_t zone, Read read) {
  const PasswordZone* z = find_zone(zones, zone);
  if (z == nullptr || z->counter_size == 0) return -1;
  uint8_t counter[2] = {};
  const int16_t result = read(z->counter, z->counter_size, counter);
  if (result != 0) return result;
  return int16_t(std::popcount(counter[0]) + std::popcount(counter[1]));
}

// Text twin of a password operation: the zone's length x 2 characters.
template <typename Call>
int16_t password_from_text(std::span<const PasswordZone> zones, int16_t zone, const char* text,
                           Call call) {
  const PasswordZone* z = find_zone(zones, zone);
  if (z == nullptr) return -1;
  return write_from_text(z->length, kLongestPassword, text, call);
}

// --- AT88SC1608 and AT88SC153 ---

using ZonedRead = int16_t (ReaderDevice::*)(int32_t, uint8_t, int32_t, int32_t, unsigned char*);
using ZonedWrite = int16_t (ReaderDevice::*)(int32_t, uint8_t, int32_t, int32_t,
                                             const unsigned char*);
using ZonedPassword = int16_t (ReaderDevice::*)(int32_t, uint8_t, uint8_t, const unsigned char*);
using AuthStep = int16_t (ReaderDevice::*)(int32_t, const unsigned char*);

// One family of zoned cards: its geometry, its command block and the
// operations its text twins call through the device interface.
struct ZoneCard {
  ZonedMemory memory;
  uint16_t check;
  uint16_t power_down;
  uint16_t check_password;
  uint16_t init_auth;
  uint16_t check_auth;
  uint16_t write_fuse;
  uint16_t read_fuse;
  ZonedRead read;
  ZonedWrite write;
  ZonedPassword password;
  AuthStep start_auth;
  AuthStep finish_auth;
};

constexpr uint32_t kZoneChunk = 192;
constexpr size_t kZonePassword = 3;
constexpr size_t kAuthValue = 8;

constexpr ZoneCard k1608 = {
    {r42_cmd::kRead1608, r42_cmd::kWrite1608, r42_cmd::kSelectZone1608, 8, 256, 128, kZoneChunk},
    r42_cmd::kCheck1608,
    r42_cmd::kPowerDown1608,
    r42_cmd::kCheckPassword1608,
    r42_cmd::kInitAuth1608,
    r42_cmd::kCheckAuth1608,
    r42_cmd::kWriteFuse1608,
    r42_cmd::kReadFuse1608,
    &ReaderDevice::read_1608,
    &ReaderDevice::write_1608,
    &ReaderDevice::checkpass_1608,
    &ReaderDevice::init_auth_1608,
    &ReaderDevice::check_auth_1608,
};
constexpr ZoneCard k153 = {
    {r42_cmd::kRead153, r42_cmd::kWrite153, r42_cmd::kSelectZone153, 3, 64, 64, kZoneChunk},
    r42_cmd::kCheck153,
    r42_cmd::kPowerDown153,
    r42_cmd::kCheckPassword153,
    r42_cmd::kInitAuth153,
    r42_cmd::kCheckAuth153,
    r42_cmd::kWriteFuse153,
    r42_cmd::kReadFuse153,
    &ReaderDevice::read_153,
    &ReaderDevice::write_153,
    &ReaderDevice::checkpass_153,
    &ReaderDevice::init_auth_153,
    &ReaderDevice::check_auth_153,
};

int16_t zone_password(R42Device& device, const ZoneCard& card, uint8_t zone, uint8_t type,
                      const uint8_t* password) {
  if (zone > card.memory.config_zone || password == nullptr) return -1;
  R42Request request(card.check_password);
  request.u8(zone).u8(type).bytes(password, kZonePassword);
  return device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t read_fuse(R42Device& device, const ZoneCard& card, uint8_t* value) {
  R42Request request(card.read_fuse);
  return device.byte_reply(request, {value});
}

int16_t zoned_read_hex(ReaderDevice& self, const ZoneCard& card, int32_t icdev, uint8_t zone,
                       int32_t offset, int32_t length, char* text) {
  return read_as_text(length, kR42BufferSize, text, [&](uint8_t* area) {
    return (self.*card.read)(icdev, zone, offset, length, area);
  });
}

// The zone and range are checked before any character is read.
int16_t zoned_write_hex(ReaderDevice& self, const ZoneCard& card, int32_t icdev, uint8_t zone,
                        int32_t offset, int32_t length, const char* text) {
  if (!zoned_range_ok(card.memory, zone, offset, length)) return -1;
  return write_from_text(length, kLargestZone, text, [&](const uint8_t* area) {
    return (self.*card.write)(icdev, zone, offset, length, area);
  });
}

int16_t zone_password_hex(ReaderDevice& self, const ZoneCard& card, int32_t icdev, uint8_t zone,
                          uint8_t type, const char* text) {
  return write_from_text(kZonePassword, kZonePassword, text, [&](const uint8_t* password) {
    return (self.*card.password)(icdev, zone, type, password);
  });
}

int16_t auth_hex(ReaderDevice& self, AuthStep step, int32_t icdev, const char* text) {
  return write_from_text(kAuthValue, kAuthValue, text,
                         [&](const uint8_t* value) { return (self.*step)(icdev, value); });
}

}  // namespace

// --- AT88SC102 ---

int16_t R42Device::check_102(int32_t) { return status_command(r42_cmd::kCheck102); }

int16_t R42Device::down_102(int32_t) { return status_command(r42_cmd::kPowerDown102); }

int16_t R42Device::read_102(int32_t, uint8_t offset, uint8_t length, unsigned char* readdata) {
  if (length == 0) return 0;
  if (readdata == nullptr) return -1;
  R42Request request(r42_cmd::kRead102);
  request.u8(offset).u8(length);
  // Every byte asked for must be in the reply.
  return fixed_reply(request, readdata, length);
}

int16_t R42Device::read_102_hex(int32_t icdev, uint8_t offset, uint8_t length, char* readdata) {
  // Offset and length are single bytes: every range is one the card takes.
  return memory_read_hex(*this, &ReaderDevice::read_102, icdev, offset, length, true, readdata);
}

int16_t R42Device::write_102(int32_t, uint8_t offset, uint8_t length,
                             const unsigned char* writedata) {
  if (length == 0) return 0;
  if (writedata == nullptr) return -1;
  R42Request request(r42_cmd::kWrite102);
  request.u8(offset).u8(length).bytes(writedata, length);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::write_102_hex(int32_t icdev, uint8_t offset, uint8_t length,
                                 const char* writedata) {
  return memory_write_hex(*this, &ReaderDevice::write_102, icdev, offset, length, true, writedata);
}

int16_t R42Device::checkpass_102(int32_t, int16_t zone, const unsigned char* password) {
  const PasswordZone* z = find_zone(k102Zones, zone);
  if (z == nullptr || password == nullptr) return -1;
  R42Request request(r42_cmd::kCheckPassword102);
  request.u8(uint8_t(z->address)).u8(z->length).bytes(password, z->length);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::checkpass_102_hex(int32_t icdev, int16_t zone, const char* password) {
  ReaderDevice& self = *this;
  return password_from_text(k102Zones, zone, password, [&](const uint8_t* code) {
    return self.checkpass_102(icdev, zone, code);
  });
}

int16_t R42Device::changepass_102(int32_t icdev, int16_t zone, const unsigned char* password) {
  const PasswordZone* z = find_zone(k102Zones, zone);
  if (z == nullptr || password == nullptr) return -1;
  ReaderDevice& self = *this;
  return self.write_102(icdev, uint8_t(z->address), z->length, password);
}

int16_t R42Device::changepass_102_hex(int32_t icdev, int16_t zone, const char* password) {
  ReaderDevice& self = *this;
  return password_from_text(k102Zones, zone, password, [&](const uint8_t* code) {
    return self.changepass_102(icdev, zone, code);
  });
}

int16_t R42Device::readcount_102(int32_t icdev, int16_t zone) {
  ReaderDevice& self = *this;
  return count_attempts(k102Zones, zone, [&](uint16_t address, uint8_t size, uint8_t* counter) {
    return self.read_102(icdev, uint8_t(address), size, counter);
  });
}

int16_t R42Device::fuse_102(int32_t) { return status_command(r42_cmd::kBlowFuse102); }

// --- AT88SC1604 ---

int16_t R42Device::check_1604(int32_t) { return status_command(r42_cmd::kCheck1604); }

int16_t R42Device::down_1604(int32_t) { return status_command(r42_cmd::kPowerDown1604); }

int16_t R42Device::read_1604(int32_t, int32_t offset, int32_t length, unsigned char* readdata) {
  return read_chunked(*this, k1604Memory, offset, length, readdata);
}

int16_t R42Device::read_1604_hex(int32_t icdev, int32_t offset, int32_t length, char* readdata) {
  return memory_read_hex(*this, &ReaderDevice::read_1604, icdev, offset, length,
                         chunked_range_ok(k1604Memory, offset, length), readdata);
}

int16_t R42Device::write_1604(int32_t, int32_t offset, int32_t length,
                              const unsigned char* writedata) {
  return write_chunked(*this, k1604Memory, offset, length, writedata);
}

int16_t R42Device::write_1604_hex(int32_t icdev, int32_t offset, int32_t length,
                                  const char* writedata) {
  return memory_write_hex(*this, &ReaderDevice::write_1604, icdev, offset, length,
                          chunked_range_ok(k1604Memory, offset, length), writedata);
}

int16_t R42Device::checkpass_1604(int32_t, int16_t zone, const unsigned char* password) {
  const PasswordZone* z = find_zone(k1604Zones, zone);
  if (z == nullptr || password == nullptr) return -1;
  R42Request request(r42_cmd::kCheckPassword1604);
  request.be32(z->address).be32(z->length).bytes(password, z->length);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::checkpass_1604_hex(int32_t icdev, int16_t zone, const char* password) {
  ReaderDevice& self = *this;
  return password_from_text(k1604Zones, zone, password, [&](const uint8_t* code) {
    return self.checkpass_1604(icdev, zone, code);
  });
}

int16_t R42Device::changepass_1604(int32_t icdev, int16_t zone, const unsigned char* password) {
  const PasswordZone* z = find_zone(k1604Zones, zone);
  if (z == nullptr || password == nullptr) return -1;
  ReaderDevice& self = *this;
  return self.write_1604(icdev, z->address, int32_t(k1604Password), password);
}

int16_t R42Device::changepass_1604_hex(int32_t icdev, int16_t zone, const char* password) {
  ReaderDevice& self = *this;
  return password_from_text(k1604Zones, zone, password, [&](const uint8_t* code) {
    return self.changepass_1604(icdev, zone, code);
  });
}

int16_t R42Device::readcount_1604(int32_t icdev, int16_t zone) {
  ReaderDevice& self = *this;
  return count_attempts(k1604Zones, zone, [&](uint16_t address, uint8_t size, uint8_t* counter) {
    return self.read_1604(icdev, address, size, counter);
  });
}

int16_t R42Device::fuse_1604(int32_t) { return status_command(r42_cmd::kBlowFuse1604); }

// --- SLE cards ---

int16_t R42Device::down_4428(int32_t) { return status_command(r42_cmd::kPowerDown4428); }

int16_t R42Device::down_4442(int32_t) { return status_command(r42_cmd::kPowerDown4442); }

// --- AT88SC1608 ---

int16_t R42Device::check_1608(int32_t) { return status_command(k1608.check); }

int16_t R42Device::down_1608(int32_t) { return status_command(k1608.power_down); }

int16_t R42Device::read_1608(int32_t, uint8_t zone, int32_t offset, int32_t length,
                             unsigned char* readdata) {
  return read_zoned(*this, k1608.memory, zone, offset, length, readdata);
}

int16_t R42Device::read_1608_hex(int32_t icdev, uint8_t zone, int32_t offset, int32_t length,
                                 char* readdata) {
  return zoned_read_hex(*this, k1608, icdev, zone, offset, length, readdata);
}

int16_t R42Device::write_1608(int32_t, uint8_t zone, int32_t offset, int32_t length,
                              const unsigned char* writedata) {
  return write_zoned(*this, k1608.memory, zone, offset, length, writedata);
}

int16_t R42Device::write_1608_hex(int32_t icdev, uint8_t zone, int32_t offset, int32_t length,
                                  const char* writedata) {
  return zoned_write_hex(*this, k1608, icdev, zone, offset, length, writedata);
}

int16_t R42Device::checkpass_1608(int32_t, uint8_t zone, uint8_t type,
                                  const unsigned char* password) {
  return zone_password(*this, k1608, zone, type, password);
}

int16_t R42Device::checkpass_1608_hex(int32_t icdev, uint8_t zone, uint8_t type,
                                      const char* password) {
  return zone_password_hex(*this, k1608, icdev, zone, type, password);
}

int16_t R42Device::init_auth_1608(int32_t, const unsigned char* databuffer) {
  return block_command(*this, k1608.init_auth, databuffer, kAuthValue);
}

int16_t R42Device::init_auth_1608_hex(int32_t icdev, const char* databuffer) {
  return auth_hex(*this, k1608.start_auth, icdev, databuffer);
}

int16_t R42Device::check_auth_1608(int32_t, const unsigned char* databuffer) {
  return block_command(*this, k1608.check_auth, databuffer, kAuthValue);
}

int16_t R42Device::check_auth_1608_hex(int32_t icdev, const char* databuffer) {
  return auth_hex(*this, k1608.finish_auth, icdev, databuffer);
}

int16_t R42Device::write_fuse_1608(int32_t, uint8_t) { return status_command(k1608.write_fuse); }

int16_t R42Device::read_fuse_1608(int32_t, uint8_t* value) {
  return read_fuse(*this, k1608, value);
}

// --- AT88SC153 ---

int16_t R42Device::check_153(int32_t) { return status_command(k153.check); }

int16_t R42Device::down_153(int32_t) { return status_command(k153.power_down); }

int16_t R42Device::read_153(int32_t, uint8_t zone, int32_t offset, int32_t length,
                            unsigned char* readdata) {
  return read_zoned(*this, k153.memory, zone, offset, length, readdata);
}

int16_t R42Device::read_153_hex(int32_t icdev, uint8_t zone, int32_t offset, int32_t length,
                                char* readdata) {
  return zoned_read_hex(*this, k153, icdev, zone, offset, length, readdata);
}

int16_t R42Device::write_153(int32_t, uint8_t zone, int32_t offset, int32_t length,
                             const unsigned char* writedata) {
  return write_zoned(*this, k153.memory, zone, offset, length, writedata);
}

int16_t R42Device::write_153_hex(int32_t icdev, uint8_t zone, int32_t offset, int32_t length,
                                 const char* writedata) {
  return zoned_write_hex(*this, k153, icdev, zone, offset, length, writedata);
}

int16_t R42Device::checkpass_153(int32_t, uint8_t zone, uint8_t type,
                                 const unsigned char* password) {
  return zone_password(*this, k153, zone, type, password);
}

int16_t R42Device::checkpass_153_hex(int32_t icdev, uint8_t zone, uint8_t type,
                                     const char* password) {
  return zone_password_hex(*this, k153, icdev, zone, type, password);
}

int16_t R42Device::init_auth_153(int32_t, const unsigned char* databuffer) {
  return block_command(*this, k153.init_auth, databuffer, kAuthValue);
}

int16_t R42Device::init_auth_153_hex(int32_t icdev, const char* databuffer) {
  return auth_hex(*this, k153.start_auth, icdev, databuffer);
}

int16_t R42Device::check_auth_153(int32_t, const unsigned char* databuffer) {
  return block_command(*this, k153.check_auth, databuffer, kAuthValue);
}

int16_t R42Device::check_auth_153_hex(int32_t icdev, const char* databuffer) {
  return auth_hex(*this, k153.finish_auth, icdev, databuffer);
}

int16_t R42Device::write_fuse_153(int32_t, uint8_t) { return status_command(k153.write_fuse); }

int16_t R42Device::read_fuse_153(int32_t, uint8_t* value) {
  return read_fuse(*this, k153, value);
}
