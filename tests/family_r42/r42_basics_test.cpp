#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "family_r42/r42_rig.h"

namespace {

using State = R42ReaderModel::State;

TEST(R42ReaderBasics, BuzzerLedsAndResetsOnTheWire) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  struct Expect {
    Bytes request;
    int32_t timeout;
  };
  EXPECT_EQ(d->beep(kIcdev, 10), 0);
  EXPECT_EQ(d->posbeep(kIcdev, 4), 0);
  EXPECT_EQ(d->beep(kIcdev, 6553), 0);
  EXPECT_EQ(d->reset(kIcdev, 0), 0);
  EXPECT_EQ(d->reset(kIcdev, 100), 0);
  EXPECT_EQ(d->light(kIcdev, 1), 0);
  EXPECT_EQ(d->ctlbacklight(kIcdev, 1), 0);
  EXPECT_EQ(d->ctlled(kIcdev, 3, 1), 0);
  EXPECT_EQ(d->ctlled(kIcdev, 3, 2), 0);
  EXPECT_EQ(d->setdevicebaud(kIcdev, 5), 0);
  EXPECT_EQ(d->update(kIcdev), 0);
  EXPECT_EQ(d->resetdevice(kIcdev), 0);
  const Expect expected[] = {
      {{0x01, 0x01, 0x00, 0x00, 0x64}, 5100},
      {{0x01, 0x01, 0x00, 0x00, 0xC8}, 5200},
      {{0x01, 0x01, 0x00, 0xFF, 0xFA}, 65530 + 5000},
      {{0x04, 0x0D, 0x00}, 5000},
      {{0x04, 0x0D, 0x00}, 5000},
      {{0x04, 0x00, 0x00}, 6000},
      {{0x02, 0x00, 0x00, 0x00, 0x01}, 5000},
      {{0x08, 0x02, 0x00, 0x01}, 5000},
      {{0x02, 0x00, 0x00, 0x03, 0x01}, 5000},
      {{0x02, 0x01, 0x00, 0x03}, 5000},
      {{0x0F, 0x24, 0x00, 0x05}, 5000},
      {{0x0F, 0x00, 0x00}, 5000},
      {{0x0F, 0x20, 0x00}, 5000},
  };
  ASSERT_EQ(rig.sent(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rig.recorder->calls[i].request, expected[i].request);
    EXPECT_EQ(rig.recorder->calls[i].timeout_ms, expected[i].timeout);
  }
  State s = rig.model.snapshot();
  EXPECT_EQ(s.beeps, (std::vector<uint16_t>{100, 200, 65530}));
  EXPECT_EQ(s.field_offs, 2);
  EXPECT_EQ(s.field_resets, 1);
  EXPECT_EQ(s.leds[0], 1);
  EXPECT_EQ(s.leds[3], 1);
  EXPECT_EQ(s.led_pulses, (std::vector<uint8_t>{3}));
  EXPECT_EQ(s.backlight, 1);
  EXPECT_EQ(s.baud_code, 5);
  EXPECT_EQ(s.updates, 1);
  EXPECT_EQ(s.device_resets, 1);
}

TEST(R42ReaderBasics, ValuesThatDoNotFitTheirFieldAreRefused) {
  R42Rig rig;
  ASSERT_RIG(rig);
  // 6554 x 10 would wrap to a 4 ms beep.
  EXPECT_EQ(rig.device->beep(kIcdev, 6554), -1);
  EXPECT_EQ(rig.device->beep(kIcdev, 65535), -1);
  // 256 would reach the reader as 0 and switch the LED off.
  EXPECT_EQ(rig.device->light(kIcdev, 256), -1);
  EXPECT_EQ(rig.device->setdevicetime(kIcdev, 24, 100, 1, 0, 0, 0), -1);
  EXPECT_EQ(rig.device->setdevicetime(kIcdev, 24, 1, 1, 0, 0, 255), -1);
  EXPECT_EQ(rig.sent(), 0u);
  // The reset budget grows with the argument, in 32 bits.
  EXPECT_EQ(rig.device->reset(kIcdev, 65535), 0);
  EXPECT_EQ(rig.last().timeout_ms, (65535 + 500) * 10);
}

