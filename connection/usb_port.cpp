#include "connection/usb_port.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include "platform/deadline.h"
#include "platform/os.h"

namespace {

std::mutex& held_mutex() {
  static std::mutex m;
  return m;
}

std::set<std::string>& held_paths() {
  static std::set<std::string> paths;
  return paths;
}

// Leading decimal digits; anything past the largest block length reads as
// just above it, so the open refuses it without overflowing.
int32_t block_length_param(const std::string& text) {
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > UsbPort::kMaxBlockLength) return UsbPort::kMaxBlockLength + 1;
  }
  return value;
}

std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", unsigned(value));
  return text;
}

// False when the path is held already; otherwise holds it.
bool hid_path_claim(const std::string& path) {
  std::lock_guard<std::mutex> lock(held_mutex());
  return held_paths().insert(path).second;
}

void hid_path_release(const std::string& path) {
  std::lock_guard<std::mutex> lock(held_mutex());
  held_paths().erase(path);
}

}  // namespace

bool hid_path_held(const std::string& path) {
  std::lock_guard<std::mutex> lock(held_mutex());
  return held_paths().count(path) != 0;
}

UsbPort::UsbPort(const ParamMap& params, bool* opened) : UsbPort(params, opened, hidapi_backend()) {}

UsbPort::UsbPort(const ParamMap& params, bool* opened, HidBackend& backend)
    : PortBase("UsbPort:", DataLines::kWritten), backend_(backend) {
  auto endpoint = [&](const char* key) {
    const std::string name = get_param(params, key);
    if (name == "control") return Endpoint::kControl;
    return name == "interrupt" ? Endpoint::kInterrupt : Endpoint::kNone;
  };
  vid_ = get_param(params, "vid");
  pid_ = get_param(params, "pid");
  read_endpoint_ = endpoint("read_endpoint_name");
  write_endpoint_ = endpoint("write_endpoint_name");
  read_block_len_ = block_length_param(get_param(params, "read_block_len"));
  write_block_len_ = block_length_param(get_param(params, "write_block_len"));
  openAndReport(opened);
}

UsbPort::~UsbPort() { close(); }

std::string UsbPort::traceText() const { return vid_ + ":" + pid_; }

bool UsbPort::openDevice() {
  open_ = false;
  if (read_block_len_ < 1 || read_block_len_ > kMaxBlockLength || write_block_len_ < 1 ||
      write_block_len_ > kMaxBlockLength)
    return false;
  for (const HidDeviceInfo& info : backend_.enumerate()) {
    if (hex4(info.vendor_id) != vid_ || hex4(info.product_id) != pid_) continue;
    // hidraw would open a path a second time: a path another live port of
    // this process holds, or one whose node another process has locked, is
    // another reader's.
    if (!hid_path_claim(info.path)) continue;
    const int node_lock = backend_.lockNode(info.path);
    std::unique_ptr<HidDevice> device = node_lock >= 0 ? backend_.open(info.path) : nullptr;
    if (!device) {
      if (node_lock >= 0) ::close(node_lock);
      hid_path_release(info.path);
      continue;
    }
    device_ = std::move(device);
    node_lock_ = node_lock;
    path_ = info.path;
    open_ = true;
    rx_.clear();
    return true;
  }
  return false;
}

void UsbPort::closeDevice() {
  device_->close();
  device_.reset();
  // Only once the device is closed may another process take the node.
  ::close(node_lock_);
  node_lock_ = -1;
  hid_path_release(path_);
  path_.clear();
  open_ = false;
}

void UsbPort::purge() { rx_.clear(); }

int32_t UsbPort::available() { return rx_.size(); }

bool UsbPort::isOpen() { return open_; }

bool UsbPort::mayTransfer(Direction direction) {
  return open_ && (direction == Direction::kIn ? read_endpoint_ : write_endpoint_) != Endpoint::kNone;
}

void UsbPort::appendBlock(const uint8_t* data, int received) {
  // One report is one block: a short report is made whole with zeros, never
  // with bytes of another report.
  int32_t take = std::clamp<int32_t>(received, 0, read_block_len_);
  for (int32_t i = 0; i < take; ++i) rx_.push(data[i]);
  for (int32_t i = take; i < read_block_len_; ++i) rx_.push(0);
}

bool UsbPort::fetchFeatureBlock(const Deadline& deadline) {
  std::vector<uint8_t> report(size_t(read_block_len_) + 1);
  for (;;) {
    if (deadline.expired()) return false;
    std::fill(report.begin(), report.end(), 0);
    int n = device_->getFeatureReport(report.data(), report.size());
    if (n > 0) {
      appendBlock(report.data() + 1, n - 1);
      return true;
    }
    // The reader is not ready yet: give it a moment instead of spinning.
    os_sleep(1);
  }
}

bool UsbPort::fetchInputBlock(const Deadline& deadline) {
  std::vector<uint8_t> block(static_cast<size_t>(read_block_len_));
  for (;;) {
    const int32_t left = deadline.msLeft();
    if (left < 1) return false;
    int n = device_->readInput(block.data(), block.size(), left);
    if (n < 0) return false;
    if (n > 0) {
      appendBlock(block.data(), n);
      return true;
    }
  }
}

bool UsbPort::sendFeatureBlock(const uint8_t* report, const Deadline& deadline) {
  for (;;) {
    if (deadline.expired()) return false;
    device_->drainInput();
    if (device_->sendFeatureReport(report, size_t(write_block_len_) + 1) > 0) return true;
    os_sleep(1);
  }
}

bool UsbPort::sendOutputBlock(const uint8_t* report) {
  return device_->writeOutput(report, size_t(write_block_len_) + 1) > 0;
}

bool UsbPort::readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  const Deadline deadline(timeout_ms);
  const bool control = read_endpoint_ == Endpoint::kControl;
  while (rx_.size() < length) {
    if (!(control ? fetchFeatureBlock(deadline) : fetchInputBlock(deadline))) return false;
    // The budget stops further blocks only: a block that completes the
    // reply completes the read.
    if (rx_.size() < length && deadline.expired()) return false;
  }
  for (int32_t i = 0; i < length; ++i) {
    rx_.front(buffer[i]);
    rx_.pop();
  }
  return true;
}

bool UsbPort::writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  const Deadline deadline(timeout_ms);
  const bool control = write_endpoint_ == Endpoint::kControl;
  const int64_t blocks = (int64_t(length) + write_block_len_ - 1) / write_block_len_;
  std::vector<uint8_t> report(size_t(write_block_len_) + 1);
  for (int64_t b = 0; b < blocks; ++b) {
    std::fill(report.begin(), report.end(), 0);
    int64_t at = b * write_block_len_;
    int64_t piece = std::min<int64_t>(write_block_len_, length - at);
    std::copy(buffer + at, buffer + at + piece, report.begin() + 1);
    if (!(control ? sendFeatureBlock(report.data(), deadline) : sendOutputBlock(report.data())))
      return false;
    // A command whose last block went out was delivered, late or not.
    if (b + 1 < blocks && deadline.expired()) return false;
  }
  return true;
}
