#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "family_r42/r42_rig.h"
#include "sim/process_probe.h"
#include "sim/wire_table.h"

namespace {

int32_t last_code(ReaderDevice* device) {
  int32_t code = -1;
  EXPECT_EQ(device->GetLastResponseCode(kIcdev, &code), 0);
  return code;
}

TEST(R42Exchange, MainRoadWireImages) {
  HandRig rig;
  ASSERT_TRUE(rig.ready);
  char version[256];
  int16_t result = 99;
  Bytes seen = rig.play(10, {0x02, 0, 0, 0, 0x07, 0, 0, 0, 'V', '1', '.', '0', 0x7C, 0x03},
                        [&] { result = rig.device->getver(kIcdev, version); });
  EXPECT_EQ(seen, (Bytes{0x02, 0, 0, 0, 0x03, 0x0F, 0x10, 0x00, 0x1E, 0x03}));
  EXPECT_EQ(result, 0);
  EXPECT_STREQ(version, "V1.0");

  uint8_t data[16];
  Bytes reply = R42SerialSim::stxFrame(R42ReaderModel::reply(0, 0, Bytes(16, 0x5A)));
  seen = rig.play(18, reply, [&] { result = rig.device->ReadEepromRaw(kIcdev, 1500, 16, data); });
  EXPECT_EQ(seen, (Bytes{0x02, 0, 0, 0, 0x0B, 0x05, 0x00, 0x00, 0x00, 0x00, 0x05, 0xDC, 0x00,
                         0x00, 0x00, 0x10, 0xC5, 0x03}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Bytes(data, data + 16), Bytes(16, 0x5A));

  rig.play(10, {0x02, 0, 0, 0, 0x03, 0x6A, 0x82, 0x00, 0xE9, 0x03},
           [&] { result = rig.device->update(kIcdev); });
  EXPECT_EQ(result, -2);
  EXPECT_EQ(last_code(rig.device), 0x6A82);

  uint8_t time[7];
  rig.play(10, {0x02, 0, 0, 0, 0x0A, 0, 0, 0, 0x07, 0xE8, 0x02, 0x1D, 0x0D, 0x05, 0x09, 0xF9, 0x03},
           [&] { result = rig.device->gettime(kIcdev, time); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Bytes(time, time + 7), (Bytes{0x24, 0x04, 0x02, 0x29, 0x13, 0x05, 0x09}));
}

TEST(R42Exchange, LengthFieldBelowTheBytesSentFails) {
  HandRig rig;
  ASSERT_TRUE(rig.ready);
  char version[256] = "untouched";
  int16_t result = 99;
  // Length 3 while four payload bytes follow: the check byte lands wrong.
  rig.play(10, {0x02, 0, 0, 0, 0x03, 0, 0, 0, 'V', 0x7C, 0x03},
           [&] { result = rig.device->getver(kIcdev, version); });
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(version, "untouched");
}

TEST(R42Exchange, TransportFaultsFailWithinTheBudget) {
  using Fault = R42SerialSim::Fault;
  struct Case {
    const char* what;
    R42SerialSim::FaultPlan plan;
  };
  auto plan = [](Fault kind, uint32_t length = 0, int delay_ms = 0) {
    R42SerialSim::FaultPlan s;
    s.kind = kind;
    s.length = length;
    s.delay_ms = delay_ms;
    return s;
  };
  const Case cases[] = {
      {"wrong lead byte", plan(Fault::kWrongFirstByte)},
      {"bad XOR", plan(Fault::kBadXor)},
      {"wrong ETX", plan(Fault::kMissingEtx)},
      {"reply over 2048", plan(Fault::kOversize, 2100)},
      {"length 0xFFFFFFFF", plan(Fault::kHugeLength, 0xFFFFFFFFu)},
      {"length above the bytes sent", plan(Fault::kHugeLength, 40)},
      {"short frame", plan(Fault::kPartial, 6)},
      {"silence", plan(Fault::kSilence)},
  };
  R42Rig rig;  // "r42-u": getver waits 2000 ms
  ASSERT_RIG(rig);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rig.sim->injectFault(c.plan);
    char version[256] = "untouched";
    Stopwatch watch;
    EXPECT_EQ(rig.device->getver(kIcdev, version), -1);
    EXPECT_LT(watch.ms(), 2000 + 1500);  // a hang guard, not a speed test
    EXPECT_STREQ(version, "untouched");
  }
  // After every fault the line still works.
  char version[256];
  EXPECT_EQ(rig.device->getver(kIcdev, version), 0);
  EXPECT_STREQ(version, "R42 SIM 1.0");
}

TEST(R42Exchange, ReplyAfterTheTimeOutFails) {
  R42Rig rig;
  ASSERT_RIG(rig);
  R42SerialSim::FaultPlan late;
  late.delay_ms = 2600;
  rig.sim->injectFault(late);
  char version[256] = "untouched";
  Stopwatch watch;
  EXPECT_EQ(rig.device->getver(kIcdev, version), -1);
  EXPECT_LT(watch.ms(), 2000 + 1500);
  EXPECT_STREQ(version, "untouched");
}

TEST(R42Exchange, HangUpFailsAtOnce) {
  R42Rig rig("r42-vnet");  // 5000 ms budget
  ASSERT_RIG(rig);
  R42SerialSim::FaultPlan hang;
  hang.kind = R42SerialSim::Fault::kHangUp;
  rig.sim->injectFault(hang);
  Stopwatch watch;
  EXPECT_EQ(rig.device->update(kIcdev), -1);
  EXPECT_LT(watch.ms(), 5000 + 1500);
  EXPECT_EQ(rig.device->update(kIcdev), -1);
}

TEST(R42Exchange, SplitRepliesSucceedAndStaleBytesArePurged) {
  R42Rig rig;
  ASSERT_RIG(rig);
  R42SerialSim::FaultPlan bursts;
  bursts.kind = R42SerialSim::Fault::kBursts;
  bursts.length = 3;
  bursts.gap_ms = 15;
  rig.sim->injectFault(bursts);
  char version[256];
  EXPECT_EQ(rig.device->getver(kIcdev, version), 0);
  EXPECT_STREQ(version, "R42 SIM 1.0");

  // A whole second frame trails the reply; the next command must not take it.
  R42SerialSim::FaultPlan stale;
  stale.kind = R42SerialSim::Fault::kStaleBytes;
  stale.bytes = R42SerialSim::stxFrame(R42ReaderModel::reply(0, 0, {'S', 'T', 'A', 'L', 'E'}));
  rig.sim->injectFault(stale);
  EXPECT_EQ(rig.device->update(kIcdev), 0);
  EXPECT_EQ(rig.device->getver(kIcdev, version), 0);
  EXPECT_STREQ(version, "R42 SIM 1.0");
}

TEST(R42Exchange, CcidFramingCarriesTheSameCommands) {
  R42Rig rig("r42-x", R42SerialSim::Framing::kCcid);
  ASSERT_RIG(rig);
  char version[256];
  EXPECT_EQ(rig.device->getver(kIcdev, version), 0);
  EXPECT_STREQ(version, "R42 SIM 1.0");
  EXPECT_EQ(rig.last().timeout_ms, 5000);
  uint8_t serial[4];
  EXPECT_EQ(rig.device->ReadEepromRaw(kIcdev, 1450, 4, serial), 0);
  EXPECT_EQ(std::string(serial, serial + 4), "KX00");
}

TEST(R42Exchange, ProfileNameIsBoundedAndMayBeNull) {
  std::string long_name(100, 'n');
  R42Device bounded(long_name.c_str(), nullptr, nullptr);
  char name[64];
  EXPECT_EQ(static_cast<ReaderDevice&>(bounded).getname(kIcdev, name), 0);
  EXPECT_EQ(std::string(name), std::string(63, 'n'));
  R42Device unnamed(nullptr, nullptr, nullptr);
  EXPECT_EQ(static_cast<ReaderDevice&>(unnamed).getname(kIcdev, name), 0);
  EXPECT_STREQ(name, "");
  // Without a port every command fails cleanly.
  EXPECT_EQ(static_cast<ReaderDevice&>(unnamed).update(kIcdev), -1);
}

// Notes how the composite operations reach the operations they build on.
class SpyDevice : public R42Device {
 public:
  SpyDevice() : R42Device("r42-spy", nullptr, nullptr) {}
  int16_t ReadEepromRaw(int32_t icdev, int16_t offset, int16_t length, uint8_t* buffer) override {
    EXPECT_EQ(icdev, kIcdev);
    raw_reads.push_back({offset, length});
    for (int i = 0; i < length; ++i) buffer[i] = uint8_t('A' + i % 26);
    return 0;
  }
  int16_t getver(int32_t icdev, char* sver) override {
    EXPECT_EQ(icdev, kIcdev);
    ++versions;
    std::strcpy(sver, "spy");
    return 7;
  }
  int16_t settimehex(int32_t icdev, const char* time) override {
    EXPECT_EQ(icdev, kIcdev);
    clock_text = time;
    return 0;
  }
  std::vector<std::pair<int, int>> raw_reads;
  int versions = 0;
  std::string clock_text;
};

TEST(R42Exchange, CompositesCallThroughTheInterface) {
  SpyDevice spy;
  ReaderDevice* device = &spy;
  uint8_t data[16];
  EXPECT_EQ(device->srd_eeprom(kIcdev, 0, 16, data), 0);
  char snr[33];
  EXPECT_EQ(device->readdevsnr(kIcdev, snr), 0);
  EXPECT_EQ(snr[32], '\0');
  char reader_snr[17];
  EXPECT_EQ(device->readreadersnr(kIcdev, reader_snr), 0);
  EXPECT_STREQ(reader_snr, "QRSTUVWXYZABCDEF");
  EXPECT_EQ(spy.raw_reads,
            (std::vector<std::pair<int, int>>{{1500, 16}, {1450, 32}, {1450, 32}}));
  EXPECT_EQ(device->testdevicecomm(kIcdev), 7);
  EXPECT_EQ(spy.versions, 1);
  EXPECT_EQ(device->setdevicetime(kIcdev, 124, 2, 29, 13, 5, 9), 0);
  EXPECT_EQ(spy.clock_text, "24000229130509");
}

// A protocol that reports a reply longer than the buffer it was given.
class BoastingProtocol : public TransportProtocol {
 public:
  explicit BoastingProtocol(Port* port) : TransportProtocol(port) {}
  int32_t transceive(uint8_t* buffer, int32_t, int32_t, int32_t) override {
    buffer[0] = 0;
    buffer[1] = 0;
    return 4000;
  }
};

TEST(R42Exchange, ReplyLongerThanTheBufferIsAFailedExchange) {
  NullPort port;
  BoastingProtocol boasting(&port);
  R42Device device("r42-u", &port, &boasting);
  ReaderDevice* d = &device;
  char chip[64] = "untouched";
  EXPECT_EQ(d->GetChipIdNumber(kIcdev, chip), -1);
  EXPECT_STREQ(chip, "untouched");
}

}  // namespace

namespace {

// A request made with a larger buffer holds more and takes a longer reply;
// one whose buffer cannot be had is refused before any I/O.
TEST(R42Exchange, SizedRequestsCarryTheirOwnCapacity) {
  R42MemoryReader reader;
  std::vector<uint8_t> long_reply(3000, 0x5A);
  long_reply[0] = long_reply[1] = 0;
  reader.wire.scriptReply(long_reply, 1);
  reader.wire.scriptReply(long_reply, 2);

  R42Request large(0x0420, 10240);
  const std::vector<uint8_t> params(5000, 0x11);
  large.bytes(params.data(), params.size());
  ByteCursor payload(nullptr, 0);
  EXPECT_EQ(reader.device.exchange(large, 5000, 2, &payload), 0);
  EXPECT_EQ(payload.remaining(), 2997u);

  R42Request plain(0x0420);
  EXPECT_EQ(reader.device.exchange(plain, 5000, 2), -1) << "3000 bytes into 2048";
  ASSERT_EQ(reader.wire.calls.size(), 2u);
  EXPECT_EQ(reader.wire.calls[0].capacity, 10240);
  EXPECT_EQ(reader.wire.calls[0].request.size(), 5003u);
  EXPECT_EQ(reader.wire.calls[1].capacity, 2048);

  R42Request too_long(0x0420);
  too_long.bytes(params.data(), params.size());
  R42Request unobtainable(0x0420, kR42MaxBufferSize + 1);
  EXPECT_TRUE(too_long.overflowed());
  EXPECT_TRUE(unobtainable.overflowed());
  EXPECT_EQ(reader.device.exchange(too_long, 5000, 2), -1);
  EXPECT_EQ(reader.device.exchange(unobtainable, 5000, 2), -1);
  EXPECT_EQ(reader.wire.calls.size(), 2u) << "refused requests never reach the wire";
}

TEST(R42Exchange, NibblesBecomeDigitsPastNine) {
  const uint8_t data[3] = {0x1F, 0xA0, 0x59};
  char out[7] = "......";
  EXPECT_EQ(nibbles_to_digits(data, 3, out), 6);
  EXPECT_EQ(std::string(out, 6), "1?:059");
  EXPECT_EQ(nibbles_to_digits(data, 0, out), 0);
  EXPECT_EQ(nibbles_to_digits(data, -1, out), -1);
  EXPECT_EQ(nibbles_to_digits(nullptr, 2, out), -1);
}

}  // namespace

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;

// 00 00 alone is enough for a status-only command, not for one with
// payload; a status word is kept whatever the command, and survives a
// 1-byte reply; byte 2 is never looked at.
const Row kStatusRule[] = {
    Row("status_only_command_two_byte_reply", [](Call& c) { return c.d.update(kIcdev); })
        .sends("0F 00 00").answer("00 00")
        .gives(0),
    Row("payload_command_two_byte_reply", [](Call& c) { return c.d.getver(kIcdev, c.text()); })
        .sends("0F 10 00").answer("00 00")
        .gives(-1),
    Row("status_word_of_a_status_only_command", [](Call& c) { return c.d.update(kIcdev); })
        .sends("0F 00 00").answer("07 01 00")
        .gives(-2).status(0x0701),
    Row("one_byte_reply_keeps_the_last_status",
        [](Call& c) {
          c.d.update(kIcdev);
          return c.d.update(kIcdev);
        })
        .sends("0F 00 00").answer("07 01 00")
        .sends("0F 00 00").answer("00")
        .gives(-1).status(0x0701),
    Row("spare_byte_not_looked_at", [](Call& c) { return c.d.getver(kIcdev, c.text()); })
        .given([](R42ReaderModel::State& s) { s.spare_byte = 0xEE; })
        .sends("0F 10 00")
        .gives(0).text("R42 SIM 1.0").status(0),
    Row("status_word_of_a_payload_command", [](Call& c) { return c.d.getver(kIcdev, c.text()); })
        .sends("0F 10 00").answer("6A 82 00")
        .gives(-2).status(0x6A82),
};
WIRE_TABLE(R42StatusRule, R42MemoryReader, kStatusRule);

const uint8_t kPupi[4] = {1, 2, 3, 4};

const Row kOffTheWire[] = {
    Row("getname", [](Call& c) { return c.d.getname(kIcdev, c.text()); }).gives(0).text("r42-u"),
    Row("getname_null", [](Call& c) { return c.d.getname(kIcdev, nullptr); }).gives(-1),
    Row("init", [](Call& c) { return c.d.init(0, 0); }).gives(-1),
    Row("init_name", [](Call& c) { return c.d.init_name(0, 0, 0); }).gives(-1),
    Row("exit", [](Call& c) { return c.d.exit(kIcdev); }).gives(-1),
    Row("config", [](Call& c) { return c.d.config(kIcdev, 1, 2); }).gives(-1),
    Row("config_card", [](Call& c) { return c.d.config_card(kIcdev, 'A'); }).gives(0),
    Row("attrib", [](Call& c) { return c.d.attrib(kIcdev, kPupi, 0); }).gives(0),
    Row("write_TS", [](Call& c) { return c.d.write_TS(kIcdev); }).gives(-1),
    Row("disp_str", [](Call& c) { return c.d.disp_str(kIcdev, "hello"); }).gives(-1),
    Row("open_door", [](Call& c) { return c.d.open_door(kIcdev, 1); }).gives(-1),
    Row("init_485", [](Call& c) { return c.d.init_485(0, 0); }).gives(-1),
};
WIRE_TABLE(R42OffTheWire, R42MemoryReader, kOffTheWire);

// Heap texts of exact size, so reading one byte too far is caught.
std::unique_ptr<char[]> heap_text(const std::string& s) {
  std::unique_ptr<char[]> text(new char[s.size() + 1]);
  std::memcpy(text.get(), s.c_str(), s.size() + 1);
  return text;
}

// Twin inputs are checked before any I/O; characters beyond the counted
// ones are not read, and either case converts.
const Row kTwinInputs[] = {
    Row("settimehex_13_digits",
        [](Call& c) { return c.d.settimehex(kIcdev, heap_text("2404022913050").get()); })
        .gives(-1),
    Row("settimehex_non_hex",
        [](Call& c) { return c.d.settimehex(kIcdev, heap_text("240402291305G9").get()); })
        .gives(-1),
    Row("swr_eepromhex_7_digits",
        [](Call& c) { return c.d.swr_eepromhex(kIcdev, 0, 4, heap_text("0102030").get()); })
        .gives(-1),
    Row("swr_eepromhex_non_hex",
        [](Call& c) { return c.d.swr_eepromhex(kIcdev, 0, 4, heap_text("010203G4").get()); })
        .gives(-1),
    Row("swr_eepromhex_over_the_area",
        [](Call& c) { return c.d.swr_eepromhex(kIcdev, 0, 16385, heap_text("0102030").get()); })
        .gives(-1),
    Row("swr_eepromhex_negative_length",
        [](Call& c) { return c.d.swr_eepromhex(kIcdev, 0, -1, heap_text("0102030").get()); })
        .gives(-1),
    Row("swr_eepromhex_length_32767",
        [](Call& c) { return c.d.swr_eepromhex(kIcdev, 0, 32767, heap_text("0102030").get()); })
        .gives(-1),
    Row("settimehex_null", [](Call& c) { return c.d.settimehex(kIcdev, nullptr); }).gives(-1),
    Row("swr_eepromhex_reads_only_its_digits",
        [](Call& c) {
          return c.d.swr_eepromhex(kIcdev, 0, 4, heap_text("0a0B0c0DFFFF-not-hex").get());
        })
        .sends("05 01 00 00 00 05 DC 00 00 00 04 0A 0B 0C 0D")
        .gives(0)
        .then([](const R42ReaderModel::State& s) {
          EXPECT_EQ(Bytes(s.eeprom.begin() + 1500, s.eeprom.begin() + 1504),
                    (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
        }),
};
WIRE_TABLE(R42TwinInputs, R42MemoryReader, kTwinInputs);

uint8_t g_byte = 0;

// Null outputs and inputs, and requests that would not fit the buffer, are
// refused before any I/O.
const Row kRefusedBeforeIo[] = {
    Row("GetLastResponseCode", [](Call& c) { return c.d.GetLastResponseCode(kIcdev, nullptr); })
        .gives(-1),
    Row("getver", [](Call& c) { return c.d.getver(kIcdev, nullptr); }).gives(-1),
    Row("gettime", [](Call& c) { return c.d.gettime(kIcdev, nullptr); }).gives(-1),
    Row("gettimehex", [](Call& c) { return c.d.gettimehex(kIcdev, nullptr); }).gives(-1),
    Row("settime", [](Call& c) { return c.d.settime(kIcdev, nullptr); }).gives(-1),
    Row("getdevicetime",
        [](Call& c) {
          uint8_t* b = &g_byte;
          return c.d.getdevicetime(kIcdev, b, b, b, nullptr, b, b);
        })
        .gives(-1),
    Row("readdevsnr", [](Call& c) { return c.d.readdevsnr(kIcdev, nullptr); }).gives(-1),
    Row("readreadersnr", [](Call& c) { return c.d.readreadersnr(kIcdev, nullptr); }).gives(-1),
    Row("srd_eeprom", [](Call& c) { return c.d.srd_eeprom(kIcdev, 0, 4, nullptr); }).gives(-1),
    Row("swr_eeprom", [](Call& c) { return c.d.swr_eeprom(kIcdev, 0, 4, nullptr); }).gives(-1),
    Row("srd_eepromhex", [](Call& c) { return c.d.srd_eepromhex(kIcdev, 0, 4, nullptr); })
        .gives(-1),
    Row("ReadFlash", [](Call& c) { return c.d.ReadFlash(kIcdev, 0, 4, nullptr); }).gives(-1),
    Row("MultiFlashRead",
        [](Call& c) { return c.d.MultiFlashRead(kIcdev, 0, 0, 0, 0, 4, nullptr); })
        .gives(-1),
    Row("MultiFlashGetSize",
        [](Call& c) { return c.d.MultiFlashGetSize(kIcdev, 0, nullptr, nullptr); })
        .gives(-1),
    Row("GetDeviceUid", [](Call& c) { return c.d.GetDeviceUid(kIcdev, nullptr); }).gives(-1),
    Row("SetDeviceUid", [](Call& c) { return c.d.SetDeviceUid(kIcdev, nullptr); }).gives(-1),
    Row("ReadDeviceCustomInfo", [](Call& c) { return c.d.ReadDeviceCustomInfo(kIcdev, nullptr); })
        .gives(-1),
    Row("WriteDeviceCustomInfo", [](Call& c) { return c.d.WriteDeviceCustomInfo(kIcdev, nullptr); })
        .gives(-1),
    Row("ReadDeviceTypeName", [](Call& c) { return c.d.ReadDeviceTypeName(kIcdev, nullptr); })
        .gives(-1),
    Row("WriteDeviceTypeName", [](Call& c) { return c.d.WriteDeviceTypeName(kIcdev, nullptr); })
        .gives(-1),
    Row("GetChipIdNumber", [](Call& c) { return c.d.GetChipIdNumber(kIcdev, nullptr); }).gives(-1),
    Row("DeviceQuery0F13", [](Call& c) { return c.d.DeviceQuery0F13(kIcdev, nullptr); }).gives(-1),
    Row("ReadDeviceCustomSerialNumber",
        [](Call& c) { return c.d.ReadDeviceCustomSerialNumber(kIcdev, 1, nullptr); })
        .gives(-1),
    Row("WriteDeviceCustomSerialNumber",
        [](Call& c) { return c.d.WriteDeviceCustomSerialNumber(kIcdev, 1, nullptr); })
        .gives(-1),
    // Code, zero byte and number leave room for 2044 characters.
    Row("custom_serial_of_2045_refused",
        [](Call& c) {
          return c.d.WriteDeviceCustomSerialNumber(kIcdev, 1, std::string(2045, 'S').c_str());
        })
        .gives(-1),
    Row("custom_serial_of_2044_fills_the_request",
        [](Call& c) {
          return c.d.WriteDeviceCustomSerialNumber(kIcdev, 1, std::string(2044, 'S').c_str());
        })
        .sends({"05 1B 00 01", Bytes(2044, 'S')})
        .gives(0)
        .then([](const R42ReaderModel::State& s) {
          EXPECT_EQ(s.custom_serials.at(1), std::string(2044, 'S'));
        }),
};
WIRE_TABLE(R42RefusedBeforeIo, R42MemoryReader, kRefusedBeforeIo);

}  // namespace