TEST(R42ReaderBasics, ResetStillSendsItsSecondRequestWhenTheFirstFails) {
  R42Rig rig;
  ASSERT_RIG(rig);
  rig.model.failWithStatus(0x040D, 0x6A82);
  EXPECT_EQ(rig.device->reset(kIcdev, 100), 0);
  EXPECT_EQ(rig.sent(), 2u);
  rig.model.failWithStatus(0x0400, 0x6A82);
  EXPECT_EQ(rig.device->reset(kIcdev, 1), -2);
}

TEST(R42ReaderBasics, ClockReadsAndWrites) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  rig.model.with([](State& s) {
    s.year = 2024;
    s.month = 2;
    s.day = 29;
    s.hour = 13;
    s.minute = 5;
    s.second = 9;
  });
  uint8_t time[7];
  EXPECT_EQ(d->gettime(kIcdev, time), 0);
  EXPECT_EQ(Bytes(time, time + 7), (Bytes{0x24, 0x04, 0x02, 0x29, 0x13, 0x05, 0x09}));
  char text[15];
  std::memset(text, 'x', sizeof(text));
  EXPECT_EQ(d->gettimehex(kIcdev, text), 0);
  EXPECT_STREQ(text, "24040229130509");
  EXPECT_EQ(d->gettime_hex(kIcdev, text), 0);
  EXPECT_STREQ(text, "24040229130509");

  const uint8_t set[7] = {0x25, 0x03, 0x12, 0x31, 0x23, 0x59, 0x58};
  EXPECT_EQ(d->settime(kIcdev, set), 0);
  EXPECT_EQ(rig.last().request,
            (Bytes{0x16, 0x00, 0x00, 0x07, 0xE9, 0x0C, 0x1F, 0x17, 0x3B, 0x3A}));
  EXPECT_EQ(d->settime_hex(kIcdev, "25031231235958"), 0);
  EXPECT_EQ(rig.last().request,
            (Bytes{0x16, 0x00, 0x00, 0x07, 0xE9, 0x0C, 0x1F, 0x17, 0x3B, 0x3A}));
  // Invalid BCD goes out as the nibble arithmetic gives it.
  const uint8_t odd[7] = {0x1A, 0x00, 0x0F, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(d->settime(kIcdev, odd), 0);
  EXPECT_EQ(rig.last().request,
            (Bytes{0x16, 0x00, 0x00, 0x07, 0xE4, 0x0F, 0x01, 0x00, 0x00, 0x00}));

  // Round trip through the six-number form; the weekday is the reader's.
  EXPECT_EQ(d->setdevicetime(kIcdev, 26, 12, 8, 23, 59, 1), 0);
  State s = rig.model.snapshot();
  EXPECT_EQ(s.year, 2026);
  EXPECT_EQ(s.month, 12);
  EXPECT_EQ(s.day, 8);
  uint8_t y, mo, da, h, mi, se;
  EXPECT_EQ(d->getdevicetime(kIcdev, &y, &mo, &da, &h, &mi, &se), 0);
  EXPECT_EQ((Bytes{y, mo, da, h, mi, se}), (Bytes{26, 12, 8, 23, 59, 1}));
  EXPECT_EQ(d->gettimehex(kIcdev, text), 0);
  EXPECT_STREQ(text, "26021208235901");  // 8 December 2026 is a Tuesday
}

TEST(R42ReaderBasics, ClockValuesOverTwoDigitsAreRefused) {
  R42Rig rig;
  ASSERT_RIG(rig);
  uint8_t time[7] = {1, 2, 3, 4, 5, 6, 7};
  rig.model.with([](State& s) { s.second = 100; });
  EXPECT_EQ(rig.device->gettime(kIcdev, time), -1);
  EXPECT_EQ(Bytes(time, time + 7), (Bytes{1, 2, 3, 4, 5, 6, 7}));
  rig.model.with([](State& s) {
    s.second = 0;
    s.month = 0xFF;
  });
  char text[15] = "untouched";
  EXPECT_EQ(rig.device->gettimehex(kIcdev, text), -1);
  EXPECT_STREQ(text, "untouched");
  // A month of 0 is no calendar month: weekday 0, still two digits each.
  rig.model.with([](State& s) {
    s.year = 2199;
    s.month = 0;
    s.day = 0;
  });
  EXPECT_EQ(rig.device->gettimehex(kIcdev, text), 0);
  EXPECT_STREQ(text, "99000000000000");
  // A clock reply one byte short.
  rig.model.scriptReply(0x1601, R42ReaderModel::reply(0, 0, {0x07, 0xE8, 1, 1, 0, 0}));
  EXPECT_EQ(rig.device->gettime(kIcdev, time), -1);
}

