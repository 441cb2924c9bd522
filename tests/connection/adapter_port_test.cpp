#include "connection/adapter_port.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "connection/dle_protocol.h"
#include "m6_port_helpers.h"
#include "sim/socket_transport.h"

namespace {

using Bytes = std::vector<uint8_t>;

void* const kBigParameter = reinterpret_cast<void*>(0x123456789ULL);

class AdapterPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    socket_transport_reset_counts();
    socket_transport_set_open_result(1);
    socket_transport_set_create_null(0);
    socket_transport_provider(&provider_, kBigParameter);
    set_port_provider(&provider_);
  }
  void TearDown() override {
    set_port_provider(nullptr);
    socket_transport_set_open_result(1);
  }
  std::unique_ptr<AdapterPort> make(const char* name, bool* opened) {
    ProvidedTransport provided = query_port_provider("vnet");
    EXPECT_NE(provided.transport, nullptr);
    transport_ = provided.transport;
    return std::make_unique<AdapterPort>(provided, ParamMap{{"name", name}}, opened);
  }

  PortProvider provider_{};
  ExternalTransport* transport_ = nullptr;
};

// Reads exactly n bytes from fd within a second; shorter on failure.
Bytes take(int fd, size_t n) {
  Bytes out;
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) break;
    uint8_t b[512];
    ssize_t got = read(fd, b, std::min(sizeof b, n - out.size()));
    if (got <= 0) break;
    out.insert(out.end(), b, b + got);
  }
  return out;
}

void give(int fd, const Bytes& bytes) { ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

TEST_F(AdapterPortTest, OpenCountsTheLowestByteOnly) {
  struct Case {
    int32_t result;
    bool open;
  } const cases[] = {{1, true}, {256, false}, {0x101, true}, {0, false}, {-1, true}};
  for (const Case& c : cases) {
    socket_transport_set_open_result(c.result);
    bool opened = !c.open;
    auto port = make("COM3:115200", &opened);
    EXPECT_EQ(opened, c.open) << c.result;
    EXPECT_EQ(port->isOpen(), c.open) << c.result;
    EXPECT_STREQ(socket_transport_last_name(transport_), "COM3:115200");
    EXPECT_EQ(socket_transport_last_parameter(transport_), kBigParameter);
  }
  EXPECT_EQ(socket_transport_counts().opens, 5);
  EXPECT_EQ(socket_transport_counts().destroys, 5);
  EXPECT_EQ(socket_transport_counts().reserved, 0);
}

TEST_F(AdapterPortTest, TransportGoesBackOnceThroughTheHooksItCameFrom) {
  bool opened = true;
  socket_transport_set_open_result(0);
  auto never_opened = make("x", &opened);
  EXPECT_FALSE(opened);
  socket_transport_set_open_result(1);
  auto opened_port = make("y", &opened);
  EXPECT_TRUE(opened);
  // The application clears its provider while both ports live.
  set_port_provider(nullptr);
  never_opened.reset();
  opened_port.reset();
  SocketTransportCounts c = socket_transport_counts();
  EXPECT_EQ(c.destroys, 2);
  EXPECT_EQ(c.closes, 1);  // only the one that opened
}

TEST_F(AdapterPortTest, ProviderNeedsBothHooksAndATransport) {
  PortProvider half = provider_;
  half.destroy = nullptr;
  set_port_provider(&half);
  EXPECT_EQ(query_port_provider("usb").transport, nullptr);
  EXPECT_EQ(socket_transport_counts().creates, 0);
  set_port_provider(&provider_);
  socket_transport_set_create_null(1);
  EXPECT_EQ(query_port_provider("usb").transport, nullptr);
  EXPECT_EQ(socket_transport_counts().creates, 1);
  EXPECT_EQ(port_provider_snapshot().parameter, kBigParameter);
}

TEST_F(AdapterPortTest, SlotsForwardAndCloseIsOnce) {
  bool opened = false;
  auto port = make("n", &opened);
  int peer = socket_transport_peer(transport_);
  give(peer, {1, 2, 3, 4, 5});
  ASSERT_TRUE(port->read(nullptr, 0, 10));
  uint8_t buf[8];
  ASSERT_TRUE(port->read(buf, 2, 500));
  EXPECT_EQ(port->available(), 3);
  port->purge();
  EXPECT_EQ(port->available(), 0);
  // A silent peer: the transport's own time-out.
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port->read(buf, 1, 100));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));

  port->close();
  port->close();
  EXPECT_FALSE(port->isOpen());
  EXPECT_EQ(socket_transport_counts().closes, 1);
  // Reads still go to the transport after close, as the application decides.
  give(peer, {9});
  EXPECT_TRUE(port->read(buf, 1, 500));
  EXPECT_EQ(buf[0], 9);
  EXPECT_TRUE(port->reopen());
  EXPECT_EQ(socket_transport_counts().opens, 2);
  EXPECT_EQ(port->reserved(1, 2), 0);
  close(peer);
}

