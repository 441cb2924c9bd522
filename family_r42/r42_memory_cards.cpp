// Contact memory cards in the reader's card slot: SLE4442 (256 bytes, 32
// protection bytes, 3-byte PSC), SLE4428 (1024 bytes with a protection bit
// each, 2-byte PSC) and the 24C01-24C64 EEPROM cards, and the checks that
// tell which card is inserted. The main memories move in chunks; the reader
// does the card protocol.
#include <cstring>

#include "connection/memory_card_checks.h"
#include "family_r42/r42_card_io.h"
#include "family_r42/r42_chunked.h"
#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint32_t kChunkSize = 192;

constexpr ChunkedMemory k4442Memory = {r42_cmd::kRead4442, r42_cmd::kWrite4442, kSle4442Size,
                                       kChunkSize};
// The SLE4428 chunk requests say after the length which memory they are for.
constexpr ChunkedMemory k4428Memory = {.read_code = r42_cmd::kRead4428,
                                       .write_code = r42_cmd::kWrite4428,
                                       .capacity = kSle4428Size,
                                       .chunk_size = kChunkSize,
                                       .extra_byte = 0};
constexpr ChunkedMemory k4428Protection = {.read_code = r42_cmd::kRead4428,
                                           .write_code = r42_cmd::kWrite4428,
                                           .capacity = kSle4428Size,
                                           .chunk_size = kChunkSize,
                                           .extra_byte = 1};
constexpr ChunkedMemory k24c = {r42_cmd::kRead24c, r42_cmd::kWrite24c, k24cSize, kChunkSize};
constexpr ChunkedMemory k24c64 = {r42_cmd::kRead24c64, r42_cmd::kWrite24c64, k24c64Size,
                                  kChunkSize};

constexpr int k4442ProtectionSize = 32;

// The PSC, which the reply carries after the error counter.
int16_t read_pin(R42Device& device, uint16_t code, uint8_t* pin, size_t pin_size) {
  if (pin == nullptr) return -1;
  R42Request request(code);
  uint8_t state[1 + kSle4442PinSize];  // the counter and the longer PSC
  const int16_t result = device.fixed_reply(request, state, 1 + pin_size);
  if (result == 0) std::memcpy(pin, state + 1, pin_size);
  return result;
}

// The error counter alone: 0-255, or the exchange's result.
int16_t read_pin_counter(R42Device& device, uint16_t code) {
  R42Request request(code);
  return device.byte_result(request);
}

bool protection_range_ok(int16_t offset, int16_t length) {
  return offset >= 0 && length >= 0 && offset + length <= k4442ProtectionSize;
}

}  // namespace

// --- SLE4442 ---

int16_t R42Device::read_4442(int32_t, int16_t offset, int16_t length, unsigned char* data_buffer) {
  return read_chunked(*this, k4442Memory, offset, length, data_buffer);
}

int16_t R42Device::read_4442_hex(int32_t icdev, int16_t offset, int16_t length, char* data_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_4442, icdev, offset, length,
                         chunked_range_ok(k4442Memory, offset, length), data_buffer);
}

int16_t R42Device::write_4442(int32_t, int16_t offset, int16_t length,
                              const unsigned char* data_buffer) {
  return write_chunked(*this, k4442Memory, offset, length, data_buffer);
}

int16_t R42Device::write_4442_hex(int32_t icdev, int16_t offset, int16_t length,
                                  const char* data_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_4442, icdev, offset, length,
                          chunked_range_ok(k4442Memory, offset, length), data_buffer);
}

int16_t R42Device::verifypin_4442(int32_t icdev, const unsigned char* passwd) {
  const int16_t result = block_command(*this, r42_cmd::kVerifyPin4442, passwd, kSle4442PinSize);
  if (result != 0) return result;
  return sle_write_test(*this, icdev, SleCard::k4442);
}

int16_t R42Device::verifypin_4442_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text(int16_t(kSle4442PinSize), kSle4442PinSize, passwd,
                         [&](const uint8_t* pin) { return self.verifypin_4442(icdev, pin); });
}

int16_t R42Device::readpin_4442(int32_t, unsigned char* passwd) {
  return read_pin(*this, r42_cmd::kReadPin4442, passwd, kSle4442PinSize);
}

int16_t R42Device::readpin_4442_hex(int32_t icdev, char* passwd) {
  ReaderDevice& self = *this;
  return read_as_text(int16_t(kSle4442PinSize), kSle4442PinSize, passwd,
                      [&](uint8_t* pin) { return self.readpin_4442(icdev, pin); });
}

