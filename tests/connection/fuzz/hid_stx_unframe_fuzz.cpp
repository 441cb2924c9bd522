#include "connection/hid_stx_protocol.h"
#include "unframe_fuzz.h"

// At most 66 reports of 32 bytes are collected; the 67th is read and refused.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_unframe<HidStxProtocol>(data, size, 67 * 32);
  return 0;
}
