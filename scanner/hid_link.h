// The scanner on USB HID. A message goes out in output reports of the
// opened row's size, each [type 04][n][payload, zero-filled to 60][0][more]
// (a report id 00 in front for the 65-byte row); it comes back in 64-byte
// input reports [04][n <= 56][payload][zeros...][more], byte 63 = 1 while
// more follows. A reader thread pushes every message into the receive ring
// and, when the device fails (unplugged), the device-gone marker once.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "connection/hid_device.h"

struct ScannerHidRow {
  uint16_t vendor;
  uint16_t product;
  size_t report_size;  // of an output report, report id included
};
inline constexpr ScannerHidRow kScannerHidTable[] = {
    {0x257B, 0x3010, 65},
    {0x0525, 0xA402, 64},
};

inline constexpr size_t kHidInputReport = 64;
inline constexpr size_t kHidOutputPayload = 60;
inline constexpr size_t kHidInputPayload = 56;
inline constexpr size_t kHidMessageCapacity = 1024;
// Idle limits of a message read: before its first report, after it.
inline constexpr int32_t kHidIdleBeforeMs = 50;
inline constexpr int32_t kHidIdleAfterMs = 100;

// The output reports that carry `length` bytes for a row of `report_size`.
std::vector<std::vector<uint8_t>> hid_output_reports(const uint8_t* data, size_t length,
                                                     size_t report_size);

// One call at a time on a HID device, and a write that waits goes before
// the reader's next slice: the reader takes its turn again and again and
// would otherwise keep a writer out for several slices.
class HidTurns {
 public:
  template <typename Call>
  auto read(Call call) {
    std::unique_lock<std::mutex> lock(mutex_);
    writer_gone_.wait(lock, [this] { return writers_ == 0; });
    return call();
  }
  template <typename Call>
  auto write(Call call) {
    ++writers_;
    std::unique_lock<std::mutex> lock(mutex_);
    --writers_;
    auto result = call();
    lock.unlock();
    writer_gone_.notify_all();
    return result;
  }

 private:
  std::mutex mutex_;
  std::condition_variable writer_gone_;
  std::atomic<int> writers_{0};
};

// Gathers input reports into messages. A report that no longer fits the
// message buffer ends the message and starts the next one.
class HidMessageReader {
 public:
  // Reads one message from `device` (each call a read turn, in slices of
  // at most 10 ms) into `out`: up to `capacity` bytes, with a NUL
  // after them when they are fewer. The message length (0 when none came
  // within `idle_ms`, or `stop` was set), -2 when the device failed, -3 for
  // a report of another size or a length above 56 (the message is dropped).
  int32_t read(HidDevice& device, HidTurns& turns, uint8_t* out, size_t capacity,
               int32_t idle_ms, const std::atomic<bool>* stop = nullptr);

 private:
  std::array<uint8_t, kHidInputReport> pending_{};
  bool has_pending_ = false;
};

class HidLink {
 public:
  ~HidLink() { close(); }

  // Opens the first device of the first row of kScannerHidTable that has
  // one and starts the reader. 1, or -1 when none opens.
  int32_t open();
  // `length` when every report went out, else 0.
  int32_t write(const uint8_t* data, int32_t length);
  // Stops and joins the reader, closes the device.
  void close();
  // The row opened, -1 when none.
  int row() const { return row_; }

 private:
  void readLoop();

  HidTurns turns_;  // one call at a time on the device
  std::unique_ptr<HidDevice> device_;
  int row_ = -1;
  std::thread reader_;
  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;
  std::atomic<bool> stop_{false};
};
