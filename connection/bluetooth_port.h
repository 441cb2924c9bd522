// The port of a reader paired over Bluetooth, reached through an RFCOMM
// socket to its serial-port service. Opening looks the name up among the
// devices the system knows, connects to every device of that name at once
// (one BluetoothConnector thread each) and keeps the first connection made;
// a pump thread then moves bytes between the socket and two queues.
//
// Lookup and connection share one budget (10000 ms). Opening ends as soon as
// a connector wins or the last one gives up; losers are called off through
// an eventfd and joined before the constructor returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connection/bluetooth_backend.h"
#include "connection/port_base.h"
#include "platform/deadline.h"
#include "platform/text_helpers.h"

class BluetoothPort;

// One connection attempt, on a thread of its own. The socket is the
// connector's until the port takes it; a connector whose socket was not
// taken closes it itself.
class BluetoothConnector {
 public:
  BluetoothConnector(BluetoothPort* owner, int socket, BluetoothDevice device, int cancel_fd,
                     const Deadline& deadline);
  // Waits for the thread to end.
  virtual ~BluetoothConnector();
  BluetoothConnector(const BluetoothConnector&) = delete;
  BluetoothConnector& operator=(const BluetoothConnector&) = delete;

  // Starts the thread. False (with the socket closed) when it cannot start.
  bool start();

 private:
  void run();

  BluetoothPort* owner_;
  int socket_;
  BluetoothDevice device_;
  int cancel_fd_;
  Deadline deadline_;
  std::thread thread_;
};

class BluetoothPort : public PortBase {
 public:
  static constexpr int32_t kBudgetMs = 10000;

  // Key: "name", the device name (exact, case-sensitive). Uses BlueZ.
  BluetoothPort(const ParamMap& params, bool* opened);
  // With another backend and budget (tests).
  BluetoothPort(const ParamMap& params, bool* opened, std::shared_ptr<BluetoothBackend> backend,
                int32_t budget_ms);
  ~BluetoothPort() override;

  void purge() override;
  int32_t available() override;
  bool isOpen() override;

 private:
  friend class BluetoothConnector;

  // Looks the name up and connects.
  bool openDevice() override;
  // Stops the pump and closes the link.
  void closeDevice() override;
  std::string traceText() const override { return name_; }
  // Neither looks at `open`: on a closed port they wait out their time-out.
  bool readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  bool writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  bool startPump();
  void pump();
  void wakePump();
  // A connector's result: true when the port took `socket`.
  bool connectorEnded(int socket, bool connected);

  std::string name_;
  std::shared_ptr<BluetoothBackend> backend_;
  int32_t budget_ms_;

  // Guards open_, the connectors, accepting_, running_ and socket_.
  std::mutex connect_mutex_;
  std::condition_variable connect_cv_;
  bool open_ = false;
  std::vector<std::unique_ptr<BluetoothConnector>> connectors_;
  bool accepting_ = false;  // winners are taken only while the opening waits
  int running_ = 0;         // connectors not yet ended
  int socket_ = -1;

  std::thread pump_;

  // Guards rx_, tx_, tx_sent_, stop_ and wake_fd_ (which the pump itself
  // reads unlocked: it changes only while no pump runs).
  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;
  std::deque<uint8_t> rx_;
  std::deque<uint8_t> tx_;
  uint64_t tx_sent_ = 0;  // bytes the socket has taken, ever
  bool stop_ = false;
  int wake_fd_ = -1;  // wakes the pump for new bytes to send and for stop
};
