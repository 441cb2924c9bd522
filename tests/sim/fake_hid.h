// A HidBackend for tests whose devices are SOCK_SEQPACKET socketpairs.
//
// One message is one report, led by a tag byte that names its kind:
//   host -> device  'G' get-feature request: [G][length u16 LE]
//                   'S' set-feature:         [S][report, ID byte first]
//                   'O' output report:       [O][report, ID byte first]
//   device -> host  'F' feature reply:       [F][report, ID byte first];
//                                            [F] alone = request failed
//                   'A' set-feature result:  [A][1 ok / 0 failed]
//                   'I' input report:        [I][data, no ID byte]
// Feature requests wait up to kFeatureWaitMs for their answer; input
// reports that arrive meanwhile are queued (64 at most, as hidraw keeps).
//
// addDevice hands the test the device end (FakeHidEndpoint helps to speak
// there); closing it unplugs the device: every host call then fails. Each
// open of a path gets its own duplicate of the host end, so a path can be
// opened twice, as on hidraw; openHandles counts the live ones. Each device
// has a regular file of its own in a private folder that stands in for its
// hidraw node when a port takes the node's lock, so the lock works across
// fork as on the real node.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connection/hid_device.h"

constexpr int kFeatureWaitMs = 1000;

class FakeHidBackend : public HidBackend {
 public:
  FakeHidBackend();
  ~FakeHidBackend() override;
  FakeHidBackend(const FakeHidBackend&) = delete;
  FakeHidBackend& operator=(const FakeHidBackend&) = delete;

  // Adds a device (enumerated in the order added) and returns the device
  // end, which the caller owns; -1 when no socketpair could be made.
  int addDevice(const std::string& path, uint16_t vendor_id, uint16_t product_id);
  // A device whose path refuses to open.
  void setOpenable(const std::string& path, bool openable);
  // Unplugs the device at `path` from the list (its handles already open
  // fail once the device end closes); addDevice may bring it back.
  void removeDevice(const std::string& path);

  std::vector<HidDeviceInfo> enumerate() override;
  std::unique_ptr<HidDevice> open(const std::string& path) override;
  int lockNode(const std::string& path) override;

  // Host handles opened and not closed yet.
  int openHandles() const { return *open_handles_; }
  int opens() const { return opens_; }

 private:
  struct Device {
    HidDeviceInfo info;
    int host_fd = -1;
    bool openable = true;
    std::string node;  // the stand-in node's file
  };
  std::string folder_;  // holds the stand-in nodes
  std::mutex mutex_;
  std::vector<Device> devices_;
  int next_node_ = 0;  // names the stand-in nodes, never reused
  std::shared_ptr<std::atomic<int>> open_handles_ = std::make_shared<std::atomic<int>>(0);
  std::atomic<int> opens_{0};
};

// The device end of one fake device.
class FakeHidEndpoint {
 public:
  enum class Kind { kGetFeature, kSetFeature, kOutput, kClosed, kTimeout };
  struct Request {
    Kind kind = Kind::kTimeout;
    std::vector<uint8_t> report;  // set-feature / output: ID byte first
    size_t length = 0;            // get-feature: the size asked for
  };

  explicit FakeHidEndpoint(int fd) : fd_(fd) {}

  // Waits up to timeout_ms (-1: no limit) for the next host message. With
  // `stop_fd` >= 0, also returns kClosed once that descriptor is readable.
  Request next(int timeout_ms, int stop_fd = -1);
  bool replyFeature(const uint8_t* report, size_t length);
  bool failFeature();
  bool answerSet(bool ok);
  bool sendInput(const uint8_t* data, size_t length);

  int fd() const { return fd_; }

 private:
  bool sendTagged(uint8_t tag, const uint8_t* data, size_t length);
  int fd_;
};

// A scripted device end on a thread of its own; takes the descriptor. By
// default a feature-report device: every set-feature succeeds and each
// get-feature is answered with the next queued report (a failed request
// when none is queued). With `serve`, that answers every host message.
class FakeHidPeer {
 public:
  using Request = FakeHidEndpoint::Request;
  using Serve = std::function<void(FakeHidEndpoint&, const Request&)>;

  explicit FakeHidPeer(int fd, std::vector<std::vector<uint8_t>> feature_reports = {});
  FakeHidPeer(int fd, Serve serve);
  ~FakeHidPeer();
  FakeHidPeer(const FakeHidPeer&) = delete;
  FakeHidPeer& operator=(const FakeHidPeer&) = delete;

  void queueFeature(std::vector<uint8_t> report);
  // Every host message so far, in order.
  std::vector<Request> log() const;
  int count(FakeHidEndpoint::Kind kind) const;

 private:
  void start(Serve serve);
  void answerFeature(FakeHidEndpoint& endpoint, const Request& request);

  FakeHidEndpoint endpoint_;
  int stop_fd_;
  mutable std::mutex mutex_;
  std::vector<Request> log_;
  std::vector<std::vector<uint8_t>> feature_reports_;
  std::thread thread_;
};

// Puts a byte-stream reader simulator (such as the r42 serial simulator)
// behind a fake HID device: the data of every set-feature and output report
// goes onto the stream, padding included (a stream reader that hunts for
// its frame start skips it); bytes from the stream come back as input
// reports of `block` bytes, sent when full or after 5 ms of quiet.
// Get-feature requests fail. Takes both descriptors.
class FakeHidStreamBridge {
 public:
  FakeHidStreamBridge(int device_fd, int stream_fd, size_t block);
  ~FakeHidStreamBridge();
  FakeHidStreamBridge(const FakeHidStreamBridge&) = delete;
  FakeHidStreamBridge& operator=(const FakeHidStreamBridge&) = delete;

 private:
  void run();
  int device_fd_;
  int stream_fd_;
  int stop_fd_;
  size_t block_;
  std::thread thread_;
};
