// Contact memory cards in the reader's card slot: SLE4442 (256 bytes, 32
// protection bytes, 3-byte PSC), SLE4428 (1024 bytes with a protection bit
// each, 2-byte PSC) and the 24C01-24C64 EEPROM cards, and the checks that
// tell which card is inserted. The main memories move in chunks; the reader
// does the card protocol.
#include <bit>
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_chunked.h"
#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint32_t kChunkSize = 192;

constexpr ChunkedMemory k4442Memory = {r42_cmd::kRead4442, r42_cmd::kWrite4442, 256, kChunkSize};
// The SLE4428 chunk requests say after the length which memory they are for.
constexpr ChunkedMemory k4428Memory = {.read_code = r42_cmd::kRead4428,
                                       .write_code = r42_cmd::kWrite4428,
                                       .capacity = 1024,
                                       .chunk_size = kChunkSize,
                                       .extra_byte = 0};
constexpr ChunkedMemory k4428Protection = {.read_code = r42_cmd::kRead4428,
                                           .write_code = r42_cmd::kWrite4428,
                                           .capacity = 1024,
                                           .chunk_size = kChunkSize,
                                           .extra_byte = 1};
constexpr ChunkedMemory k24c = {r42_cmd::kRead24c, r42_cmd::kWrite24c, 2048, kChunkSize};
constexpr ChunkedMemory k24c64 = {r42_cmd::kRead24c64, r42_cmd::kWrite24c64, 8192, kChunkSize};

constexpr int k4442ProtectionSize = 32;
constexpr size_t k4442PinSize = 3;
constexpr size_t k4428PinSize = 2;

// The byte the PIN write test changes; the SLE4428 error counter.
constexpr int16_t kTestAddress = 255;
constexpr int16_t k4428CounterAddress = 1021;
constexpr uint8_t kCounterFull = 0xFF;

// The SLE cards answer 81 15 (SLE4442) or 81 13 (SLE4428) at bytes 6-7.
constexpr int16_t kCheckLength = 32;
constexpr uint8_t kCheckByte6 = 0x81;
constexpr uint8_t kCheck4442 = 0x15;
constexpr uint8_t kCheck4428 = 0x13;

// Card kinds CheckCard reports.
constexpr int16_t kKind4442 = 8;
constexpr int16_t kKind4428 = 9;
constexpr int16_t kKindCpuT0 = 30;
constexpr int16_t kKindCpuT1 = 31;

// Byte reads and writes of one card kind, made through the device interface
// so that overrides take effect.
struct CardBytes {
  int16_t (ReaderDevice::*read)(int32_t, int16_t, int16_t, unsigned char*);
  int16_t (ReaderDevice::*write)(int32_t, int16_t, int16_t, const unsigned char*);
};
constexpr CardBytes k4442Bytes = {&ReaderDevice::read_4442, &ReaderDevice::write_4442};
constexpr CardBytes k4428Bytes = {&ReaderDevice::read_4428, &ReaderDevice::write_4428};
constexpr CardBytes k24cBytes = {&ReaderDevice::read_24c, &ReaderDevice::write_24c};
constexpr CardBytes k24c64Bytes = {&ReaderDevice::read_24c64, &ReaderDevice::write_24c64};

int16_t read_byte(ReaderDevice& self, int32_t icdev, const CardBytes& card, int16_t address,
                  uint8_t& value) {
  return (self.*card.read)(icdev, address, 1, &value);
}

int16_t write_byte(ReaderDevice& self, int32_t icdev, const CardBytes& card, int16_t address,
                   uint8_t value) {
  return (self.*card.write)(icdev, address, 1, &value);
}

// Writes `value` at `address` and runs `look`. Once that write went through,
// `original` is written back whatever `look` gave, so that a failing read
// never leaves the card changed. The first failure is the result.
template <typename Look>
int16_t with_byte_changed(ReaderDevice& self, int32_t icdev, const CardBytes& card, int16_t address,
                          uint8_t original, uint8_t value, Look look) {
  const int16_t written = write_byte(self, icdev, card, address, value);
  if (written != 0) return written;
  const int16_t looked = look();
  const int16_t restored = write_byte(self, icdev, card, address, original);
  return looked != 0 ? looked : restored;
}

