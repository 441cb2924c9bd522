// The steps every port shares, checked on each of the five: the length
// checks, what a closed port still does, the trace lines, and that a port
// which did not open holds nothing. A rig per port brings it up on its
// simulated peer; what a rig says about its port (kRefusesWhileClosed,
// kWritesDataLines) is the port's own rule.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "connection/adapter_port.h"
#include "connection/bluetooth_port.h"
#include "connection/com_port.h"
#include "connection/pcsc_port.h"
#include "connection/usb_port.h"
#include "m6_port_helpers.h"
#include "sim/fake_bluetooth.h"
#include "sim/pcscd_harness.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"
#include "sim/scoped_port_trace.h"
#include "sim/socket_transport.h"
#include "sim/vpcd_card.h"

namespace {

using Bytes = std::vector<uint8_t>;
using PortPtr = std::unique_ptr<PortBase>;
// One way for a port not to open.
using FailingOpen = std::function<PortPtr(bool* opened)>;

// Whether `fd` has anything to read within a short while.
bool has_input(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 20) > 0;
}

// What a rig says unless it says otherwise.
struct RigDefaults {
  static constexpr bool kRefusesWhileClosed = true;
  static constexpr bool kWritesDataLines = true;
  bool ready(std::string*) { return true; }
  // Checks after the failed opens, beyond descriptors and threads.
  void checkNothingHeld() {}
};

class ComRig : public RigDefaults {
 public:
  static constexpr const char* kName = "ComPort";
  static constexpr bool kWritesDataLines = false;  // direct mode

  ComRig() {
    const int fd = mkstemp(regular_file_);
    if (fd >= 0) ::close(fd);
  }
  ~ComRig() { unlink(regular_file_); }

  bool ready(std::string* why) {
    *why = "no pseudo-terminal";
    return pty_.ok();
  }
  PortPtr open(bool* opened) { return std::make_unique<ComPort>(params(pty_.slavePath()), opened); }
  std::string traceText() const { return pty_.slavePath() + ":115200"; }
  void answer(const Bytes& bytes) { pty_.writeAll(bytes); }
  bool peerUntouched() { return pty_.drain(20).empty(); }
  std::vector<FailingOpen> failingOpens() {
    std::vector<FailingOpen> ways;
    const ParamMap refused[] = {
        params(pty_.slavePath(), "115200", "queued"),
        params(pty_.slavePath(), "115200", ""),
        params("/dev/does/not/exist"),
        params(""),
        params(regular_file_),
        params(pty_.slavePath(), "abc"),
        params(pty_.slavePath(), "0"),
        params(pty_.slavePath(), "99999999999"),
    };
    for (const ParamMap& map : refused) {
      ways.push_back([map](bool* opened) { return std::make_unique<ComPort>(map, opened); });
    }
    // No report asked for: nothing to write, and still nothing kept.
    ways.push_back([this](bool* opened) {
      *opened = false;
      return std::make_unique<ComPort>(params(regular_file_), nullptr);
    });
    return ways;
  }

 private:
  static ParamMap params(const std::string& name, const std::string& baud = "115200",
                         const std::string& mode = "direct") {
    return {{"mode", mode}, {"name", name}, {"baud", baud}};
  }

  PtyPair pty_;
  char regular_file_[32] = "/tmp/each-port-XXXXXX";
};

class UsbRig : public RigDefaults {
 public:
  static constexpr const char* kName = "UsbPort";

  UsbRig()
      : peer_(backend_.addDevice("/dev/hidraw0", 0x0471, 0xA112)),
        refusing_end_(backend_.addDevice("/dev/hidraw9", 0x0471, 0xA113)) {
    backend_.setOpenable("/dev/hidraw9", false);
  }
  ~UsbRig() { ::close(refusing_end_); }

  PortPtr open(bool* opened) { return std::make_unique<UsbPort>(m6_usb_params(), opened, backend_); }
  std::string traceText() const { return "0471:A112"; }
  // One feature report of 32 data bytes.
  void answer(const Bytes& bytes) {
    Bytes report(33, 0);
    std::copy(bytes.begin(), bytes.end(), report.begin() + 1);
    peer_.queueFeature(report);
  }
  bool peerUntouched() { return peer_.log().empty(); }
  std::vector<FailingOpen> failingOpens() {
    ParamMap refusing = m6_usb_params();
    refusing["pid"] = "A113";
    ParamMap absent = m6_usb_params();
    absent["pid"] = "A114";
    std::vector<FailingOpen> ways;
    for (const ParamMap& map : {refusing, absent}) {
      ways.push_back([this, map](bool* opened) {
        return std::make_unique<UsbPort>(map, opened, backend_);
      });
    }
    return ways;
  }
  void checkNothingHeld() { EXPECT_FALSE(hid_path_held("/dev/hidraw9")); }

