// The POS terminal's sub-frame and the decoders of terminal, keypad and
// stripe answers, on bytes; the main road runs on the wire in
// m6_pos_terminal_test.cpp.
#include "family_m6/m6_pos_frame.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/wire_table.h"

namespace {

ByteCursor cursor(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

// What a decoder made of `hex`: "refused", or its output.
template <typename Decode>
std::string decoded(const char* hex, Decode decode) {
  const std::vector<uint8_t> bytes = WireBytes(hex).bytes;
  return decode(bytes);
}

TEST(M6PosFrame, FrameAndAnswerBounds) {
  PosFrame frame;
  EXPECT_TRUE(build_pos_frame(std::vector<uint8_t>(250).data(), 250, frame));
  EXPECT_EQ(spaced_hex(frame.bytes, 4), "AA 00 00 FA");
  EXPECT_FALSE(build_pos_frame(std::vector<uint8_t>(251).data(), 251, frame));
  auto data = [](const std::vector<uint8_t>& b) -> std::string {
    ByteCursor d(nullptr, 0);
    return read_pos_answer(b.data(), b.size(), d) ? spaced_hex(d.here(), d.remaining())
                                                  : "refused";
  };
  EXPECT_EQ(decoded("55 00 00 00 55", data), "");
  EXPECT_EQ(decoded("54 00 00 02 90 00 C6", data), "refused");  // start byte
  EXPECT_EQ(decoded("55 00 00 55", data), "refused");           // 4 bytes
  EXPECT_FALSE(pos_done(cursor(WireBytes("90").bytes)));
}

TEST(M6PosFrame, KeysOnlyWithTheirLengthWithinTheAnswer) {
  auto keys = [](const std::vector<uint8_t>& b) -> std::string {
    char text[8] = "-";
    uint8_t count = 0xEE;
    if (read_pos_keys(cursor(b), &count, text) != 0)
      return count == 0xEE && std::string(text) == "-" ? "refused" : "written";
    return std::to_string(count) + ":" + std::string(text, count + 1);
  };
  EXPECT_EQ(decoded("A0 02 0A D0 77", keys), std::string("2::\0\0", 5));  // + '0' wraps
  EXPECT_EQ(decoded("A0", keys), "refused");
  EXPECT_EQ(decoded("A0 03 01 02", keys), "refused");
  EXPECT_EQ(decoded("A1 01 01", keys), "refused");
}

TEST(M6PosFrame, DecimalDigitsBothWays) {
  for (unsigned value = 0; value < 256; ++value) {
    uint8_t bcd = 0, back = 0;
    ASSERT_EQ(to_bcd(uint8_t(value), bcd), value <= 99) << value;
    if (value <= 99) {
      EXPECT_TRUE(from_bcd(bcd, back) && back == value) << value;
    }
    EXPECT_EQ(from_bcd(uint8_t(value), back), (value >> 4) <= 9 && (value & 15) <= 9) << value;
  }
  for (const char* bad : {"F0 07 24 12 31 23 59", "F1 07 24 12 31 23 59 58",
                          "F0 07 24 12 31 23 59 5A", "F0 07 A4 12 31 23 59 58"}) {
    uint8_t kept[kPosClockFields] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(read_pos_clock(cursor(WireBytes(bad).bytes), kept)) << bad;
    EXPECT_EQ(spaced_hex(kept, 6), "01 02 03 04 05 06") << bad;
  }
}

TEST(M6PosFrame, StripeTracksWithinTheAnswerAndTheirCharacters) {
  auto tracks = [](bool (*parse)(ByteCursor, StripeTracks&)) {
    return [parse](const std::vector<uint8_t>& b) -> std::string {
      StripeTracks t;
      if (!parse(cursor(b), t)) return "refused";
      return spaced_hex(t.data[0], t.length[0]) + "|" + spaced_hex(t.data[1], t.length[1]) +
             "|" + spaced_hex(t.data[2], t.length[2]);
    };
  };
  const auto all = tracks(parse_stripe_lengths_first);
  EXPECT_EQ(decoded("01 01 01 0A 0B 0C 0D", all), "0A|0B|0C");
  EXPECT_EQ(decoded("01 01 02 0A 0B 0C", all), "refused");
  EXPECT_EQ(decoded("FF 00 00 01 02", all), "refused");
  const auto terminal = tracks(read_pos_stripe);
  EXPECT_EQ(decoded("B0 01 0B 02 01 02", terminal), "|0B|01 02");
  EXPECT_EQ(decoded("B0 01 0B 02 01", terminal), "refused");
  EXPECT_EQ(decoded("B0 01 0B", terminal), "refused");  // no length of track 3
  EXPECT_EQ(decoded("B1 00 00", terminal), "refused");

  struct Case {
    const char* raw;
    bool ok;
    const char* text;
  } const cases[] = {
      {"1F 02 01 0B", true, ";12?"},       // swiped backwards
      {"0B 01 E2", true, ";12"},           // bits above 4 are no part of the parity
      {"0B 11 02", false, ";\x11\x02"},  // the byte before a parity error stays converted
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> raw = WireBytes(c.raw).bytes;
    std::string track(raw.begin(), raw.end());
    EXPECT_EQ(decode_stripe_track(track.data(), track.size()), c.ok) << c.raw;
    EXPECT_EQ(track, c.text) << c.raw;
  }
}

}  // namespace
