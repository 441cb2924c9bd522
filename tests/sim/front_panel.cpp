#include "sim/front_panel.h"

#include "sim/sim_replies.h"

namespace {

using Bytes = FrontPanelSim::Bytes;

constexpr uint16_t kMalformed = 0x6A80;
constexpr uint16_t kUnknownTag = 0x6A88;

}  // namespace

void FrontPanelSim::attach(R42ReaderModel& model) {
  for (uint16_t code : {0x0800, 0x0801, 0x080B})
    model.addCommand(code, [this](const Bytes& request) { return *respond(request); });
}

std::optional<Bytes> FrontPanelSim::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0x08) return std::nullopt;
  const size_t n = request.size() - 3;
  switch (request[1]) {
    case 0x00:
      if (n != 1 || request[3] >= kLines) return sim_refused(kMalformed);
      lines[request[3]] = std::string(kColumns, ' ');
      return sim_ok();
    case 0x01: {
      if (n < 3) return sim_refused(kMalformed);
      const size_t line = request[3], column = request[4], count = n - 3;
      if (line >= kLines || column + count > kColumns) return sim_refused(kMalformed);
      lines[line].replace(column, count, std::string(request.begin() + 6, request.end()));
      ++lcd_writes;
      return sim_ok();
    }
    case 0x0B: {
      if (n < 2) return sim_refused(kMalformed);
      const uint8_t tag = request[4];
      if (request[3] == 0x01 && n == 2) {
        auto it = config.find(tag);
        if (it == config.end()) return sim_refused(kUnknownTag);
        Bytes data(it->second);
        data.insert(data.begin(), tag);
        return sim_ok(data);
      }
      if (request[3] == 0x00 && n >= 3 && n == size_t(3 + request[5])) {
        config[tag] = Bytes(request.begin() + 5, request.end());
        return sim_ok();
      }
      return sim_refused(kMalformed);
    }
    default:
      return std::nullopt;
  }
}
