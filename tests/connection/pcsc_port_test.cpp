// PcscPort against a private pcscd with the vpcd driver and fake cards.
#include "connection/pcsc_port.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "connection/stx_etx_protocol.h"
#include "sim/pcscd_harness.h"
#include "sim/vpcd_card.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kBase = PcscdHarness::kReaderBase;

TEST(PcscPortNames, ExactNameWinsOverIndexForms) {
  const std::vector<std::string> listed = {"USB Smart Card Reader 00 00", "USB Smart Card Reader 0"};
  EXPECT_EQ(pcsc_pick_reader(listed, "USB Smart Card Reader 0"), "USB Smart Card Reader 0");
  EXPECT_EQ(pcsc_pick_reader(listed, "USB Smart Card Reader 00 00"), "USB Smart Card Reader 00 00");
}

TEST(PcscPortNames, IndexFormsCountReadersOfTheBaseInListOrder) {
  const std::vector<std::string> listed = {
      "Other Reader 00 00",
      "USB Smart Card Reader 01 00",
      "Gemalto USB Smart Card Reader [CCID Interface] (1234) 02 00",
      "USB Smart Card Reader (SN 9) 03 00",
  };
  for (const char* suffix : {" 0", " 00", " 00 00"}) {
    EXPECT_EQ(pcsc_pick_reader(listed, kBase + suffix), listed[1]) << suffix;
  }
  for (const char* suffix : {" 1", " 01", " 01 01"}) {
    EXPECT_EQ(pcsc_pick_reader(listed, kBase + suffix), listed[2]) << suffix;
  }
  EXPECT_EQ(pcsc_pick_reader(listed, kBase + " 2"), listed[3]);
  EXPECT_EQ(pcsc_pick_reader(listed, kBase + " 3"), "");
  EXPECT_EQ(pcsc_pick_reader(listed, kBase + " 03 03"), "");
  // The two-part form names one index twice; "0 1" is not an index form
  // of the base.
  EXPECT_EQ(pcsc_pick_reader(listed, kBase + " 00 01"), "");
}

TEST(PcscPortNames, ReaderNamesThatAreNotTheBase) {
  auto pick0 = [](const std::string& reader) {
    return pcsc_pick_reader({reader}, kBase + " 0");
  };
  EXPECT_EQ(pick0("USB Smart Card Reader2 00 00"), "");         // longer word
  EXPECT_EQ(pick0("usb smart card reader 00 00"), "");          // case counts
  EXPECT_EQ(pick0("Two Words USB Smart Card Reader 00 00"), "");  // one vendor word only
  EXPECT_EQ(pick0("USB Smart Card Reader"), "");                // no " XX YY"
  EXPECT_EQ(pick0("USB Smart Card Reader 00"), "");
  EXPECT_EQ(pick0("USB Smart Card Reader 0G 00"), "");
  EXPECT_EQ(pick0("XUSB Smart Card Reader 00 00"), "");
  EXPECT_EQ(pick0("Vendor USB Smart Card Reader [if] 0A 1F"), "Vendor USB Smart Card Reader [if] 0A 1F");
  // No index suffix, or no base in front of it.
  EXPECT_EQ(pcsc_pick_reader({"USB Smart Card Reader 00 00"}, kBase), "");
  EXPECT_EQ(pcsc_pick_reader({"USB Smart Card Reader 00 00"}, " 0"), "");
  EXPECT_EQ(pcsc_pick_reader({}, kBase + " 0"), "");
}

class PcscPortTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    error_ = new std::string;
    started_ = PcscdHarness::instance().start(error_);
  }
  static void TearDownTestSuite() {
    PcscdHarness::instance().stop();
    delete error_;
    error_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(started_) << *error_; }
  void TearDown() override {
    cards_.clear();
    // A card taken away here must be gone before the next test looks.
    if (PcscdHarness::instance().running()) {
      PcscdHarness::instance().waitCard(0, false);
      PcscdHarness::instance().waitCard(1, false);
    }
  }

  VpcdCard& insert(int slot, const Bytes& atr) {
    cards_.push_back(std::make_unique<VpcdCard>(PcscdHarness::instance().cardPort(slot), atr));
    cards_.back()->start();
    EXPECT_TRUE(PcscdHarness::instance().waitCard(slot, true)) << "no card in slot " << slot;
    return *cards_.back();
  }

  static std::unique_ptr<PcscPort> open(const std::string& name, bool* opened,
                                        const std::string& scope = "user") {
    return std::make_unique<PcscPort>(ParamMap{{"scope", scope}, {"name", name}}, opened);
  }

  static bool started_;
  static std::string* error_;
  std::vector<std::unique_ptr<VpcdCard>> cards_;
};

