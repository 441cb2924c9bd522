// UsbPort's HID stack on Linux: hidapi over hidraw.
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <sys/file.h>
#include <unistd.h>

#include <mutex>

#include "connection/hid_device.h"

namespace {

class HidapiDevice : public HidDevice {
 public:
  explicit HidapiDevice(hid_device* device) : device_(device) {}
  ~HidapiDevice() override { close(); }

  int getFeatureReport(uint8_t* report, size_t length) override {
    if (!device_ || length == 0) return -1;
    return hid_get_feature_report(device_, report, length);
  }
  int sendFeatureReport(const uint8_t* report, size_t length) override {
    if (!device_ || length == 0) return -1;
    return hid_send_feature_report(device_, report, length);
  }
  int readInput(uint8_t* data, size_t length, int timeout_ms) override {
    if (!device_) return -1;
    return hid_read_timeout(device_, data, length, timeout_ms);
  }
  int writeOutput(const uint8_t* report, size_t length) override {
    if (!device_ || length == 0) return -1;
    return hid_write(device_, report, length);
  }
  void close() override {
    if (device_) hid_close(device_);
    device_ = nullptr;
  }

 private:
  hid_device* device_;
};

class HidapiBackend : public HidBackend {
 public:
  std::vector<HidDeviceInfo> enumerate() override {
    std::vector<HidDeviceInfo> result;
    if (!init()) return result;
    hid_device_info* list = hid_enumerate(0, 0);
    for (hid_device_info* at = list; at; at = at->next) {
      HidDeviceInfo info;
      info.path = at->path ? at->path : "";
      info.vendor_id = at->vendor_id;
      info.product_id = at->product_id;
      result.push_back(info);
    }
    hid_free_enumeration(list);
    return result;
  }

  std::unique_ptr<HidDevice> open(const std::string& path) override {
    if (!init()) return nullptr;
    hid_device* device = hid_open_path(path.c_str());
    if (!device) return nullptr;
    return std::make_unique<HidapiDevice>(device);
  }

  // hidapi enumerates the hidraw nodes themselves ("/dev/hidrawN").
  int lockNode(const std::string& path) override { return hid_lock_node(path); }

 private:
  bool init() {
    std::call_once(once_, [this] { ok_ = hid_init() == 0; });
    return ok_;
  }

  std::once_flag once_;
  bool ok_ = false;
};

}  // namespace

int hid_lock_node(const std::string& node) {
  const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

HidBackend& hidapi_backend() {
  static HidapiBackend backend;
  return backend;
}
