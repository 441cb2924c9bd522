#include "connection/dle_protocol.h"
#include "fuzz/unframe_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_unframe<DleProtocol>(data, size, dle_frame_bound);
}
