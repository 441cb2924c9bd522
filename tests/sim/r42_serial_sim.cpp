#include "sim/r42_serial_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/deadline.h"
#include "sim/pty_pair.h"

namespace {

// Larger length fields are taken for line noise, not for a request.
constexpr uint32_t kMaxRequest = 1u << 20;
constexpr int kPartialFrameDropMs = 50;

uint32_t be32_at(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 |
         uint32_t(b[at + 3]);
}

uint32_t le32_at(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// A complete STX frame of exactly `len` bytes at `f`: its payload, or false.
bool stx_payload(const uint8_t* f, size_t len, std::vector<uint8_t>* payload) {
  if (len < 7 || f[0] != 0x02) return false;
  uint32_t n = uint32_t(f[1]) << 24 | uint32_t(f[2]) << 16 | uint32_t(f[3]) << 8 | f[4];
  if (size_t(n) + 7 != len) return false;
  uint8_t x = 0;
  for (size_t i = 0; i < 5 + size_t(n); ++i) x ^= f[i];
  if (x != f[5 + n] || f[6 + n] != 0x03) return false;
  payload->assign(f + 5, f + 5 + n);
  return true;
}

std::vector<uint8_t> ccid_wrap(uint8_t type, const std::vector<uint8_t>& payload) {
  const std::vector<uint8_t> inner = R42SerialSim::stxFrame(payload);
  const uint32_t len = uint32_t(inner.size());
  std::vector<uint8_t> out(10 + inner.size(), 0);
  out[0] = type;
  for (int i = 0; i < 4; ++i) out[size_t(1 + i)] = uint8_t(len >> (8 * i));
  std::copy(inner.begin(), inner.end(), out.begin() + 10);
  return out;
}

}  // namespace

std::vector<uint8_t> R42SerialSim::stxFrame(const std::vector<uint8_t>& payload) {
  const uint32_t n = uint32_t(payload.size());
  std::vector<uint8_t> f(payload.size() + 7);
  f[0] = 0x02;
  f[1] = uint8_t(n >> 24);
  f[2] = uint8_t(n >> 16);
  f[3] = uint8_t(n >> 8);
  f[4] = uint8_t(n);
  std::copy(payload.begin(), payload.end(), f.begin() + 5);
  uint8_t x = 0;
  for (size_t i = 0; i < 5 + payload.size(); ++i) x ^= f[i];
  f[5 + payload.size()] = x;
  f[6 + payload.size()] = 0x03;
  return f;
}

std::vector<uint8_t> R42SerialSim::ccidRequest(const std::vector<uint8_t>& payload) {
  return ccid_wrap(0x6F, payload);
}

std::vector<uint8_t> R42SerialSim::ccidReply(const std::vector<uint8_t>& payload) {
  return ccid_wrap(0x80, payload);
}

R42SerialSim::R42SerialSim(int fd, Framing framing) : framing_(framing), fd_(fd) {
  if (fd_ >= 0) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
}

std::unique_ptr<R42SerialSim> R42SerialSim::withPty(Framing framing) {
  auto pty = std::make_unique<PtyPair>();
  if (!pty->ok()) return nullptr;
  auto sim = std::make_unique<R42SerialSim>(pty->releaseMaster(), framing);
  sim->pty_ = std::move(pty);
  return sim;
}

R42SerialSim::~R42SerialSim() {
  stop();
  closeFd();
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

std::string R42SerialSim::slavePath() const { return pty_ ? pty_->slavePath() : std::string(); }

void R42SerialSim::start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = false;
  }
  thread_ = std::thread([this] { run(); });
}

void R42SerialSim::stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  if (wake_[1] >= 0) (void)!::write(wake_[1], "s", 1);
  if (thread_.joinable()) thread_.join();
}

void R42SerialSim::setHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  handler_ = std::move(handler);
}

void R42SerialSim::onCommand(uint16_t command, Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  commands_[command] = std::move(handler);
}

