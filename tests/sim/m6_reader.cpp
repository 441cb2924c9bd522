#include "m6_reader.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "fake_hid.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
constexpr size_t kReport = 32;
constexpr size_t kPieceData = kReport - 1;
constexpr size_t kMaxIncoming = 70000;
constexpr int kByteWaitMs = 1000;

uint8_t xor_of(const uint8_t* data, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= data[i];
  return x;
}

// Cuts a frame into 33-byte feature reports: ID byte, 82/02, 31 bytes.
std::vector<std::vector<uint8_t>> to_reports(const std::vector<uint8_t>& frame, bool headers) {
  std::vector<std::vector<uint8_t>> reports;
  size_t per = headers ? kPieceData : kReport;
  for (size_t at = 0; at < frame.size(); at += per) {
    std::vector<uint8_t> report(kReport + 1, 0);
    size_t piece = std::min(per, frame.size() - at);
    size_t o = 1;
    if (headers) report[o++] = at + piece < frame.size() ? 0x82 : 0x02;
    std::copy(frame.begin() + long(at), frame.begin() + long(at + piece), report.begin() + long(o));
    reports.push_back(report);
  }
  return reports;
}

}  // namespace

M6Reader::M6Reader(int fd, Framing framing)
    : fd_(fd), stop_fd_(eventfd(0, EFD_CLOEXEC)), framing_(framing) {
  thread_ = std::thread([this] { run(); });
}

M6Reader::~M6Reader() {
  uint64_t one = 1;
  if (write(stop_fd_, &one, sizeof one) < 0) {
  }
  thread_.join();
  close(stop_fd_);
  close(fd_);
}

std::vector<uint8_t> M6Reader::sequences() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sequences_;
}

int M6Reader::acks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return acks_;
}

bool M6Reader::waitForAcks(int count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return acks_ >= count; });
}

int M6Reader::badFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bad_frames_;
}

void M6Reader::run() {
  if (framing_ == Framing::kDle)
    runDle();
  else
    runReports();
}

int M6Reader::getByte(int timeout_ms) {
  if (inbox_at_ < inbox_.size()) return inbox_[inbox_at_++];
  pollfd p[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  int r;
  do {
    r = poll(p, 2, timeout_ms);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return -2;
  if (r < 0 || (p[1].revents & POLLIN)) return -1;
  inbox_.resize(4096);
  ssize_t n = read(fd_, inbox_.data(), inbox_.size());
  if (n <= 0) return -1;
  inbox_.resize(size_t(n));
  inbox_at_ = 1;
  wire_bytes_ += uint64_t(n);
  return inbox_[0];
}

bool M6Reader::putBytes(const std::vector<uint8_t>& bytes) {
  wire_bytes_ += bytes.size();
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

void M6Reader::setReplyDelay(ReplyDelay delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  delay_ = std::move(delay);
}

std::chrono::steady_clock::time_point M6Reader::replyTime(
    std::chrono::steady_clock::time_point arrived, const std::vector<uint8_t>& command,
    const std::vector<uint8_t>& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  return delay_ ? arrived + delay_(command, reply) : arrived;
}

bool M6Reader::waitUntil(std::chrono::steady_clock::time_point when) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
        when - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    // To the nanosecond, so a paced line keeps its pace.
    const timespec wait = {time_t(left.count() / 1000000000), long(left.count() % 1000000000)};
    pollfd p = {stop_fd_, POLLIN, 0};
    if (ppoll(&p, 1, &wait, nullptr) > 0) return false;
  }
}

void M6Reader::runDle() {
  std::vector<uint8_t> pending;  // reply frame waiting for the host's 10
  auto release = std::chrono::steady_clock::now();
  bool awaiting_ack = false;
  for (;;) {
    int b = getByte(-1);
    if (b == -1) return;
    if (b == kDle) {
      if (!pending.empty()) {
        if (!waitUntil(release) || !putBytes(pending)) return;
        pending.clear();
        awaiting_ack = true;
      } else if (awaiting_ack) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++acks_;
        awaiting_ack = false;
        changed_.notify_all();
      }
      continue;
    }
    if (b != kStx) continue;
    awaiting_ack = false;
    pending.clear();
    if (!putBytes({kDle})) return;

    // The frame, un-stuffed, up to the unpaired DLE ETX.
    std::vector<uint8_t> frame;
    bool ok = false, dle = false;
    for (size_t raw = 0; raw < 600; ++raw) {
      int c = getByte(kByteWaitMs);
      if (c == -1) return;
      if (c == -2) break;
      if (dle) {
        dle = false;
        if (c == kEtx) {
          ok = true;
          break;
        }
        if (c != kDle) break;
        frame.push_back(kDle);
      } else if (c == kDle) {
        dle = true;
      } else {
        frame.push_back(uint8_t(c));
      }
    }
    if (!ok || frame.size() < 4 || frame.size() != size_t(frame[2]) + 4 ||
        xor_of(frame.data(), frame.size()) != 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++bad_frames_;
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sequences_.push_back(frame[0]);
    }
    const auto arrived = std::chrono::steady_clock::now();
    std::vector<uint8_t> command{frame[1]};
    command.insert(command.end(), frame.begin() + 3, frame.end() - 1);
    Reply reply = model_.answer(command);
    if (reply.kind == Reply::Kind::kSilence) continue;
    release = replyTime(arrived, command, reply.bytes);
    if (!putBytes({kDle, kStx})) return;
    if (reply.kind == Reply::Kind::kRaw) {
      pending = reply.bytes;
      continue;
    }
    std::vector<uint8_t> body{frame[0], reply.bytes[0], uint8_t(reply.bytes.size() - 1)};
    body.insert(body.end(), reply.bytes.begin() + 1, reply.bytes.end());
    body.push_back(xor_of(body.data(), body.size()));
    for (uint8_t x : body) {
      if (x == kDle) pending.push_back(kDle);
      pending.push_back(x);
    }
    pending.push_back(kDle);
    pending.push_back(kEtx);
  }
}

