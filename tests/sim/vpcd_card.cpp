#include "vpcd_card.h"
#include "sim/process_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Control messages 00 (power off), 01 (power on) and 02 (reset) need no
// answer; only the ATR request does.
constexpr uint8_t kAtrRequest = 0x04;

// Waits for `fd` to show `events` or the stop descriptor to fire. 1 ready,
// 0 time-out, -1 stop or error.
int wait_fd(int fd, short events, int stop_fd, int timeout_ms) {
  pollfd p[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  int r;
  do {
    r = poll(p, 2, timeout_ms);
  } while (r < 0 && errno == EINTR);
  if (r < 0 || (p[1].revents & POLLIN)) return -1;
  return r == 0 ? 0 : 1;
}

}  // namespace

VpcdCard::Bytes VpcdCard::atrT0() { return {0x3B, 0x00}; }
VpcdCard::Bytes VpcdCard::atrT1() { return {0x3B, 0x80, 0x01, 0x81}; }

VpcdCard::VpcdCard(uint16_t port, Bytes atr)
    : port_(port), atr_(std::move(atr)), stop_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  handler_ = [](const Bytes&) { return Bytes{0x90, 0x00}; };
}

VpcdCard::~VpcdCard() {
  stop();
  if (stop_fd_ >= 0) ::close(stop_fd_);
}

void VpcdCard::setHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  handler_ = std::move(handler);
}

void VpcdCard::start(int connect_ms) {
  if (thread_.joinable()) return;
  uint64_t drained;
  while (read(stop_fd_, &drained, sizeof drained) > 0) {
  }
  thread_ = std::thread([this, connect_ms] { run(connect_ms); });
}

void VpcdCard::stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  (void)!write(stop_fd_, &one, sizeof one);
  thread_.join();
}

bool VpcdCard::connected() const {
  std::lock_guard<std::mutex> lock(mu_);
  return connected_;
}

std::vector<VpcdCard::Bytes> VpcdCard::commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

size_t VpcdCard::atrRequests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return atr_requests_;
}

bool VpcdCard::waitCommands(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return commands_.size() >= count; });
}

int VpcdCard::connectOnce() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool VpcdCard::readExact(int fd, uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    if (wait_fd(fd, POLLIN, stop_fd_, -1) != 1) return false;
    const ssize_t r = recv(fd, out + got, n - got, MSG_DONTWAIT);
    if (r == 0) return false;
    if (r < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    got += size_t(r);
    // Delayed ACKs would add tens of milliseconds to every exchange.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  }
  return true;
}

bool VpcdCard::sendMessage(int fd, const Bytes& payload) {
  if (payload.size() > 0xFFFF) return false;
  Bytes message;
  message.reserve(payload.size() + 2);
  message.push_back(uint8_t(payload.size() >> 8));
  message.push_back(uint8_t(payload.size()));
  message.insert(message.end(), payload.begin(), payload.end());
  size_t sent = 0;
  while (sent < message.size()) {
    const ssize_t r = send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && wait_fd(fd, POLLOUT, stop_fd_, -1) == 1) continue;
      return false;
    }
    sent += size_t(r);
  }
  return true;
}

void VpcdCard::run(int connect_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(connect_ms);
  int fd = -1;
  while ((fd = connectOnce()) < 0) {
    const int left = ms_left(deadline);
    if (left <= 0) return;
    // vpcd may not listen yet: try again shortly, unless told to stop.
    pollfd p{stop_fd_, POLLIN, 0};
    if (poll(&p, 1, left < 50 ? left : 50) != 0) return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    connected_ = true;
  }
  while (true) {
    uint8_t header[2];
    if (!readExact(fd, header, 2)) break;
    Bytes payload(size_t(header[0]) << 8 | header[1]);
    if (!readExact(fd, payload.data(), payload.size())) break;
    if (payload.size() <= 1) {
      if (payload.size() == 1 && payload[0] == kAtrRequest) {
        {
          std::lock_guard<std::mutex> lock(mu_);
          ++atr_requests_;
        }
        if (!sendMessage(fd, atr_)) break;
      }
      continue;
    }
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mu_);
      handler = handler_;
    }
    const Bytes response = handler(payload);
    {
      std::lock_guard<std::mutex> lock(mu_);
      commands_.push_back(payload);
    }
    cv_.notify_all();
    if (!sendMessage(fd, response)) break;
  }
  ::close(fd);
  std::lock_guard<std::mutex> lock(mu_);
  connected_ = false;
}