bool PcscPortTest::started_ = false;
std::string* PcscPortTest::error_ = nullptr;

TEST_F(PcscPortTest, ScopeMustBeUserOrSystem) {
  insert(0, VpcdCard::atrT1());
  for (const char* scope : {"User", "SYSTEM", "", "global"}) {
    bool opened = true;
    auto port = open(kBase + " 0", &opened, scope);
    EXPECT_FALSE(opened) << scope;
    EXPECT_FALSE(port->isOpen());
  }
  bool opened = false;
  auto port = open(kBase + " 0", &opened, "system");
  EXPECT_TRUE(opened);
}

TEST_F(PcscPortTest, EveryNameFormOfIndexZeroReachesTheFirstSlot) {
  VpcdCard& card = insert(0, VpcdCard::atrT1());
  const Bytes command = {0x00, 0xB0, 0x00, 0x00, 0x10};
  size_t sent = 0;
  for (const char* suffix : {" 0", " 00", " 00 00"}) {
    bool opened = false;
    auto port = open(kBase + suffix, &opened);
    ASSERT_TRUE(opened) << suffix;
    ASSERT_TRUE(port->write(command.data(), int32_t(command.size()), 1000)) << suffix;
    ++sent;
    EXPECT_EQ(port->available(), 2);
  }
  EXPECT_EQ(card.commands(), std::vector<Bytes>(sent, command));
}

TEST_F(PcscPortTest, IndexOneNeedsACardInTheSecondSlotAndIndexTwoNeverOpens) {
  insert(0, VpcdCard::atrT1());
  bool opened = true;
  open(kBase + " 1", &opened);
  EXPECT_FALSE(opened);

  VpcdCard& second = insert(1, VpcdCard::atrT0());
  second.setHandler([](const Bytes&) { return Bytes{0x42, 0x90, 0x00}; });
  for (const std::string& name : {kBase + " 1", kBase + " 01 01", PcscdHarness::readerName(1)}) {
    auto port = open(name, &opened);
    ASSERT_TRUE(opened) << name;
    const Bytes command = {0x80, 0x10, 0x00, 0x00, 0x01};
    ASSERT_TRUE(port->write(command.data(), 5, 1000));
    uint8_t reply[3] = {};
    ASSERT_TRUE(port->read(reply, 3, 0));
    EXPECT_EQ(reply[0], 0x42);
  }
  open(kBase + " 2", &opened);
  EXPECT_FALSE(opened);
}

TEST_F(PcscPortTest, ProtocolFollowsTheAtrAndOnlyT0ShortensACase2Header) {
  const Bytes case2 = {0x00, 0xA4, 0x04, 0x00, 0x00};
  const Bytes case4 = {0x00, 0xA4, 0x04, 0x00, 0x01};
  {
    VpcdCard& card = insert(0, VpcdCard::atrT0());
    bool opened = false;
    auto port = open(kBase + " 0", &opened);
    ASSERT_TRUE(opened);
    EXPECT_EQ(port->activeProtocol(), DWORD(SCARD_PROTOCOL_T0));
    ASSERT_TRUE(port->write(case2.data(), 5, 1000));
    ASSERT_TRUE(port->write(case4.data(), 5, 1000));
    ASSERT_TRUE(card.waitCommands(2, 1000));
    EXPECT_EQ(card.commands()[0], Bytes(case2.begin(), case2.begin() + 4));
    EXPECT_EQ(card.commands()[1], case4);
    port.reset();
    cards_.clear();
    ASSERT_TRUE(PcscdHarness::instance().waitCard(0, false));
  }
  VpcdCard& card = insert(0, VpcdCard::atrT1());
  bool opened = false;
  auto port = open(kBase + " 0", &opened);
  ASSERT_TRUE(opened);
  EXPECT_EQ(port->activeProtocol(), DWORD(SCARD_PROTOCOL_T1));
  ASSERT_TRUE(port->write(case2.data(), 5, 1000));
  ASSERT_TRUE(card.waitCommands(1, 1000));
  EXPECT_EQ(card.commands()[0], case2);
}

