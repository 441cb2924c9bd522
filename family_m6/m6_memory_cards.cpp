// Contact memory cards in the reader's card slot: SLE4442 (256 bytes, 3-byte
// PSC), SLE4428 (1024 bytes, 2-byte PSC) and the 24C01-24C64 EEPROM cards,
// and the checks that tell which card is inserted. Memories move in chunks
// of [code][offset LE16][count]; the reader runs the card protocol.
#include <cstring>

#include "connection/card_io.h"
#include "connection/memory_card_checks.h"
#include "family_m6/m6_device.h"
#include "platform/chunk_walk.h"

namespace {

constexpr uint32_t kChunkSize = 192;
// 24C cards take writes in pages of 8 bytes.
constexpr int16_t k24cPage = 8;

constexpr uint8_t kVerifyPin4442 = 0xB2;
constexpr uint8_t kReadPin4442 = 0xB3;
constexpr uint8_t kChangePin4442 = 0xB4;
constexpr uint8_t kVerifyPin4428 = 0xBB;
constexpr uint8_t kReadPin4428 = 0xBC;
constexpr uint8_t kChangePin4428 = 0xBD;

}  // namespace

const M6Device::Memory M6Device::k4442Card = {0xB0, 0xB1, kSle4442Size, kChunkSize, false};
const M6Device::Memory M6Device::k4428Card = {0xB9, 0xBA, kSle4428Size, kChunkSize, false};
// The 24C01-24C16 reads reach 2048 bytes; their writes, like every 24C64
// operation, 8192.
const M6Device::Memory M6Device::k24cRead = {0xB6, 0xB5, k24cSize, kChunkSize, false};
const M6Device::Memory M6Device::k24cWrite = {0xB6, 0xB5, k24c64Size, kChunkSize, false};
const M6Device::Memory M6Device::k24c64Card = {0xB8, 0xB7, k24c64Size, kChunkSize, false};

int16_t M6Device::write_eeprom_card(const Memory& memory, int16_t offset, int16_t length,
                                    const uint8_t* in) {
  if (!signed_range_ok(offset, length, memory.size)) return -1;
  const int16_t into_page = int16_t(offset % k24cPage);
  const int16_t head = int16_t(k24cPage - into_page);
  if (into_page == 0 || length < head) return memory_write(memory, offset, length, in);
  const int16_t result = memory_write(memory, offset, head, in);
  if (result != 0 || length == head) return result;
  return memory_write(memory, int16_t(offset + head), int16_t(length - head), in + head);
}

int16_t M6Device::read_pin(uint8_t code, uint8_t* pin, size_t pin_size) {
  if (pin == nullptr) return -1;
  M6Request request(code);
  uint8_t state[1 + kSle4442PinSize];  // the counter and the longer PSC
  const int16_t result = fixed_reply(request, state, 1 + pin_size);
  if (result == 0) std::memcpy(pin, state + 1, pin_size);
  return result;
}

// --- SLE4442 ---

int16_t M6Device::read_4442(int32_t, int16_t offset, int16_t length, unsigned char* data_buffer) {
  return memory_read(k4442Card, offset, length, data_buffer);
}

int16_t M6Device::read_4442_hex(int32_t icdev, int16_t offset, int16_t length,
                                char* data_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_4442, icdev, offset, length,
                         signed_range_ok(offset, length, k4442Card.size), data_buffer);
}

int16_t M6Device::write_4442(int32_t, int16_t offset, int16_t length,
                             const unsigned char* data_buffer) {
  return memory_write(k4442Card, offset, length, data_buffer);
}

int16_t M6Device::write_4442_hex(int32_t icdev, int16_t offset, int16_t length,
                                 const char* data_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_4442, icdev, offset, length,
                          signed_range_ok(offset, length, k4442Card.size), data_buffer);
}

int16_t M6Device::verifypin_4442(int32_t icdev, const unsigned char* passwd) {
  if (passwd == nullptr) return -1;
  const int16_t result = data_command(kVerifyPin4442, {}, passwd, kSle4442PinSize);
  if (result != 0) return result;
  return sle_write_test(*this, icdev, SleCard::k4442);
}

int16_t M6Device::verifypin_4442_hex(int32_t icdev, const char* passwd) {
  return block_in_twin(*this, &ReaderDevice::verifypin_4442, kSle4442PinSize, passwd, icdev);
}

int16_t M6Device::readpin_4442(int32_t, unsigned char* passwd) {
  return read_pin(kReadPin4442, passwd, kSle4442PinSize);
}

int16_t M6Device::readpin_4442_hex(int32_t icdev, char* passwd) {
  return block_out_twin(*this, &ReaderDevice::readpin_4442, kSle4442PinSize, passwd, icdev);
}

int16_t M6Device::readpincount_4442(int32_t) {
  M6Request request(kReadPin4442);
  const int16_t counter = byte_result(request);
  if (counter < 0) return counter;
  return sle_attempts_left(SleCard::k4442, uint8_t(counter));
}

int16_t M6Device::changepin_4442(int32_t, const unsigned char* passwd) {
  if (passwd == nullptr) return -1;
  return data_command(kChangePin4442, {}, passwd, kSle4442PinSize);
}

int16_t M6Device::changepin_4442_hex(int32_t icdev, const char* passwd) {
  return block_in_twin(*this, &ReaderDevice::changepin_4442, kSle4442PinSize, passwd, icdev);
}