// After the card took a PSC: a write only goes through on an unlocked card,
// so byte 255 is changed, read back and restored. The SLE4428 then gets its
// error counter reset.
int16_t pin_write_test(ReaderDevice& self, int32_t icdev, const CardBytes& card,
                       bool reset_counter) {
  uint8_t before = 0;
  int16_t result = read_byte(self, icdev, card, kTestAddress, before);
  if (result != 0) return result;
  const uint8_t changed = before == 0xFF ? 0 : uint8_t(before + 1);
  uint8_t seen = 0;
  result = with_byte_changed(self, icdev, card, kTestAddress, before, changed,
                             [&] { return read_byte(self, icdev, card, kTestAddress, seen); });
  if (result != 0) return result;
  if (reset_counter) {
    result = write_byte(self, icdev, card, k4428CounterAddress, kCounterFull);
    if (result != 0) return result;
  }
  return seen == changed ? 0 : -1;
}

// Whether `address` is memory of its own on a 24C card rather than a
// wrapped-around address 0: a byte written there reads back, and byte 0
// stays as it was.
bool address_is_real(ReaderDevice& self, int32_t icdev, const CardBytes& card, int16_t address) {
  uint8_t at_zero = 0, at_address = 0;
  if (read_byte(self, icdev, card, 0, at_zero) != 0 ||
      read_byte(self, icdev, card, address, at_address) != 0)
    return false;
  uint8_t probe = 0;
  while (probe == at_zero || probe == at_address) ++probe;
  uint8_t seen = 0, zero_after = 0;
  const int16_t result =
      with_byte_changed(self, icdev, card, address, at_address, probe, [&]() -> int16_t {
        const int16_t r = read_byte(self, icdev, card, address, seen);
        return r != 0 ? r : read_byte(self, icdev, card, 0, zero_after);
      });
  return result == 0 && seen == probe && zero_after == at_zero;
}

// Capacity candidates, largest first, with the card kind CheckCard gives.
struct EepromCandidate {
  const CardBytes* card;
  int16_t address;
  int16_t kilobits;
  int16_t kind;
};
constexpr EepromCandidate kEepromCandidates[] = {
    {&k24c64Bytes, 2048, 64, 26}, {&k24cBytes, 1024, 16, 25}, {&k24cBytes, 512, 8, 24},
    {&k24cBytes, 256, 4, 23},     {&k24cBytes, 128, 2, 22},   {&k24cBytes, 64, 1, 21},
};

// The capacity of a 24C card in kilobits, or -1.
int16_t probe_24c_capacity(ReaderDevice& self, int32_t icdev) {
  for (const EepromCandidate& candidate : kEepromCandidates)
    if (address_is_real(self, icdev, *candidate.card, candidate.address)) return candidate.kilobits;
  return -1;
}

int16_t check_24c(ReaderDevice& self, int32_t icdev, int16_t kilobits) {
  return probe_24c_capacity(self, icdev) == kilobits ? 0 : -1;
}

int16_t check_sle(ReaderDevice& self, int32_t icdev, const CardBytes& card, uint8_t check) {
  uint8_t head[kCheckLength];
  const int16_t result = (self.*card.read)(icdev, 0, kCheckLength, head);
  if (result != 0) return result;
  return head[6] == kCheckByte6 && head[7] == check ? 0 : -1;
}

// The PSC, which the reply carries after the error counter.
int16_t read_pin(R42Device& device, uint16_t code, uint8_t* pin, size_t pin_size) {
  if (pin == nullptr) return -1;
  R42Request request(code);
  uint8_t state[1 + k4442PinSize];  // the counter and the longer PSC
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
  return memory_read_hex<k4442Memory.capacity>(*this, &ReaderDevice::read_4442, icdev, offset, length,
                                      data_buffer);
}

int16_t R42Device::write_4442(int32_t, int16_t offset, int16_t length,
                              const unsigned char* data_buffer) {
  return write_chunked(*this, k4442Memory, offset, length, data_buffer);
}

int16_t R42Device::write_4442_hex(int32_t icdev, int16_t offset, int16_t length,
                                  const char* data_buffer) {
  return memory_write_hex<k4442Memory.capacity>(*this, &ReaderDevice::write_4442, icdev, offset, length,
                                       data_buffer);
}

int16_t R42Device::verifypin_4442(int32_t icdev, const unsigned char* passwd) {
  const int16_t result = block_command(*this, r42_cmd::kVerifyPin4442, passwd, k4442PinSize);
  if (result != 0) return result;
  return pin_write_test(*this, icdev, k4442Bytes, false);
}

int16_t R42Device::verifypin_4442_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text<k4442PinSize>(int16_t(k4442PinSize), passwd, [&](const uint8_t* pin) {
    return self.verifypin_4442(icdev, pin);
  });
}

