#include "sim/self_service_device.h"

#include "sim/mifare_card.h"
#include "sim/sim_replies.h"

std::optional<SelfServiceDevice::Bytes> SelfServiceDevice::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0x09 || (request[1] != 0x0C && request[1] != 0x0D))
    return std::nullopt;
  const bool set = request[1] == 0x0C;
  if (request.size() != (set ? 4u : 3u)) return sim_refused(card_status::kBadRequest);
  if (!set) return sim_ok({front_switch});
  settings.push_back(request[3]);
  if (refuse_set) return sim_refused(*refuse_set);
  if (!stuck) front_switch = request[3];
  return sim_ok();
}
