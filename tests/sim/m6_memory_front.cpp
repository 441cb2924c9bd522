#include "sim/m6_memory_front.h"

#include "platform/byte_cursor.h"

namespace {

struct Translation {
  uint8_t m6_code;
  uint16_t card_code;
  bool chunk;       // [offset LE16][count] becomes [offset BE32][length BE32]
  int memory_byte;  // the SLE4428's data/protection byte; -1: none
};

constexpr Translation kTranslations[] = {
    {0xB0, 0x1002, true, -1},  {0xB1, 0x1003, true, -1},  {0xB2, 0x1008, false, -1},
    {0xB3, 0x1006, false, -1}, {0xB4, 0x1007, false, -1}, {0xB5, 0x1211, true, -1},
    {0xB6, 0x1210, true, -1},  {0xB7, 0x1213, true, -1},  {0xB8, 0x1212, true, -1},
    {0xB9, 0x1102, true, 0},   {0xBA, 0x1103, true, 0},   {0xBB, 0x1106, false, -1},
    {0xBC, 0x1104, false, -1}, {0xBD, 0x1105, false, -1},
};

void put_be32(SimAttachment::Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

}  // namespace

std::optional<SimAttachment::Bytes> M6MemoryFront::respond(const Bytes& command) {
  if (command.empty()) return std::nullopt;
  const Translation* found = nullptr;
  for (const Translation& t : kTranslations)
    if (t.m6_code == command[0]) found = &t;
  if (found == nullptr) return std::nullopt;

  Bytes params;
  ByteCursor in(command.data() + 1, command.size() - 1);
  if (found->chunk) {
    uint16_t offset = 0;
    uint8_t count = 0;
    if (!in.le16(offset) || !in.u8(count)) return Bytes{uint8_t(memory_card_status::kBadRequest)};
    put_be32(params, offset);
    put_be32(params, count);
    if (found->memory_byte >= 0) params.push_back(uint8_t(found->memory_byte));
  }
  params.insert(params.end(), in.here(), in.here() + in.remaining());

  const MemoryCardReply reply = slot.answer(found->card_code, params.data(), params.size());
  Bytes out{uint8_t(reply.status)};
  if (reply.status == memory_card_status::kOk)
    out.insert(out.end(), reply.data.begin(), reply.data.end());
  return out;
}