int16_t R42Device::readpin_4442(int32_t, unsigned char* passwd) {
  return read_pin(*this, r42_cmd::kReadPin4442, passwd, k4442PinSize);
}

int16_t R42Device::readpin_4442_hex(int32_t icdev, char* passwd) {
  ReaderDevice& self = *this;
  return read_as_text<k4442PinSize>(int16_t(k4442PinSize), passwd,
                                    [&](uint8_t* pin) { return self.readpin_4442(icdev, pin); });
}

int16_t R42Device::readpincount_4442(int32_t) {
  const int16_t counter = read_pin_counter(*this, r42_cmd::kReadPin4442);
  if (counter < 0) return counter;
  // Three attempts, one bit each.
  return int16_t(std::popcount(uint8_t(counter & 0x07)));
}

int16_t R42Device::changepin_4442(int32_t, const unsigned char* passwd) {
  return block_command(*this, r42_cmd::kChangePin4442, passwd, k4442PinSize);
}

int16_t R42Device::changepin_4442_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text<k4442PinSize>(int16_t(k4442PinSize), passwd, [&](const uint8_t* pin) {
    return self.changepin_4442(icdev, pin);
  });
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
  return memory_read_hex<k4442ProtectionSize>(*this, &ReaderDevice::readprotect_4442, icdev, offset, length,
                                      data_buffer);
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
  return memory_write_hex<k4442ProtectionSize>(*this, &ReaderDevice::writeprotect_4442, icdev, offset, length,
                                       data_buffer);
}

// --- 24C01 to 24C64 ---

int16_t R42Device::write_24c(int32_t, int16_t offset, int16_t length,
                             const unsigned char* snd_buffer) {
  return write_chunked(*this, k24c, offset, length, snd_buffer);
}

int16_t R42Device::write_24c_hex(int32_t icdev, int16_t offset, int16_t length,
                                 const char* snd_buffer) {
  return memory_write_hex<k24c.capacity>(*this, &ReaderDevice::write_24c, icdev, offset, length,
                                       snd_buffer);
}

int16_t R42Device::write_24c64(int32_t, int16_t offset, int16_t length,
                               const unsigned char* snd_buffer) {
  return write_chunked(*this, k24c64, offset, length, snd_buffer);
}

int16_t R42Device::write_24c64_hex(int32_t icdev, int16_t offset, int16_t length,
                                   const char* snd_buffer) {
  return memory_write_hex<k24c64.capacity>(*this, &ReaderDevice::write_24c64, icdev, offset, length,
                                       snd_buffer);
}

int16_t R42Device::read_24c(int32_t, int16_t offset, int16_t length,
                            unsigned char* receive_buffer) {
  return read_chunked(*this, k24c, offset, length, receive_buffer);
}

int16_t R42Device::read_24c_hex(int32_t icdev, int16_t offset, int16_t length,
                                char* receive_buffer) {
  return memory_read_hex<k24c.capacity>(*this, &ReaderDevice::read_24c, icdev, offset, length,
                                      receive_buffer);
}

int16_t R42Device::read_24c64(int32_t, int16_t offset, int16_t length,
                              unsigned char* receive_buffer) {
  return read_chunked(*this, k24c64, offset, length, receive_buffer);
}

int16_t R42Device::read_24c64_hex(int32_t icdev, int16_t offset, int16_t length,
                                  char* receive_buffer) {
  return memory_read_hex<k24c64.capacity>(*this, &ReaderDevice::read_24c64, icdev, offset, length,
                                      receive_buffer);
}

// --- SLE4428 ---

int16_t R42Device::read_4428(int32_t, int16_t offset, int16_t length, unsigned char* data_buffer) {
  return read_chunked(*this, k4428Memory, offset, length, data_buffer);
}

int16_t R42Device::read_4428_hex(int32_t icdev, int16_t offset, int16_t length, char* data_buffer) {
  return memory_read_hex<k4428Memory.capacity>(*this, &ReaderDevice::read_4428, icdev, offset, length,
                                      data_buffer);
}

int16_t R42Device::write_4428(int32_t, int16_t offset, int16_t length,
                              const unsigned char* data_buffer) {
  return write_chunked(*this, k4428Memory, offset, length, data_buffer);
}

int16_t R42Device::write_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                  const char* data_buffer) {
  return memory_write_hex<k4428Memory.capacity>(*this, &ReaderDevice::write_4428, icdev, offset, length,
                                       data_buffer);
}

