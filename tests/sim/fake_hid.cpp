#include "fake_hid.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <deque>

#include "platform/deadline.h"

namespace {

constexpr size_t kMaxMessage = 8192;
constexpr size_t kInputQueueLimit = 64;

// Receives one message into `out`; 1 got one, 0 none within timeout_ms, -1
// closed or failed.
int receive(int fd, std::vector<uint8_t>& out, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  if (r == 0) return 0;
  if (r < 0) return -1;
  out.resize(kMaxMessage);
  ssize_t n = recv(fd, out.data(), out.size(), 0);
  if (n <= 0) return -1;
  out.resize(size_t(n));
  return 1;
}

bool send_message(int fd, uint8_t tag, const uint8_t* data, size_t length) {
  std::vector<uint8_t> message(1 + length);
  message[0] = tag;
  if (length) std::memcpy(message.data() + 1, data, length);
  return send(fd, message.data(), message.size(), MSG_NOSIGNAL) == ssize_t(message.size());
}

class FakeHidDevice : public HidDevice {
 public:
  FakeHidDevice(int fd, std::shared_ptr<std::atomic<int>> handles)
      : fd_(fd), handles_(std::move(handles)) {
    ++*handles_;
  }
  ~FakeHidDevice() override { close(); }

  int getFeatureReport(uint8_t* report, size_t length) override {
    uint8_t ask[2] = {uint8_t(length), uint8_t(length >> 8)};
    if (fd_ < 0 || !send_message(fd_, 'G', ask, sizeof ask)) return -1;
    std::vector<uint8_t> answer;
    if (!awaitTag('F', answer) || answer.size() < 2) return -1;
    size_t n = std::min(answer.size() - 1, length);
    std::memcpy(report, answer.data() + 1, n);
    return int(n);
  }

  int sendFeatureReport(const uint8_t* report, size_t length) override {
    if (fd_ < 0 || !send_message(fd_, 'S', report, length)) return -1;
    std::vector<uint8_t> answer;
    if (!awaitTag('A', answer) || answer.size() < 2 || answer[1] != 1) return -1;
    return int(length);
  }

  int readInput(uint8_t* data, size_t length, int timeout_ms) override {
    if (fd_ < 0) return -1;
    const Deadline deadline(timeout_ms);
    while (input_.empty()) {
      std::vector<uint8_t> message;
      int r = receive(fd_, message, deadline.msLeft());
      if (r < 0) return -1;
      if (r == 0) return 0;
      if (!message.empty() && message[0] == 'I') queueInput(std::move(message));
    }
    std::vector<uint8_t> message = std::move(input_.front());
    input_.pop_front();
    size_t n = std::min(message.size() - 1, length);
    std::memcpy(data, message.data() + 1, n);
    return int(n);
  }

  int writeOutput(const uint8_t* report, size_t length) override {
    if (fd_ < 0 || !send_message(fd_, 'O', report, length)) return -1;
    return int(length);
  }

  void close() override {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    --*handles_;
  }

 private:
  void queueInput(std::vector<uint8_t> message) {
    if (input_.size() == kInputQueueLimit) input_.pop_front();
    input_.push_back(std::move(message));
  }

  // Waits for the answer tagged `tag`, queueing input reports meanwhile.
  bool awaitTag(uint8_t tag, std::vector<uint8_t>& answer) {
    const Deadline deadline(kFeatureWaitMs);
    for (;;) {
      int r = receive(fd_, answer, deadline.msLeft());
      if (r <= 0) return false;
      if (answer.empty()) continue;
      if (answer[0] == tag) return true;
      if (answer[0] == 'I') queueInput(std::move(answer));
    }
  }

  int fd_;
  std::shared_ptr<std::atomic<int>> handles_;
  std::deque<std::vector<uint8_t>> input_;
};

}  // namespace

FakeHidBackend::FakeHidBackend() {
  char folder[] = "/tmp/fake-hid-XXXXXX";
  if (mkdtemp(folder)) folder_ = folder;
}

FakeHidBackend::~FakeHidBackend() {
  for (Device& d : devices_) {
    ::close(d.host_fd);
    unlink(d.node.c_str());
  }
  if (!folder_.empty()) rmdir(folder_.c_str());
}