int16_t R42Device::readpincount_4442(int32_t) {
  const int16_t counter = read_pin_counter(*this, r42_cmd::kReadPin4442);
  if (counter < 0) return counter;
  return sle_attempts_left(SleCard::k4442, uint8_t(counter));
}

int16_t R42Device::changepin_4442(int32_t, const unsigned char* passwd) {
  return block_command(*this, r42_cmd::kChangePin4442, passwd, kSle4442PinSize);
}

int16_t R42Device::changepin_4442_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text(int16_t(kSle4442PinSize), kSle4442PinSize, passwd,
                         [&](const uint8_t* pin) { return self.changepin_4442(icdev, pin); });
}

int16_t R42Device::readwrotect_4442(int32_t icdev, int16_t offset, int16_t length,
                                    unsigned char* data_buffer) {
  ReaderDevice& self = *this;
  return self.readprotect_4442(icdev, offset, length, data_buffer);
}

int16_t R42Device::readwrotect_4442_hex(int32_t icdev, int16_t offset, int16_t length,
                                        char* data_buffer) {
  ReaderDevice& self = *this;
  return self.readprotect_4442_hex(icdev, offset, length, data_buffer);
}

int16_t R42Device::readprotect_4442(int32_t, int16_t offset, int16_t length,
                                    unsigned char* data_buffer) {
  if (!protection_range_ok(offset, length)) return -1;
  if (length == 0) return 0;
  if (data_buffer == nullptr) return -1;
  R42Request request(r42_cmd::kReadProtection4442);
  request.u8(uint8_t(offset)).u8(uint8_t(length));
  return fixed_reply(request, data_buffer, size_t(length));
}

int16_t R42Device::readprotect_4442_hex(int32_t icdev, int16_t offset, int16_t length,
                                        char* data_buffer) {
  return memory_read_hex(*this, &ReaderDevice::readprotect_4442, icdev, offset, length,
                         protection_range_ok(offset, length), data_buffer);
}

int16_t R42Device::writeprotect_4442(int32_t, int16_t offset, int16_t length,
                                     const unsigned char* data_buffer) {
  if (!protection_range_ok(offset, length)) return -1;
  if (length == 0) return 0;
  if (data_buffer == nullptr) return -1;
  R42Request request(r42_cmd::kWriteProtection4442);
  request.u8(uint8_t(offset)).u8(uint8_t(length)).bytes(data_buffer, size_t(length));
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::writeprotect_4442_hex(int32_t icdev, int16_t offset, int16_t length,
                                         const char* data_buffer) {
  return memory_write_hex(*this, &ReaderDevice::writeprotect_4442, icdev, offset, length,
                          protection_range_ok(offset, length), data_buffer);
}

// --- 24C01 to 24C64 ---

int16_t R42Device::write_24c(int32_t, int16_t offset, int16_t length,
                             const unsigned char* snd_buffer) {
  return write_chunked(*this, k24c, offset, length, snd_buffer);
}

int16_t R42Device::write_24c_hex(int32_t icdev, int16_t offset, int16_t length,
                                 const char* snd_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_24c, icdev, offset, length,
                          chunked_range_ok(k24c, offset, length), snd_buffer);
}

int16_t R42Device::write_24c64(int32_t, int16_t offset, int16_t length,
                               const unsigned char* snd_buffer) {
  return write_chunked(*this, k24c64, offset, length, snd_buffer);
}

int16_t R42Device::write_24c64_hex(int32_t icdev, int16_t offset, int16_t length,
                                   const char* snd_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_24c64, icdev, offset, length,
                          chunked_range_ok(k24c64, offset, length), snd_buffer);
}

int16_t R42Device::read_24c(int32_t, int16_t offset, int16_t length,
                            unsigned char* receive_buffer) {
  return read_chunked(*this, k24c, offset, length, receive_buffer);
}

int16_t R42Device::read_24c_hex(int32_t icdev, int16_t offset, int16_t length,
                                char* receive_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_24c, icdev, offset, length,
                         chunked_range_ok(k24c, offset, length), receive_buffer);
}

int16_t R42Device::read_24c64(int32_t, int16_t offset, int16_t length,
                              unsigned char* receive_buffer) {
  return read_chunked(*this, k24c64, offset, length, receive_buffer);
}

int16_t R42Device::read_24c64_hex(int32_t icdev, int16_t offset, int16_t length,
                                  char* receive_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_24c64, icdev, offset, length,
                         chunked_range_ok(k24c64, offset, length), receive_buffer);
}

