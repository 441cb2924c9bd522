#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>

#include "family_r42/r42_rig.h"
#include "platform/byte_cursor.h"

namespace {

using State = R42ReaderModel::State;

// (offset, length) of each 192-byte-form chunk request the device sent.
std::vector<std::pair<uint32_t, uint32_t>> chunk_fields(const R42Rig& rig) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const Bytes& request : rig.requests()) {
    ByteCursor in(request.data(), request.size());
    uint32_t offset = 0, length = 0;
    in.skip(3);
    EXPECT_TRUE(in.be32(offset) && in.be32(length));
    out.push_back({offset, length});
  }
  return out;
}

// (offset, length) of each multi-flash chunk request.
std::vector<std::pair<uint64_t, uint32_t>> multi_fields(const R42Rig& rig) {
  std::vector<std::pair<uint64_t, uint32_t>> out;
  for (const Bytes& request : rig.requests()) {
    ByteCursor in(request.data(), request.size());
    uint32_t high = 0, low = 0, zero = 1, length = 0;
    in.skip(4);
    EXPECT_TRUE(in.be32(high) && in.be32(low) && in.be32(zero) && in.be32(length));
    EXPECT_EQ(zero, 0u);
    out.push_back({uint64_t(high) << 32 | low, length});
  }
  return out;
}

Bytes pattern(size_t n, uint8_t seed = 1) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(seed + i * 7);
  return out;
}

TEST(R42Memories, EepromBoundsAndChunking) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  Bytes buffer(400);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 16000, 385, buffer.data()), -1);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, -1, 1, buffer.data()), -1);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 0, -1, buffer.data()), -1);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, -32768, 32767, buffer.data()), -1);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 32767, 0, buffer.data()), -1);
  EXPECT_EQ(d->WriteEepromRaw(kIcdev, 16384, 1, buffer.data()), -1);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 16384, 0, buffer.data()), 0);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 0, 0, nullptr), 0);
  EXPECT_EQ(rig.sent(), 0u);

  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 16000, 384, buffer.data()), 0);
  EXPECT_EQ(chunk_fields(rig), (std::vector<std::pair<uint32_t, uint32_t>>{{16000, 192},
                                                                           {16192, 192}}));
  for (int length : {192, 193, 400}) {
    SCOPED_TRACE(length);
    rig.recorder->calls.clear();
    EXPECT_EQ(d->ReadEepromRaw(kIcdev, 0, int16_t(length), buffer.data()), 0);
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    for (int at = 0; at < length; at += 192)
      expected.push_back({uint32_t(at), uint32_t(std::min(192, length - at))});
    EXPECT_EQ(chunk_fields(rig), expected);
    for (const auto& call : rig.recorder->calls) EXPECT_EQ(call.request.size(), 11u);
  }
  rig.recorder->calls.clear();
  const Bytes data = pattern(400);
  EXPECT_EQ(d->WriteEepromRaw(kIcdev, 100, 400, data.data()), 0);
  ASSERT_EQ(rig.sent(), 3u);
  EXPECT_EQ(rig.recorder->calls[0].request.size(), 203u);
  EXPECT_EQ(rig.recorder->calls[2].request.size(), 11u + 16u);
  State s = rig.model.snapshot();
  EXPECT_EQ(Bytes(s.eeprom.begin() + 100, s.eeprom.begin() + 500), data);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 100, 400, buffer.data()), 0);
  EXPECT_EQ(buffer, data);
}

TEST(R42Memories, FailingChunkStopsTheTransferAndKeepsEarlierChunks) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  const Bytes data = pattern(400, 9);
  rig.model.failWithStatus(0x0501, 0x6A82, 2);
  EXPECT_EQ(d->WriteEepromRaw(kIcdev, 0, 400, data.data()), -2);
  EXPECT_EQ(rig.sent(), 2u);
  State s = rig.model.snapshot();
  EXPECT_EQ(Bytes(s.eeprom.begin(), s.eeprom.begin() + 192), Bytes(data.begin(), data.begin() + 192));
  EXPECT_EQ(Bytes(s.eeprom.begin() + 192, s.eeprom.begin() + 400), Bytes(208, 0xFF));

  rig.model.with([&](State& st) { std::copy(data.begin(), data.end(), st.eeprom.begin()); });
  Bytes buffer(400, 0xCC);
  rig.model.failWithStatus(0x0500, 0x0701, 2);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 0, 400, buffer.data()), -2);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 192), Bytes(data.begin(), data.begin() + 192));
  EXPECT_EQ(Bytes(buffer.begin() + 192, buffer.end()), Bytes(208, 0xCC));
  int32_t code = 0;
  EXPECT_EQ(d->GetLastResponseCode(kIcdev, &code), 0);
  EXPECT_EQ(code, 0x0701);

  // A chunk reply one byte short fails with -1.
  rig.model.scriptReply(0x0500, R42ReaderModel::reply(0, 0, Bytes(191, 0x11)), 2);
  EXPECT_EQ(d->ReadEepromRaw(kIcdev, 0, 400, buffer.data()), -1);
}

