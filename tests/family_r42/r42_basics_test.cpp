// The reader itself: buzzer, LEDs, radio reset, clock, version, user area
// and serial numbers, one row per call.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;

void set_clock(State& s, uint16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
               uint8_t second) {
  s.year = year;
  s.month = month;
  s.day = day;
  s.hour = hour;
  s.minute = minute;
  s.second = second;
}

void put(Bytes& memory, size_t at, const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), memory.begin() + long(at));
}

int32_t gettime(Call& c) { return c.d.gettime(kIcdev, c.bytes()); }
int32_t gettimehex(Call& c) { return c.d.gettimehex(kIcdev, c.text()); }
int32_t getver(Call& c) { return c.d.getver(kIcdev, c.text()); }

const Bytes kDeadBeef = {0xDE, 0xAD, 0xBE, 0xEF};

const Row kBuzzerLedsAndResets[] = {
    Row("beep_ten_times_the_duration", [](Call& c) { return c.d.beep(kIcdev, 10); })
        .sends("01 01 00 00 64", 5100)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.beeps, std::vector<uint16_t>{100}); }),
    Row("posbeep_is_beep_of_five_times", [](Call& c) { return c.d.posbeep(kIcdev, 4); })
        .sends("01 01 00 00 C8", 5200)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.beeps, std::vector<uint16_t>{200}); }),
    Row("beep_longest", [](Call& c) { return c.d.beep(kIcdev, 6553); })
        .sends("01 01 00 FF FA", 65530 + 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.beeps, std::vector<uint16_t>{65530}); }),
    // 6554 x 10 would wrap to a 4 ms beep.
    Row("beep_over_16_bits_refused", [](Call& c) { return c.d.beep(kIcdev, 6554); }).gives(-1),
    Row("beep_65535_refused", [](Call& c) { return c.d.beep(kIcdev, 65535); }).gives(-1),
    Row("reset_0_switches_the_field_off", [](Call& c) { return c.d.reset(kIcdev, 0); })
        .sends("04 0D 00", 5000)
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(s.field_offs, 1);
          EXPECT_EQ(s.field_resets, 0);
        }),
    Row("reset_100_field_off_then_reset", [](Call& c) { return c.d.reset(kIcdev, 100); })
        .sends("04 0D 00", 5000)
        .sends("04 00 00", 6000)
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(s.field_offs, 1);
          EXPECT_EQ(s.field_resets, 1);
        }),
    // The reset budget grows with the argument, in 32 bits.
    Row("reset_budget_in_32_bits", [](Call& c) { return c.d.reset(kIcdev, 65535); })
        .sends("04 0D 00", 5000)
        .sends("04 00 00", (65535 + 500) * 10)
        .gives(0),
    Row("reset_sends_its_second_request_when_the_first_fails",
        [](Call& c) { return c.d.reset(kIcdev, 100); })
        .sends("04 0D 00").answer("6A 82 00")
        .sends("04 00 00")
        .gives(0),
    Row("reset_second_request_fails", [](Call& c) { return c.d.reset(kIcdev, 1); })
        .sends("04 0D 00", 5000)
        .sends("04 00 00", 5010).answer("6A 82 00")
        .gives(-2).status(0x6A82),
    Row("light_led_0", [](Call& c) { return c.d.light(kIcdev, 1); })
        .sends("02 00 00 00 01", 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.leds.at(0), 1); }),
    // 256 would reach the reader as 0 and switch the LED off.
    Row("light_256_refused", [](Call& c) { return c.d.light(kIcdev, 256); }).gives(-1),
    Row("ctlbacklight", [](Call& c) { return c.d.ctlbacklight(kIcdev, 1); })
        .sends("08 02 00 01", 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.backlight, 1); }),
    Row("ctlled_on", [](Call& c) { return c.d.ctlled(kIcdev, 3, 1); })
        .sends("02 00 00 03 01", 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.leds.at(3), 1); }),
    Row("ctlled_second_form", [](Call& c) { return c.d.ctlled(kIcdev, 3, 2); })
        .sends("02 01 00 03", 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.led_pulses, std::vector<uint8_t>{3}); }),
    Row("setdevicebaud", [](Call& c) { return c.d.setdevicebaud(kIcdev, 5); })
        .sends("0F 24 00 05", 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.baud_code, 5); }),
    Row("update", [](Call& c) { return c.d.update(kIcdev); })
        .sends("0F 00 00", 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.updates, 1); }),
    Row("resetdevice", [](Call& c) { return c.d.resetdevice(kIcdev); })
        .sends("0F 20 00", 5000)
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.device_resets, 1); }),
};
WIRE_TABLE(R42BuzzerLedsAndResets, R42MemoryReader, kBuzzerLedsAndResets);

