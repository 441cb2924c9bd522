// The m6 device's open-time operations (version probe, device serial, init)
// against a scripted framing, so every request, reply capacity and time-out
// the device asks for is visible.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "family_m6/m6_device.h"

namespace {

class CountingPort : public Port {
 public:
  void close() override {}
  bool read(uint8_t*, int32_t, int32_t) override { return false; }
  bool write(const uint8_t*, int32_t, int32_t) override { return false; }
  void purge() override { ++purges; }
  int32_t available() override { return 0; }
  bool isOpen() override { return true; }
  bool reopen() override { return true; }
  int purges = 0;
};

// Answers each transceive with the next scripted reply; an empty script (or
// a scripted failure) gives -1.
class ScriptedProtocol : public TransportProtocol {
 public:
  struct Call {
    std::vector<uint8_t> request;
    int32_t capacity;
    int32_t timeout_ms;
    int purges_before;
  };

  explicit ScriptedProtocol(CountingPort* port) : TransportProtocol(port), counting_(port) {}

  void reply(std::vector<uint8_t> payload) { script_.push_back({true, std::move(payload)}); }
  void fail() { script_.push_back({false, {}}); }

  int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                     int32_t timeout_ms) override {
    calls.push_back({std::vector<uint8_t>(buffer, buffer + send_length), capacity, timeout_ms,
                     counting_->purges});
    if (script_.empty() || !script_.front().ok) {
      if (!script_.empty()) script_.pop_front();
      return -1;
    }
    std::vector<uint8_t> payload = std::move(script_.front().payload);
    script_.pop_front();
    if (int32_t(payload.size()) > capacity) return -1;
    if (!payload.empty()) std::memcpy(buffer, payload.data(), payload.size());
    return int32_t(payload.size());
  }

  std::vector<Call> calls;

 private:
  struct Step {
    bool ok;
    std::vector<uint8_t> payload;
  };
  CountingPort* counting_;
  std::deque<Step> script_;
};

std::vector<uint8_t> serial_reply(const std::string& serial) {
  // Status 0, then the serial padded with spaces to 32 characters.
  std::vector<uint8_t> reply(33, ' ');
  reply[0] = 0x00;
  for (size_t i = 0; i < serial.size() && i < 32; ++i) reply[i + 1] = uint8_t(serial[i]);
  return reply;
}

struct Rig {
  explicit Rig(const char* name = "m6-s9600") : protocol(&port), device(name, &port, &protocol) {}
  CountingPort port;
  ScriptedProtocol protocol;
  M6Device device;
};

TEST(M6Probe, VersionProbeSendsOneByteAndKeepsTwoCharacters) {
  Rig rig;
  rig.protocol.reply({0x00, 'A', '1', 'x', 'y'});
  char version[8];
  std::memset(version, 0x5A, sizeof version);
  EXPECT_EQ(rig.device.getver(0, version), 0);
  EXPECT_STREQ(version, "A1");
  EXPECT_EQ(uint8_t(version[3]), 0x5A) << "only three bytes are written";
  ASSERT_EQ(rig.protocol.calls.size(), 1u);
  const auto& call = rig.protocol.calls[0];
  EXPECT_EQ(call.request, std::vector<uint8_t>{0x80});
  EXPECT_EQ(call.capacity, 2048);
  EXPECT_EQ(call.timeout_ms, 200);
  EXPECT_EQ(call.purges_before, 1) << "stale bytes are dropped before the request";
}

TEST(M6Probe, ProbeTimeOutDependsOnTheNamePrefix) {
  const struct {
    const char* name;
    int32_t timeout;
  } cases[] = {{"m6-s9600", 200}, {"m6-u", 200},    {"m6-um", 200},
               {"m6-s-vnet", 200}, {"m6-x", 5000},  {"M6-u", 5000},
               {"m6-", 5000},      {"", 5000}};
  for (const auto& c : cases) {
    Rig rig(c.name);
    rig.protocol.reply({0x00, '0', '1'});
    char version[3];
    ASSERT_EQ(rig.device.getver(0, version), 0) << c.name;
    ASSERT_EQ(rig.protocol.calls.size(), 1u);
    EXPECT_EQ(rig.protocol.calls[0].timeout_ms, c.timeout) << c.name;
  }
}

