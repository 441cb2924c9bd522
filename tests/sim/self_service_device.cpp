#include "sim/self_service_device.h"

#include "sim/mifare_card.h"

std::optional<SelfServiceDevice::Bytes> SelfServiceDevice::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0x09 || (request[1] != 0x0C && request[1] != 0x0D))
    return std::nullopt;
  const bool set = request[1] == 0x0C;
  if (request.size() != (set ? 4u : 3u)) return R42ReaderModel::reply(card_status::kBadRequest, 0);
  if (!set) return R42ReaderModel::reply(0, 0, {front_switch});
  settings.push_back(request[3]);
  if (refuse_set) return R42ReaderModel::reply(*refuse_set, 0);
  if (!stuck) front_switch = request[3];
  return R42ReaderModel::reply(0, 0);
}