// --- SLE4428 ---

int16_t R42Device::read_4428(int32_t, int16_t offset, int16_t length, unsigned char* data_buffer) {
  return read_chunked(*this, k4428Memory, offset, length, data_buffer);
}

int16_t R42Device::read_4428_hex(int32_t icdev, int16_t offset, int16_t length, char* data_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_4428, icdev, offset, length,
                         chunked_range_ok(k4428Memory, offset, length), data_buffer);
}

int16_t R42Device::write_4428(int32_t, int16_t offset, int16_t length,
                              const unsigned char* data_buffer) {
  return write_chunked(*this, k4428Memory, offset, length, data_buffer);
}

int16_t R42Device::write_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                  const char* data_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_4428, icdev, offset, length,
                          chunked_range_ok(k4428Memory, offset, length), data_buffer);
}

int16_t R42Device::verifypin_4428(int32_t icdev, const unsigned char* passwd) {
  const int16_t result = block_command(*this, r42_cmd::kVerifyPin4428, passwd, kSle4428PinSize);
  if (result != 0) return result;
  return sle_write_test(*this, icdev, SleCard::k4428);
}

int16_t R42Device::verifypin_4428_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text(int16_t(kSle4428PinSize), kSle4428PinSize, passwd,
                         [&](const uint8_t* pin) { return self.verifypin_4428(icdev, pin); });
}

int16_t R42Device::readpin_4428(int32_t, unsigned char* passwd) {
  return read_pin(*this, r42_cmd::kReadPin4428, passwd, kSle4428PinSize);
}

int16_t R42Device::readpin_4428_hex(int32_t icdev, char* passwd) {
  ReaderDevice& self = *this;
  return read_as_text(int16_t(kSle4428PinSize), kSle4428PinSize, passwd,
                      [&](uint8_t* pin) { return self.readpin_4428(icdev, pin); });
}

int16_t R42Device::readpincount_4428(int32_t) {
  const int16_t counter = read_pin_counter(*this, r42_cmd::kReadPin4428);
  if (counter < 0) return counter;
  return sle_attempts_left(SleCard::k4428, uint8_t(counter));
}

int16_t R42Device::changepin_4428(int32_t, const unsigned char* passwd) {
  return block_command(*this, r42_cmd::kChangePin4428, passwd, kSle4428PinSize);
}

int16_t R42Device::changepin_4428_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text(int16_t(kSle4428PinSize), kSle4428PinSize, passwd,
                         [&](const uint8_t* pin) { return self.changepin_4428(icdev, pin); });
}

int16_t R42Device::readprotect_4428(int32_t, int16_t offset, int16_t length,
                                    unsigned char* data_buffer) {
  return read_chunked(*this, k4428Protection, offset, length, data_buffer);
}

int16_t R42Device::readprotect_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                        char* data_buffer) {
  return memory_read_hex(*this, &ReaderDevice::readprotect_4428, icdev, offset, length,
                         chunked_range_ok(k4428Protection, offset, length), data_buffer);
}

int16_t R42Device::writeprotect_4428(int32_t, int16_t offset, int16_t length,
                                     const unsigned char* data_buffer) {
  return write_chunked(*this, k4428Protection, offset, length, data_buffer);
}

int16_t R42Device::writeprotect_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                         const char* data_buffer) {
  return memory_write_hex(*this, &ReaderDevice::writeprotect_4428, icdev, offset, length,
                          chunked_range_ok(k4428Protection, offset, length), data_buffer);
}

// --- card detection ---

int16_t R42Device::Check_4442(int32_t icdev) {
  return check_sle(*this, icdev, SleCard::k4442);
}

int16_t R42Device::Check_4428(int32_t icdev) {
  return check_sle(*this, icdev, SleCard::k4428);
}

int16_t R42Device::Check_24C01(int32_t icdev) { return check_24c(*this, icdev, 1); }
int16_t R42Device::Check_24C02(int32_t icdev) { return check_24c(*this, icdev, 2); }
int16_t R42Device::Check_24C04(int32_t icdev) { return check_24c(*this, icdev, 4); }
int16_t R42Device::Check_24C08(int32_t icdev) { return check_24c(*this, icdev, 8); }
int16_t R42Device::Check_24C16(int32_t icdev) { return check_24c(*this, icdev, 16); }
int16_t R42Device::Check_24C64(int32_t icdev) { return check_24c(*this, icdev, 64); }

int16_t R42Device::CheckCard(int32_t icdev) { return identify_memory_card(*this, icdev); }