 private:
  FakeHidBackend backend_;
  FakeHidPeer peer_;
  int refusing_end_;
};

class PcscRig : public RigDefaults {
 public:
  static constexpr const char* kName = "PcscPort";

  PcscRig() {
    PcscdHarness& harness = PcscdHarness::instance();
    if (!harness.running() && !harness.start(&error_)) return;
    card_ = std::make_unique<VpcdCard>(harness.cardPort(0), VpcdCard::atrT1());
    card_->start();
    if (!harness.waitCard(0, true)) error_ = "no card in slot 0";
  }
  ~PcscRig() {
    card_.reset();
    if (PcscdHarness::instance().running()) PcscdHarness::instance().waitCard(0, false);
  }

  bool ready(std::string* why) {
    *why = error_;
    return card_ && error_.empty();
  }
  PortPtr open(bool* opened) { return make(name_, opened); }
  std::string traceText() const { return name_; }
  // The card's answer to the next transmission.
  void answer(const Bytes& bytes) {
    card_->setHandler([bytes](const Bytes&) { return bytes; });
  }
  bool peerUntouched() { return card_->commands().empty(); }
  std::vector<FailingOpen> failingOpens() {
    const std::string base = PcscdHarness::kReaderBase;
    std::vector<FailingOpen> ways;
    for (const std::string& name : {
             std::string("No Such Reader 00 00"),  // not listed, no index form that matches
             base + " 2",                          // index past the listed readers
             base + " 1",                          // listed, but the slot has no card
             base,                                 // no index suffix
         }) {
      ways.push_back([name](bool* opened) { return make(name, opened); });
    }
    ways.push_back([this](bool* opened) { return make(name_, opened, "User"); });
    return ways;
  }

 private:
  static PortPtr make(const std::string& name, bool* opened, const std::string& scope = "user") {
    return std::make_unique<PcscPort>(ParamMap{{"scope", scope}, {"name", name}}, opened);
  }

  std::string error_;
  std::unique_ptr<VpcdCard> card_;
  std::string name_ = std::string(PcscdHarness::kReaderBase) + " 0";
};

class BluetoothRig : public RigDefaults {
 public:
  static constexpr const char* kName = "BluetoothPort";
  static constexpr bool kRefusesWhileClosed = false;

  BluetoothRig() {
    if (!bluez_.start(&error_)) return;
    bluez_.setDevices({{"00:11:22:33:44:01", kDevice, true},
                       {"00:11:22:33:44:02", kFailing, true},
                       {"00:11:22:33:44:03", kFailing, true}});
    backend_ = std::make_shared<FakeBluetoothBackend>(bluez_.address());
    backend_->script("00:11:22:33:44:02", {0, false, false, false});
    backend_->script("00:11:22:33:44:03", {5, false, false, false});
    backend_->setDeviceEnd([this](const std::string&, int fd) {
      std::lock_guard<std::mutex> lock(mutex_);
      far_ends_.push_back(fd);
    });
  }
  ~BluetoothRig() {
    backend_.reset();
    for (int fd : far_ends_) ::close(fd);
  }

