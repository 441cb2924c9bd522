#include "scanner/hid_link.h"

#include <algorithm>
#include <cstring>

#include "platform/deadline.h"
#include "platform/thread_helpers.h"
#include "scanner/environment.h"
#include "scanner/receive_ring.h"
#include "scanner/transport.h"

namespace {

constexpr uint8_t kReportType = 0x04;
constexpr int32_t kReadSliceMs = 10;

}  // namespace

std::vector<std::vector<uint8_t>> hid_output_reports(const uint8_t* data, size_t length,
                                                     size_t report_size) {
  std::vector<std::vector<uint8_t>> reports;
  const size_t shift = report_size > kHidInputReport ? 1 : 0;
  for (size_t at = 0; at < length;) {
    const size_t n = std::min(kHidOutputPayload, length - at);
    std::vector<uint8_t> report(report_size, 0);
    report[shift] = kReportType;
    report[shift + 1] = uint8_t(n);
    std::memcpy(report.data() + shift + 2, data + at, n);
    at += n;
    report[shift + 63] = at < length ? 1 : 0;
    reports.push_back(std::move(report));
  }
  return reports;
}

int32_t HidMessageReader::read(HidDevice& device, HidTurns& turns, uint8_t* out,
                               size_t capacity, int32_t idle_ms, const std::atomic<bool>* stop) {
  uint8_t message[kHidMessageCapacity];
  size_t length = 0;
  Deadline idle(idle_ms);
  for (;;) {
    std::array<uint8_t, kHidInputReport> report;
    if (has_pending_) {
      report = pending_;
      has_pending_ = false;
    } else {
      if ((stop && stop->load()) || idle.expired()) break;
      const int r = turns.read([&] {
        return device.readInput(report.data(), report.size(),
                                std::min(kReadSliceMs, std::max(idle.msLeft(), int32_t(1))));
      });
      if (r < 0) return -2;
      if (r == 0) continue;
      if (size_t(r) != kHidInputReport || report[1] > kHidInputPayload) return -3;
    }
    const size_t n = report[1];
    if (length + n > sizeof message) {
      pending_ = report;
      has_pending_ = true;
      break;
    }
    std::memcpy(message + length, report.data() + 2, n);
    length += n;
    if (report[63] != 1 || length == sizeof message) break;
    idle = Deadline(kHidIdleAfterMs);
  }
  if (out && capacity) {
    const size_t copied = std::min(capacity, length);
    std::memcpy(out, message, copied);
    if (copied < capacity) out[copied] = 0;
  }
  return int32_t(length);
}

int32_t HidLink::open() {
  close();
  scanner_ring().reset();
  HidBackend& backend = scanner_hid_backend();
  const std::vector<HidDeviceInfo> devices = backend.enumerate();
  for (size_t i = 0; i < std::size(kScannerHidTable) && !device_; ++i) {
    const ScannerHidRow& row = kScannerHidTable[i];
    for (const HidDeviceInfo& info : devices) {
      if (info.vendor_id != row.vendor || info.product_id != row.product) continue;
      device_ = backend.open(info.path);
      row_ = device_ ? int(i) : -1;
      break;
    }
  }
  if (!device_) return -1;
  stop_ = false;
  if (start_thread(reader_, [this] { readLoop(); })) return 1;
  close();
  return -1;
}

int32_t HidLink::write(const uint8_t* data, int32_t length) {
  if (!data || length <= 0 || row_ < 0) return 0;
  const size_t size = kScannerHidTable[row_].report_size;
  for (const std::vector<uint8_t>& report : hid_output_reports(data, size_t(length), size)) {
    const bool sent = turns_.write([&] {
      return device_ && device_->writeOutput(report.data(), report.size()) == int(report.size());
    });
    if (!sent) return 0;
  }
  return length;
}

void HidLink::close() {
  if (reader_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(stop_mutex_);
      stop_ = true;
    }
    stop_cv_.notify_all();
    reader_.join();
  }
  turns_.write([this] {
    if (!device_) return false;
    device_->close();
    device_.reset();
    scanner_ring().reset();
    return true;
  });
  row_ = -1;
}

void HidLink::readLoop() {
  HidMessageReader reader;
  uint8_t message[kHidMessageCapacity];
  while (!stop_) {
    const int32_t n =
        reader.read(*device_, turns_, message, sizeof message, kHidIdleBeforeMs, &stop_);
    if (n > 0) scanner_ring().push(message, size_t(n));
    if (n != -2) continue;
    // The device is gone: say so once, then only wait to be stopped.
    scanner_ring().push(kDeviceGoneMarker, sizeof kDeviceGoneMarker);
    std::unique_lock<std::mutex> lock(stop_mutex_);
    stop_cv_.wait(lock, [this] { return stop_.load(); });
  }
}
