#include "connection/memory_card_checks.h"

namespace {

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

const CardBytes& sle_bytes(SleCard card) {
  return card == SleCard::k4442 ? k4442Bytes : k4428Bytes;
}

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

}  // namespace

int16_t sle_write_test(ReaderDevice& self, int32_t icdev, SleCard kind) {
  const CardBytes& card = sle_bytes(kind);
  uint8_t before = 0;
  int16_t result = read_byte(self, icdev, card, kTestAddress, before);
  if (result != 0) return result;
  const uint8_t changed = uint8_t(before + 1);
  uint8_t seen = 0;
  result = with_byte_changed(self, icdev, card, kTestAddress, before, changed,
                             [&] { return read_byte(self, icdev, card, kTestAddress, seen); });
  if (result != 0) return result;
  if (kind == SleCard::k4428) {
    result = write_byte(self, icdev, card, k4428CounterAddress, kCounterFull);
    if (result != 0) return result;
  }
  return seen == changed ? 0 : -1;
}

int16_t check_sle(ReaderDevice& self, int32_t icdev, SleCard kind) {
  uint8_t head[kCheckLength];
  const int16_t result = (self.*sle_bytes(kind).read)(icdev, 0, kCheckLength, head);
  if (result != 0) return result;
  const uint8_t check = kind == SleCard::k4442 ? kCheck4442 : kCheck4428;
  return head[6] == kCheckByte6 && head[7] == check ? 0 : -1;
}

int16_t check_24c(ReaderDevice& self, int32_t icdev, int16_t kilobits) {
  return probe_24c_capacity(self, icdev) == kilobits ? 0 : -1;
}

int16_t identify_memory_card(ReaderDevice& self, int32_t icdev) {
  if (self.Check_4442(icdev) == 0) return kKind4442;
  if (self.Check_4428(icdev) == 0) return kKind4428;
  // Powers up a processor card in the contact slot: 0 for T=0, 1 for T=1.
  const int16_t cpu = self.Check_CPU(icdev);
  if (cpu == 0) return kKindCpuT0;
  if (cpu == 1) return kKindCpuT1;
  const int16_t kilobits = probe_24c_capacity(self, icdev);
  for (const EepromCandidate& candidate : kEepromCandidates)
    if (candidate.kilobits == kilobits) return candidate.kind;
  return -1;
}
