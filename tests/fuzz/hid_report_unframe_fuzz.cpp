#include "connection/hid_report_protocol.h"
#include "fuzz/unframe_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_unframe<HidReportProtocol>(data, size, report_frame_bound);
}
