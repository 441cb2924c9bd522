// Shared set-ups of the m6 port and framing tests.
#pragma once

#include "connection/usb_port.h"
#include "sim/fake_hid.h"
#include "sim/m6_reader.h"

// The parameters of the m6 USB rows: feature reports both ways, 32-byte blocks.
inline ParamMap m6_usb_params() {
  return {{"vid", "0471"},
          {"pid", "A112"},
          {"read_endpoint_name", "control"},
          {"write_endpoint_name", "control"},
          {"read_block_len", "32"},
          {"write_block_len", "32"}};
}

// An m6 reader simulator on a fake HID device, and a UsbPort opened on it.
struct M6OverUsb {
  explicit M6OverUsb(M6Reader::Framing framing)
      : reader(backend.addDevice("/dev/hidraw-m6", 0x0471, 0xA112), framing),
        port(m6_usb_params(), &opened, backend) {}
  FakeHidBackend backend;
  M6Reader reader;
  bool opened = false;
  UsbPort port;
};

