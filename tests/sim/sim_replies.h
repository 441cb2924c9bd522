// Reply payloads of the simulated r42 modules: [status BE16][00][data].
#pragma once

#include <cstdint>
#include <vector>

#include "sim/r42_reader_model.h"

inline std::vector<uint8_t> sim_ok(const std::vector<uint8_t>& data = {}) {
  return R42ReaderModel::reply(0, 0x00, data);
}
inline std::vector<uint8_t> sim_refused(uint16_t status) {
  return R42ReaderModel::reply(status, 0x00);
}