TEST(R42Memories, OverlongChunkRepliesNeverWritePastTheCallersBuffer) {
  R42Rig rig;
  ASSERT_RIG(rig);
  // 193 bytes asked for: 192 then 1; each reply carries far more.
  Bytes buffer(193 + 32, 0xCC);
  rig.model.scriptReply(0x0500, R42ReaderModel::reply(0, 0, Bytes(1500, 0x11)), 1);
  rig.model.scriptReply(0x0500, R42ReaderModel::reply(0, 0, Bytes(2045, 0x22)), 2);
  EXPECT_EQ(rig.device->ReadEepromRaw(kIcdev, 0, 193, buffer.data()), 0);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 192), Bytes(192, 0x11));
  EXPECT_EQ(buffer[192], 0x22);
  EXPECT_EQ(Bytes(buffer.begin() + 193, buffer.end()), Bytes(32, 0xCC));
}

TEST(R42Memories, FlashAndOutEepromUse32BitChunkOffsets) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  const Bytes data = pattern(512, 3);
  EXPECT_EQ(d->WriteFlash(kIcdev, 0x7FFFFF00, 512, data.data()), 0);
  EXPECT_EQ(chunk_fields(rig), (std::vector<std::pair<uint32_t, uint32_t>>{
                                   {0x7FFFFF00, 192}, {0x7FFFFFC0, 192}, {0x80000080, 128}}));
  rig.recorder->calls.clear();
  Bytes back(512);
  EXPECT_EQ(d->ReadFlash(kIcdev, 0x7FFFFF00, 512, back.data()), 0);
  EXPECT_EQ(back, data);
  EXPECT_EQ(rig.requests()[2][0], 0x05);
  EXPECT_EQ(rig.requests()[2][1], 0x08);
  // Never written bytes read as erased.
  EXPECT_EQ(d->ReadOutEeprom(kIcdev, 0x40000000, 4, back.data()), 0);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 4), Bytes(4, 0xFF));
  EXPECT_EQ(d->WriteOutEeprom(kIcdev, 0x7FFFFFFF, 0x7FFFFFFF, nullptr), -1);
  EXPECT_EQ(d->WriteOutEeprom(kIcdev, 5, 3, data.data()), 0);
  EXPECT_EQ(d->ReadOutEeprom(kIcdev, 4, 5, back.data()), 0);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 5), (Bytes{0xFF, data[0], data[1], data[2], 0xFF}));
  State s = rig.model.snapshot();
  EXPECT_EQ(s.out_eeprom.size(), 3u);
  rig.recorder->calls.clear();
  EXPECT_EQ(d->ReadFlash(kIcdev, -1, 4, back.data()), -1);
  EXPECT_EQ(d->ReadFlash(kIcdev, 0, -4, back.data()), -1);
  EXPECT_EQ(d->WriteOutEeprom(kIcdev, INT32_MIN, 4, data.data()), -1);
  EXPECT_EQ(d->ReadFlash(kIcdev, INT32_MAX, 0, back.data()), 0);
  EXPECT_EQ(rig.sent(), 0u);
}

