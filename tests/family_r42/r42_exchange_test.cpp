#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "family_r42/r42_rig.h"
#include "sim/process_probe.h"

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

TEST(R42Exchange, ShortRepliesAndTheStatusRule) {
  R42Rig rig;
  ASSERT_RIG(rig);
  char version[256];
  // 00 00 alone: enough for a status-only command, not for one with payload.
  rig.model.scriptReply(0x0F00, {0x00, 0x00});
  EXPECT_EQ(rig.device->update(kIcdev), 0);
  rig.model.scriptReply(0x0F10, {0x00, 0x00});
  EXPECT_EQ(rig.device->getver(kIcdev, version), -1);
  // A status word is kept whatever the command, and survives a 1-byte reply.
  rig.model.failWithStatus(0x0F00, 0x0701);
  EXPECT_EQ(rig.device->update(kIcdev), -2);
  EXPECT_EQ(last_code(rig.device), 0x0701);
  rig.model.scriptReply(0x0F00, {0x00});
  EXPECT_EQ(rig.device->update(kIcdev), -1);
  EXPECT_EQ(last_code(rig.device), 0x0701);
  // Byte 2 is never looked at.
  rig.model.with([](R42ReaderModel::State& s) { s.spare_byte = 0xEE; });
  EXPECT_EQ(rig.device->getver(kIcdev, version), 0);
  EXPECT_STREQ(version, "R42 SIM 1.0");
  EXPECT_EQ(last_code(rig.device), 0);
  rig.model.failWithStatus(0x0F10, 0x6A82);
  EXPECT_EQ(rig.device->getver(kIcdev, version), -2);
  EXPECT_EQ(last_code(rig.device), 0x6A82);
  for (const auto& call : rig.recorder->calls) {
    EXPECT_EQ(call.capacity, 2048);
  }
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

TEST(R42Exchange, NameAndDoNothingSlotsStayOffTheWire) {
  R42Rig rig;
  ASSERT_RIG(rig);
  char name[64];
  std::memset(name, 'x', sizeof(name));
  EXPECT_EQ(rig.device->getname(kIcdev, name), 0);
  EXPECT_STREQ(name, "r42-u");
  EXPECT_EQ(rig.device->getname(kIcdev, nullptr), -1);
  EXPECT_EQ(rig.device->init(0, 0), -1);
  EXPECT_EQ(rig.device->init_name(0, 0, 0), -1);
  EXPECT_EQ(rig.device->exit(kIcdev), -1);
  EXPECT_EQ(rig.device->config(kIcdev, 1, 2), -1);
  EXPECT_EQ(rig.device->config_card(kIcdev, 'A'), 0);
  const uint8_t pupi[4] = {1, 2, 3, 4};
  EXPECT_EQ(rig.device->attrib(kIcdev, pupi, 0), 0);
  EXPECT_EQ(rig.device->write_TS(kIcdev), -1);
  EXPECT_EQ(rig.device->disp_str(kIcdev, "hello"), -1);
  EXPECT_EQ(rig.device->open_door(kIcdev, 1), -1);
  EXPECT_EQ(rig.device->init_485(0, 0), -1);
  EXPECT_EQ(rig.sent(), 0u);
  EXPECT_EQ(rig.sim->requestCount(), 0u);
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

TEST(R42Exchange, TwinInputsAreCheckedBeforeAnyIo) {
  R42Rig rig;
  ASSERT_RIG(rig);
  // Heap texts of exact size, so reading one byte too far is caught.
  auto heap_text = [](const std::string& s) {
    std::unique_ptr<char[]> text(new char[s.size() + 1]);
    std::memcpy(text.get(), s.c_str(), s.size() + 1);
    return text;
  };
  auto thirteen = heap_text("2404022913050");
  EXPECT_EQ(rig.device->settimehex(kIcdev, thirteen.get()), -1);
  auto with_g = heap_text("240402291305G9");
  EXPECT_EQ(rig.device->settimehex(kIcdev, with_g.get()), -1);
  auto seven = heap_text("0102030");
  EXPECT_EQ(rig.device->swr_eepromhex(kIcdev, 0, 4, seven.get()), -1);
  auto g_in_eight = heap_text("010203G4");
  EXPECT_EQ(rig.device->swr_eepromhex(kIcdev, 0, 4, g_in_eight.get()), -1);
  EXPECT_EQ(rig.device->swr_eepromhex(kIcdev, 0, 16385, seven.get()), -1);
  EXPECT_EQ(rig.device->swr_eepromhex(kIcdev, 0, -1, seven.get()), -1);
  EXPECT_EQ(rig.device->swr_eepromhex(kIcdev, 0, 32767, seven.get()), -1);
  EXPECT_EQ(rig.device->settimehex(kIcdev, nullptr), -1);
  EXPECT_EQ(rig.sent(), 0u);
  // Characters beyond the counted ones are not read; either case converts.
  auto longer = heap_text("0a0B0c0DFFFF-not-hex");
  EXPECT_EQ(rig.device->swr_eepromhex(kIcdev, 0, 4, longer.get()), 0);
  const Bytes eeprom = rig.model.snapshot().eeprom;
  EXPECT_EQ(Bytes(eeprom.begin() + 1500, eeprom.begin() + 1504), (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
}

TEST(R42Exchange, NullOutputsAndOversizedRequestsAreRefusedBeforeIo) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  uint8_t b = 0;
  EXPECT_EQ(d->GetLastResponseCode(kIcdev, nullptr), -1);
  EXPECT_EQ(d->getver(kIcdev, nullptr), -1);
  EXPECT_EQ(d->gettime(kIcdev, nullptr), -1);
  EXPECT_EQ(d->gettimehex(kIcdev, nullptr), -1);
  EXPECT_EQ(d->settime(kIcdev, nullptr), -1);
  EXPECT_EQ(d->getdevicetime(kIcdev, &b, &b, &b, nullptr, &b, &b), -1);
  EXPECT_EQ(d->readdevsnr(kIcdev, nullptr), -1);
  EXPECT_EQ(d->readreadersnr(kIcdev, nullptr), -1);
  EXPECT_EQ(d->srd_eeprom(kIcdev, 0, 4, nullptr), -1);
  EXPECT_EQ(d->swr_eeprom(kIcdev, 0, 4, nullptr), -1);
  EXPECT_EQ(d->srd_eepromhex(kIcdev, 0, 4, nullptr), -1);
  EXPECT_EQ(d->ReadFlash(kIcdev, 0, 4, nullptr), -1);
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 0, 0, 0, 0, 4, nullptr), -1);
  EXPECT_EQ(d->MultiFlashGetSize(kIcdev, 0, nullptr, nullptr), -1);
  EXPECT_EQ(d->GetDeviceUid(kIcdev, nullptr), -1);
  EXPECT_EQ(d->SetDeviceUid(kIcdev, nullptr), -1);
  EXPECT_EQ(d->ReadDeviceCustomInfo(kIcdev, nullptr), -1);
  EXPECT_EQ(d->WriteDeviceCustomInfo(kIcdev, nullptr), -1);
  EXPECT_EQ(d->ReadDeviceTypeName(kIcdev, nullptr), -1);
  EXPECT_EQ(d->WriteDeviceTypeName(kIcdev, nullptr), -1);
  EXPECT_EQ(d->GetChipIdNumber(kIcdev, nullptr), -1);
  EXPECT_EQ(d->DeviceQuery0F13(kIcdev, nullptr), -1);
  EXPECT_EQ(d->ReadDeviceCustomSerialNumber(kIcdev, 1, nullptr), -1);
  EXPECT_EQ(d->WriteDeviceCustomSerialNumber(kIcdev, 1, nullptr), -1);
  // Code, zero byte and number leave room for 2044 characters.
  std::string too_long(2045, 'S');
  EXPECT_EQ(d->WriteDeviceCustomSerialNumber(kIcdev, 1, too_long.c_str()), -1);
  EXPECT_EQ(rig.sent(), 0u);
  std::string longest(2044, 'S');
  EXPECT_EQ(d->WriteDeviceCustomSerialNumber(kIcdev, 1, longest.c_str()), 0);
  EXPECT_EQ(rig.model.snapshot().custom_serials[1], longest);
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
  HandRig rig;  // only its port is used
  ASSERT_TRUE(rig.ready);
  BoastingProtocol boasting(rig.port.get());
  R42Device device("r42-u", rig.port.get(), &boasting);
  ReaderDevice* d = &device;
  char chip[64] = "untouched";
  EXPECT_EQ(d->GetChipIdNumber(kIcdev, chip), -1);
  EXPECT_STREQ(chip, "untouched");
}

}  // namespace

namespace {

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
