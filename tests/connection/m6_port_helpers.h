// Shared set-ups of the m6 port and framing tests.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <memory>
#include <string>

#include "connection/usb_port.h"
#include "platform/settings.h"
#include "sim/fake_hid.h"
#include "sim/m6_reader.h"
#include "sim/process_probe.h"

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

// Port tracing switched on into a folder of its own for one scope; text()
// gives what the ports wrote there.
class ScopedPortTrace {
 public:
  ScopedPortTrace() {
    if (mkdtemp(dir_)) set_library_directory(std::string(dir_) + "/");
    set_trace_level(3);
  }
  ~ScopedPortTrace() {
    set_trace_level(0);
    set_library_directory("");
    std::remove(port_log_file_name().c_str());
    rmdir((std::string(dir_) + "/kxrf32log").c_str());
    rmdir(dir_);
  }
  std::string text() const {
    std::ifstream file(port_log_file_name());
    std::stringstream all;
    all << file.rdbuf();
    return all.str();
  }

 private:
  char dir_[32] = "/tmp/port-trace-XXXXXX";
};
