#include "connection/dle_protocol.h"
#include "unframe_fuzz.h"

// Handshake (3 bytes) plus the longest stuffed reply: 255 data bytes and
// every body byte doubled, then DLE ETX.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_unframe<DleProtocol>(data, size, 3 + 2 * (255 + 6));
  return 0;
}
