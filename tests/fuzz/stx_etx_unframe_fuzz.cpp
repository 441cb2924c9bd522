#include "connection/stx_etx_protocol.h"
#include "fuzz/unframe_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_unframe<StxEtxProtocol>(data, size, [](const Line& line) {
    return stx_etx_frame_bound(line.data(), line.size());
  });
}
