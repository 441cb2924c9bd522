#include "sim/nfc_peer.h"

#include "sim/mifare_card.h"
#include "sim/sim_replies.h"

namespace {

using Bytes = NfcPeer::Bytes;

}  // namespace

Bytes NfcPeer::answerTo(const Bytes& data) {
  Bytes out(data.rbegin(), data.rend());
  out.push_back(0x90);
  out.push_back(0x00);
  return out;
}

std::optional<Bytes> NfcPeer::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0x04 || request[1] < 0x50 ||
      (request[1] > 0x54 && request[1] != 0x56 && request[1] != 0x60))
    return std::nullopt;
  const uint8_t code = request[1];
  const Bytes params(request.begin() + 3, request.end());
  const bool one_byte = code == 0x54 || code == 0x60;
  if ((one_byte && params.size() != 1) || (!one_byte && code != 0x53 && !params.empty()))
    return sim_refused(card_status::kBadRequest);
  if (code == 0x50) {
    active = true;
    return sim_ok();
  }
  if (!active) return sim_refused(kNotActive);
  switch (code) {
    case 0x51:
      return sim_ok(atr);
    case 0x52:
      active = false;
      return sim_ok();
    case 0x53:
      pushed.push_back(params);
      outbox.push_back(sim_ok(answerTo(params)));
      return sim_ok();
    case 0x54:
      service = params[0];
      return sim_ok();
    case 0x60:
      emulation = params[0];
      return sim_ok();
    default: {  // 0x56
      if (outbox.empty()) return sim_ok({0x00});
      Bytes waiting = outbox.front();
      outbox.pop_front();
      waiting.erase(waiting.begin(), waiting.begin() + 3);
      waiting.insert(waiting.begin(), 0x01);
      return sim_ok(waiting);
    }
  }
}

std::optional<Bytes> NfcPeer::unsolicited() {
  if (outbox.empty()) return std::nullopt;
  Bytes reply = outbox.front();
  outbox.pop_front();
  return reply;
}
