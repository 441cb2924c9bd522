// The Port of readers attached as USB HID devices: found by vendor and
// product id, bytes moved in fixed-size blocks as feature reports
// ("control") or input/output reports ("interrupt").
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "connection/hid_device.h"
#include "connection/port.h"
#include "connection/port_trace.h"
#include "platform/byte_queue.h"
#include "platform/text_helpers.h"

class UsbPort : public Port {
 public:
  // Reads "vid", "pid", "read_endpoint_name", "write_endpoint_name",
  // "read_block_len" and "write_block_len" and opens the first free device
  // that matches, on the hidapi stack.
  UsbPort(const ParamMap& params, bool* opened);
  // The same on a given stack (which must outlive the port).
  UsbPort(const ParamMap& params, bool* opened, HidBackend& backend);
  ~UsbPort() override;
  UsbPort(const UsbPort&) = delete;
  UsbPort& operator=(const UsbPort&) = delete;

  void close() override;
  bool read(uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  bool write(const uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  void purge() override;
  int32_t available() override;
  bool isOpen() override;
  bool reopen() override;

  std::string logFileName() const;
  // The device path this port holds ("" when not open).
  const std::string& path() const { return path_; }

  static constexpr int32_t kMaxBlockLength = 4096;

 private:
  bool openDevice();
  void closeDevice();
  bool fetchFeatureBlock(uint32_t start, int32_t budget);
  bool fetchInputBlock(uint32_t start, int32_t budget);
  bool sendFeatureBlock(const uint8_t* report, uint32_t start, int32_t budget);
  bool sendOutputBlock(const uint8_t* report);
  void appendBlock(const uint8_t* data, int received);
  std::string traceText() const;

  HidBackend& backend_;
  std::string vid_;
  std::string pid_;
  std::string read_endpoint_name_;
  std::string write_endpoint_name_;
  bool open_ = false;
  std::unique_ptr<HidDevice> device_;
  std::string path_;
  int32_t read_block_len_ = 0;
  int32_t write_block_len_ = 0;
  ByteQueue rx_;
  PortTrace trace_;
};
