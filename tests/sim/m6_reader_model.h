// The state of a simulated m6-family reader and its answers to commands,
// apart from any framing.
//
// The model turns one command ([command][data]) into one reply: a payload
// ([status][data]), or, when scripted, raw bytes that stand in place of the
// reply frame, or no reply at all. M6Reader runs it behind its framings on a
// descriptor; an in-memory transport (memory_readers.h) calls answer()
// directly on the caller's thread.
//
// Commands answered from the state:
//   0x80  00 and the two version bytes (default 01 02)
//   0xFC  00 and the 32 serial bytes (default "SP0" and 29 '0's)
//   other 00 and the command's data echoed
// Simulated hardware in State::attachments (sim_attachment.h; a card field
// through m6_card_front.h) is asked before those, so a table row can put
// cards behind the reader in its given() and look at them in its then().
// Scripted replies come first of all: pushed ones (pushReply / pushRaw /
// pushSilence), one per command in the order pushed, then those for the
// Nth command of one code (scriptReply).
//
// Thread safety: every member takes the model's lock.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_attachment.h"

class M6ReaderModel {
 public:
  using Bytes = std::vector<uint8_t>;

  struct State {
    uint8_t version[2] = {0x01, 0x02};
    std::string serial = "SP0" + std::string(29, '0');
    SimAttachments attachments;
  };

  struct Reply {
    enum class Kind { kPayload, kRaw, kSilence } kind;
    Bytes bytes;  // the payload, or the raw bytes
  };

  // The reply to one command; logs it. An empty command gets no reply.
  Reply answer(const Bytes& command);

  void setVersion(uint8_t high, uint8_t low);
  // Cut or padded with '0' to 32 characters.
  void setSerial(const std::string& serial32);

  // The next reply is [status][data] as given (an empty one is [00]).
  void pushReply(Bytes payload);
  // The next reply is these bytes in place of the reply frame.
  void pushRaw(Bytes bytes);
  // The next command gets no answer at all.
  void pushSilence();
  // The Nth command of `code` from now (1 = the next one) gets `payload`.
  void scriptReply(uint8_t code, Bytes payload, int nth = 1);

  // Every command answered, as [command][data].
  std::vector<Bytes> commands() const;
  // The payload answered to each of them (empty for a raw or no reply).
  std::vector<Bytes> replies() const;

  // Runs `f` on the state under the lock.
  template <typename F>
  auto with(F f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f(state_);
  }
  State snapshot() const;

 private:
  mutable std::mutex mu_;
  State state_;
  std::deque<Reply> script_;
  std::map<std::pair<uint8_t, size_t>, Bytes> by_code_;  // (code, count) -> payload
  std::map<uint8_t, size_t> counts_;
  Reply answerLocked(const Bytes& command);

  std::vector<Bytes> commands_;
  std::vector<Bytes> replies_;
};