void R42SerialSim::injectFault(const FaultPlan& fault) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.push_back({fault, log_.size() + size_t(std::max(fault.nth, 1))});
}

void R42SerialSim::clearFaults() {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.clear();
}

void R42SerialSim::sendRaw(const std::vector<uint8_t>& bytes) {
  if (!thread_.joinable()) {
    writeAll(bytes.data(), bytes.size());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    outbox_.push_back(bytes);
  }
  (void)!::write(wake_[1], "w", 1);
}

void R42SerialSim::hangUp() {
  if (!thread_.joinable()) {
    closeFd();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    hang_up_ = true;
  }
  (void)!::write(wake_[1], "h", 1);
  // Return only once the descriptor is closed, so the caller's next step
  // already meets the hang-up.
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return !hang_up_ || stop_; });
}

std::vector<std::vector<uint8_t>> R42SerialSim::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

size_t R42SerialSim::requestCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_.size();
}

bool R42SerialSim::waitForRequests(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return log_.size() >= count; });
}

uint64_t R42SerialSim::rawBytesReceived() const {
  std::lock_guard<std::mutex> lock(mu_);
  return raw_received_;
}

uint64_t R42SerialSim::badFrames() const {
  std::lock_guard<std::mutex> lock(mu_);
  return bad_frames_;
}

void R42SerialSim::closeFd() {
  std::lock_guard<std::mutex> lock(mu_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void R42SerialSim::run() {
  uint8_t chunk[4096];
  for (;;) {
    std::vector<std::vector<uint8_t>> outbox;
    bool hang_up = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stop_) break;
      outbox.swap(outbox_);
      hang_up = hang_up_;
    }
    for (const auto& bytes : outbox) writeAll(bytes.data(), bytes.size());
    if (hang_up) {
      closeFd();
      std::lock_guard<std::mutex> lock(mu_);
      hang_up_ = false;
      cv_.notify_all();
    }

    pollfd p[2] = {{wake_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
    int count = fd_ >= 0 ? 2 : 1;
    int rc = poll(p, nfds_t(count), in_.empty() ? -1 : kPartialFrameDropMs);
    if (rc < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (rc == 0) {
      // The peer went quiet mid-frame: forget the fragment.
      in_.clear();
      std::lock_guard<std::mutex> lock(mu_);
      ++bad_frames_;
      continue;
    }
    if (p[0].revents & POLLIN) {
      while (::read(wake_[0], chunk, sizeof chunk) > 0) {
      }
    }
    if (count == 2 && p[1].revents) {
      ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n > 0) {
        takeBytes(chunk, size_t(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closeFd();  // the peer is gone; stop polling a dead descriptor
      }
    }
  }
}

void R42SerialSim::takeBytes(const uint8_t* data, size_t n) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    raw_received_ += n;
  }
  in_.insert(in_.end(), data, data + n);
  parseFrames();
}

void R42SerialSim::parseFrames() {
  const bool ccid = framing_ == Framing::kCcid;
  const size_t head = ccid ? 10 : 0;
  auto drop = [&](size_t count) {
    in_.erase(in_.begin(), in_.begin() + ptrdiff_t(std::min(count, in_.size())));
    std::lock_guard<std::mutex> lock(mu_);
    ++bad_frames_;
  };
  while (!in_.empty()) {
    if (in_[0] != (ccid ? 0x6F : 0x02)) {
      drop(1);
      continue;
    }
    if (in_.size() < head + 5) return;
    if (ccid) {
      uint32_t inner = le32_at(in_, 1);
      if (inner < 7 || inner > kMaxRequest + 7) {
        drop(1);
        continue;
      }
    }
    if (in_[head] != 0x02) {
      drop(1);
      continue;
    }
    uint32_t n = be32_at(in_, head + 1);
    if (n > kMaxRequest) {
      drop(1);
      continue;
    }
    size_t total = head + size_t(n) + 7;
    if (ccid && le32_at(in_, 1) != n + 7) {
      drop(1);
      continue;
    }
    if (in_.size() < total) return;
    std::vector<uint8_t> payload;
    if (!stx_payload(in_.data() + head, size_t(n) + 7, &payload)) {
      drop(total);
      continue;
    }
    in_.erase(in_.begin(), in_.begin() + ptrdiff_t(total));
    answer(payload);
  }
}

bool R42SerialSim::pause(int ms) {
  const Deadline deadline(ms);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stop_) return false;
    }
    const int left = deadline.msLeft();
    if (left == 0) return true;
    pollfd p{wake_[0], POLLIN, 0};
    if (poll(&p, 1, left) > 0) {
      uint8_t sink[64];
      while (::read(wake_[0], sink, sizeof sink) > 0) {
      }
    }
  }
}

