// One serial line watched by a thread of its own, which reports line events
// and every received byte to an owner as numbered messages, and sends the
// bytes queued with QueueWrite.
//
//   serialport port;
//   if (port.OpenPort(&owner, 3, 115200, 'N', 8, 1, EV_RXCHAR, 512)) {
//     port.StartWatch();
//     port.QueueWrite(bytes, n);
//   }
//   ...
//   port.StopWatch();  // joins the watcher, then closes the line
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

// Line events the watcher can report (the event mask of OpenPort).
constexpr uint32_t EV_RXCHAR = 0x0001;  // bytes received
constexpr uint32_t EV_RXFLAG = 0x0002;  // the event character received
constexpr uint32_t EV_CTS = 0x0008;     // CTS changed
constexpr uint32_t EV_BREAK = 0x0040;   // break received
constexpr uint32_t EV_ERR = 0x0080;     // framing or parity error
constexpr uint32_t EV_RING = 0x0100;    // ring indicator came on

// Messages to the owner. wParam: the byte for kCommRxChar, kInputDrained
// for kCommDrained, 0 otherwise; the third value is the port number.
constexpr uint32_t kWmUser = 0x400;
constexpr uint32_t kCommBreak = kWmUser + 1;
constexpr uint32_t kCommCts = kWmUser + 2;
constexpr uint32_t kCommLineError = kWmUser + 4;
constexpr uint32_t kCommRing = kWmUser + 5;
constexpr uint32_t kCommRxChar = kWmUser + 7;
constexpr uint32_t kCommRxFlag = kWmUser + 8;
constexpr uint32_t kCommDrained = kWmUser + 10;
constexpr uint32_t kInputDrained = 0xAA55;

// Receives the messages, on the watcher thread (or, for failures while
// opening, on the thread that calls OpenPort). Each call returns once the
// message is handled, or early once `stop` is requested: the watcher is then
// being stopped and waits for the call to return.
class SerialPortOwner {
 public:
  virtual ~SerialPortOwner() = default;
  virtual void portMessage(uint32_t message, uint32_t wparam, int port, std::stop_token stop) = 0;
  // A step that failed, in a text ready to show; the watcher ends after it.
  virtual void portFailure(const std::string& text, std::stop_token stop) = 0;
};

// A byte stream read with PARMRK: 0xFF 0xFF is a data byte 0xFF, 0xFF 0x00
// 0x00 a break and 0xFF 0x00 X byte X with a framing or parity error.
class ParmrkDecoder {
 public:
  enum class Kind { kNone, kByte, kBreak, kLineError };
  struct Event {
    Kind kind = Kind::kNone;
    uint8_t byte = 0;
  };
  // What byte `b` completes; kNone inside a mark.
  Event feed(uint8_t b);

 private:
  int marked_ = 0;  // bytes of a mark seen so far
};

class serialport {
 public:
  struct LineSettings {
    uint32_t baud = 0;
    char parity = 'N';  // N, E, O, M or S
    int data_bits = 8;  // 5-8
    int stop_bits = 1;  // 1 or 2
    uint8_t event_char = 0;
  };
  // The five time-outs of the line, in ms; the write constant bounds a write.
  struct Timeouts {
    uint32_t read_interval = 5000;
    uint32_t read_total_multiplier = 5000;
    uint32_t read_total_constant = 5000;
    uint32_t write_total_multiplier = 5000;
    uint32_t write_total_constant = 5000;
  };
  // The device of port number n (1-24).
  using PathResolver = std::function<std::string(int port)>;
  static std::string ttyPath(int port);  // "/dev/ttyS<n-1>"

  explicit serialport(PathResolver resolver = ttyPath);
  ~serialport();
  serialport(const serialport&) = delete;
  serialport& operator=(const serialport&) = delete;

  // Stops a running watcher and opens the port afresh. False for a port
  // outside 1-24, a null owner or a write buffer of 0 bytes, and when the
  // device cannot be opened (missing, or held by another process); a later
  // step that fails is reported to the owner, closes the line and gives
  // false. `parity` is one of N, E, O, M, S (either case).
  bool OpenPort(SerialPortOwner* owner, int port, uint32_t baud, char parity, int data_bits,
                int stop_bits, uint32_t event_mask, size_t write_buffer_size);
  // Starts the watcher on an open port; true while it runs. False when the
  // port is closed, and once the watcher has ended on a failure (which it
  // reported): the line is then dead until OpenPort opens it afresh.
  bool StartWatch();
  // The watcher never pauses: nothing to resume.
  void ResumeWatch() {}
  // Stops the watcher (waiting for it) and closes the line.
  void StopWatch();
  // Queues bytes for the watcher to send (before StartWatch they wait for
  // it). False when the port is closed, its watcher has ended, `bytes` is
  // null, or they do not fit beside the bytes still queued.
  bool QueueWrite(const uint8_t* bytes, size_t length);

  LineSettings lineSettings() const;
  uint32_t eventMask() const;
  size_t writeBufferSize() const;
  Timeouts timeouts() const;

  // Tells the owner that `step` failed, with the system's text for errno.
  void ReportFailure(const char* step, std::stop_token stop = {});

 private:
  void closeLine();
  bool openLine(int fd, const LineSettings& settings);
  void watch(std::stop_token stop, int fd);
  bool receive(std::stop_token stop, int fd, ParmrkDecoder& decoder);
  bool send(std::stop_token stop, int fd);
  bool deliver(std::stop_token stop, uint32_t message, uint32_t wparam);

  const PathResolver resolver_;
  int shutdown_event_ = -1;
  int write_event_ = -1;
  mutable std::mutex mutex_;  // the line, the queue and the settings
  int fd_ = -1;
  SerialPortOwner* owner_ = nullptr;
  int port_ = 0;
  LineSettings settings_;
  Timeouts timeouts_;
  uint32_t event_mask_ = 0;
  size_t write_capacity_ = 0;
  std::vector<uint8_t> queued_;
  bool watched_ = false;                   // a watcher was started on this line
  std::atomic<bool> watcher_alive_{false};  // cleared by the watcher as it ends
  std::jthread watcher_;
};
