// PC/SC rows against a private pcscd with the vpcd driver: reader indexes,
// the three name forms per index, and readers whose card does not answer.
#include "device_manager_fixture_test.h"
#include "sim/pcscd_harness.h"
#include "sim/r42_serial_sim.h"
#include "sim/vpcd_card.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The card end of an r42 reader behind PC/SC: the command APDU is an STX
// frame, the response the reply frame.
Bytes unframe(const Bytes& frame) {
  if (frame.size() < 7 || frame[0] != 0x02) return {};
  size_t n = size_t(frame[1]) << 24 | size_t(frame[2]) << 16 | size_t(frame[3]) << 8 | frame[4];
  if (frame.size() != n + 7) return {};
  return Bytes(frame.begin() + 5, frame.begin() + 5 + long(n));
}

class DeviceManagerPcsc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    started_ = PcscdHarness::instance().start(&error);
    error_ = error;
  }
  static void TearDownTestSuite() { PcscdHarness::instance().stop(); }

  void SetUp() override { ASSERT_TRUE(started_) << error_; }

  // A card on a slot that answers as an r42 reader does.
  std::unique_ptr<VpcdCard> r42Card(int slot) {
    auto card = std::make_unique<VpcdCard>(PcscdHarness::instance().cardPort(slot),
                                           VpcdCard::atrT1());
    card->setHandler([this](const Bytes& command) {
      Bytes payload = unframe(command);
      if (payload.empty()) return Bytes{0x6F, 0x00};
      return R42SerialSim::stxFrame(model.answer(payload));
    });
    card->start();
    EXPECT_TRUE(PcscdHarness::instance().waitCard(slot, true));
    return card;
  }
  // A card that answers 90 00 to everything: no reader frame comes back.
  std::unique_ptr<VpcdCard> mutedCard(int slot) {
    auto card = std::make_unique<VpcdCard>(PcscdHarness::instance().cardPort(slot),
                                           VpcdCard::atrT1());
    card->start();
    EXPECT_TRUE(PcscdHarness::instance().waitCard(slot, true));
    return card;
  }
  static void removeCard(std::unique_ptr<VpcdCard>& card, int slot) {
    card->stop();
    card.reset();
    PcscdHarness::instance().waitCard(slot, false);
  }

  R42ReaderModel model;
  std::unique_ptr<DeviceManager> manager = std::make_unique<DeviceManager>(reader_device_makers());

 private:
  static bool started_;
  static std::string error_;
};

bool DeviceManagerPcsc::started_ = false;
std::string DeviceManagerPcsc::error_;

TEST_F(DeviceManagerPcsc, FirstAndLastPortNumberReachTheFirstReader) {
  auto card = r42Card(0);
  const int fds = settled_fd_count();
  for (int32_t port : {200, 299}) {
    Stopwatch watch;
    ASSERT_EQ(manager->openByPort(port, 0), port);
    EXPECT_LT(watch.ms(), 5000);
    EXPECT_EQ(device_name(manager->deviceAt(port)), "r42-pcsc");
    EXPECT_EQ(device_version(manager->deviceAt(port)), "R42 SIM 1.0");
    manager->close(port);
  }
  EXPECT_EQ(fd_count_settling_to(fds), fds) << "no context or socket is left";
  removeCard(card, 0);
}

TEST_F(DeviceManagerPcsc, SecondReaderIsReachedWhenTheFirstDoesNotAnswer) {
  auto muted = mutedCard(0);
  auto card = r42Card(1);
  ASSERT_EQ(manager->openByPort(250, 0), 250);
  EXPECT_EQ(device_name(manager->deviceAt(250)), "r42-pcsc");
  EXPECT_EQ(muted->commands().size(), 1u) << "index 0: one probe, then held";
  manager->close(250);
  removeCard(card, 1);
  removeCard(muted, 0);
}

TEST_F(DeviceManagerPcsc, CardsThatNeverAnswerRunEveryIndexOfBothRows) {
  auto muted = mutedCard(0);
  const int fds = settled_fd_count();
  Stopwatch watch;
  EXPECT_EQ(manager->openByPort(200, 0), -1);
  EXPECT_LT(watch.ms(), 30000) << "a PC/SC reader fails its reads at once";
  // Index 0 opened on its first name and was held: its probe is the only
  // command the card saw; no other name reaches a reader with a card.
  EXPECT_EQ(muted->commands().size(), 1u);
  EXPECT_EQ(fd_count_settling_to(fds), fds) << "every held port was released";
  removeCard(muted, 0);
}

}  // namespace
