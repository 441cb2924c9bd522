// The state of a simulated r42 reader and its answers to reader commands.
//
// The model turns one request payload ([code u16 BE][00][parameters]) into
// one reply payload ([status u16 BE][spare byte][data]). It knows nothing of
// framing: plug it into R42SerialSim with
//
//   R42ReaderModel model;
//   sim->setHandler(model.handler());
//
// or call answer() directly from an in-memory transport (memory_readers.h).
//
// Commands answered from the state:
//   0F 10 version text            0F 00 update          0F 20 device reset
//   0F 24 baud code               0F 01 (counted)       0F 13 query data
//   0F 40 chip id bytes           01 01 buzzer (10 ms units, BE16)
//   02 00 LED l on/off f          02 01 LED l second form
//   08 02 back light              04 0D radio field off 04 00 radio reset
//   16 01 clock read              16 00 clock set (year BE16, month..second)
//   05 00/05 01 EEPROM (16384)    05 02/05 03 device-information area (4096)
//   05 08/05 09 data flash        05 0A/05 0B out EEPROM (sparse, any u32
//   05 07 data flash sector erase  address, unwritten bytes read 0xFF)
//   05 16 multi-flash erase       05 17/05 18 multi-flash read/write
//   05 19 multi-flash region size 05 1A/05 1B custom serial numbers
// Chunked reads and writes take exactly [addr BE32][len BE32] (+ data); the
// multi-flash form [type][hi BE32][lo BE32][00000000][len BE32] (+ data).
// Erases fill one sector of kSectorSize bytes with 0xFF. A request that is
// malformed, out of range (past a memory, an unknown region type, a reply
// that would not fit 2048 bytes) or unknown gets `error_status`.
//
// Memory-card commands (groups 10-14, 18, 19) go to the card in
// `memory_card` (memory_card_slot.h); an empty slot refuses them.
//
// An exchange that sends nothing (an empty request: the device only
// listens) gets the first reply an attachment sends on its own
// (Attachment::unsolicited), else an empty reply, as silence gives.
//
// Extra commands (a card field, say) join with addCommand; they are asked
// before the built-in ones. Simulated hardware can also sit in the state
// (State::attachments, asked after those and before the built-in ones), so
// that a table row can put cards behind the reader in its given() and look
// at them in its then(). Scripted replies (scriptReply) replace the
// answer to the Nth request of one code, e.g. a status word, a short reply
// or an odd spare byte, without touching the state.
//
// Thread safety: answer() runs on the simulator thread while a test reads
// the state; every member takes the model's lock. Handlers registered with
// addCommand run under that lock and must not call back into the model.
#pragma once

#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/memory_card_slot.h"
#include "sim/sim_attachment.h"

class R42ReaderModel {
 public:
  using Bytes = std::vector<uint8_t>;
  using CommandHandler = std::function<Bytes(const Bytes& request)>;

  static constexpr size_t kEepromSize = 16384;
  static constexpr size_t kInfoSize = 4096;
  static constexpr uint64_t kSectorSize = 4096;
  static constexpr size_t kMaxReply = 2048;

  // Simulated hardware behind the reader (sim_attachment.h).
  using Attachment = SimAttachment;

  struct MultiRegion {
    uint64_t size = 0;
    std::map<uint64_t, uint8_t> bytes;  // sparse; absent bytes read 0xFF
  };

  struct State {
    Bytes eeprom = Bytes(kEepromSize, 0x00);
    Bytes info = Bytes(kInfoSize, 0xFF);
    std::map<uint32_t, uint8_t> flash;       // sparse; absent bytes read 0xFF
    std::map<uint32_t, uint8_t> out_eeprom;  // sparse; absent bytes read 0xFF
    std::map<uint8_t, MultiRegion> multi_flash;
    uint16_t year = 2024;
    uint8_t month = 1, day = 1, hour = 0, minute = 0, second = 0;
    std::map<uint8_t, uint8_t> leds;   // LED number -> on/off flag
    std::vector<uint8_t> led_pulses;   // LED numbers of the second form, in order
    uint8_t backlight = 0;
    std::vector<uint16_t> beeps;       // durations in 10 ms units, in order
    uint8_t baud_code = 0;
    int field_offs = 0, field_resets = 0, updates = 0, device_resets = 0, commands_0f01 = 0;
    std::vector<uint16_t> erased_flash_sectors;
    std::string version = "R42 SIM 1.0";
    std::map<uint8_t, std::string> custom_serials;
    Bytes chip_id = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    Bytes query_0f13 = {'Q', '1', '3'};
    MemoryCardSlot memory_card;
    uint16_t error_status = 0x6A82;
    uint8_t spare_byte = 0x00;
    SimAttachments attachments;
  };

  R42ReaderModel();

  // One reply payload for one request payload; logs the request.
  Bytes answer(const Bytes& request);
  // answer() as a handler for R42SerialSim (the model must outlive it).
  std::function<Bytes(const Bytes&)> handler();

  void addCommand(uint16_t code, CommandHandler handler);
  // The Nth request of `code` from now (1 = the next one) gets `reply`
  // instead of its answer, once or (repeat) from then on.
  void scriptReply(uint16_t code, Bytes reply, int nth = 1, bool repeat = false);
  // Shorthand: [status][spare].
  void failWithStatus(uint16_t code, uint16_t status, int nth = 1, bool repeat = false);
  void clearScripts();

  // Runs `f` on the state under the lock.
  template <typename F>
  auto with(F f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f(state_);
  }
  State snapshot() const;
  std::vector<Bytes> log() const;
  // Forgets the requests logged so far (a long benchmark run would keep
  // every one of them).
  void clearLog();
  size_t count(uint16_t code) const;

  // Reply payload builders.
  Bytes ok(const Bytes& data = {}) const;  // caller holds no lock
  static Bytes reply(uint16_t status, uint8_t spare, const Bytes& data = {});

 private:
  Bytes answerLocked(const Bytes& request);
  Bytes chunked(uint16_t code, const uint8_t* params, size_t size);
  Bytes multiFlash(uint16_t code, const uint8_t* params, size_t size);
  Bytes okLocked(const Bytes& data = {}) const;
  Bytes errorLocked() const;

  struct Script {
    uint16_t code;
    size_t first;  // the count of `code` it applies at
    bool repeat;
    Bytes reply;
  };

  mutable std::mutex mu_;
  State state_;
  std::map<uint16_t, CommandHandler> extra_;
  std::vector<Script> scripts_;
  std::map<uint16_t, size_t> counts_;
  std::vector<Bytes> log_;
};

// Wire images written as tests read them: "04 33 00 26" -> bytes. Each
// byte is two hex digits; anything else throws std::invalid_argument, so a
// typo cannot turn into another byte.
inline R42ReaderModel::Bytes hx(const std::string& text) {
  R42ReaderModel::Bytes out;
  std::istringstream in(text);
  std::string byte;
  while (in >> byte) {
    if (byte.size() != 2 || !std::isxdigit(static_cast<unsigned char>(byte[0])) ||
        !std::isxdigit(static_cast<unsigned char>(byte[1])))
      throw std::invalid_argument("hx: not a byte: '" + byte + "' in \"" + text + "\"");
    out.push_back(uint8_t(std::stoul(byte, nullptr, 16)));
  }
  return out;
}
