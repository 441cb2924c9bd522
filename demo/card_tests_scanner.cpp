// The two card tests that reach the scanner module instead of the reader.
#include "demo/card_tests.h"
#include "demo/text_codec.h"
#include "qm_reader.h"

namespace {

constexpr uint16_t kScanTimeout = 30;  // 100 ms units

}  // namespace

void CardTests::scanOnce() {
  char scan[1025] = {};
  if (qm_GetQrcodetimeout(scan, kScanTimeout) == 0) {
    sink_.append(scan_text_for_pane(scan, sizeof scan));
  } else {
    sink_.append("请确认设备正常工作且点击按钮后3秒内能扫描到二维码\n");
  }
  sink_.scroll();
}

void CardTests::scannerSerialNumber() {
  char serial[256] = {};
  const int32_t result = qm_GetSNCode(serial);
  if (result < 0 || serial[0] == '\0') {
    sink_.append("获取失败，非标产品\r\n");
  } else {
    sink_.append(gbk_to_utf8(serial));
  }
  qm_exit(handle_);
  sink_.scroll();
}
