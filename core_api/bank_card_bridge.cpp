// Bank cards through the outside library libkx_pboc.so: the core prepares
// the card, the library runs the card application over one APDU callback.
// The library is loaded, told its callback and released within each
// request; the whole request holds api_lock.
#include <cstring>
#include <vector>

#include "connection/reader_device.h"
#include "core_api/outside_library.h"
#include "kx_core.h"
#include "platform/settings.h"

namespace {

// Longest command the callback takes, and the reply area: the reader hands
// a reply up to a 16-bit length and its status word without a capacity.
constexpr int32_t kCommandMax = 2048;
constexpr size_t kReplyArea = 65538;
// Time-out byte of the contactless exchange.
constexpr uint8_t kLinkTimeout = 7;
// An account number has at least this many characters.
constexpr size_t kNumberMin = 4;
constexpr uint16_t kFieldResetMs = 10;
constexpr uint8_t kTypeA = 'A';
constexpr uint8_t kRequestIdle = 0;
constexpr uint8_t kContactSeat = 0x0C;

std::atomic<bool> bank_window{false};

int32_t bank_apdu_callback(int32_t icdev, int32_t type, uint8_t* buffer, int32_t length,
                           int32_t capacity) {
  ReaderDevice* device = callback_device(bank_window, icdev);
  if (device == nullptr || buffer == nullptr || length < 4 || capacity < 2) return -1;
  if (length > kCommandMax || (type != KX_BANK_CONTACT && type != KX_BANK_CONTACTLESS)) return -1;
  uint8_t command[kCommandMax + 1];
  std::memcpy(command, buffer, size_t(length));
  int32_t sent = length;
  if (length == 4) command[sent++] = 0x00;  // Le: any length
  std::vector<uint8_t> reply(kReplyArea);
  int32_t got = 0;
  const int16_t result =
      type == KX_BANK_CONTACT
          ? device->cpuapduInt(icdev, sent, command, &got, reply.data())
          : device->pro_commandlinkInt(icdev, sent, command, &got, reply.data(), kLinkTimeout);
  if (result != 0 || got < 0 || size_t(got) > reply.size() || got > capacity) return -1;
  std::memcpy(buffer, reply.data(), size_t(got));
  return got;
}

const KxBankCallbacks kBankCallbacks = {&bank_apdu_callback};

// The card ready for the library's APDUs, through the device itself.
bool prepare_card(ReaderDevice& device, int32_t icdev, int32_t type) {
  char scratch[2048];
  uint8_t length = 0;
  if (type == KX_BANK_CONTACTLESS) {
    device.reset(icdev, kFieldResetMs);
    device.config_card(icdev, kTypeA);
    return device.card_double_hex(icdev, kRequestIdle, scratch) == 0 &&
           device.pro_resetInt(icdev, &length, reinterpret_cast<uint8_t*>(scratch)) == 0;
  }
  if (type == KX_BANK_CONTACT) {
    return device.setcpu(icdev, kContactSeat) == 0 &&
           device.cpureset(icdev, &length, reinterpret_cast<uint8_t*>(scratch)) == 0;
  }
  return false;
}

// One request on `device`: `entry` names the library's entry, `run` calls
// it. 0, -1 (card not ready), -2 (library or entry missing) or -4 (the
// entry failed).
template <typename Entry, typename Run>
int16_t bank_library_call(ReaderDevice& device, int32_t icdev, int32_t type, const char* entry,
                          Run run) {
  const std::unique_ptr<DynamicLibrary> library =
      load_outside_library(library_directory(), "kx_pboc");
  if (!library) return -2;
  KxLibMain lib_main = nullptr;
  Entry call = nullptr;
  if (!find_entry(*library, "Zr_LibMain", lib_main) || !find_entry(*library, entry, call))
    return -2;
  CallbackWindow window(bank_window);
  lib_main(KX_LIBMAIN_CALLBACKS, const_cast<KxBankCallbacks*>(&kBankCallbacks));
  if (!prepare_card(device, icdev, type)) return -1;
  return run(call) == 0 ? 0 : -4;
}

void type_line(CallTrace& t, int32_t type) { t.number("  parameter:[type[in]]", type); }

}  // namespace

// A null output is refused before anything is loaded.
QM_API int16_t kx_GetBankAccountNumber(int32_t icdev, int32_t type, char* number) {
  return core_frame(
      "kx_GetBankAccountNumber", "  parameter:[icdev[in]]", icdev,
      [&](CallTrace& t) { type_line(t, type); },
      [&](ReaderDevice& device) -> int16_t {
        if (number == nullptr) return -1;
        const int16_t result = bank_library_call<KxBankAccountNumber>(
            device, icdev, type, "Zr_GetBankAccountNumber",
            [&](KxBankAccountNumber call) { return call(icdev, type, number); });
        return result == 0 && strnlen(number, kNumberMin) < kNumberMin ? -1 : result;
      },
      [&](CallTrace& t, int16_t) { t.text("  parameter:[number[out]]", number); });
}

QM_API int16_t kx_GetBankMagInfo(int32_t icdev, int32_t type, char* track1, char* track2,
                                 char* track3) {
  return core_frame(
      "kx_GetBankMagInfo", "  parameter:[icdev[in]]", icdev,
      [&](CallTrace& t) { type_line(t, type); },
      [&](ReaderDevice& device) -> int16_t {
        if (track1 == nullptr || track2 == nullptr || track3 == nullptr) return -1;
        return bank_library_call<KxBankMagInfo>(
            device, icdev, type, "Zr_GetBankMagInfo",
            [&](KxBankMagInfo call) { return call(icdev, type, track1, track2, track3); });
      },
      [&](CallTrace& t, int16_t) {
        t.text("  parameter:[track1[out]]", track1);
        t.text("  parameter:[track2[out]]", track2);
        t.text("  parameter:[track3[out]]", track3);
      });
}
