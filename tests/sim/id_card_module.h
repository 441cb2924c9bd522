// The identity-card module of the simulated r42 reader, with the card on
// its antenna.
//
//   R42ReaderModel model;
//   IdCardModule module;                  // card A on the antenna
//   module.attach(model);                 // registers 04 20 - 04 26, 04 2D
//   module.with([](IdCardModule::State& s) { s.card = IdCard::b(); });
//
// Reader commands (replies [status BE16][00][data]):
//   04 21, 04 26        find card: status 0 with a card, else no_card_status
//   04 20               record: [L BE16][00 00 90][T BE16][P BE16][text][photo]
//   04 22 0B            fingerprint: [L BE16][fingerprint]
//   04 25               card UID: the 8 UID bytes
//   04 24 <host frame>  the security-module tunnel: [L BE16][module frame]
//   04 2D [mode][type]  the whole card at once: nothing for type 0, else
//                       [T][P][F][E] (BE16 each), text, photo, fingerprint
//                       and extra text
// Module commands in the tunnel (answer status 00 00 9F for the search,
// 00 00 90 for the rest):
//   20 01 search: 00 00 00 00          20 02 select: eight 00 bytes
//   30 10 [T][P][F] text, photo, fingerprint (refused, status 00 00 41,
//         for a card without fingerprint data)
//   30 01 [T][P] text, photo           30 03 the 70-byte extra text
//   12 FF the module's 16-byte serial number (answered with a card or without)
// The module checks every host frame (preamble, length, check byte) and
// counts bad ones; it answers them, and any unknown command, with status
// 00 00 10. Without a card every command fails with no_card_status (reader
// commands) or module status 00 00 80.
//
// Fault switches in State change what goes out; the module always answers,
// so no test waits for a time-out.
//
// Thread safety: handlers run under the model's lock (the simulator thread
// behind R42SerialSim); every member takes the module's own lock.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/memory_readers.h"
#include "sim/r42_reader_model.h"

// A card as its module reads it.
struct IdCard {
  using Bytes = std::vector<uint8_t>;

  // The text's fields in layout order, without their padding.
  std::vector<std::u16string> fields;
  Bytes text;    // 256 bytes of UCS-2, low byte first
  Bytes photo;   // compressed photo
  Bytes finger;  // fingerprint data; empty: the card has none
  Bytes uid;     // 8 bytes
  Bytes extra;   // the 70-byte extra text

  // Resident card A: 张三, male, nation 01, born 19800101, valid
  // 20150101-20350101; photo (7i+3)&FF and fingerprint (13i+5)&FF, 1024
  // bytes each; UID 01..08.
  static IdCard a();
  // Resident card B: 李四, sex 2, nation 98, valid from 20100101 for good
  // ("长期"); photo (5i+1)&FF and fingerprint (11i+2)&FF; UID 11..18.
  static IdCard b();
  // A permanent-residence card for foreigners and a Hong Kong, Macau and
  // Taiwan residence card, every field different from every other.
  static IdCard foreigner();
  static IdCard hkMoTw();
};

// A card whose text holds these fields in order, each padded with spaces
// to its width in characters (256 bytes in all), with its other parts.
IdCard id_card(const std::vector<std::pair<std::u16string, size_t>>& fields, IdCard::Bytes photo,
               IdCard::Bytes finger, IdCard::Bytes uid, IdCard::Bytes extra);
// `n` bytes (m*i + c) & 0xFF.
IdCard::Bytes id_pattern(size_t n, unsigned m, unsigned c);

class IdCardModule {
 public:
  using Bytes = std::vector<uint8_t>;

  // How one module answer frame is spoiled.
  struct FrameFault {
    // The frame's length field instead of the true one.
    std::optional<uint16_t> length = std::nullopt;
    bool bad_preamble = false;  // AA AA AA 96 68
    bool bad_check = false;     // check byte inverted
    // Instead of the proper status bytes.
    std::optional<Bytes> status = std::nullopt;
    size_t cut = 0;            // bytes dropped from the frame's end
    int photo_overstated = 0;  // added to the announced photo length
  };

  struct State {
    std::optional<IdCard> card = IdCard::a();
    uint16_t no_card_status = 0x6A82;
    // Record faults: T as announced, L as announced (added to the true
    // one), and bytes dropped from the record's end.
    std::optional<uint16_t> text_length;
    int record_length_added = 0;
    size_t record_cut = 0;
    // By module command word.
    std::map<uint16_t, FrameFault> frame_faults;
    // Host frames the module refused as malformed.
    size_t bad_host_frames = 0;
    // The module's serial number, as 12 FF answers it.
    Bytes module_serial = {0x02, 0x01, 0x03, 0x00, 0x4E, 0x61, 0xBC, 0x00,
                           0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    // 04 2D: added to the extra text's announced length.
    int parts_length_added = 0;
  };

  // Registers the reader commands with the model; the module must outlive
  // the model's use of them.
  void attach(R42ReaderModel& model);

  template <typename F>
  auto with(F f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f(state_);
  }
  State snapshot() const;

  Bytes answer(const Bytes& request);

  // A tunnel reply as the reader sends it, carrying the module frame around
  // `body` (status bytes and answer), for rows that spell one out.
  static Bytes tunnel_reply(const Bytes& body);

 private:
  Bytes tunnel(const uint8_t* frame, size_t size);
  Bytes parts(const uint8_t* params, size_t size);
  Bytes moduleFrame(uint16_t command, Bytes body) const;

  mutable std::mutex mu_;
  State state_;
};

// An r42 reader in memory with the module attached, for table rows
// (wire_table.h): given() and then() see the module's state.
struct IdCardMemoryReader : R42MemoryReader {
  using State = IdCardModule::State;
  explicit IdCardMemoryReader(const char* profile = kDefaultProfile) : R42MemoryReader(profile) {
    module.attach(model);
  }
  template <typename F>
  void edit(F f) {
    module.with(std::move(f));
  }
  State state() const { return module.snapshot(); }

  IdCardModule module;
};
