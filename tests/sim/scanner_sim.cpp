#include "sim/scanner_sim.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "platform/thread_helpers.h"
#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "scanner/receive_ring.h"

using Bytes = std::vector<uint8_t>;

ScannerMemoryReader::ScannerMemoryReader() {
  scanner_environment().transport = this;
  KOVRA_OpenPort(1, 115200, nullptr, nullptr);
}

ScannerMemoryReader::~ScannerMemoryReader() {
  KOVRA_Close();
  scanner_environment().transport = nullptr;
}

std::vector<Bytes> ScannerMemoryReader::sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

int32_t ScannerMemoryReader::open(int16_t port, uint32_t) {
  last_port_ = port;
  scanner_ring().reset();
  return 1;
}

int32_t ScannerMemoryReader::write(const uint8_t* data, int32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  const size_t index = sent_.size();
  sent_.emplace_back(data, data + length);
  if (failing_.count(index)) return 0;
  if (const auto reply = replies_.find(index); reply != replies_.end())
    scanner_ring().push(reply->second.data(), reply->second.size());
  return length;
}

std::vector<Bytes> hid_input_reports(const Bytes& bytes) {
  std::vector<Bytes> reports;
  for (size_t at = 0; at == 0 || at < bytes.size(); at += 56) {
    const size_t n = std::min<size_t>(56, bytes.size() - at);
    Bytes report(64, 0x00);
    report[0] = 0x04, report[1] = uint8_t(n), report[63] = at + n < bytes.size();
    std::copy_n(bytes.begin() + long(at), n, report.begin() + 2);
    reports.push_back(std::move(report));
  }
  return reports;
}

// --- the far end ------------------------------------------------------------

namespace {

const Bytes kStart = {0x32, 0x75, 0x01};  // nothing comes back
const std::map<Bytes, Bytes> kAnswers = {
    {{0x23, 0x10, 0x40}, {0x24, 0x10, 0x40, 0x00}},
    {{0x32, 0x75, 0x02}, {0x33, 0x75, 0x02, 0x00, 0x00}},
    {{0x43, 0x04, 0xC5},
     {0x44, 0x04, 0xC5, 0x00, 0x0A, 'S', 'N', '2', '0', '2', '6', '1', '2', '0', '8'}},
};

}  // namespace

ScannerSim::ScannerSim(int fd, bool hid) : fd_(fd), hid_(hid), stop_fd_(eventfd(0, EFD_CLOEXEC)) {
  start_thread(thread_, [this] { run(); });
}

ScannerSim::ScannerSim()
    : pty_(std::make_unique<PtyPair>()),
      fd_(pty_->releaseMaster()),
      hid_(false),
      stop_fd_(eventfd(0, EFD_CLOEXEC)) {
  start_thread(thread_, [this] { run(); });
}

void ScannerSim::unplug() {
  if (thread_.joinable()) {
    signal_event(stop_fd_);
    thread_.join();
    ::close(stop_fd_);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::vector<uint8_t> ScannerSim::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void ScannerSim::scan(const std::string& code) { send(Bytes(code.begin(), code.end())); }

void ScannerSim::scanOnStart(const std::string& code) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_start_.assign(code.begin(), code.end());
}

void ScannerSim::send(const Bytes& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!hid_) {
    sim_write_all(fd_, bytes.data(), bytes.size());
    return;
  }
  FakeHidEndpoint endpoint(fd_);
  for (const Bytes& report : hid_input_reports(bytes)) endpoint.sendInput(report.data(), 64);
}

// Answers the whole requests that have come; a part waits for the rest.
// "!" settings take 5 bytes (class, code, value, 00), the rest here 3.
void ScannerSim::take(const uint8_t* data, size_t n) {
  Bytes reply, scan;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.insert(received_.end(), data, data + n);
    pending_.insert(pending_.end(), data, data + n);
    while (!pending_.empty() && pending_.size() >= (pending_[0] == 0x21 ? 5u : 3u)) {
      const size_t size = pending_[0] == 0x21 ? 5 : 3;
      const Bytes request(pending_.begin(), pending_.begin() + long(size));
      pending_.erase(pending_.begin(), pending_.begin() + long(size));
      if (request[0] == 0x21) {
        if (request[1] == 0x61 && request[2] == 0x41) mode_ = request[3];
        reply.insert(reply.end(), {0x22, request[1], request[2], 0x00, 0x00});
      } else if (request == kStart) {
        scan.swap(on_start_);
      } else if (const auto answer = kAnswers.find(request); answer != kAnswers.end()) {
        reply.insert(reply.end(), answer->second.begin(), answer->second.end());
      }
    }
  }
  if (!reply.empty()) send(reply);
  if (!scan.empty()) send(scan);
}

void ScannerSim::run() {
  for (;;) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN)) return;
    if (hid_) {
      const FakeHidEndpoint::Request request = FakeHidEndpoint(fd_).next(0);
      if (request.kind == FakeHidEndpoint::Kind::kClosed) return;
      if (request.kind == FakeHidEndpoint::Kind::kOutput && request.report.size() == 64)
        take(request.report.data() + 2, std::min<size_t>(request.report[1], 60));
      continue;
    }
    uint8_t chunk[4096];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) take(chunk, size_t(n));
    if (n == 0 || (p[0].revents & (POLLHUP | POLLERR) && n <= 0)) return;
  }
}

// --- helpers of the tests -------------------------------------------------------

int32_t ScanLog::callback(const uint8_t* data, int32_t n, void* user) {
  auto* log = static_cast<ScanLog*>(user);
  std::lock_guard<std::mutex> lock(log->mutex_);
  log->chunks_.emplace_back(reinterpret_cast<const char*>(data), size_t(n));
  return 0;
}

std::vector<std::string> ScanLog::chunks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chunks_;
}

ScannerHidRig::ScannerHidRig() { scanner_environment().hid = &backend; }

ScannerHidRig::~ScannerHidRig() {
  KOVRA_Close();
  scanner_environment().hid = nullptr;
}

std::unique_ptr<ScannerSim> ScannerHidRig::plug(const char* path) {
  return std::make_unique<ScannerSim>(backend.addDevice(path, 0x0525, 0xA402), true);
}
