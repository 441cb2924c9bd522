#include "scanner/environment.h"

#include "connection/hid_device.h"

ScannerEnvironment& scanner_environment() {
  static ScannerEnvironment environment;
  return environment;
}

HidBackend& scanner_hid_backend() {
  HidBackend* chosen = scanner_environment().hid;
  return chosen ? *chosen : hidapi_backend();
}