// --- 24C01 to 24C64 ---

int16_t M6Device::write_24c(int32_t, int16_t offset, int16_t length,
                            const unsigned char* snd_buffer) {
  return write_eeprom_card(k24cWrite, offset, length, snd_buffer);
}

int16_t M6Device::write_24c_hex(int32_t icdev, int16_t offset, int16_t length,
                                const char* snd_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_24c, icdev, offset, length,
                          signed_range_ok(offset, length, k24cWrite.size), snd_buffer);
}

int16_t M6Device::write_24c64(int32_t, int16_t offset, int16_t length,
                              const unsigned char* snd_buffer) {
  return write_eeprom_card(k24c64Card, offset, length, snd_buffer);
}

int16_t M6Device::write_24c64_hex(int32_t icdev, int16_t offset, int16_t length,
                                  const char* snd_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_24c64, icdev, offset, length,
                          signed_range_ok(offset, length, k24c64Card.size), snd_buffer);
}

int16_t M6Device::read_24c(int32_t, int16_t offset, int16_t length,
                           unsigned char* receive_buffer) {
  return memory_read(k24cRead, offset, length, receive_buffer);
}

int16_t M6Device::read_24c_hex(int32_t icdev, int16_t offset, int16_t length,
                               char* receive_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_24c, icdev, offset, length,
                         signed_range_ok(offset, length, k24cRead.size), receive_buffer);
}

int16_t M6Device::read_24c64(int32_t, int16_t offset, int16_t length,
                             unsigned char* receive_buffer) {
  return memory_read(k24c64Card, offset, length, receive_buffer);
}

int16_t M6Device::read_24c64_hex(int32_t icdev, int16_t offset, int16_t length,
                                 char* receive_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_24c64, icdev, offset, length,
                         signed_range_ok(offset, length, k24c64Card.size), receive_buffer);
}

// --- SLE4428 ---

int16_t M6Device::read_4428(int32_t, int16_t offset, int16_t length, unsigned char* data_buffer) {
  return memory_read(k4428Card, offset, length, data_buffer);
}

int16_t M6Device::read_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                char* data_buffer) {
  return memory_read_hex(*this, &ReaderDevice::read_4428, icdev, offset, length,
                         signed_range_ok(offset, length, k4428Card.size), data_buffer);
}

int16_t M6Device::write_4428(int32_t, int16_t offset, int16_t length,
                             const unsigned char* data_buffer) {
  return memory_write(k4428Card, offset, length, data_buffer);
}

int16_t M6Device::write_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                 const char* data_buffer) {
  return memory_write_hex(*this, &ReaderDevice::write_4428, icdev, offset, length,
                          signed_range_ok(offset, length, k4428Card.size), data_buffer);
}

int16_t M6Device::verifypin_4428(int32_t icdev, const unsigned char* passwd) {
  if (passwd == nullptr) return -1;
  const int16_t result = data_command(kVerifyPin4428, {}, passwd, kSle4428PinSize);
  if (result != 0) return result;
  return sle_write_test(*this, icdev, SleCard::k4428);
}

int16_t M6Device::verifypin_4428_hex(int32_t icdev, const char* passwd) {
  return block_in_twin(*this, &ReaderDevice::verifypin_4428, kSle4428PinSize, passwd, icdev);
}

int16_t M6Device::readpin_4428(int32_t, unsigned char* passwd) {
  return read_pin(kReadPin4428, passwd, kSle4428PinSize);
}

int16_t M6Device::readpin_4428_hex(int32_t icdev, char* passwd) {
  return block_out_twin(*this, &ReaderDevice::readpin_4428, kSle4428PinSize, passwd, icdev);
}

int16_t M6Device::readpincount_4428(int32_t) {
  M6Request request(kReadPin4428);
  const int16_t counter = byte_result(request);
  if (counter < 0) return counter;
  return sle_attempts_left(SleCard::k4428, uint8_t(counter));
}

int16_t M6Device::changepin_4428(int32_t, const unsigned char* passwd) {
  if (passwd == nullptr) return -1;
  return data_command(kChangePin4428, {}, passwd, kSle4428PinSize);
}

int16_t M6Device::changepin_4428_hex(int32_t icdev, const char* passwd) {
  return block_in_twin(*this, &ReaderDevice::changepin_4428, kSle4428PinSize, passwd, icdev);
}

// --- card detection ---

int16_t M6Device::Check_4442(int32_t icdev) { return check_sle(*this, icdev, SleCard::k4442); }
int16_t M6Device::Check_4428(int32_t icdev) { return check_sle(*this, icdev, SleCard::k4428); }
int16_t M6Device::Check_24C01(int32_t icdev) { return check_24c(*this, icdev, 1); }
int16_t M6Device::Check_24C02(int32_t icdev) { return check_24c(*this, icdev, 2); }
int16_t M6Device::Check_24C04(int32_t icdev) { return check_24c(*this, icdev, 4); }
int16_t M6Device::Check_24C08(int32_t icdev) { return check_24c(*this, icdev, 8); }
int16_t M6Device::Check_24C16(int32_t icdev) { return check_24c(*this, icdev, 16); }
int16_t M6Device::Check_24C64(int32_t icdev) { return check_24c(*this, icdev, 64); }
int16_t M6Device::CheckCard(int32_t icdev) { return identify_memory_card(*this, icdev); }
