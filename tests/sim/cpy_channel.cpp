#include "sim/cpy_channel.h"

#include <algorithm>
#include <utility>

#include "sim/mifare_card.h"
#include "sim/sim_replies.h"

namespace {

using Bytes = CpyChannel::Bytes;

// The request `code` with the parameters `params` as the card models take it.
Bytes relay(uint16_t code, const uint8_t* params, size_t size) {
  Bytes request(3 + size, 0x00);
  request[0] = uint8_t(code >> 8);
  request[1] = uint8_t(code);
  std::copy(params, params + size, request.begin() + 3);
  return request;
}

}  // namespace

std::optional<Bytes> CpyChannel::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0xD0 || request[1] < 0x10 || request[1] > 0x12)
    return std::nullopt;
  using namespace card_status;
  const uint8_t* p = request.data() + 3;
  const size_t n = request.size() - 3;
  switch (request[1]) {
    case 0x10:
      if (n == 1 && p[0] == 0x00) return sim_ok(key);
      if (n != 1 + kKeySize || p[0] != 0x10) return sim_refused(kBadRequest);
      key.assign(p + 1, p + n);
      return sim_ok();
    case 0x11:
      if (n < 1) return sim_refused(kBadRequest);
      if (!contact_) return sim_refused(kNoCard);
      return contact_->respond(relay(0x0304, p, n));
    default:  // 0x12
      if (n < 2 || size_t(p[0] << 8 | p[1]) != n - 2) return sim_refused(kBadRequest);
      if (!field_) return sim_refused(kNoCard);
      return field_->respond(relay(0x0411, p, n));
  }
}
