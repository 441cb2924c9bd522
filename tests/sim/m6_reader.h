// A simulated m6-family reader, for tests of the m6 framings, the ports
// that carry them and the device manager.
//
// It runs one thread on a descriptor it takes over and speaks one of the
// three m6 framings with its own small framing code (never the library's):
//
//   kDle       a byte stream (socketpair, pty master, ...):
//              host 02 / reader 10; host [seq cmd d data xor] 10 03, every
//              0x10 before the end doubled / reader 10 02; host 10 / reader
//              the reply frame (the host's sequence byte echoed); host 10 (ack).
//   kHidStx    the device end of a FakeHidBackend device (fake_hid.h):
//              commands arrive as set-feature (or output) reports
//              [0][82|02][31 frame bytes], frame 02 cmd d data xor; replies
//              wait as 33-byte feature reports for the host's get-feature
//              requests (a request with nothing waiting fails, as a busy
//              reader's does).
//   kHidReport the same reports carrying AA [n BE16] payload xor 55.
//              Either report framing answers both: each frame is read, and
//              answered, by its first byte (02 or AA), as the "m6-u" reader
//              takes its long exchanges on the same device.
//
// Commands are [command][data]; replies [status][data], answered by the
// reader's model (m6_reader_model.h), which the members below reach.
//
//   int fds[2]; socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
//   M6Reader reader(fds[1], M6Reader::Framing::kDle);
//   ... a port on fds[0], DleProtocol over it ...
//
// Every public member may be called from any thread while it runs. The
// destructor stops the thread and closes the descriptor.
#pragma once

#include <cstdint>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/m6_reader_model.h"

class M6Reader {
 public:
  enum class Framing { kDle, kHidStx, kHidReport };

  M6Reader(int fd, Framing framing);
  ~M6Reader();
  M6Reader(const M6Reader&) = delete;
  M6Reader& operator=(const M6Reader&) = delete;

  M6ReaderModel& model() { return model_; }
  void setVersion(uint8_t high, uint8_t low) { model_.setVersion(high, low); }
  void setSerial(const std::string& serial32) { model_.setSerial(serial32); }

  // The next reply is [status][data] as given, framed as usual.
  void pushReply(std::vector<uint8_t> payload) { model_.pushReply(std::move(payload)); }
  // The next reply is these bytes as they are: for kDle in place of the
  // reply frame; for the report framings cut into 32-byte reports (the last
  // padded with zeros), each served as one feature report.
  void pushRaw(std::vector<uint8_t> bytes) { model_.pushRaw(std::move(bytes)); }
  // The next command gets no answer at all.
  void pushSilence() { model_.pushSilence(); }

  // Every well-formed command received, as [command][data].
  std::vector<std::vector<uint8_t>> commands() const { return model_.commands(); }
  // kDle: the sequence byte of each command, and the acknowledgements seen.
  std::vector<uint8_t> sequences() const;
  int acks() const;
  // Waits until `count` acknowledgements were seen; false on time-out. The
  // host's last acknowledgement may still be in flight when its call returns.
  bool waitForAcks(int count, int timeout_ms) const;
  // Frames that failed the reader's checks.
  int badFrames() const;

  // Holds replies back: `delay`(command, reply payload) after the command
  // arrived, a reply may go out (a late reader, or a paced line).
  using ReplyDelay = std::function<std::chrono::microseconds(const std::vector<uint8_t>& command,
                                                             const std::vector<uint8_t>& reply)>;
  void setReplyDelay(ReplyDelay delay);
  void setReplyDelay(int ms) {
    setReplyDelay([ms](const auto&, const auto&) { return std::chrono::milliseconds(ms); });
  }
  // kDle: bytes on the line both ways so far, handshakes and stuffing
  // included.
  uint64_t wireBytes() const { return wire_bytes_; }

 private:
  using Reply = M6ReaderModel::Reply;

  void run();
  void runDle();
  void runReports();
  std::vector<uint8_t> frameReport(const std::vector<uint8_t>& payload, bool long_frame) const;
  bool parseReportFrame(const std::vector<uint8_t>& frame, std::vector<uint8_t>& command) const;
  // Waits until `when` (or the stop); false when stopped.
  bool waitUntil(std::chrono::steady_clock::time_point when);
  std::chrono::steady_clock::time_point replyTime(std::chrono::steady_clock::time_point arrived,
                                                  const std::vector<uint8_t>& command,
                                                  const std::vector<uint8_t>& reply);

  // Byte-stream helpers for kDle: -1 stopped or closed, -2 timed out.
  int getByte(int timeout_ms);
  bool putBytes(const std::vector<uint8_t>& bytes);

  int fd_;
  int stop_fd_;
  Framing framing_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  M6ReaderModel model_;
  std::vector<uint8_t> sequences_;
  int acks_ = 0;
  int bad_frames_ = 0;
  ReplyDelay delay_;
  std::atomic<uint64_t> wire_bytes_{0};
  std::vector<uint8_t> inbox_;
  size_t inbox_at_ = 0;
  std::thread thread_;
};