int FakeHidBackend::addDevice(const std::string& path, uint16_t vendor_id, uint16_t product_id) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return -1;
  Device d;
  d.info.path = path;
  d.info.vendor_id = vendor_id;
  d.info.product_id = product_id;
  d.host_fd = fds[0];
  std::lock_guard<std::mutex> lock(mutex_);
  d.node = folder_ + "/node" + std::to_string(next_node_++);
  const int node = ::open(d.node.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  if (node >= 0) ::close(node);
  devices_.push_back(d);
  return fds[1];
}

void FakeHidBackend::setOpenable(const std::string& path, bool openable) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Device& d : devices_)
    if (d.info.path == path) d.openable = openable;
}

void FakeHidBackend::removeDevice(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto at = devices_.begin(); at != devices_.end(); ++at) {
    if (at->info.path != path) continue;
    ::close(at->host_fd);
    unlink(at->node.c_str());
    devices_.erase(at);
    return;
  }
}

std::vector<HidDeviceInfo> FakeHidBackend::enumerate() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HidDeviceInfo> list;
  for (const Device& d : devices_) list.push_back(d.info);
  return list;
}

std::unique_ptr<HidDevice> FakeHidBackend::open(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Device& d : devices_) {
    if (d.info.path != path) continue;
    if (!d.openable) return nullptr;
    int fd = fcntl(d.host_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    ++opens_;
    return std::make_unique<FakeHidDevice>(fd, open_handles_);
  }
  return nullptr;
}

int FakeHidBackend::lockNode(const std::string& path) {
  std::string node;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Device& d : devices_) {
      if (d.info.path == path) node = d.node;
    }
  }
  return node.empty() ? -1 : hid_lock_node(node);
}

FakeHidEndpoint::Request FakeHidEndpoint::next(int timeout_ms, int stop_fd) {
  Request request;
  pollfd p[2] = {{fd_, POLLIN, 0}, {stop_fd, POLLIN, 0}};
  int r = poll(p, stop_fd >= 0 ? 2 : 1, timeout_ms);
  if (r == 0) return request;
  if (r < 0 || (stop_fd >= 0 && (p[1].revents & POLLIN))) {
    request.kind = Kind::kClosed;
    return request;
  }
  std::vector<uint8_t> message(kMaxMessage);
  ssize_t n = recv(fd_, message.data(), message.size(), 0);
  if (n <= 0) {
    request.kind = Kind::kClosed;
    return request;
  }
  message.resize(size_t(n));
  switch (message[0]) {
    case 'G':
      request.kind = Kind::kGetFeature;
      request.length = message.size() >= 3 ? size_t(message[1] | message[2] << 8) : 0;
      break;
    case 'S':
      request.kind = Kind::kSetFeature;
      request.report.assign(message.begin() + 1, message.end());
      break;
    case 'O':
      request.kind = Kind::kOutput;
      request.report.assign(message.begin() + 1, message.end());
      break;
    default:
      request.kind = Kind::kTimeout;  // unknown tag: ignored
  }
  return request;
}

bool FakeHidEndpoint::sendTagged(uint8_t tag, const uint8_t* data, size_t length) {
  return send_message(fd_, tag, data, length);
}

bool FakeHidEndpoint::replyFeature(const uint8_t* report, size_t length) {
  return sendTagged('F', report, length);
}

bool FakeHidEndpoint::failFeature() { return sendTagged('F', nullptr, 0); }

bool FakeHidEndpoint::answerSet(bool ok) {
  uint8_t result = ok ? 1 : 0;
  return sendTagged('A', &result, 1);
}

bool FakeHidEndpoint::sendInput(const uint8_t* data, size_t length) {
  return sendTagged('I', data, length);
}

FakeHidPeer::FakeHidPeer(int fd, std::vector<std::vector<uint8_t>> feature_reports)
    : endpoint_(fd), stop_fd_(eventfd(0, EFD_CLOEXEC)), feature_reports_(std::move(feature_reports)) {
  start([this](FakeHidEndpoint& endpoint, const Request& request) {
    answerFeature(endpoint, request);
  });
}