TEST(R42ReaderBasics, VersionTimeOutByProfileName) {
  struct Case {
    const char* name;
    int32_t timeout;
  };
  for (Case c : {Case{"r42-u", 2000}, Case{"r42-s115200", 2000}, Case{"r42-au", 5000},
                 Case{"r42-pcsc", 5000}, Case{"r42-vnet", 5000}}) {
    SCOPED_TRACE(c.name);
    R42Rig rig(c.name);
    ASSERT_RIG(rig);
    char version[256];
    EXPECT_EQ(rig.device->getver(kIcdev, version), 0);
    EXPECT_EQ(rig.last().timeout_ms, c.timeout);
    EXPECT_EQ(rig.last().capacity, 2048);
    EXPECT_EQ(rig.device->testdevicecomm(kIcdev), 0);
    EXPECT_EQ(rig.last().request, (Bytes{0x0F, 0x10, 0x00}));
  }
}

TEST(R42ReaderBasics, VersionTextIsCappedForTheProbeBuffer) {
  R42Rig rig;
  ASSERT_RIG(rig);
  rig.model.with([](State& s) { s.version = std::string(300, 'v'); });
  std::unique_ptr<char[]> probe(new char[256]());
  EXPECT_EQ(rig.device->getver(kIcdev, probe.get()), 0);
  EXPECT_EQ(std::string(probe.get()), std::string(255, 'v'));
  rig.model.with([](State& s) { s.version.clear(); });
  EXPECT_EQ(rig.device->getver(kIcdev, probe.get()), 0);
  EXPECT_STREQ(probe.get(), "");
}

TEST(R42ReaderBasics, UserAreaAndSerialNumbers) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  EXPECT_EQ(d->swr_eeprom(kIcdev, 0, 4, data), 0);
  EXPECT_EQ(d->swr_alleeprom(kIcdev, 10, 4, data), 0);
  State s = rig.model.snapshot();
  EXPECT_EQ(Bytes(s.eeprom.begin() + 1500, s.eeprom.begin() + 1504), Bytes(data, data + 4));
  EXPECT_EQ(Bytes(s.eeprom.begin() + 1510, s.eeprom.begin() + 1514), Bytes(data, data + 4));
  uint8_t back[4];
  EXPECT_EQ(d->srd_alleeprom(kIcdev, 10, 4, back), 0);
  EXPECT_EQ(Bytes(back, back + 4), Bytes(data, data + 4));
  char text[9];
  EXPECT_EQ(d->srd_eepromhex(kIcdev, 0, 4, text), 0);
  EXPECT_STREQ(text, "DEADBEEF");
  EXPECT_EQ(d->srd_eeprom_hex(kIcdev, 10, 4, text), 0);
  EXPECT_STREQ(text, "DEADBEEF");
  EXPECT_EQ(d->swr_eeprom_hex(kIcdev, 20, 2, "c0fe"), 0);
  EXPECT_EQ(d->srd_eepromhex(kIcdev, 20, 2, text), 0);
  EXPECT_STREQ(text, "C0FE");
  // The user area ends with the EEPROM; offsets that would pass 16 bits too.
  EXPECT_EQ(d->srd_eeprom(kIcdev, 16384 - 1500, 1, back), -1);
  EXPECT_EQ(d->srd_eeprom(kIcdev, 32767, 1, back), -1);
  EXPECT_EQ(d->srd_eepromhex(kIcdev, 0, 16385, text), -1);

  char snr[33];
  EXPECT_EQ(d->readdevsnr(kIcdev, snr), 0);
  EXPECT_STREQ(snr, "KX000000000000000R42SIM000012345");
  EXPECT_EQ(rig.last().request,
            (Bytes{0x05, 0x00, 0x00, 0x00, 0x00, 0x05, 0xAA, 0x00, 0x00, 0x00, 0x20}));
  char reader_snr[17];
  EXPECT_EQ(d->readreadersnr(kIcdev, reader_snr), 0);
  EXPECT_STREQ(reader_snr, "0R42SIM000012345");
  rig.model.failWithStatus(0x0500, 0x6A82);
  EXPECT_EQ(d->readreadersnr(kIcdev, reader_snr), -1);
  EXPECT_STREQ(reader_snr, "0R42SIM000012345");
}

}  // namespace
