// The POS terminal through the pass-through, the reader's keypad and its
// stripe reader, on canned replies. The sub-frame and track decoders have
// their own cases (m6_pos_frame_test.cpp); these rows cover one answer shape
// or fault class each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using Bytes = std::vector<uint8_t>;

// The pass-through: its request goes alone, then the reply is listened for.
Row mcu(Row row, const char* request, WireBytes reply) {
  row.sends(request, 5000).capacity(0).answer("").sends("").answer(std::move(reply));
  return row;
}
constexpr const char* kDone = "00 07 55 00 00 02 90 00 C7";

// Track outputs as "text|length|..."; an untouched track shows "-|-7".
int32_t magcard(Call& c, uint8_t ctime) {
  char t2[256] = "-", t3[256] = "-";
  int32_t l2 = -7, l3 = -7;
  const int32_t result = c.d.readmagcard(kIcdev, ctime, t2, &l2, t3, &l3);
  c.print("%s|%d|%s|%d", t2, l2, t3, l3);
  return result;
}
int32_t magcard_all(Call& c, uint8_t ctime) {
  char t1[256] = "-", t2[256] = "-", t3[256] = "-";
  int32_t l1 = -7, l2 = -7, l3 = -7;
  const int32_t result = c.d.readmagcardall(kIcdev, ctime, t1, &l1, t2, &l2, t3, &l3);
  c.print("%s|%d|%s|%d|%s|%d", t1, l1, t2, l2, t3, l3);
  return result;
}
// The keypad: its result, then "count:keys".
int32_t keypad(Call& c) {
  uint8_t count = 0xEE;
  char keys[257] = "-";
  const int32_t result = c.d.getinputpass(kIcdev, 30, &count, keys);
  c.print("%d:%s", count, keys);
  return result;
}

const Row kTerminal[] = {
    mcu(Row("clock_set_in_decimal_digits",
            [](Call& c) { return c.d.setdevicetime(kIcdev, 24, 12, 31, 23, 59, 58); }),
        "FA 01 0D AA 00 00 08 0E 06 24 12 31 23 59 58 8F", kDone).gives(0),
    mcu(Row("clock_read_from_decimal_digits",
            [](Call& c) {
              uint8_t* v = c.bytes();
              return c.d.getdevicetime(kIcdev, v, v + 1, v + 2, v + 3, v + 4, v + 5);
            }),
        "FA 01 07 AA 00 00 02 0F 00 A7", "00 0D 55 00 00 08 F0 07 24 12 31 23 59 58 8F").gives(0)
        .out("18 0C 1F 17 3B 3A"),
    mcu(Row("pin_entry_confirmed", [](Call& c) { return c.d.PassIn(kIcdev, 30); }),
        "FA 1E 08 AA 00 00 03 1A 01 1E AC", kDone).gives(0),
    mcu(Row("pin_entry_refused_by_the_terminal", [](Call& c) { return c.d.passin(kIcdev, 30); }),
        "FA 1E 08 AA 00 00 03 1A 01 1E AC", "00 07 55 00 00 02 6A 81 BC").gives(-1),
    mcu(Row("pin_keys_as_text",
            [](Call& c) { return c.d.PassGet(kIcdev, c.bytes(), c.text() + 1); }),
        "FA 01 07 AA 00 00 02 A6 00 0E", "00 0B 55 00 00 06 A0 04 01 02 03 04 F3").gives(0)
        .out({"04", "31 32 33 34 00"}),
    mcu(Row("light_off_is_its_own_command", [](Call& c) { return c.d.ctlbacklight(kIcdev, 0); }),
        "FA 01 07 AA 00 00 02 16 00 BE", kDone).gives(0),
    mcu(Row("answer_with_a_bad_check", [](Call& c) { return c.d.testdevicecomm(kIcdev); }),
        "FA 01 07 AA 00 00 02 0C 00 A4", "00 07 55 00 00 02 90 00 C6").gives(-1),
    mcu(Row("stripe_through_the_terminal", [](Call& c) { return magcard(c, 20); }),
        "FA 14 08 AA 00 00 03 0B 01 14 B7", "00 0C 55 00 00 07 B0 04 0B 01 02 1F 00 F1").gives(0)
        .text(";12?|4||0"),
    // The first track is written, then its second byte fails the parity.
    mcu(Row("stripe_parity_keeps_what_came_before", [](Call& c) { return magcard(c, 20); }),
        "FA 14 08 AA 00 00 03 0B 01 14 B7", "00 0B 55 00 00 06 B0 03 0B 11 02 00 F8").gives(-1)
        .text(";\x11\x02|3|-|-7"),
    // 3 + 246 track bytes: the most a pass-through answer holds.
    mcu(Row("stripe_longest_tracks", [](Call& c) { return magcard(c, 20); }),
        "FA 14 08 AA 00 00 03 0B 01 14 B7",
        {"00 FE 55 00 00 F9 B0 F5", Bytes(245, 0x10), "01 01 F9"}).gives(0)
        .text(std::string(245, '0') + "|245|1|1"),
};
WIRE_TABLE(M6PosTerminal, M6MemoryReader, kTerminal);

const Row kReaderKeypadAndStripe[] = {
    Row("keypad_keys", keypad).sends("EA 1E", 35000).answer("00 A0 04 01 02 03 04").gives(0)
        .text("4:1234"),
    Row("keypad_outcome_code", keypad).sends("EA 1E").answer("00 05 09").gives(5).text("0:"),
    Row("keypad_outcome_zero_is_no_success", keypad).sends("EA 1E").answer("00 00").gives(-1)
        .text("0:"),
    Row("keypad_status", keypad).sends("EA 1E").answer("0B").gives(-2).status(0x0B).text("238:-"),
    Row("stripe_tracks_as_sent", [](Call& c) { return magcard_all(c, 20); }).sends("F3 14", 25000)
        .answer("00 00 04 00 3B 31 32 3F").gives(0).text("|0|;12?|4||0"),
    // 4 + 252 bytes: the most one reader frame carries.
    Row("stripe_longest_tracks_as_sent", [](Call& c) { return magcard_all(c, 20); }).sends("F3 14")
        .answer({"00 FA 01 01", Bytes(250, 'a'), "62 63"}).gives(0)
        .text(std::string(250, 'a') + "|250|b|1|c|1"),
};
WIRE_TABLE(M6PinEntryAndStripe, M6MemoryReader, kReaderKeypadAndStripe);

}  // namespace