std::vector<uint8_t> M6Reader::frameReport(const std::vector<uint8_t>& payload,
                                           bool long_frame) const {
  std::vector<uint8_t> frame;
  if (!long_frame) {
    frame = {kStx, payload[0], uint8_t(payload.size() - 1)};
    frame.insert(frame.end(), payload.begin() + 1, payload.end());
    frame.push_back(xor_of(frame.data(), frame.size()));
  } else {
    frame = {0xAA, uint8_t(payload.size() >> 8), uint8_t(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(xor_of(frame.data(), frame.size()));
    frame.push_back(0x55);
  }
  return frame;
}

bool M6Reader::parseReportFrame(const std::vector<uint8_t>& frame,
                                std::vector<uint8_t>& command) const {
  if (!frame.empty() && frame[0] == kStx) {
    if (frame.size() < 4) return false;
    size_t d = frame[2];
    if (frame.size() < d + 4 || xor_of(frame.data(), d + 4) != 0) return false;
    command.assign(1, frame[1]);
    command.insert(command.end(), frame.begin() + 3, frame.begin() + 3 + long(d));
    return true;
  }
  if (frame.size() < 5 || frame[0] != 0xAA) return false;
  size_t n = size_t(frame[1]) << 8 | frame[2];
  if (n < 1 || frame.size() < n + 5 || xor_of(frame.data(), n + 4) != 0 || frame[n + 4] != 0x55)
    return false;
  command.assign(frame.begin() + 3, frame.begin() + 3 + long(n));
  return true;
}

void M6Reader::runReports() {
  FakeHidEndpoint endpoint(fd_);
  std::vector<uint8_t> incoming;
  std::deque<std::vector<uint8_t>> outgoing;
  for (;;) {
    FakeHidEndpoint::Request request = endpoint.next(-1, stop_fd_);
    switch (request.kind) {
      case FakeHidEndpoint::Kind::kClosed:
        return;
      case FakeHidEndpoint::Kind::kTimeout:
        continue;
      case FakeHidEndpoint::Kind::kGetFeature:
        if (outgoing.empty()) {
          endpoint.failFeature();
        } else {
          endpoint.replyFeature(outgoing.front().data(), outgoing.front().size());
          outgoing.pop_front();
        }
        continue;
      case FakeHidEndpoint::Kind::kSetFeature:
        endpoint.answerSet(true);
        break;
      case FakeHidEndpoint::Kind::kOutput:
        break;
    }
    // [ID][header][31 frame bytes]
    if (request.report.size() < 2) continue;
    uint8_t header = request.report[1];
    size_t take = std::min(request.report.size() - 2, kPieceData);
    if (incoming.size() + take > kMaxIncoming) incoming.clear();
    incoming.insert(incoming.end(), request.report.begin() + 2,
                    request.report.begin() + 2 + long(take));
    if (header == 0x82) continue;
    const auto arrived = std::chrono::steady_clock::now();
    std::vector<uint8_t> command;
    const bool ok = parseReportFrame(incoming, command);
    const bool long_frame = !incoming.empty() && incoming[0] != kStx;
    incoming.clear();
    if (!ok) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++bad_frames_;
      continue;
    }
    Reply reply = model_.answer(command);
    if (reply.kind == Reply::Kind::kSilence) continue;
    if (!waitUntil(replyTime(arrived, command, reply.bytes))) return;
    auto reports = reply.kind == Reply::Kind::kRaw
                       ? to_reports(reply.bytes, false)
                       : to_reports(frameReport(reply.bytes, long_frame), true);
    outgoing.insert(outgoing.end(), reports.begin(), reports.end());
  }
}
