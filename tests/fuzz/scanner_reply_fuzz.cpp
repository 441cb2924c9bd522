// Replies of the scanner module's commands, as they come out of the receive
// ring: byte 0 picks the command, byte 1 the caller's capacity, the rest is
// the reply the scanner sends.
#include <vector>

#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "scanner/receive_ring.h"
#include "scanner/transport.h"

namespace {

// Answers every write with the input's reply, at once.
struct ReplyTransport : ScannerTransport {
  const uint8_t* reply = nullptr;
  size_t size = 0;
  int32_t open(int16_t, uint32_t) override { return 1; }
  int32_t write(const uint8_t*, int32_t length) override {
    scanner_ring().reset();
    scanner_ring().push(reply, size);
    return length;
  }
  void close() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ReplyTransport* transport = [] {
    auto* t = new ReplyTransport;
    scanner_environment().transport = t;
    scanner_environment().reply_silence_ms = 0;
    KOVRA_OpenPort(1, 115200, nullptr, nullptr);
    return t;
  }();
  // An empty reply only waits out the first-byte budget.
  if (size < 3) return 0;
  transport->reply = data + 2;
  transport->size = size - 2;
  const int32_t capacity = data[1] * 17;
  std::vector<uint8_t> out(size_t(capacity) + 1, 0xCC);
  int32_t length = 0, first = 0, second = 0, bulk = capacity;
  uint16_t value = 0;
  const uint8_t serial_query[] = {0x04, 0xC5};
  switch (data[0] % 5) {
    case 0:
      KOVRA_ReadDataBlock(data[0] / 5 % 3, out.data(), capacity, &length);
      break;
    case 1:
      KOVRA_ReadBulkData(out.data(), &bulk, &first, &second);
      break;
    case 2:
      out.resize(100);
      KOVRA_GetParamBlock(0x30C1, out.data(), &length);
      break;
    case 3:
      KOVRA_Command43(serial_query, 2, out.data(), capacity, &length);
      break;
    default:
      KOVRA_GetParam(data[0] & 0x40 ? 0x3041 : 0x3081, &value);
  }
  // The input goes away: the module's last writes at exit get no reply.
  scanner_ring().reset();
  transport->reply = nullptr;
  transport->size = 0;
  return 0;
}
