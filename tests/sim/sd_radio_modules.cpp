#include "sim/sd_radio_modules.h"

#include "platform/byte_cursor.h"
#include "platform/byte_helpers.h"
#include "sim/sim_replies.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kMalformed = 0x6A80;
constexpr uint16_t kChunkFailed = 0x6F00;
constexpr uint32_t kChunkMax = 192;

ByteCursor params_of(const Bytes& request) {
  return ByteCursor(request.data() + 3, request.size() - 3);
}

}  // namespace

void SdCardStore::attach(R42ReaderModel& model) {
  for (uint16_t code : {0x0510, 0x0511})
    model.addCommand(code, [this](const Bytes& request) { return *respond(request); });
}

std::optional<Bytes> SdCardStore::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0x05 || (request[1] != 0x10 && request[1] != 0x11))
    return std::nullopt;
  ByteCursor in = params_of(request);
  uint32_t address = 0, length = 0;
  if (!in.be32(address) || !in.be32(length) || length > kChunkMax) return sim_refused(kMalformed);
  chunks.emplace_back(address, length);
  if (++requests == fail_chunk) return sim_refused(kChunkFailed);
  if (request[1] == 0x10) {
    if (in.remaining() != 0) return sim_refused(kMalformed);
    Bytes data(length);
    for (uint32_t i = 0; i < length; ++i) {
      auto it = bytes.find(address + i);
      data[i] = it == bytes.end() ? 0x00 : it->second;
    }
    return sim_ok(data);
  }
  if (in.remaining() != length) return sim_refused(kMalformed);
  for (uint32_t i = 0; i < length; ++i) bytes[address + i] = in.here()[i];
  return sim_ok();
}

void Radio24Module::attach(R42ReaderModel& model) {
  for (uint16_t code : {0x2100, 0x2101})
    model.addCommand(code, [this](const Bytes& request) { return *respond(request); });
}

std::optional<Bytes> Radio24Module::respond(const Bytes& request) {
  if (request.size() < 3 || request[0] != 0x21 || request[1] > 0x01) return std::nullopt;
  ByteCursor in = params_of(request);
  if (request[1] == 0x00) {
    uint8_t mode = 0;
    if (!in.u8(mode)) return sim_refused(kMalformed);
    if (mode == 0x00 && in.remaining() == 0) return sim_ok({baud});
    if (mode == 0x01 && in.u8(baud) && in.remaining() == 0) return sim_ok();
    return sim_refused(kMalformed);
  }
  uint8_t seconds = 0, stx = 0, check = 0, etx = 0;
  uint16_t frame_length = 0, count = 0;
  if (!in.u8(seconds) || !in.be16(frame_length) || !in.u8(stx) || !in.be16(count) ||
      stx != 0x02 || frame_length != count + 5u || in.remaining() != count + 2u)
    return sim_refused(kMalformed);
  const Bytes data(in.here(), in.here() + count);
  in.skip(count);
  in.u8(check);
  in.u8(etx);
  if (etx != 0x03 || check != xor_checksum(data.data(), int(data.size())))
    return sim_refused(kMalformed);
  commands.push_back(data);
  auto it = answers.find(data);
  const Bytes answer = it != answers.end() ? it->second : Bytes{0x90, 0x00};
  const uint16_t m = uint16_t(answer.size());
  Bytes reply = {uint8_t((m + 5) >> 8), uint8_t(m + 5), 0x02, uint8_t(m >> 8), uint8_t(m)};
  reply.insert(reply.end(), answer.begin(), answer.end());
  reply.push_back(uint8_t(xor_checksum(answer.data(), int(answer.size())) ^ (bad_xor ? 0xFF : 0)));
  reply.push_back(0x03);
  Bytes out = sim_ok(reply);
  out.resize(out.size() - (cut < out.size() ? cut : out.size()));
  return out;
}
