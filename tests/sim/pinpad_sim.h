// A PIN pad behind the simulated r42 reader.
//
//   R42ReaderModel model;
//   PinpadSim pad;
//   pad.attach(model);       // 22 01 and 22 02 reach the pad
//
// The reader carries one pad frame per request: 22 01 [seconds][count]
// [frame] (the relay) and 22 02 [tenths BE16][count BE16][frame]; the reply
// is [00 00][spare][the pad's answer]. Without a pad (present = false) the
// reader answers status 0x6F01; a request whose count disagrees with its
// frame gets 0x6A80.
//
// Frames the pad understands, each bounds-checked (anything else, and
// nibble characters outside '0'-'?', answer EE):
//   A1 yy                    plain PIN entry: pin_answer
//   ESC F8 CR LF             version text
//   ESC FD m CR LF           voice m (noted)                         AA
//   ESC R CR LF              init                                    AA
//   ESC M k old new CR LF    nibble characters; old must be main key k
//                            (16 zero bytes until set)               AA
//   ESC S m w key CR LF      work key (m, w) = 2-key 3DES-ECB decryption
//                            of key under main key m                 AA
//   ESC A m w CR LF          activates work key (m, w)               AA
//   ESC N l CR LF            key length 08 (DES: the work key's first 8
//                            bytes) or 10 (2-key 3DES)               AA
//   ESC H c data CR LF       ECB under the active work key: c '0'
//                            encrypts, '1' decrypts; whole blocks of 8
//   ESC E|G data CR LF       CBC-MAC under the active work key, zero IV,
//                            data padded with zeros to whole blocks: 8 bytes
//   ESC F y m CR LF, ESC I y m card[12] CR LF    enciphered PIN entry: pin_answer
//   ESC P 0 d CR LF          DES selection d (noted)                 AA
//   ESC D l text CR LF       display line l (noted)                  AA
//   ESC DA 00|01|02 CR LF    scanner: 00 start (AA); 01 the next piece of
//                            `barcode`, 127 bytes at most, then empty;
//                            02 exit: BB `busy_exits` times, then AA
//
// Thread safety: every member takes the pad's lock; answer() runs under
// the model's lock as well.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/locked_state.h"

class R42ReaderModel;

struct PinpadState {
  using Bytes = std::vector<uint8_t>;
  using KeySlot = std::pair<uint8_t, uint8_t>;  // main set, work set

  bool present = true;
  std::string version = "PAD SIM 2.0";
  Bytes pin_answer = {'1', '2', '3', '4', '5', '6'};
  std::map<uint8_t, Bytes> main_keys;  // absent: 16 zero bytes
  std::map<KeySlot, Bytes> work_keys;
  KeySlot active{0, 0};
  uint8_t key_length = 0x10;
  Bytes barcode;
  size_t barcode_sent = 0;
  int busy_exits = 0;
  // What the pad was asked, in order.
  std::vector<Bytes> frames;
  std::vector<uint8_t> voices;
  std::vector<uint8_t> des_selections;
  std::vector<std::string> display;  // line character, then the text
};

class PinpadSim : public LockedState<PinpadState> {
 public:
  using Bytes = State::Bytes;

  static constexpr uint16_t kNoPadStatus = 0x6F01;
  static constexpr size_t kBarcodePiece = 127;

  void attach(R42ReaderModel& model);

  // One reader request of 22 01 or 22 02, as the model hands it over.
  Bytes answer(const Bytes& request);

 private:
  Bytes frameAnswer(const Bytes& frame);
  Bytes escape(uint8_t letter, const Bytes& body);
  Bytes workKey() const;
};