  bool ready(std::string* why) {
    *why = error_;
    return backend_ != nullptr;
  }
  PortPtr open(bool* opened) { return make(kDevice, opened); }
  std::string traceText() const { return kDevice; }
  void answer(const Bytes& bytes) {
    const int far = latestFarEnd();
    ASSERT_EQ(send(far, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  }
  bool peerUntouched() {
    const int far = latestFarEnd();
    return far >= 0 && !has_input(far);
  }
  std::vector<FailingOpen> failingOpens() {
    return {[this](bool* opened) { return make(kFailing, opened); },
            [this](bool* opened) { return make("nobody", opened); }};
  }

 private:
  static constexpr const char* kDevice = "VANTOR.DB.SPP";
  static constexpr const char* kFailing = "HN0112345";

  PortPtr make(const std::string& name, bool* opened) {
    return std::make_unique<BluetoothPort>(ParamMap{{"name", name}}, opened, backend_, 2000);
  }
  int latestFarEnd() {
    std::lock_guard<std::mutex> lock(mutex_);
    return far_ends_.empty() ? -1 : far_ends_.back();
  }

  FakeBluez bluez_;
  std::string error_;
  std::shared_ptr<FakeBluetoothBackend> backend_;
  std::mutex mutex_;
  std::vector<int> far_ends_;
};

class AdapterRig : public RigDefaults {
 public:
  static constexpr const char* kName = "AdapterPort";
  static constexpr bool kRefusesWhileClosed = false;  // the transport decides

  AdapterRig() {
    socket_transport_reset_counts();
    socket_transport_set_open_result(1);
    socket_transport_set_create_null(0);
    socket_transport_provider(&provider_, reinterpret_cast<void*>(0x123456789ULL));
    set_port_provider(&provider_);
  }
  ~AdapterRig() {
    set_port_provider(nullptr);
    socket_transport_set_open_result(1);
    for (int fd : peers_) ::close(fd);
  }

  // The far end of the transport becomes the rig's.
  PortPtr open(bool* opened) {
    ProvidedTransport provided = query_port_provider("vnet");
    if (provided.transport) peers_.push_back(socket_transport_peer(provided.transport));
    return make(provided, opened);
  }
  std::string traceText() const { return "COM3:115200"; }
  void answer(const Bytes& bytes) {
    ASSERT_EQ(::write(peers_.back(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  bool peerUntouched() {
    const SocketTransportCounts counts = socket_transport_counts();
    return counts.reads + counts.writes == 0 && !has_input(peers_.back());
  }
  std::vector<FailingOpen> failingOpens() {
    return {[](bool* opened) {
              socket_transport_set_open_result(0);
              PortPtr port = make(query_port_provider("vnet"), opened);
              socket_transport_set_open_result(1);
              return port;
            },
            [](bool* opened) { return make(ProvidedTransport{}, opened); }};
  }
  // Every transport went back through the destroy hook.
  void checkNothingHeld() {
    const SocketTransportCounts counts = socket_transport_counts();
    EXPECT_EQ(counts.destroys, counts.creates);
  }

 private:
  static PortPtr make(const ProvidedTransport& provided, bool* opened) {
    return std::make_unique<AdapterPort>(provided, ParamMap{{"name", "COM3:115200"}}, opened);
  }

  PortProvider provider_{};
  std::vector<int> peers_;
};

template <typename Rig>
class EachPort : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(rig_.ready(&why)) << why;
  }
  PortPtr openPort() {
    bool opened = false;
    PortPtr port = rig_.open(&opened);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(port->isOpen());
    return port;
  }
  std::string line(const char* suffix) const {
    const std::string text = rig_.traceText();
    return std::string("]") + Rig::kName + ":[len:" + std::to_string(text.size()) + "]" + text +
           suffix + "\n";
  }

  Rig rig_;
};

struct RigName {
  template <typename Rig>
  static std::string GetName(int) {
    return Rig::kName;
  }
};

using Rigs = ::testing::Types<ComRig, UsbRig, PcscRig, BluetoothRig, AdapterRig>;
TYPED_TEST_SUITE(EachPort, Rigs, RigName);

TYPED_TEST(EachPort, LengthsAreCheckedBeforeAnythingReachesThePeer) {
  PortPtr port = this->openPort();
  uint8_t byte = 0x42;
  EXPECT_TRUE(port->read(&byte, 0, 0));
  EXPECT_TRUE(port->read(nullptr, 0, 0));
  EXPECT_TRUE(port->write(&byte, 0, 0));
  EXPECT_FALSE(port->read(&byte, -1, 10));
  EXPECT_FALSE(port->write(&byte, -1, 10));
  EXPECT_FALSE(port->read(nullptr, 1, 10));
  EXPECT_FALSE(port->write(nullptr, 1, 10));
  EXPECT_TRUE(this->rig_.peerUntouched());
  EXPECT_EQ(port->reserved(1, 2), 0);
}

TYPED_TEST(EachPort, CloseOnceReopenAndTheirTraceLines) {
  ScopedPortTrace trace;
  {
    PortPtr port = this->openPort();
    port->close();
    port->close();  // a second close is harmless and writes nothing
    EXPECT_FALSE(port->isOpen());
    uint8_t byte = 0;
    // Some ports refuse every call while closed; the others still take a
    // length of 0 and leave the rest to their device.
    const bool refuses = TypeParam::kRefusesWhileClosed;
    EXPECT_EQ(port->read(&byte, 0, 0), !refuses);
    EXPECT_EQ(port->write(&byte, 0, 0), !refuses);
    if (refuses) {
      EXPECT_FALSE(port->read(&byte, 1, 0));
      EXPECT_FALSE(port->write(&byte, 1, 0));
    }
    EXPECT_TRUE(port->reopen());
    EXPECT_TRUE(port->isOpen());
    EXPECT_TRUE(port->reopen());  // closes and opens again
  }
  const std::string log = trace.text();
  size_t opened = 0, closed = 0;
  for (size_t at = 0; (at = log.find(this->line(" Is Opened!"), at)) != std::string::npos; ++at) {
    ++opened;
  }
  for (size_t at = 0; (at = log.find(this->line(" Is Closed!"), at)) != std::string::npos; ++at) {
    ++closed;
  }
  EXPECT_EQ(opened, 3u) << log;
  EXPECT_EQ(closed, 3u) << log;
  EXPECT_EQ(trace.lines(), 6) << log;
}

TYPED_TEST(EachPort, TraceLinesAtLevelThree) {
  ScopedPortTrace trace;
  {
    PortPtr port = this->openPort();
    EXPECT_EQ(port->logFileName().rfind(trace.folder(), 0), 0u);
    EXPECT_EQ(port->logFileName(), port_log_file_name());
    this->rig_.answer({0xAB});
    const uint8_t out[2] = {0x01, 0x02};
    ASSERT_TRUE(port->write(out, 2, 1000));
    uint8_t in[64];
    ASSERT_TRUE(port->read(in, 1, 1000));
    EXPECT_EQ(in[0], 0xAB);
    EXPECT_FALSE(port->read(in, 64, 20));  // a failed read writes nothing
  }
  const std::string log = trace.text();
  EXPECT_NE(log.find(this->line(" Is Opened!")), std::string::npos) << log;
  EXPECT_NE(log.find(this->line(" Is Closed!")), std::string::npos) << log;
  if (TypeParam::kWritesDataLines) {
    EXPECT_NE(log.find("]  Data[out]:[len:2]0102\n"), std::string::npos) << log;
    EXPECT_NE(log.find("]  Data[in]:[len:1]AB\n"), std::string::npos) << log;
  }
  EXPECT_EQ(trace.lines(), TypeParam::kWritesDataLines ? 4 : 2) << log;
}

TYPED_TEST(EachPort, BelowTraceLevelThreeNoFolderIsMade) {
  char dir[] = "/tmp/each-port-trace-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string saved_dir = library_directory();
  const int saved_level = trace_level.load();
  set_library_directory(std::string(dir) + "/");
  set_trace_level(2);
  {
    PortPtr port = this->openPort();
    // A whole command: vpcd takes a single byte for a control message.
    const uint8_t out[4] = {0x00, 0xA4, 0x04, 0x00};
    EXPECT_TRUE(port->write(out, 4, 1000));
  }
  set_trace_level(saved_level);
  set_library_directory(saved_dir);
  EXPECT_NE(access((std::string(dir) + "/kxrf32log").c_str(), F_OK), 0);
  rmdir(dir);
}

TYPED_TEST(EachPort, FailedOpensLeaveNoDescriptorOrThread) {
  const std::vector<FailingOpen> ways = this->rig_.failingOpens();
  auto try_all = [&] {
    for (const FailingOpen& way : ways) {
      bool opened = true;
      PortPtr port = way(&opened);
      ASSERT_FALSE(opened);
      EXPECT_FALSE(port->isOpen());
      uint8_t byte = 0;
      if (TypeParam::kRefusesWhileClosed) {
        EXPECT_FALSE(port->read(&byte, 1, 0));
        EXPECT_FALSE(port->write(&byte, 1, 0));
      }
    }
  };
  // Whatever the first use of a stack sets up for the process is settled
  // before counting.
  this->openPort();
  try_all();
  const int fds = settled_fd_count();
  const int tasks = settled_thread_count();
  for (int round = 0; round < 40; ++round) try_all();
  EXPECT_EQ(fd_count_settling_to(fds), fds);
  EXPECT_EQ(thread_count_settling_to(tasks), tasks);
  this->rig_.checkNothingHeld();
}

}  // namespace
