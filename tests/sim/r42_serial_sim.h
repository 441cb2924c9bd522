// A simulated r42 reader on the far end of a serial line.
//
// The simulator runs one thread on a byte-stream descriptor: the master of a
// pseudo-terminal (see withPty), or any descriptor such as one end of a
// socketpair. It reads request frames with its own small framing code (never
// the library's), hands each request payload to a handler and writes the
// handler's reply payload back in the same framing.
//
//   auto sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
//   sim->onCommand(0x0F10, [](const std::vector<uint8_t>&) {
//     return std::vector<uint8_t>{0x00, 0x00, 0x00, 'V', '5', '.', '1', '2'};
//   });
//   sim->start();
//   ComPort port({{"mode", "direct"}, {"name", sim->slavePath()},
//                 {"baud", "115200"}}, &opened);
//
// Payloads: a request is [command u16 BE][00][parameters]; a reply is
// [status u16 BE][one byte][data]. The handler picked for a request is the
// one registered for its command code, else the general handler (setHandler),
// else none: the request is logged and left unanswered. A reader-state model
// plugs in through setHandler.
//
// Framing:
//   kStxEtx  both ways: 02, n (u32 BE), payload, XOR of all before, 03.
//   kCcid    requests: 6F, n + 7 (u32 LE), five 00, the STX frame;
//            replies:  80, n + 7 (u32 LE), five 00, the STX frame.
// Bytes that cannot start a frame are dropped one at a time; a frame with a
// bad XOR or ETX is dropped whole (counted by badFrames); a partial frame is
// dropped after 50 ms without a new byte, so a later request is read clean.
//
// Faults (injectFault) change the reply to one request: the Nth request
// from the moment of injection (nth = 1: the next one), once, or every request
// from then on when `repeat` is set. Each fault may also delay the reply.
//
// withPty keeps a slave descriptor of the pseudo-terminal open, so the master
// sees no hang-up while the port under test closes and reopens. Hang-up is
// simulated by closing the master (kHangUp, or hangUp()).
//
// Thread safety: every public member may be called from any thread while the
// simulator runs; handlers run on the simulator thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PtyPair;

class R42SerialSim {
 public:
  enum class Framing { kStxEtx, kCcid };
  using Handler = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request_payload)>;

  enum class Fault {
    kNone,            // normal reply (use with delay_ms for a late reply)
    kWrongFirstByte,  // frame byte 0 becomes `byte` (CCID: the header byte)
    kBadXor,          // the check byte is inverted
    kMissingEtx,      // the closing 03 becomes `byte`
    kOversize,        // a well-formed frame whose payload is padded to `length`
    kHugeLength,      // 02 and the length field `length`, then nothing
    kPartial,         // the first `length` bytes of the frame, then silence
    kBursts,          // the frame in pieces of `length` bytes, `gap_ms` apart
    kHangUp,          // close the descriptor instead of replying
    kStaleBytes,      // the reply followed by `bytes` (empty: the frame again)
    kSilence,         // no reply at all
  };

  struct FaultPlan {
    Fault kind = Fault::kNone;
    int nth = 1;           // 1 = the next request after injection
    bool repeat = false;   // every request from the Nth on
    uint32_t length = 0;   // meaning depends on kind (see above)
    uint8_t byte = 0x55;   // replacement byte for kWrongFirstByte/kMissingEtx
    int gap_ms = 20;       // pause between bursts
    int delay_ms = 0;      // pause before the first reply byte
    std::vector<uint8_t> bytes;
  };

  // Takes ownership of `fd` (closed on destruction or hang-up).
  R42SerialSim(int fd, Framing framing);
  // A simulator on a new pseudo-terminal; null when none could be made.
  static std::unique_ptr<R42SerialSim> withPty(Framing framing);
  ~R42SerialSim();
  R42SerialSim(const R42SerialSim&) = delete;
  R42SerialSim& operator=(const R42SerialSim&) = delete;

  // Only for withPty: what the port under test opens, and the kept slave fd.
  std::string slavePath() const;
  PtyPair* pty() const { return pty_.get(); }

  void start();
  void stop();  // joins the thread; also done by the destructor

  void setHandler(Handler handler);
  void onCommand(uint16_t command, Handler handler);
  void injectFault(const FaultPlan& fault);
  void clearFaults();

  // Writes raw bytes to the line now (e.g. stale bytes before a request).
  void sendRaw(const std::vector<uint8_t>& bytes);
  // Closes the descriptor now: the port sees a hang-up.
  void hangUp();

  std::vector<std::vector<uint8_t>> requests() const;
  size_t requestCount() const;
  // Waits until at least `count` requests were logged.
  bool waitForRequests(size_t count, int timeout_ms) const;
  uint64_t rawBytesReceived() const;
  uint64_t badFrames() const;

  // The simulator's own frame builders, for tests that need wire images.
  static std::vector<uint8_t> stxFrame(const std::vector<uint8_t>& payload);
  static std::vector<uint8_t> ccidRequest(const std::vector<uint8_t>& payload);
  static std::vector<uint8_t> ccidReply(const std::vector<uint8_t>& payload);

 private:
  void run();
  void takeBytes(const uint8_t* data, size_t n);
  // Consumes complete frames from in_; returns payloads of good ones.
  void parseFrames();
  void answer(const std::vector<uint8_t>& payload);
  bool writeAll(const uint8_t* data, size_t n);
  bool pause(int ms);  // false when asked to stop
  void closeFd();

  Framing framing_;
  std::unique_ptr<PtyPair> pty_;
  int fd_;
  int wake_[2] = {-1, -1};
  std::thread thread_;

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  bool stop_ = false;
  bool hang_up_ = false;
  Handler handler_;
  std::map<uint16_t, Handler> commands_;
  struct Armed {
    FaultPlan plan;
    size_t first;  // request index (1-based) it first applies to
  };
  std::vector<Armed> faults_;
  std::vector<std::vector<uint8_t>> log_;
  std::vector<std::vector<uint8_t>> outbox_;  // raw bytes queued by sendRaw
  uint64_t raw_received_ = 0;
  uint64_t bad_frames_ = 0;

  std::vector<uint8_t> in_;  // simulator thread only
};
