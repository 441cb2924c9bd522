// An NFC peer in front of the simulated r42 reader, in peer mode.
//
//   04 50 init, 04 52 deactivate     success; `active` follows them
//   04 51                            the activation answer (`atr`)
//   04 53 [data]                     hands data to the peer, which answers
//                                    later: its answer (the data reversed,
//                                    then 90 00) waits in `outbox` as a
//                                    reply of the reader's own
//   04 54 [flag], 04 60 [mode]       success; the byte is kept
//   04 56                            [01][the first waiting answer], taken
//                                    from the outbox, or [00] when none waits
// Every command but 04 50 answers kNotActive until init. A reply of the
// reader's own goes out on an exchange that sends nothing: in memory the
// model asks unsolicited(); on a pseudo-terminal a test writes it with
// R42SerialSim::sendRaw.
//
// Join a model as an attachment of its state.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/r42_reader_model.h"

class NfcPeer : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;
  static constexpr uint16_t kNotActive = 0x6985;

  // The peer's answer to pushed data.
  static Bytes answerTo(const Bytes& data);

  std::optional<Bytes> respond(const Bytes& request) override;
  std::optional<Bytes> unsolicited() override;

  bool active = false;
  Bytes atr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F};
  std::vector<Bytes> pushed;  // data handed to the peer, in order
  uint8_t service = 0, emulation = 0;
  // Whole reply payloads ([status][00][data]) the reader will send on its
  // own, first in first out.
  std::deque<Bytes> outbox;
};