FakeHidPeer::FakeHidPeer(int fd, Serve serve) : endpoint_(fd), stop_fd_(eventfd(0, EFD_CLOEXEC)) {
  start(std::move(serve));
}

void FakeHidPeer::start(Serve serve) {
  thread_ = std::thread([this, serve] {
    for (;;) {
      const Request request = endpoint_.next(-1, stop_fd_);
      if (request.kind == FakeHidEndpoint::Kind::kClosed) return;
      if (request.kind == FakeHidEndpoint::Kind::kTimeout) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(request);
      }
      serve(endpoint_, request);
    }
  });
}

FakeHidPeer::~FakeHidPeer() {
  const uint64_t one = 1;
  if (write(stop_fd_, &one, sizeof one) < 0) {
  }
  thread_.join();
  ::close(stop_fd_);
  ::close(endpoint_.fd());
}

void FakeHidPeer::queueFeature(std::vector<uint8_t> report) {
  std::lock_guard<std::mutex> lock(mutex_);
  feature_reports_.push_back(std::move(report));
}

std::vector<FakeHidPeer::Request> FakeHidPeer::log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

int FakeHidPeer::count(FakeHidEndpoint::Kind kind) const {
  int n = 0;
  for (const Request& request : log()) n += request.kind == kind;
  return n;
}

void FakeHidPeer::answerFeature(FakeHidEndpoint& endpoint, const Request& request) {
  if (request.kind == FakeHidEndpoint::Kind::kSetFeature) endpoint.answerSet(true);
  if (request.kind != FakeHidEndpoint::Kind::kGetFeature) return;
  std::vector<uint8_t> report;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!feature_reports_.empty()) {
      report = std::move(feature_reports_.front());
      feature_reports_.erase(feature_reports_.begin());
    }
  }
  if (report.empty()) {
    endpoint.failFeature();
  } else {
    endpoint.replyFeature(report.data(), report.size());
  }
}

FakeHidStreamBridge::FakeHidStreamBridge(int device_fd, int stream_fd, size_t block)
    : device_fd_(device_fd),
      stream_fd_(stream_fd),
      stop_fd_(eventfd(0, EFD_CLOEXEC)),
      block_(block),
      thread_([this] { run(); }) {}

FakeHidStreamBridge::~FakeHidStreamBridge() {
  uint64_t one = 1;
  if (write(stop_fd_, &one, sizeof one) < 0) {
  }
  thread_.join();
  ::close(stop_fd_);
  ::close(device_fd_);
  ::close(stream_fd_);
}

void FakeHidStreamBridge::run() {
  FakeHidEndpoint endpoint(device_fd_);
  std::vector<uint8_t> pending;  // stream bytes not yet sent as a report
  for (;;) {
    pollfd p[3] = {{device_fd_, POLLIN, 0}, {stream_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    int r = poll(p, 3, pending.empty() ? -1 : 5);
    if (r < 0) return;
    if (p[2].revents & POLLIN) return;
    if (r == 0) {  // quiet: flush what the stream gave so far
      endpoint.sendInput(pending.data(), pending.size());
      pending.clear();
      continue;
    }
    if (p[1].revents & (POLLIN | POLLHUP)) {
      uint8_t buf[1024];
      ssize_t n = read(stream_fd_, buf, sizeof buf);
      if (n <= 0) return;
      pending.insert(pending.end(), buf, buf + n);
      while (pending.size() >= block_) {
        endpoint.sendInput(pending.data(), block_);
        pending.erase(pending.begin(), pending.begin() + long(block_));
      }
    }
    if (p[0].revents & (POLLIN | POLLHUP)) {
      FakeHidEndpoint::Request request = endpoint.next(0);
      if (request.kind == FakeHidEndpoint::Kind::kClosed) return;
      if (request.kind == FakeHidEndpoint::Kind::kGetFeature) endpoint.failFeature();
      if (request.kind == FakeHidEndpoint::Kind::kSetFeature) endpoint.answerSet(true);
      if (request.report.size() > 1 &&
          send(stream_fd_, request.report.data() + 1, request.report.size() - 1, MSG_NOSIGNAL) < 0)
        return;
    }
  }
}
