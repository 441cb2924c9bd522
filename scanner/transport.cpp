#include "scanner/transport.h"

#include "scanner/discovery.h"
#include "scanner/environment.h"
#include "scanner/hid_link.h"
#include "scanner/kovra_api.h"
#include "scanner/serial_transport.h"

namespace {

class PortTransport : public ScannerTransport {
 public:
  int32_t open(int16_t port, uint32_t baud) override {
    close();
    hid_ = port >= kScannerHidPort;
    if (hid_) return hid_link_.open();
    return port >= 0 ? serial_.openPort(port, baud) : serial_.openFound(port);
  }
  int32_t write(const uint8_t* data, int32_t length) override {
    return hid_ ? hid_link_.write(data, length) : serial_.write(data, length);
  }
  void close() override {
    hid_link_.close();
    serial_.close();
  }

 private:
  bool hid_ = false;
  HidLink hid_link_;
  SerialTransport serial_;
};

}  // namespace

ScannerTransport& scanner_transport() {
  static PortTransport ports;
  ScannerTransport* chosen = scanner_environment().transport;
  return chosen ? *chosen : ports;
}

extern "C" int32_t KOVRA_IsPresent(void) {
  if (usb_scanner_present(nullptr)) return 1;
  for (const HidDeviceInfo& info : scanner_hid_backend().enumerate()) {
    for (const ScannerHidRow& row : kScannerHidTable) {
      if (info.vendor_id == row.vendor && info.product_id == row.product) return 1;
    }
  }
  return 0;
}
