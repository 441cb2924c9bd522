// The m6 device's open-time operations (version probe, device serial, init)
// against the m6 reader model in memory, so every request, reply capacity
// and time-out the device asks for is visible.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "family_m6/m6_device.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using Bytes = std::vector<uint8_t>;

// Status 0, then the serial padded with spaces to 32 characters.
Bytes serial_reply(const std::string& serial) {
  Bytes reply(33, ' ');
  reply[0] = 0x00;
  for (size_t i = 0; i < serial.size() && i < 32; ++i) reply[i + 1] = uint8_t(serial[i]);
  return reply;
}

int32_t version(Call& c) { return c.d.getver(0, c.text()); }
int32_t serial(Call& c) { return c.d.readdevsnr(0, c.text()); }

// The probe gives up after 200 ms on serial and USB rows, so that a search
// over many rows stays short; it is repeated once, and any failure is -1.
std::vector<Row> probe_rows() {
  std::vector<Row> rows = {
      Row("version_one_byte_out_two_characters_back", version)
          .sends("80", 200).answer("00 41 31 78 79")
          .gives(0).text("A1"),
      Row("status_failure_twice_is_minus_one_and_kept", version)
          .sends("80", 200).answer("05")
          .sends("80", 200).answer("06 41 31")
          .gives(-1).status(6),
      Row("one_version_byte_twice", version)
          .sends("80").answer("00 41")
          .sends("80").answer("00 41")
          .gives(-1),
      Row("silence_then_an_answer", version)
          .sends("80").fails()
          .sends("80").answer("00 42 32")
          .gives(0).text("B2"),
      Row("empty_replies_carry_no_status", version)
          .sends("80").answer("")
          .sends("80").answer("")
          .gives(-1).status(0),
  };
  const char* const profiles[] = {"m6-s9600", "m6-u", "m6-um", "m6-s-vnet",
                                  "m6-x",     "M6-u", "m6-",   ""};
  const int32_t timeouts[] = {200, 200, 200, 200, 5000, 5000, 5000, 5000};
  for (size_t i = 0; i < std::size(profiles); ++i) {
    std::string id = "probe_time_out_" + std::to_string(i) + "_";
    for (const char* p = profiles[i]; *p; ++p) id += std::isalnum(uint8_t(*p)) ? *p : '_';
    rows.push_back(Row(id, version)
                       .profile(profiles[i])
                       .sends("80", timeouts[i]).answer("00 30 31")
                       .gives(0).text("01"));
  }
  return rows;
}
WIRE_TABLE(M6Probe, M6MemoryReader, probe_rows());

const Row kSerial[] = {
    Row("serial_is_32_characters_and_a_nul", serial)
        .given([](M6ReaderModel::State& s) { s.serial = "SP0123456789ABCDEF0123456789ABCD"; })
        .sends("FC", 5000)
        .gives(0).text("SP0123456789ABCDEF0123456789ABCD"),
    Row("serial_status_failure_is_not_repeated", serial)
        .sends("FC").answer("21 78")
        .gives(-2).status(0x21),
    Row("serial_short_reply_writes_nothing", serial)
        .sends("FC").answer([] {
          Bytes reply = serial_reply("S");
          reply.pop_back();
          return reply;
        }())
        .gives(-1),
    Row("serial_silence", serial).sends("FC").fails().gives(-1),
    Row("version_without_buffer", [](Call& c) { return c.d.getver(0, nullptr); }).gives(-1),
    Row("serial_without_buffer", [](Call& c) { return c.d.readdevsnr(0, nullptr); }).gives(-1),
    Row("unsupported_slot_default", [](Call& c) { return c.d.BtReset(80); }).gives(-1),
    Row("contact_card_status_not_reported", [](Call& c) { return c.d.CpuCardStatus(80); }).gives(0),
};
WIRE_TABLE(M6Serial, M6MemoryReader, kSerial);