const Row kClock[] = {
    // 29 February 2024 is a Thursday.
    Row("gettime_bcd_with_weekday", gettime)
        .given([](State& s) { set_clock(s, 2024, 2, 29, 13, 5, 9); })
        .sends("16 01 00", 5000)
        .gives(0).out("24 04 02 29 13 05 09"),
    Row("gettimehex", gettimehex)
        .given([](State& s) { set_clock(s, 2024, 2, 29, 13, 5, 9); })
        .sends("16 01 00")
        .gives(0).text("24040229130509"),
    Row("gettime_hex", [](Call& c) { return c.d.gettime_hex(kIcdev, c.text()); })
        .given([](State& s) { set_clock(s, 2024, 2, 29, 13, 5, 9); })
        .sends("16 01 00")
        .gives(0).text("24040229130509"),
    // 8 December 2026 is a Tuesday.
    Row("gettimehex_tuesday", gettimehex)
        .given([](State& s) { set_clock(s, 2026, 12, 8, 23, 59, 1); })
        .sends("16 01 00")
        .gives(0).text("26021208235901"),
    Row("getdevicetime_drops_the_weekday",
        [](Call& c) {
          uint8_t* o = c.bytes();
          return c.d.getdevicetime(kIcdev, o, o + 1, o + 2, o + 3, o + 4, o + 5);
        })
        .given([](State& s) { set_clock(s, 2026, 12, 8, 23, 59, 1); })
        .sends("16 01 00")
        .gives(0).out("1A 0C 08 17 3B 01"),
    // The weekday byte is the reader's to work out.
    Row("settime_drops_the_weekday",
        [](Call& c) {
          const uint8_t time[7] = {0x25, 0x03, 0x12, 0x31, 0x23, 0x59, 0x58};
          return c.d.settime(kIcdev, time);
        })
        .sends("16 00 00 07 E9 0C 1F 17 3B 3A", 5000)
        .gives(0),
    Row("settime_hex", [](Call& c) { return c.d.settime_hex(kIcdev, "25031231235958"); })
        .sends("16 00 00 07 E9 0C 1F 17 3B 3A")
        .gives(0),
    // Invalid BCD goes out as the nibble arithmetic gives it.
    Row("settime_invalid_bcd_as_nibbles",
        [](Call& c) {
          const uint8_t time[7] = {0x1A, 0x00, 0x0F, 0x01, 0x00, 0x00, 0x00};
          return c.d.settime(kIcdev, time);
        })
        .sends("16 00 00 07 E4 0F 01 00 00 00")
        .gives(0),
    Row("setdevicetime_six_numbers",
        [](Call& c) { return c.d.setdevicetime(kIcdev, 26, 12, 8, 23, 59, 1); })
        .sends("16 00 00 07 EA 0C 08 17 3B 01")
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(s.year, 2026);
          EXPECT_EQ(s.month, 12);
          EXPECT_EQ(s.day, 8);
        }),
    Row("setdevicetime_month_100_refused",
        [](Call& c) { return c.d.setdevicetime(kIcdev, 24, 100, 1, 0, 0, 0); })
        .gives(-1),
    Row("setdevicetime_second_255_refused",
        [](Call& c) { return c.d.setdevicetime(kIcdev, 24, 1, 1, 0, 0, 255); })
        .gives(-1),
    // Each value becomes two decimal digits; a wider one is refused.
    Row("gettime_second_100_refused", gettime)
        .given([](State& s) { s.second = 100; })
        .sends("16 01 00")
        .gives(-1),
    Row("gettimehex_month_255_refused", gettimehex)
        .given([](State& s) { s.month = 0xFF; })
        .sends("16 01 00")
        .gives(-1),
    // A month of 0 is no calendar month: weekday 0, still two digits each.
    Row("gettimehex_month_0_weekday_0", gettimehex)
        .given([](State& s) { set_clock(s, 2199, 0, 0, 0, 0, 0); })
        .sends("16 01 00")
        .gives(0).text("99000000000000"),
    Row("gettime_reply_one_byte_short", gettime)
        .sends("16 01 00").answer("00 00 00 07 E8 01 01 00 00")
        .gives(-1),
};
WIRE_TABLE(R42Clock, R42MemoryReader, kClock);

// The version probe waits 2000 ms on serial and USB rows, 5000 ms elsewhere;
// testdevicecomm is the same probe.
std::vector<Row> version_rows() {
  std::vector<Row> rows;
  const struct {
    const char* profile;
    int32_t timeout;
  } cases[] = {{"r42-u", 2000},
               {"r42-s115200", 2000},
               {"r42-au", 5000},
               {"r42-pcsc", 5000},
               {"r42-vnet", 5000}};
  for (const auto& v : cases) {
    std::string id(v.profile);
    std::replace(id.begin(), id.end(), '-', '_');
    rows.push_back(Row("getver_" + id, getver)
                       .profile(v.profile)
                       .sends("0F 10 00", v.timeout)
                       .gives(0).text("R42 SIM 1.0"));
    rows.push_back(Row("testdevicecomm_" + id, [](Call& c) { return c.d.testdevicecomm(kIcdev); })
                       .profile(v.profile)
                       .sends("0F 10 00", v.timeout)
                       .gives(0));
  }
  // The probe hands a 256-byte buffer: 255 characters and a NUL at most.
  rows.push_back(Row("getver_text_capped", getver)
                     .given([](State& s) { s.version = std::string(300, 'v'); })
                     .sends("0F 10 00")
                     .gives(0).text(std::string(255, 'v')));
  rows.push_back(Row("getver_empty_text", getver)
                     .given([](State& s) { s.version.clear(); })
                     .sends("0F 10 00")
                     .gives(0).text(""));
  return rows;
}
WIRE_TABLE(R42Version, R42MemoryReader, version_rows());

