#include <climits>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "platform/byte_helpers.h"
#include "test_support.h"

TEST(HexText, ConvertsPairsAndStopsAtTheFirstNonHexCharacter) {
  uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(2, hex_to_bytes("0a1B", 4, out));
  EXPECT_EQ(0x0A, out[0]);
  EXPECT_EQ(0x1B, out[1]);
  EXPECT_EQ(0xEE, out[2]);

  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(1, hex_to_bytes("0a1G", 4, out));
  EXPECT_EQ(0x0A, out[0]);
  EXPECT_EQ(0xEE, out[1]);

  EXPECT_EQ(-1, hex_to_bytes("abc", 3, out));
  EXPECT_EQ(-1, hex_to_bytes("ab", -2, out));
  EXPECT_EQ(0, hex_to_bytes("ab", 0, out));
  EXPECT_EQ(-1, hex_to_bytes(nullptr, 2, out));
  EXPECT_EQ(-1, hex_to_bytes("ab", 2, nullptr));
}

TEST(HexText, BytesAbove0x7FEndTheConversionCleanly) {
  const char text[] = {'4', '1', char(0xC4), char(0xD0), '4', '2'};
  uint8_t out[3] = {};
  EXPECT_EQ(1, hex_to_bytes(text, 6, out));
  EXPECT_EQ(0x41, out[0]);
}

TEST(HexText, ConvertsInPlace) {
  char text[] = "00FF7e81";
  auto* bytes = reinterpret_cast<uint8_t*>(text);
  ASSERT_EQ(4, hex_to_bytes(text, 8, bytes));
  EXPECT_EQ(Bytes({0x00, 0xFF, 0x7E, 0x81}), Bytes(bytes, bytes + 4));
}

TEST(HexText, NeverReadsPastTheTerminatorOfAShortText) {
  // Exactly three bytes on the heap, so a read past the NUL trips ASan.
  std::unique_ptr<char[]> text(new char[3]{'0', 'A', '\0'});
  uint8_t out[4] = {};
  EXPECT_EQ(1, hex_to_bytes(text.get(), 8, out));
  EXPECT_EQ(0x0A, out[0]);
}

TEST(HexText, WritesUpperCaseWithoutATerminator) {
  const uint8_t data[] = {0x00, 0xAB};
  char out[6];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(4, bytes_to_hex(data, 2, out));
  EXPECT_EQ("00AB##", std::string(out, 6));
  EXPECT_EQ(0, bytes_to_hex(data, 0, out));
}

TEST(HexText, OverlappingOutputStillHoldsTheInput) {
  uint8_t buffer[8] = {0x12, 0x9F, 0xE0, 0x01};
  char* out = reinterpret_cast<char*>(buffer);
  ASSERT_EQ(8, bytes_to_hex(buffer, 4, out));
  EXPECT_EQ("129FE001", std::string(out, 8));
}

TEST(HexText, RefusesLengthsWhoseTextWouldOverflow) {
  const uint8_t data[1] = {0x5A};
  char out[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(-1, bytes_to_hex(data, -1, out));
  EXPECT_EQ(-1, bytes_to_hex(data, INT_MAX / 2 + 1, out));
  EXPECT_EQ(-1, bytes_to_hex(data, INT_MAX, out));
  EXPECT_EQ(-1, bytes_to_hex(nullptr, 1, out));
  EXPECT_EQ(-1, bytes_to_hex(data, 1, nullptr));
  EXPECT_EQ("####", std::string(out, 4));
}

TEST(HexText, RoundTripsEveryByteValue) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[size_t(i)] = uint8_t(i);
  std::string text(512, '\0');
  ASSERT_EQ(512, bytes_to_hex(all.data(), 256, text.data()));
  Bytes back(256);
  ASSERT_EQ(256, hex_to_bytes(text.data(), 512, back.data()));
  EXPECT_EQ(all, back);
}

TEST(HexText, ChecksumsAndByteOrder) {
  const uint8_t framed[] = {0x02, 0x00, 0x01};
  EXPECT_EQ(0x03, xor_checksum(framed, 3));
  EXPECT_EQ(0x00, xor_checksum(framed, 0));
  const auto* check = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(0x29B1, crc16_ccitt(check, 9));
  EXPECT_EQ(0xFFFF, crc16_ccitt(check, 0));
  // Not reflected: the reflected variant of the same polynomial gives 0xBB3D.
  EXPECT_EQ(0xFEE8, crc16_umts(check, 9));
  const uint8_t one = 0x01, zeros[5] = {};
  EXPECT_EQ(0x8005, crc16_umts(&one, 1));
  EXPECT_EQ(0, crc16_umts(zeros, 5));
  const uint8_t checked[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xFE, 0xE8};
  EXPECT_EQ(0, crc16_umts(checked, 11));
  EXPECT_EQ(0x3412, swap16(0xAB1234));
  EXPECT_EQ(0x78563412u, swap32(0x12345678));
  EXPECT_TRUE(host_is_little_endian());
  EXPECT_FALSE(host_is_big_endian());
}