int16_t R42Device::verifypin_4428(int32_t icdev, const unsigned char* passwd) {
  const int16_t result = block_command(*this, r42_cmd::kVerifyPin4428, passwd, k4428PinSize);
  if (result != 0) return result;
  return pin_write_test(*this, icdev, k4428Bytes, true);
}

int16_t R42Device::verifypin_4428_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text<k4428PinSize>(int16_t(k4428PinSize), passwd, [&](const uint8_t* pin) {
    return self.verifypin_4428(icdev, pin);
  });
}

int16_t R42Device::readpin_4428(int32_t, unsigned char* passwd) {
  return read_pin(*this, r42_cmd::kReadPin4428, passwd, k4428PinSize);
}

int16_t R42Device::readpin_4428_hex(int32_t icdev, char* passwd) {
  ReaderDevice& self = *this;
  return read_as_text<k4428PinSize>(int16_t(k4428PinSize), passwd,
                                    [&](uint8_t* pin) { return self.readpin_4428(icdev, pin); });
}

int16_t R42Device::readpincount_4428(int32_t) {
  const int16_t counter = read_pin_counter(*this, r42_cmd::kReadPin4428);
  if (counter < 0) return counter;
  // Eight attempts, one bit each.
  return int16_t(std::popcount(uint8_t(counter)));
}

int16_t R42Device::changepin_4428(int32_t, const unsigned char* passwd) {
  return block_command(*this, r42_cmd::kChangePin4428, passwd, k4428PinSize);
}

int16_t R42Device::changepin_4428_hex(int32_t icdev, const char* passwd) {
  ReaderDevice& self = *this;
  return write_from_text<k4428PinSize>(int16_t(k4428PinSize), passwd, [&](const uint8_t* pin) {
    return self.changepin_4428(icdev, pin);
  });
}

int16_t R42Device::readprotect_4428(int32_t, int16_t offset, int16_t length,
                                    unsigned char* data_buffer) {
  return read_chunked(*this, k4428Protection, offset, length, data_buffer);
}

int16_t R42Device::readprotect_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                        char* data_buffer) {
  return memory_read_hex<k4428Protection.capacity>(*this, &ReaderDevice::readprotect_4428, icdev, offset, length,
                                      data_buffer);
}

int16_t R42Device::writeprotect_4428(int32_t, int16_t offset, int16_t length,
                                     const unsigned char* data_buffer) {
  return write_chunked(*this, k4428Protection, offset, length, data_buffer);
}

int16_t R42Device::writeprotect_4428_hex(int32_t icdev, int16_t offset, int16_t length,
                                         const char* data_buffer) {
  return memory_write_hex<k4428Protection.capacity>(*this, &ReaderDevice::writeprotect_4428, icdev, offset, length,
                                       data_buffer);
}

// --- card detection ---

int16_t R42Device::Check_4442(int32_t icdev) {
  return check_sle(*this, icdev, k4442Bytes, kCheck4442);
}

int16_t R42Device::Check_4428(int32_t icdev) {
  return check_sle(*this, icdev, k4428Bytes, kCheck4428);
}

int16_t R42Device::Check_24C01(int32_t icdev) { return check_24c(*this, icdev, 1); }
int16_t R42Device::Check_24C02(int32_t icdev) { return check_24c(*this, icdev, 2); }
int16_t R42Device::Check_24C04(int32_t icdev) { return check_24c(*this, icdev, 4); }
int16_t R42Device::Check_24C08(int32_t icdev) { return check_24c(*this, icdev, 8); }
int16_t R42Device::Check_24C16(int32_t icdev) { return check_24c(*this, icdev, 16); }
int16_t R42Device::Check_24C64(int32_t icdev) { return check_24c(*this, icdev, 64); }

int16_t R42Device::CheckCard(int32_t icdev) {
  ReaderDevice& self = *this;
  if (self.Check_4442(icdev) == 0) return kKind4442;
  if (self.Check_4428(icdev) == 0) return kKind4428;
  // Powers up a processor card in contact slot 0: 0 for T=0, 1 for T=1.
  const int16_t cpu = self.Check_CPU(icdev);
  if (cpu == 0) return kKindCpuT0;
  if (cpu == 1) return kKindCpuT1;
  const int16_t kilobits = probe_24c_capacity(self, icdev);
  for (const EepromCandidate& candidate : kEepromCandidates)
    if (candidate.kilobits == kilobits) return candidate.kind;
  return -1;
}