TEST(M6Device, WithoutFramingEveryExchangeFails) {
  NullPort port;
  M6Device device("m6-u", &port, nullptr);
  char text[40];
  EXPECT_EQ(device.getver(0, text), -1);
  EXPECT_EQ(device.readdevsnr(0, text), -1);
  EXPECT_EQ(device.init(0, 0), -1);
}

TEST(M6Device, InitKeepsVersionAndSerialAndSetsTheSp0Flag) {
  M6MemoryReader reader;
  reader.wire.scriptReply({0x00, 'A', '1'});
  reader.wire.scriptReply(serial_reply("SP0-READER"), 2);
  EXPECT_EQ(reader.device.init(0, 0), -1) << "init always answers -1";
  EXPECT_STREQ(reader.device.versionText(), "A1");
  EXPECT_EQ(std::string(reader.device.serialText()).substr(0, 10), "SP0-READER");
  EXPECT_EQ(std::strlen(reader.device.serialText()), 32u);
  EXPECT_TRUE(reader.device.sp0());
  ASSERT_EQ(reader.wire.calls.size(), 2u);
  EXPECT_EQ(reader.wire.calls[0].request, Bytes{0x80});
  EXPECT_EQ(reader.wire.calls[1].request, Bytes{0xFC});

  // A later init whose serial does not begin "SP0" clears the flag.
  reader.wire.scriptReply({0x00, 'A', '2'});
  reader.wire.scriptReply(serial_reply("SQ0-READER"), 2);
  EXPECT_EQ(reader.device.init_name(0, 0, 0), -1);
  EXPECT_STREQ(reader.device.versionText(), "A2");
  EXPECT_FALSE(reader.device.sp0());
}

TEST(M6Device, FailedSerialReadClearsTheFlagAndKeepsTheOldTexts) {
  M6MemoryReader reader;
  reader.wire.scriptReply({0x00, 'A', '1'});
  reader.wire.scriptReply(serial_reply("SP0-FIRST"), 2);
  reader.device.init(0, 0);
  ASSERT_TRUE(reader.device.sp0());
  const std::string serial = reader.device.serialText();

  // Version fails twice, serial fails: nothing read decides the flag.
  reader.wire.scriptFailure();
  reader.wire.scriptFailure(2);
  reader.wire.scriptReply({0x07}, 3);
  EXPECT_EQ(reader.device.init(0, 0), -1);
  EXPECT_FALSE(reader.device.sp0());
  EXPECT_STREQ(reader.device.versionText(), "A1");
  EXPECT_EQ(reader.device.serialText(), serial);
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

TEST(M6Device, InitUsesTheOverridableOperationsAndTrustsOnlyASuccessfulSerial) {
  M6ReaderModel model;
  NullPort port;
  RecordingProtocol protocol(&port,
                             [&](const Bytes& command) { return wire_answer(model, command); });
  {
    SerialOverride device(&port, &protocol, 0);
    device.init(0, 0);
    EXPECT_TRUE(device.sp0());
    EXPECT_EQ(device.handles, std::vector<int32_t>{0});
  }
  {
    SerialOverride device(&port, &protocol, -2);
    device.init(0, 0);
    EXPECT_FALSE(device.sp0()) << "a failed serial read must not set the flag";
    EXPECT_STREQ(device.serialText(), "");
  }
  EXPECT_EQ(model.commands(), (std::vector<Bytes>{{0x80}, {0x80}}));
}

TEST(M6Device, ConstructionStartsClean) {
  NullPort port;
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

TEST(M6Device, UnbuiltQueriesAnswerAsTheInterfaceDefaults) {
  M6MemoryReader reader;
  ReaderDevice& device = reader.device;
  EXPECT_EQ(device.i_d_query_name(80), nullptr);
  EXPECT_EQ(device.i_d_query_photo_len(80), 0);
  EXPECT_TRUE(reader.wire.calls.empty()) << "defaults do no I/O";
}

}  // namespace
