// The magnetic stripe reader/writer and the keypad of a simulated terminal
// reader. Join a model as an attachment of its state (table rows) or with
// attach(model) (simulators on a pseudo-terminal); either way it answers
// under the model's lock, so tests on a running simulator reach it through
// model.with().
//
//   07 00 t          a queued swipe: [L1][T1][L2][T2][L3][T3]; none: 0701
//   07 01            the reader starts waiting for a swipe
//   07 01 t L1 T1 .. writes the three tracks (kept in `written`)
//   07 02            stops waiting
//   07 03            a poll while started: the next queued swipe, else 0705
//                    (polls before a start: 0704)
//   07 10 m a b c    stripe settings (kept in `settings`)
//   06 02 t          after `entry_delay_ms`, the next queued PIN; none:
//                    `no_pin_status` (0601 refused, 0602 cancelled)
//   C0 10 t 00 L N   starts a PIN pad entry with the card number N; C0 10 t 01
//                    without one
//   C0 11            the PIN of the running entry; none running: 0601
//   C0 12            ends the entry
// A request of the wrong length answers 6A 80.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/r42_reader_model.h"

class StripeKeypadSim : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;

  // Tracks as the reader carries them, each track's length first.
  static Bytes tracks(const std::string& t1, const std::string& t2, const std::string& t3);

  void queueSwipe(Bytes encoded) { swipes.push_back(std::move(encoded)); }

  void attach(R42ReaderModel& model);
  std::optional<Bytes> respond(const Bytes& request) override;

  std::deque<Bytes> swipes;
  std::deque<std::string> pins;
  int entry_delay_ms = 0;
  uint16_t no_pin_status = 0x0601;
  bool started = false;
  int polls = 0;
  std::optional<Bytes> written;
  Bytes settings;
  // The PIN pad entry: running, its card number (empty in mode 1), its PIN.
  bool pad_running = false;
  std::string pad_card_number;
  std::string pad_pin = "123456";
};