TEST(R42Memories, FlashEraseBounds) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  EXPECT_EQ(d->FlashErase(kIcdev, -1), -1);
  EXPECT_EQ(d->FlashErase(kIcdev, 65536), -1);
  EXPECT_EQ(rig.sent(), 0u);
  EXPECT_EQ(d->FlashErase(kIcdev, 65535), 0);
  EXPECT_EQ(rig.last().request, (Bytes{0x05, 0x07, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(rig.last().timeout_ms, 60000);

  const Bytes data = pattern(8);
  EXPECT_EQ(d->WriteFlash(kIcdev, 4096 + 10, 8, data.data()), 0);
  EXPECT_EQ(d->FlashErase(kIcdev, 1), 0);
  Bytes back(8);
  EXPECT_EQ(d->ReadFlash(kIcdev, 4096 + 10, 8, back.data()), 0);
  EXPECT_EQ(back, Bytes(8, 0xFF));

  EXPECT_EQ(d->MultiFlashErase(kIcdev, 0, int32_t(0x80000001u)), -2);  // past the region
  EXPECT_EQ(rig.last().request, (Bytes{0x05, 0x16, 0x00, 0x00, 0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(rig.last().timeout_ms, 60000);
}

TEST(R42Memories, MultiFlashChunksCarryAndBounds) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  Bytes buffer(3840 + 16, 0xCC);
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, 0, 0, 0, 0, buffer.data()), 0);
  EXPECT_EQ(rig.sent(), 0u);
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, 0, 100, 0, 1921, buffer.data()), 0);
  EXPECT_EQ(multi_fields(rig), (std::vector<std::pair<uint64_t, uint32_t>>{{100, 1920},
                                                                           {2020, 1}}));
  EXPECT_EQ(rig.requests()[0].size(), 20u);
  EXPECT_EQ(rig.requests()[0][3], 1);  // region type

  // 0x1FFFFF880 + 1920 carries into the high half.
  rig.recorder->calls.clear();
  const Bytes data = pattern(3840, 5);
  EXPECT_EQ(d->MultiFlashWrite(kIcdev, 1, 1, int32_t(0xFFFFF880u), 0, 3840, data.data()), 0);
  EXPECT_EQ(multi_fields(rig), (std::vector<std::pair<uint64_t, uint32_t>>{
                                   {0x1FFFFF880ull, 1920}, {0x200000000ull, 1920}}));
  EXPECT_EQ(rig.requests()[0].size(), 1940u);
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, 1, int32_t(0xFFFFF880u), 0, 3840, buffer.data()), 0);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3840), data);
  EXPECT_EQ(Bytes(buffer.begin() + 3840, buffer.end()), Bytes(16, 0xCC));

  // Ranges that would wrap past 2^64 never reach the wire; one that ends
  // exactly there does (this region is smaller, so the reader refuses it).
  rig.recorder->calls.clear();
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, -1, int32_t(0xFFFFF880u), 0, 0x781, buffer.data()), -1);
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, -1, -1, -1, -1, buffer.data()), -1);
  EXPECT_EQ(d->MultiFlashWrite(kIcdev, 1, 0, 2, -1, -1, data.data()), -1);
  EXPECT_EQ(rig.sent(), 0u);
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, -1, int32_t(0xFFFFF880u), 0, 0x780, buffer.data()), -2);
  EXPECT_EQ(multi_fields(rig), (std::vector<std::pair<uint64_t, uint32_t>>{
                                   {0xFFFFFFFFFFFFF880ull, 0x780}}));

  // Halves above 2^31 are unsigned, never sign-extended.
  rig.recorder->calls.clear();
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, 0, int32_t(0x80000000u), 0, 4, buffer.data()), 0);
  EXPECT_EQ(multi_fields(rig), (std::vector<std::pair<uint64_t, uint32_t>>{{0x80000000ull, 4}}));

  // Short chunk reply on the second chunk.
  rig.model.scriptReply(0x0517, R42ReaderModel::reply(0, 0, Bytes(1919)), 2);
  EXPECT_EQ(d->MultiFlashRead(kIcdev, 1, 0, 0, 0, 3840, buffer.data()), -1);
}

TEST(R42Memories, MultiFlashRegionSize) {
  R42Rig rig;
  ASSERT_RIG(rig);
  int32_t high = 7, low = 7;
  EXPECT_EQ(rig.device->MultiFlashGetSize(kIcdev, 2, &high, &low), 0);
  EXPECT_EQ(rig.last().request, (Bytes{0x05, 0x19, 0x00, 0x02}));
  EXPECT_EQ(uint32_t(high), 0x1234u);
  EXPECT_EQ(uint32_t(low), 0x56789ABCu);
  EXPECT_EQ(rig.device->MultiFlashGetSize(kIcdev, 9, &high, &low), -2);
  rig.model.scriptReply(0x0519, R42ReaderModel::reply(0, 0, Bytes(7, 0x01)));
  high = low = 7;
  EXPECT_EQ(rig.device->MultiFlashGetSize(kIcdev, 2, &high, &low), -1);
  EXPECT_EQ(high, 7);
  EXPECT_EQ(low, 7);
}

}  // namespace
