#include "family_m6/m6_pos_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame_of(const Bytes& data) {
  PosFrame frame;
  if (!build_pos_frame(data.data(), data.size(), frame)) return {};
  return Bytes(frame.bytes, frame.bytes + frame.size);
}

// The data of an answer, or "refused".
std::string answer_data(const Bytes& answer) {
  ByteCursor data(nullptr, 0);
  if (!read_pos_answer(answer.data(), answer.size(), data)) return "refused";
  return spaced_hex(data.here(), data.remaining());
}

TEST(M6PosFrame, FrameCarriesLengthAndCheck) {
  EXPECT_EQ(spaced_hex(frame_of(WireBytes("0E 06 24 12 31 23 59 58").bytes)),
            "AA 00 00 08 0E 06 24 12 31 23 59 58 8F");
  const Bytes longest = frame_of(Bytes(kPosFrameDataMax, 0x11));
  ASSERT_EQ(longest.size(), kPosFrameMax);
  EXPECT_EQ(spaced_hex(longest.data(), 4), "AA 00 00 FA");
  EXPECT_TRUE(frame_of(Bytes(kPosFrameDataMax + 1, 0x11)).empty());
}

TEST(M6PosFrame, AnswerNeedsStartCheckAndHead) {
  EXPECT_EQ(answer_data(WireBytes("55 00 00 02 90 00 C7").bytes), "90 00");
  EXPECT_EQ(answer_data(WireBytes("55 00 00 00 55").bytes), "");
  EXPECT_EQ(answer_data(WireBytes("54 00 00 02 90 00 C6").bytes), "refused");  // start
  EXPECT_EQ(answer_data(WireBytes("55 00 00 02 90 00 C6").bytes), "refused");  // check
  EXPECT_EQ(answer_data(WireBytes("55 00 00 55").bytes), "refused");           // 4 bytes
  EXPECT_EQ(answer_data({}), "refused");
  EXPECT_TRUE(pos_done(ByteCursor(WireBytes("90 00 33").bytes.data(), 3)));
  EXPECT_FALSE(pos_done(ByteCursor(WireBytes("6A 81").bytes.data(), 2)));
  EXPECT_FALSE(pos_done(ByteCursor(WireBytes("90").bytes.data(), 1)));
}

TEST(M6PosFrame, KeysNeedTheirLengthWithinTheAnswer) {
  struct Case {
    const char* data;
    int16_t result;
    const char* keys;
  } const cases[] = {
      {"A0 04 01 02 03 04", 0, "1234"},
      {"A0 02 0A D0 77", 0, ":\x00"},  // + '0' wraps; bytes after the keys are left
      {"A0 00", 0, ""},
      {"A0", -1, nullptr},  // no length byte
      {"A0 03 01 02", -1, nullptr},
      {"A1 01 01", -1, nullptr},
  };
  for (const Case& c : cases) {
    const Bytes data = WireBytes(c.data).bytes;
    char keys[8] = "xxxxxxx";
    uint8_t count = 0xEE;
    EXPECT_EQ(read_pos_keys(ByteCursor(data.data(), data.size()), &count, keys), c.result)
        << c.data;
    if (c.keys == nullptr) {
      EXPECT_EQ(count, 0xEE) << c.data;
      EXPECT_STREQ(keys, "xxxxxxx") << c.data;
    } else {
      EXPECT_EQ(std::string(keys, count), std::string(c.keys, count)) << c.data;
      EXPECT_EQ(keys[count], '\0') << c.data;
    }
  }
}

TEST(M6PosFrame, BcdBothWays) {
  for (unsigned value = 0; value < 256; ++value) {
    uint8_t bcd = 0xEE, back = 0xEE;
    ASSERT_EQ(to_bcd(uint8_t(value), bcd), value <= 99) << value;
    if (value <= 99) {
      EXPECT_TRUE(from_bcd(bcd, back));
      EXPECT_EQ(back, value);
    }
    EXPECT_EQ(from_bcd(uint8_t(value), back), (value >> 4) <= 9 && (value & 15) <= 9) << value;
  }
  uint8_t bcd = 0;
  ASSERT_TRUE(to_bcd(59, bcd));
  EXPECT_EQ(bcd, 0x59);
}