// The user area starts at EEPROM offset 1500 (05 DC); the device serial is
// the 32 bytes at 1450 (05 AA).
const Row kUserAreaAndSerials[] = {
    Row("swr_eeprom_at_1500",
        [](Call& c) { return c.d.swr_eeprom(kIcdev, 0, 4, kDeadBeef.data()); })
        .sends("05 01 00 00 00 05 DC 00 00 00 04 DE AD BE EF")
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(wire_slice(s.eeprom, 1500, 4), kDeadBeef); }),
    Row("swr_alleeprom", [](Call& c) { return c.d.swr_alleeprom(kIcdev, 10, 4, kDeadBeef.data()); })
        .sends("05 01 00 00 00 05 E6 00 00 00 04 DE AD BE EF")
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(wire_slice(s.eeprom, 1510, 4), kDeadBeef); }),
    Row("srd_alleeprom", [](Call& c) { return c.d.srd_alleeprom(kIcdev, 10, 4, c.bytes()); })
        .given([](State& s) { put(s.eeprom, 1510, kDeadBeef); })
        .sends("05 00 00 00 00 05 E6 00 00 00 04")
        .gives(0).out("DE AD BE EF"),
    Row("srd_eepromhex", [](Call& c) { return c.d.srd_eepromhex(kIcdev, 0, 4, c.text()); })
        .given([](State& s) { put(s.eeprom, 1500, kDeadBeef); })
        .sends("05 00 00 00 00 05 DC 00 00 00 04")
        .gives(0).text("DEADBEEF"),
    Row("srd_eeprom_hex", [](Call& c) { return c.d.srd_eeprom_hex(kIcdev, 10, 4, c.text()); })
        .given([](State& s) { put(s.eeprom, 1510, kDeadBeef); })
        .sends("05 00 00 00 00 05 E6 00 00 00 04")
        .gives(0).text("DEADBEEF"),
    Row("swr_eeprom_hex_lower_case",
        [](Call& c) { return c.d.swr_eeprom_hex(kIcdev, 20, 2, "c0fe"); })
        .sends("05 01 00 00 00 05 F0 00 00 00 02 C0 FE")
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(wire_slice(s.eeprom, 1520, 2), (Bytes{0xC0, 0xFE}));
        }),
    Row("srd_eepromhex_upper_case",
        [](Call& c) { return c.d.srd_eepromhex(kIcdev, 20, 2, c.text()); })
        .given([](State& s) {
          put(s.eeprom, 1520, {0xC0, 0xFE});
        })
        .sends("05 00 00 00 00 05 F0 00 00 00 02")
        .gives(0).text("C0FE"),
    // The user area ends with the EEPROM; offsets that would pass 16 bits too.
    Row("srd_eeprom_past_the_end",
        [](Call& c) { return c.d.srd_eeprom(kIcdev, 16384 - 1500, 1, c.bytes()); })
        .gives(-1),
    Row("srd_eeprom_offset_over_16_bits",
        [](Call& c) { return c.d.srd_eeprom(kIcdev, 32767, 1, c.bytes()); })
        .gives(-1),
    Row("srd_eepromhex_over_the_area",
        [](Call& c) { return c.d.srd_eepromhex(kIcdev, 0, 16385, c.text()); })
        .gives(-1),
    Row("readdevsnr", [](Call& c) { return c.d.readdevsnr(kIcdev, c.text()); })
        .sends("05 00 00 00 00 05 AA 00 00 00 20")
        .gives(0).text("KX000000000000000R42SIM000012345"),
    Row("readreadersnr_last_16", [](Call& c) { return c.d.readreadersnr(kIcdev, c.text()); })
        .sends("05 00 00 00 00 05 AA 00 00 00 20")
        .gives(0).text("0R42SIM000012345"),
    Row("readreadersnr_failure_is_minus_one",
        [](Call& c) { return c.d.readreadersnr(kIcdev, c.text()); })
        .sends("05 00 00 00 00 05 AA 00 00 00 20").answer("6A 82 00")
        .gives(-1),
};
WIRE_TABLE(R42UserAreaAndSerials, R42MemoryReader, kUserAreaAndSerials);

}  // namespace
