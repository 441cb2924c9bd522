#include "sim/scanner_sim.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/thread_helpers.h"
#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "scanner/receive_ring.h"
#include "sim/fake_hid.h"
#include "sim/pty_pair.h"

ScannerMemoryReader::ScannerMemoryReader() {
  scanner_environment().transport = this;
  KOVRA_OpenPort(1, 115200, nullptr, nullptr);
}

ScannerMemoryReader::~ScannerMemoryReader() {
  KOVRA_Close();
  scanner_environment().transport = nullptr;
}

std::vector<std::vector<uint8_t>> ScannerMemoryReader::sent() const {
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
  if (std::count(failing_.begin(), failing_.end(), index)) return 0;
  if (const auto reply = replies_.find(index); reply != replies_.end())
    scanner_ring().push(reply->second.data(), reply->second.size());
  return length;
}

// --- the far end ------------------------------------------------------------

namespace {

using Bytes = std::vector<uint8_t>;

// Request prefix (as many bytes as a request of that kind has) and answer.
struct Rule {
  Bytes request;
  Bytes reply;
};
const Rule kRules[] = {
    {{0x23, 0x10, 0x40}, {0x24, 0x10, 0x40, 0x00}},
    {{0x32, 0x75, 0x01}, {}},
    {{0x32, 0x75, 0x02}, {0x33, 0x75, 0x02, 0x00, 0x00}},
    {{0x43, 0x04, 0xC5},
     {0x44, 0x04, 0xC5, 0x00, 0x0A, 'S', 'N', '2', '0', '2', '6', '1', '2', '0', '8'}},
};
constexpr size_t kSettingSize = 5;  // "!" code code value 00

}  // namespace

ScannerSim::ScannerSim(int fd, bool hid)
    : fd_(fd), hid_(hid), stop_fd_(eventfd(0, EFD_CLOEXEC)) {
  start_thread(thread_, [this] { run(); });
}

ScannerSim::~ScannerSim() { unplug(); }

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

void ScannerSim::scan(const std::string& code, int pieces, int gap_ms) {
  const size_t step = (code.size() + size_t(pieces) - 1) / size_t(pieces);
  for (size_t at = 0; at < code.size(); at += step) {
    if (at) std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
    send(Bytes(code.begin() + long(at), code.begin() + long(std::min(code.size(), at + step))));
  }
}

void ScannerSim::send(const Bytes& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!hid_) {
    sim_write_all(fd_, bytes.data(), bytes.size());
    return;
  }
  FakeHidEndpoint endpoint(fd_);
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(56, bytes.size() - at);
    uint8_t report[64] = {0x04, uint8_t(n)};
    std::memcpy(report + 2, bytes.data() + at, n);
    at += n;
    report[63] = at < bytes.size() ? 1 : 0;
    endpoint.sendInput(report, sizeof report);
  } while (at < bytes.size());
}

void ScannerSim::take(const uint8_t* data, size_t n) {
  Bytes reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.insert(received_.end(), data, data + n);
    pending_.insert(pending_.end(), data, data + n);
    for (bool matched = true; matched && !pending_.empty();) {
      matched = false;
      for (const Rule& rule : kRules) {
        if (pending_.size() < rule.request.size() ||
            !std::equal(rule.request.begin(), rule.request.end(), pending_.begin()))
          continue;
        pending_.erase(pending_.begin(), pending_.begin() + long(rule.request.size()));
        reply.insert(reply.end(), rule.reply.begin(), rule.reply.end());
        matched = true;
      }
      if (!matched && pending_[0] == 0x21 && pending_.size() >= kSettingSize) {
        if (pending_[1] == 0x61 && pending_[2] == 0x41) mode_ = pending_[3];
        reply.insert(reply.end(), {0x22, pending_[1], pending_[2], 0x00, 0x00});
        pending_.erase(pending_.begin(), pending_.begin() + kSettingSize);
        matched = true;
      }
    }
  }
  if (!reply.empty() && !silent_) send(reply);
}

void ScannerSim::run() {
  for (;;) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN)) return;
    if (hid_) {
      const FakeHidEndpoint::Request request = FakeHidEndpoint(fd_).next(0);
      if (request.kind == FakeHidEndpoint::Kind::kClosed) return;
      if (request.kind != FakeHidEndpoint::Kind::kOutput) continue;
      // Both report sizes: a 65-byte report has its id 00 in front.
      const size_t shift = request.report.size() > 64 ? 1 : 0;
      if (request.report.size() < shift + 64) continue;
      take(request.report.data() + shift + 2, std::min<size_t>(request.report[shift + 1], 60));
      continue;
    }
    uint8_t chunk[4096];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) take(chunk, size_t(n));
    if (n == 0 || (p[0].revents & (POLLHUP | POLLERR) && n <= 0)) return;
  }
}
