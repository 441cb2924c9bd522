#include "connection/bluetooth_port.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include "platform/thread_helpers.h"

namespace {

constexpr size_t kPumpChunk = 2048;
// A socket that takes no byte for this long is given up by the pump.
constexpr int kSendStallMs = 5000;

}  // namespace

// --- connector ------------------------------------------------------------

BluetoothConnector::BluetoothConnector(BluetoothPort* owner, int socket, BluetoothDevice device,
                                       int cancel_fd, const Deadline& deadline)
    : owner_(owner),
      socket_(socket),
      device_(std::move(device)),
      cancel_fd_(cancel_fd),
      deadline_(deadline) {}

BluetoothConnector::~BluetoothConnector() {
  if (thread_.joinable()) thread_.join();
}

bool BluetoothConnector::start() {
  if (start_thread(thread_, [this] { run(); })) return true;
  ::close(socket_);
  socket_ = -1;
  return false;
}

void BluetoothConnector::run() {
  const bool connected = owner_->backend_->connect(socket_, device_, cancel_fd_, deadline_);
  if (!owner_->connectorEnded(socket_, connected)) ::close(socket_);
}

// --- port -----------------------------------------------------------------

BluetoothPort::BluetoothPort(const ParamMap& params, bool* opened)
    : BluetoothPort(params, opened, make_bluez_backend(), kBudgetMs) {}

BluetoothPort::BluetoothPort(const ParamMap& params, bool* opened,
                             std::shared_ptr<BluetoothBackend> backend, int32_t budget_ms)
    : PortBase("BluetoothPort:", DataLines::kWritten),
      backend_(std::move(backend)),
      budget_ms_(budget_ms) {
  name_ = get_param(params, "name");
  openAndReport(opened);
}

BluetoothPort::~BluetoothPort() { close(); }

bool BluetoothPort::connectorEnded(int socket, bool connected) {
  bool taken = false;
  {
    std::lock_guard<std::mutex> lock(connect_mutex_);
    // Once the opening has decided, a late winner is shut out and closes its
    // own socket: the port never holds a link it reported as failed.
    if (connected && accepting_ && !open_) {
      socket_ = socket;
      open_ = true;
      taken = true;
    }
    --running_;
  }
  connect_cv_.notify_all();
  return taken;
}

bool BluetoothPort::openDevice() {
  {
    std::lock_guard<std::mutex> lock(connect_mutex_);
    open_ = false;
  }
  if (!backend_) return false;
  const Deadline deadline(budget_ms_);
  std::vector<BluetoothDevice> devices;
  if (!backend_->knownDevices(deadline, &devices)) return false;

  const int cancel_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (cancel_fd < 0) return false;
  {
    std::lock_guard<std::mutex> lock(connect_mutex_);
    accepting_ = true;
    running_ = 0;
  }
  for (const BluetoothDevice& device : devices) {
    if (device.name != name_) continue;
    const int socket = backend_->makeSocket(device);
    if (socket < 0) continue;
    auto connector =
        std::make_unique<BluetoothConnector>(this, socket, device, cancel_fd, deadline);
    std::lock_guard<std::mutex> lock(connect_mutex_);
    ++running_;
    if (!connector->start()) {
      --running_;
      continue;
    }
    connectors_.push_back(std::move(connector));
  }

  std::vector<std::unique_ptr<BluetoothConnector>> ended;
  bool won;
  {
    std::unique_lock<std::mutex> lock(connect_mutex_);
    connect_cv_.wait_until(lock, deadline.when(), [this] { return open_ || running_ == 0; });
    accepting_ = false;
    won = open_;
    ended.swap(connectors_);
  }
  // The losers stop through the eventfd; they are joined without the connect
  // mutex, which they take on their way out.
  signal_event(cancel_fd);
  ended.clear();
  ::close(cancel_fd);
  if (!won) return false;
  if (startPump()) return true;
  std::lock_guard<std::mutex> lock(connect_mutex_);
  ::close(socket_);
  socket_ = -1;
  open_ = false;
  return false;
}