TEST(M6Probe, ProbeIsRepeatedOnceAndFailuresBecomeMinusOne) {
  {  // status failure twice: -1, not -2; the status is kept
    Rig rig;
    rig.protocol.reply({0x05});
    rig.protocol.reply({0x06, 'A', '1'});
    char version[3] = {};
    EXPECT_EQ(rig.device.getver(0, version), -1);
    EXPECT_EQ(rig.protocol.calls.size(), 2u);
    EXPECT_EQ(rig.device.lastStatus(), 6u);
  }
  {  // status 0 with only one version byte, twice
    Rig rig;
    rig.protocol.reply({0x00, 'A'});
    rig.protocol.reply({0x00, 'A'});
    char version[3] = {};
    EXPECT_EQ(rig.device.getver(0, version), -1);
    EXPECT_EQ(rig.protocol.calls.size(), 2u);
  }
  {  // silence, then an answer: the repeat succeeds
    Rig rig;
    rig.protocol.fail();
    rig.protocol.reply({0x00, 'B', '2'});
    char version[3] = {};
    EXPECT_EQ(rig.device.getver(0, version), 0);
    EXPECT_STREQ(version, "B2");
    EXPECT_EQ(rig.protocol.calls.size(), 2u);
  }
  {  // an empty reply carries no status
    Rig rig;
    rig.protocol.reply({});
    rig.protocol.reply({});
    char version[3] = {};
    EXPECT_EQ(rig.device.getver(0, version), -1);
    EXPECT_EQ(rig.device.lastStatus(), 0u);
  }
}

TEST(M6Probe, DeviceSerialIsThirtyTwoCharactersAndANul) {
  Rig rig;
  rig.protocol.reply(serial_reply("SP0123456789ABCDEF0123456789ABCD"));
  char serial[40];
  std::memset(serial, 0x5A, sizeof serial);
  EXPECT_EQ(rig.device.readdevsnr(0, serial), 0);
  EXPECT_EQ(std::string(serial), "SP0123456789ABCDEF0123456789ABCD");
  EXPECT_EQ(uint8_t(serial[33]), 0x5A) << "33 bytes are written, no more";
  ASSERT_EQ(rig.protocol.calls.size(), 1u);
  EXPECT_EQ(rig.protocol.calls[0].request, std::vector<uint8_t>{0xFC});
  EXPECT_EQ(rig.protocol.calls[0].timeout_ms, 5000);
  EXPECT_EQ(rig.protocol.calls[0].capacity, 2048);
}

TEST(M6Probe, DeviceSerialFailures) {
  char serial[33];
  {
    Rig rig;
    rig.protocol.reply({0x21, 'x'});
    EXPECT_EQ(rig.device.readdevsnr(0, serial), -2);
    EXPECT_EQ(rig.device.lastStatus(), 0x21u);
    EXPECT_EQ(rig.protocol.calls.size(), 1u) << "no repeat";
  }
  {
    Rig rig;
    std::vector<uint8_t> short_reply = serial_reply("S");
    short_reply.pop_back();
    rig.protocol.reply(short_reply);
    std::memset(serial, 0x5A, sizeof serial);
    EXPECT_EQ(rig.device.readdevsnr(0, serial), -1);
    EXPECT_EQ(uint8_t(serial[0]), 0x5A) << "a short reply writes nothing";
  }
  {
    Rig rig;
    rig.protocol.fail();
    EXPECT_EQ(rig.device.readdevsnr(0, serial), -1);
  }
}

TEST(M6Probe, NullOutputsAreRefusedBeforeAnyIo) {
  Rig rig;
  EXPECT_EQ(rig.device.getver(0, nullptr), -1);
  EXPECT_EQ(rig.device.readdevsnr(0, nullptr), -1);
  EXPECT_TRUE(rig.protocol.calls.empty());
  EXPECT_EQ(rig.port.purges, 0);
}

TEST(M6Probe, WithoutFramingEveryExchangeFails) {
  CountingPort port;
  M6Device device("m6-u", &port, nullptr);
  char text[40];
  EXPECT_EQ(device.getver(0, text), -1);
  EXPECT_EQ(device.readdevsnr(0, text), -1);
  EXPECT_EQ(device.init(0, 0), -1);
}

