// The reader's own 2D barcode module: start, fetch and stop, each one
// report-frame exchange.
#include "family_m6/m6_device.h"
#include "platform/os.h"

namespace {

constexpr uint8_t kBarcode = 0xDA;
constexpr uint8_t kBarcodeStart = 0x00;
constexpr uint8_t kBarcodeFetch = 0x01;
constexpr uint8_t kBarcodeStop = 0x02;
// The module needs a moment before it hands over what it read.
constexpr uint32_t kFetchPauseMs = 200;

}  // namespace

int16_t M6Device::Scan2DBarcodeStart(int32_t, uint8_t mode) {
  M6Request request(kBarcode);
  request.u8(kBarcodeStart).u8(mode);
  return long_exchange(request, kDefaultTimeoutMs, 0);
}

int16_t M6Device::Scan2DBarcodeGetData(int32_t, int32_t* rlen, unsigned char* rdata) {
  if (rlen == nullptr || rdata == nullptr) return -1;
  os_sleep(kFetchPauseMs);
  M6Request request(kBarcode);
  request.u8(kBarcodeFetch);
  ByteCursor answer(nullptr, 0);
  const int16_t result = long_exchange(request, kDefaultTimeoutMs, 0, &answer);
  if (result != 0) return result;
  const size_t count = answer.remaining();
  answer.take(rdata, count);
  *rlen = int32_t(count);
  return 0;
}

int16_t M6Device::Scan2DBarcodeExit(int32_t) {
  M6Request request(kBarcode);
  request.u8(kBarcodeStop);
  return long_exchange(request, kDefaultTimeoutMs, 0);
}