bool BluetoothPort::startPump() {
  const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd < 0) return false;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    wake_fd_ = wake_fd;
    stop_ = false;
    rx_.clear();
    tx_.clear();
  }
  if (start_thread(pump_, [this] { pump(); })) return true;
  std::lock_guard<std::mutex> lock(queue_mutex_);
  ::close(wake_fd_);
  wake_fd_ = -1;
  return false;
}

// Called with the queue mutex held.
void BluetoothPort::wakePump() { signal_event(wake_fd_); }

void BluetoothPort::pump() {
  bool reading = true;
  // While bytes wait: when the socket must have taken some.
  std::optional<Deadline> stall;
  uint8_t chunk[kPumpChunk];
  while (true) {
    bool sending;
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      if (stop_) return;
      sending = !tx_.empty();
    }
    int timeout = -1;
    if (sending) {
      if (!stall) stall.emplace(kSendStallMs);
      timeout = stall->msLeft();
      if (timeout == 0) return;  // the link is dead for sending
    } else {
      stall.reset();
    }
    // After EOF or an error the socket is left out of the wait, so a closed
    // link cannot keep the pump awake.
    const short events = short((reading ? POLLIN : 0) | (sending ? POLLOUT : 0));
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {events ? socket_ : -1, events, 0}};
    const int r = poll(fds, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents & POLLIN) drain_event(wake_fd_);
    const short ready = fds[1].revents;
    if (reading && (ready & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        {
          std::lock_guard<std::mutex> lock(queue_mutex_);
          rx_.insert(rx_.end(), chunk, chunk + n);
        }
        queue_cv_.notify_all();
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        reading = false;
      }
    }
    if (sending && (ready & (POLLOUT | POLLHUP | POLLERR))) {
      bool failed = false;
      {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        const size_t n = std::min(tx_.size(), kPumpChunk);
        std::copy(tx_.begin(), tx_.begin() + ptrdiff_t(n), chunk);
        const ssize_t sent = n ? send(socket_, chunk, n, MSG_DONTWAIT | MSG_NOSIGNAL) : 0;
        if (sent > 0) {
          tx_.erase(tx_.begin(), tx_.begin() + sent);
          tx_sent_ += uint64_t(sent);
          stall.reset();
        } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          failed = true;
        }
      }
      queue_cv_.notify_all();
      if (failed) return;  // the port stays open; writes now time out
    }
  }
}

void BluetoothPort::closeDevice() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    stop_ = true;
    wakePump();
  }
  // The pump waits only in poll, which also watches the wake descriptor, so
  // this join never waits for a stuck send.
  if (pump_.joinable()) pump_.join();
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    wake_fd_ = -1;
    tx_.clear();
  }
  std::lock_guard<std::mutex> lock(connect_mutex_);
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  open_ = false;
}

bool BluetoothPort::readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  const Deadline deadline(timeout_ms);
  std::unique_lock<std::mutex> lock(queue_mutex_);
  if (!queue_cv_.wait_until(lock, deadline.when(), [&] { return rx_.size() >= size_t(length); })) {
    return false;
  }
  std::copy(rx_.begin(), rx_.begin() + length, buffer);
  rx_.erase(rx_.begin(), rx_.begin() + length);
  return true;
}

bool BluetoothPort::writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  const Deadline deadline(timeout_ms);
  std::unique_lock<std::mutex> lock(queue_mutex_);
  tx_.insert(tx_.end(), buffer, buffer + length);
  const uint64_t target = tx_sent_ + tx_.size();
  wakePump();
  const bool sent = queue_cv_.wait_until(lock, deadline.when(), [&] { return tx_sent_ >= target; });
  if (!sent) {
    // A write reported failed must not reach the reader later: what the
    // socket has not taken yet is dropped.
    const size_t left = size_t(std::min<uint64_t>(target - tx_sent_, tx_.size()));
    tx_.erase(tx_.end() - ptrdiff_t(left), tx_.end());
  }
  return sent;
}

void BluetoothPort::purge() {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  rx_.clear();
}

int32_t BluetoothPort::available() {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  return int32_t(std::min<size_t>(rx_.size(), INT32_MAX));
}

bool BluetoothPort::isOpen() {
  std::lock_guard<std::mutex> lock(connect_mutex_);
  return open_;
}
