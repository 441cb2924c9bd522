// The Port of readers attached as USB HID devices: found by vendor and
// product id, bytes moved in fixed-size blocks as feature reports
// ("control") or input/output reports ("interrupt").
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "connection/hid_device.h"
#include "connection/port_base.h"
#include "platform/byte_queue.h"
#include "platform/text_helpers.h"

class Deadline;

class UsbPort : public PortBase {
 public:
  // Reads "vid", "pid", "read_endpoint_name", "write_endpoint_name",
  // "read_block_len" and "write_block_len" and opens the first free device
  // that matches, on the hidapi stack.
  UsbPort(const ParamMap& params, bool* opened);
  // The same on a given stack (which must outlive the port).
  UsbPort(const ParamMap& params, bool* opened, HidBackend& backend);
  ~UsbPort() override;

  void purge() override;
  int32_t available() override;
  bool isOpen() override;

  // The device path this port holds ("" when not open).
  const std::string& path() const { return path_; }

  static constexpr int32_t kMaxBlockLength = 4096;

 private:
  // "control", "interrupt", or anything else, which never transfers.
  enum class Endpoint { kControl, kInterrupt, kNone };

  bool openDevice() override;
  void closeDevice() override;
  std::string traceText() const override;
  bool mayTransfer(Direction direction) override;
  bool readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  bool writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) override;

  bool fetchFeatureBlock(const Deadline& deadline);
  bool fetchInputBlock(const Deadline& deadline);
  bool sendFeatureBlock(const uint8_t* report, const Deadline& deadline);
  bool sendOutputBlock(const uint8_t* report);
  void appendBlock(const uint8_t* data, int received);

  HidBackend& backend_;
  std::string vid_;
  std::string pid_;
  Endpoint read_endpoint_ = Endpoint::kNone;
  Endpoint write_endpoint_ = Endpoint::kNone;
  bool open_ = false;
  std::unique_ptr<HidDevice> device_;
  int node_lock_ = -1;  // holds the node's flock while open
  std::string path_;
  int32_t read_block_len_ = 0;
  int32_t write_block_len_ = 0;
  ByteQueue rx_;
};
