#include "connection/hid_report_protocol.h"
#include "unframe_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_unframe<HidReportProtocol>(data, size, 67 * 32);
  return 0;
}
