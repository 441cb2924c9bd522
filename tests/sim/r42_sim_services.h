// The payment module, settings and diagnostics of the simulated r42 reader,
// and an in-memory reader that carries them with the PIN pad.
//
//   R42ReaderModel model;
//   ServicesSim services;
//   services.attach(model);
//
// Commands (replies [status][00][data]; a malformed request gets 0x6A80):
//   B0 00-12   terminal and wallet: each set is kept and its get returns it
//              (a get of n bytes returns at most what was set); B0 02
//              debits: a secret other than wallet_secret gives 0x6300, an
//              amount above the balance 0x9401; B0 03 credits; B0 10
//              restores the defaults; B0 12 t r: [records in table t]
//              [record r of table t, when there is one]
//   C0 04      one block through key_table[keytype] (24 bytes): enmode high
//              nibble 0 = 3-key 3DES (SM4: the first 16 bytes), 1/2/3 = DES
//              with key part 1/2/3; low nibble 0 encrypts, 1 decrypts.
//              8 data bytes: DES, 16: SM4; an unknown key type 0x6A88
//   C0 03      the enciphered PIN typed with the account number: en_pass
//   06 01      the PIN typed on the reader's keypad: reader_pin
//   0F 18/26/27/28/29/31/32, 07 12/13/14, 22 00   settings: each get
//              returns its set; pps_read_back, when set, replaces the PPS
//   AF 01-04, AF 06   NIC address read and write, self-tests (ok)
//   AF 05 l n data    the reader's serial line: the bytes waiting on the
//              line's pseudo-terminal (serialLine()), up to n, come back as
//              [count][bytes] and are written back on the line (with
//              garble_line_reply the reply's first byte is inverted)
//   D0 01      the tunnel: tunnel_answers[first inner byte] as the whole
//              reply, else success with no data
//   40 00      keypad modules: module_answers[inner code] as the whole
//              reply, else success with module status 0000
//
// Thread safety: every member takes the sim's lock; handlers run under the
// model's lock as well.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/locked_state.h"
#include "sim/memory_readers.h"
#include "sim/pinpad_sim.h"
#include "sim/pty_pair.h"
#include "sim/r42_reader_model.h"

struct ServicesState {
  using Bytes = std::vector<uint8_t>;

  // Terminal and wallet.
  uint32_t balance = 0;
  Bytes wallet_secret = {0x12, 0x34, 0x56};
  Bytes terminal_number, merchant_code, hardware_serial;
  Bytes sign_parameters = {'S', 'I', 'G', 'N'};
  uint8_t transaction_type = 0;
  Bytes trade_key = Bytes(8, 0);
  Bytes authentication;  // the 16 bytes of the last B0 04
  int flash_cards = 0, factory_resets = 0;
  std::map<uint8_t, std::vector<Bytes>> records;  // table -> records
  // Keypad keys and ciphers.
  std::map<uint8_t, Bytes> key_table;
  int cipher_calls = 0;
  uint8_t kb_key_id = 0;
  Bytes en_pass = {0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8};
  std::string reader_pin = "8642";
  // Settings.
  uint8_t cpu_616c = 0, pps = 0, device_baud = 3, usb_mode = 1, mag_format = 0;
  std::optional<uint8_t> pps_read_back;
  Bytes mag = {1, 1, 1, 0};  // mode, track 1, 2, 3
  uint8_t pinpad_baud = 2;
  Bytes config;  // the 68 parameter bytes of the last 0F 18
  Bytes nic_mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  bool garble_line_reply = false;  // AF 05 reports other bytes than it echoes
  // Modules behind the reader, answered as scripted.
  std::map<uint8_t, Bytes> tunnel_answers;
  std::map<uint16_t, Bytes> module_answers;
};

class ServicesSim : public LockedState<ServicesState> {
 public:
  using Bytes = State::Bytes;

  void attach(R42ReaderModel& model);
  Bytes answer(const Bytes& request);

  // The reader's serial line; the host side opens slavePath().
  PtyPair& serialLine();

 private:
  Bytes terminal(uint16_t code, const Bytes& params);
  Bytes cipher(uint16_t code, const Bytes& params);
  Bytes settings(uint16_t code, const Bytes& params);
  Bytes loopBack(const Bytes& params);

  std::unique_ptr<PtyPair> line_;
};

// An in-memory r42 reader with the PIN pad and the services attached; its
// State joins the three, so table rows can prepare and check them all.
struct R42ServicesReader : R42MemoryReader {
  struct State {
    R42ReaderModel::State reader;
    PinpadSim::State pad;
    ServicesSim::State services;
  };

  explicit R42ServicesReader(const char* profile = kDefaultProfile) : R42MemoryReader(profile) {
    pad.attach(model);
    services.attach(model);
  }

  template <typename F>
  void edit(F f) {
    State s = state();
    f(s);
    model.with([&](R42ReaderModel::State& r) { r = s.reader; });
    pad.with([&](PinpadSim::State& p) { p = s.pad; });
    services.with([&](ServicesSim::State& v) { v = s.services; });
  }
  State state() const { return {model.snapshot(), pad.snapshot(), services.snapshot()}; }

  PinpadSim pad;
  ServicesSim services;
};