TEST_F(AdapterPortTest, DleGetVersionBytesOnTheWire) {
  bool opened = false;
  auto port = make("127.0.0.1:7001", &opened);
  ASSERT_TRUE(opened);
  int peer = socket_transport_peer(transport_);
  Bytes seen;
  std::thread reader([&] {
    Bytes b = take(peer, 1);
    seen.insert(seen.end(), b.begin(), b.end());
    give(peer, {0x10});
    b = take(peer, 6);
    seen.insert(seen.end(), b.begin(), b.end());
    give(peer, {0x10, 0x02});
    b = take(peer, 1);
    seen.insert(seen.end(), b.begin(), b.end());
    give(peer, {0x00, 0x00, 0x02, 0x01, 0x02, 0x01, 0x10, 0x03});
    b = take(peer, 1);
    seen.insert(seen.end(), b.begin(), b.end());
  });
  DleProtocol dle(port.get());
  uint8_t buf[2048] = {0x80};
  int32_t n = dle.transceive(buf, 1, 2048, 1000);
  reader.join();
  ASSERT_EQ(n, 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x00, 0x01, 0x02}));
  EXPECT_EQ(seen, (Bytes{0x02, 0x00, 0x80, 0x00, 0x80, 0x10, 0x03, 0x10, 0x10}));
  EXPECT_EQ(dle.sequence(), 1);
  close(peer);
}

TEST_F(AdapterPortTest, M6ReaderBehindTheTransport) {
  bool opened = false;
  auto port = make("127.0.0.1:7001", &opened);
  ASSERT_TRUE(opened);
  M6Reader reader(socket_transport_peer(transport_), M6Reader::Framing::kDle);
  reader.setSerial("SP0123456789ABCDEFGHIJKLMNOPQRST");
  DleProtocol dle(port.get());
  uint8_t buf[2048] = {0xFC};
  port->purge();
  ASSERT_EQ(dle.transceive(buf, 1, 2048, 1000), 33);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 1), 32), "SP0123456789ABCDEFGHIJKLMNOPQRST");
  reader.pushReply({0x05});
  buf[0] = 0x80;
  ASSERT_EQ(dle.transceive(buf, 1, 2048, 1000), 1);
  EXPECT_EQ(buf[0], 0x05);
}

TEST_F(AdapterPortTest, ProviderChangesWhileOpening) {
  // One thread keeps configuring; another keeps building and deleting
  // ports. Every transport goes back exactly once, through its own hooks.
  std::atomic<bool> done{false};
  std::thread configure([&] {
    PortProvider other = provider_;
    other.parameter = reinterpret_cast<void*>(0x42);
    for (int i = 0; !done; ++i) {
      if (i % 3 == 0) set_port_provider(nullptr);
      if (i % 3 == 1) set_port_provider(&other);
      if (i % 3 == 2) set_port_provider(&provider_);
    }
  });
  int made = 0;
  for (int i = 0; i < 300; ++i) {
    ProvidedTransport provided = query_port_provider("vnet");
    if (!provided.transport) continue;
    ++made;
    bool opened = false;
    AdapterPort port(provided, ParamMap{{"name", "n"}}, &opened);
    EXPECT_TRUE(opened);
    void* parameter = socket_transport_last_parameter(provided.transport);
    EXPECT_TRUE(parameter == kBigParameter || parameter == reinterpret_cast<void*>(0x42));
  }
  done = true;
  configure.join();
  EXPECT_EQ(socket_transport_counts().creates, made);
  EXPECT_EQ(socket_transport_counts().destroys, made);
}

}  // namespace