void R42SerialSim::answer(const std::vector<uint8_t>& payload) {
  Handler handler;
  FaultPlan fault;
  {
    std::lock_guard<std::mutex> lock(mu_);
    log_.push_back(payload);
    size_t index = log_.size();
    cv_.notify_all();
    if (payload.size() >= 2) {
      auto it = commands_.find(uint16_t(payload[0] << 8 | payload[1]));
      if (it != commands_.end()) handler = it->second;
    }
    if (!handler) handler = handler_;
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
      if (it->plan.repeat ? index >= it->first : index == it->first) {
        fault = it->plan;
        if (!it->plan.repeat) faults_.erase(it);
        break;
      }
    }
  }
  if (fault.delay_ms > 0 && !pause(fault.delay_ms)) return;

  std::vector<uint8_t> frame;
  switch (fault.kind) {
    case Fault::kHangUp:
      closeFd();
      return;
    case Fault::kSilence:
      return;
    case Fault::kHugeLength: {
      uint32_t n = fault.length ? fault.length : 0xFFFFFFF0u;
      frame = {0x02, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
      if (framing_ == Framing::kCcid) {
        uint32_t m = n + 7;
        frame.insert(frame.begin(), {0x80, uint8_t(m), uint8_t(m >> 8), uint8_t(m >> 16),
                                     uint8_t(m >> 24), 0, 0, 0, 0, 0});
      }
      writeAll(frame.data(), frame.size());
      return;
    }
    default:
      break;
  }
  if (!handler) return;  // nobody answers this command
  std::vector<uint8_t> reply = handler(payload);
  if (fault.kind == Fault::kOversize && reply.size() < fault.length) reply.resize(fault.length, 0xEE);
  frame = framing_ == Framing::kCcid ? ccidReply(reply) : stxFrame(reply);

  switch (fault.kind) {
    case Fault::kWrongFirstByte:
      frame[0] = fault.byte;
      break;
    case Fault::kBadXor:
      frame[frame.size() - 2] ^= 0xFF;
      break;
    case Fault::kMissingEtx:
      frame.back() = fault.byte;
      break;
    case Fault::kPartial:
      frame.resize(std::min<size_t>(fault.length ? fault.length : frame.size() / 2, frame.size()));
      break;
    case Fault::kStaleBytes: {
      std::vector<uint8_t> extra = fault.bytes.empty() ? frame : fault.bytes;
      frame.insert(frame.end(), extra.begin(), extra.end());
      break;
    }
    case Fault::kBursts: {
      size_t piece = fault.length ? fault.length : 3;
      for (size_t at = 0; at < frame.size(); at += piece) {
        if (at > 0 && !pause(fault.gap_ms)) return;
        if (!writeAll(frame.data() + at, std::min(piece, frame.size() - at))) return;
      }
      return;
    }
    default:
      break;
  }
  writeAll(frame.data(), frame.size());
}

bool R42SerialSim::writeAll(const uint8_t* data, size_t n) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(mu_);
    fd = fd_;
  }
  return sim_write_all(fd, data, n);
}