TEST(M6Probe, InitKeepsVersionAndSerialAndSetsTheSp0Flag) {
  Rig rig;
  rig.protocol.reply({0x00, 'A', '1'});
  rig.protocol.reply(serial_reply("SP0-READER"));
  EXPECT_EQ(rig.device.init(0, 0), -1) << "init always answers -1";
  EXPECT_STREQ(rig.device.versionText(), "A1");
  EXPECT_EQ(std::string(rig.device.serialText()).substr(0, 10), "SP0-READER");
  EXPECT_EQ(std::strlen(rig.device.serialText()), 32u);
  EXPECT_TRUE(rig.device.sp0());
  ASSERT_EQ(rig.protocol.calls.size(), 2u);
  EXPECT_EQ(rig.protocol.calls[0].request, std::vector<uint8_t>{0x80});
  EXPECT_EQ(rig.protocol.calls[1].request, std::vector<uint8_t>{0xFC});

  // A later init whose serial does not begin "SP0" clears the flag.
  rig.protocol.reply({0x00, 'A', '2'});
  rig.protocol.reply(serial_reply("SQ0-READER"));
  EXPECT_EQ(rig.device.init_name(0, 0, 0), -1);
  EXPECT_STREQ(rig.device.versionText(), "A2");
  EXPECT_FALSE(rig.device.sp0());
}

TEST(M6Probe, FailedSerialReadClearsTheFlagAndKeepsTheOldTexts) {
  Rig rig;
  rig.protocol.reply({0x00, 'A', '1'});
  rig.protocol.reply(serial_reply("SP0-FIRST"));
  rig.device.init(0, 0);
  ASSERT_TRUE(rig.device.sp0());
  const std::string serial = rig.device.serialText();

  // Version fails twice, serial fails: nothing read decides the flag.
  rig.protocol.fail();
  rig.protocol.fail();
  rig.protocol.reply({0x07});
  EXPECT_EQ(rig.device.init(0, 0), -1);
  EXPECT_FALSE(rig.device.sp0());
  EXPECT_STREQ(rig.device.versionText(), "A1");
  EXPECT_EQ(rig.device.serialText(), serial);
}

// A family class reached through the interface: init must use the device's
// own (possibly overridden) operations.
class SerialOverride : public M6Device {
 public:
  SerialOverride(Port* port, TransportProtocol* protocol, int16_t result)
      : M6Device("m6-u", port, protocol), result_(result) {}
  int16_t readdevsnr(int32_t icdev, char* serial) override {
    handles.push_back(icdev);
    std::strcpy(serial, "SP0 written but the read failed");
    return result_;
  }
  std::vector<int32_t> handles;

 private:
  int16_t result_;
};

TEST(M6Probe, InitUsesTheOverridableOperationsAndTrustsOnlyASuccessfulSerial) {
  CountingPort port;
  ScriptedProtocol protocol(&port);
  {
    SerialOverride device(&port, &protocol, 0);
    protocol.reply({0x00, 'A', '1'});
    device.init(0, 0);
    EXPECT_TRUE(device.sp0());
    EXPECT_EQ(device.handles, std::vector<int32_t>{0});
  }
  {
    SerialOverride device(&port, &protocol, -2);
    protocol.reply({0x00, 'A', '1'});
    device.init(0, 0);
    EXPECT_FALSE(device.sp0()) << "a failed serial read must not set the flag";
    EXPECT_STREQ(device.serialText(), "");
  }
}

TEST(M6Probe, ConstructionStartsClean) {
  CountingPort port;
  const std::string long_name(100, 'm');
  M6Device long_device(long_name.c_str(), &port, nullptr);
  EXPECT_EQ(std::string(long_device.name()), long_name.substr(0, 63));
  M6Device unnamed(nullptr, &port, nullptr);
  EXPECT_STREQ(unnamed.name(), "");
  EXPECT_STREQ(unnamed.versionText(), "");
  EXPECT_STREQ(unnamed.serialText(), "");
  EXPECT_FALSE(unnamed.sp0());
  EXPECT_EQ(unnamed.lastStatus(), 0u);
  EXPECT_EQ(unnamed.fwtClass(), 7);
}

TEST(M6Probe, UnbuiltSlotsAnswerAsTheInterfaceDefaults) {
  Rig rig;
  ReaderDevice& device = rig.device;
  EXPECT_EQ(device.CpuCardStatus(80), 0);
  EXPECT_EQ(device.i_d_query_name(80), nullptr);
  EXPECT_EQ(device.i_d_query_photo_len(80), 0);
  EXPECT_EQ(device.beep(80, 10), -1);
  EXPECT_TRUE(rig.protocol.calls.empty()) << "defaults do no I/O";
}

}  // namespace