TEST_F(PcscPortTest, ReadsTakeOnlyWhatTheTransmissionsQueued) {
  VpcdCard& card = insert(0, VpcdCard::atrT1());
  card.setHandler([](const Bytes& command) { return Bytes{command[1], 0x90, 0x00}; });
  bool opened = false;
  auto port = open(kBase + " 0", &opened);
  ASSERT_TRUE(opened);

  uint8_t buffer[8] = {};
  const Bytes first = {0x00, 0x01, 0x00, 0x00};
  ASSERT_TRUE(port->write(first.data(), 4, 1000));
  // Too few bytes: false at once, whatever the time-out, and nothing lost.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(port->read(buffer, 4, 3000));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  EXPECT_EQ(port->available(), 3);

  // A second response queues behind the first.
  const Bytes second = {0x00, 0x02, 0x00, 0x00};
  ASSERT_TRUE(port->write(second.data(), 4, 1000));
  EXPECT_EQ(port->available(), 6);
  ASSERT_TRUE(port->read(buffer, 4, 0));
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x01, 0x90, 0x00, 0x02}));
  port->purge();
  EXPECT_EQ(port->available(), 0);
  EXPECT_FALSE(port->read(buffer, 1, 0));
}

TEST_F(PcscPortTest, StxEtxExchangeEndToEnd) {
  VpcdCard& card = insert(0, VpcdCard::atrT1());
  card.setHandler([](const Bytes&) { return Bytes{0x02, 0x00, 0x00, 0x00, 0x02, 0x90, 0x00, 0x90, 0x03}; });
  bool opened = false;
  auto port = open(kBase + " 0", &opened);
  ASSERT_TRUE(opened);
  StxEtxProtocol protocol(port.get());
  uint8_t buffer[2048] = {0x01, 0x02};
  EXPECT_EQ(protocol.transceive(buffer, 2, sizeof buffer, 5000), 2);
  EXPECT_EQ(buffer[0], 0x90);
  EXPECT_EQ(buffer[1], 0x00);
  EXPECT_EQ(card.commands(), (std::vector<Bytes>{{0x02, 0x00, 0x00, 0x00, 0x02, 0x01, 0x02, 0x03, 0x03}}));
  EXPECT_EQ(port->available(), 0);
}

TEST_F(PcscPortTest, CloseReopenAndARemovedCard) {
  insert(0, VpcdCard::atrT1());
  bool opened = false;
  auto port = open(kBase + " 0", &opened);
  ASSERT_TRUE(opened);
  const Bytes command = {0x00, 0x84, 0x00, 0x00, 0x08};
  ASSERT_TRUE(port->write(command.data(), 5, 1000));
  port->close();
  EXPECT_FALSE(port->isOpen());
  uint8_t reply[2];
  EXPECT_FALSE(port->read(reply, 2, 0));  // closed: even queued bytes are not read
  EXPECT_FALSE(port->write(command.data(), 5, 1000));
  ASSERT_TRUE(port->reopen());
  EXPECT_EQ(port->available(), 0);
  ASSERT_TRUE(port->write(command.data(), 5, 1000));

  // The card goes away under an open port.
  cards_.clear();
  ASSERT_TRUE(PcscdHarness::instance().waitCard(0, false));
  EXPECT_FALSE(port->write(command.data(), 5, 1000));
  EXPECT_TRUE(port->isOpen());
  EXPECT_FALSE(port->reopen());
  EXPECT_FALSE(port->isOpen());

  insert(0, VpcdCard::atrT1());
  EXPECT_TRUE(port->reopen());
  EXPECT_TRUE(port->write(command.data(), 5, 1000));
}

TEST_F(PcscPortTest, WithoutTheServiceOpenFailsAndARestartedServiceServesAgain) {
  PcscdHarness& harness = PcscdHarness::instance();
  EXPECT_TRUE(harness.stop());
  bool opened = true;
  open(kBase + " 0", &opened);
  EXPECT_FALSE(opened);
  std::string error;
  ASSERT_TRUE(harness.start(&error)) << error;
  insert(0, VpcdCard::atrT1());
  open(kBase + " 0", &opened);
  EXPECT_TRUE(opened);
}

}  // namespace