TEST(M6PosFrame, ClockIsWrittenOnlyWhenEveryFieldDecodes) {
  const Bytes good = WireBytes("F0 07 24 12 31 23 59 58").bytes;
  uint8_t values[kPosClockFields] = {};
  ASSERT_TRUE(read_pos_clock(ByteCursor(good.data(), good.size()), values));
  EXPECT_EQ(Bytes(values, values + 6), (Bytes{24, 12, 31, 23, 59, 58}));
  for (const char* bad : {"F0 07 24 12 31 23 59", "F1 07 24 12 31 23 59 58",
                          "F0 07 24 12 31 23 59 5A", "F0 07 A4 12 31 23 59 58"}) {
    const Bytes data = WireBytes(bad).bytes;
    uint8_t kept[kPosClockFields] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(read_pos_clock(ByteCursor(data.data(), data.size()), kept)) << bad;
    EXPECT_EQ(Bytes(kept, kept + 6), (Bytes{1, 2, 3, 4, 5, 6})) << bad;
  }
}

TEST(M6PosFrame, StripeTrackParityAndDirection) {
  struct Case {
    const char* raw;
    bool ok;
    const char* text;
  } const cases[] = {
      {"0B 01 02 1F", true, ";12?"},
      {"1F 02 01 0B", true, ";12?"},  // swiped backwards
      {"", true, ""},
      {"0B 11 02", false, ";\x11\x02"},  // parity of the second byte; the first stays
      {"0B 01 E2", true, ";12"},  // bits above 4 are no part of the parity
  };
  for (const Case& c : cases) {
    const Bytes raw = WireBytes(c.raw).bytes;
    std::string track(raw.begin(), raw.end());
    EXPECT_EQ(decode_stripe_track(track.data(), track.size()), c.ok) << c.raw;
    EXPECT_EQ(track, std::string(c.text)) << c.raw;
  }
}

// The tracks as "t1|t2|t3", or "refused".
template <typename Parse>
std::string tracks_of(const char* hex, Parse parse) {
  const Bytes bytes = WireBytes(hex).bytes;
  StripeTracks tracks;
  if (!parse(ByteCursor(bytes.data(), bytes.size()), tracks)) return "refused";
  std::string out;
  for (size_t i = 0; i < kStripeTracks; ++i)
    out += (i ? "|" : "") + spaced_hex(tracks.data[i], tracks.length[i]);
  return out;
}

TEST(M6PosFrame, StripeTracksMustLieWithinTheAnswer) {
  const auto all = parse_stripe_lengths_first;
  EXPECT_EQ(tracks_of("00 04 00 3B 31 32 3F", all), "|3B 31 32 3F|");
  EXPECT_EQ(tracks_of("01 01 01 0A 0B 0C 0D", all), "0A|0B|0C");  // a byte after them
  EXPECT_EQ(tracks_of("01 01 02 0A 0B 0C", all), "refused");
  EXPECT_EQ(tracks_of("FF 00 00 01 02", all), "refused");
  EXPECT_EQ(tracks_of("00 00", all), "refused");
  const auto terminal = read_pos_stripe;
  EXPECT_EQ(tracks_of("B0 04 0B 01 02 1F 00", terminal), "|0B 01 02 1F|");
  EXPECT_EQ(tracks_of("B0 01 0B 02 01 02", terminal), "|0B|01 02");
  EXPECT_EQ(tracks_of("B0 01 0B 02 01", terminal), "refused");
  EXPECT_EQ(tracks_of("B0 01 0B", terminal), "refused");  // no length of track 3
  EXPECT_EQ(tracks_of("B1 00 00", terminal), "refused");
}

}  // namespace
