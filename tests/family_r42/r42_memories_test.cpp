// The reader's memories in chunks: EEPROM, data flash, out EEPROM and the
// multi-region flash, one row per call.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;

template <typename Key>
void put_sparse(std::map<Key, uint8_t>& memory, Key at, const Bytes& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) memory[Key(at + i)] = bytes[i];
}

template <typename Key>
Bytes get_sparse(const std::map<Key, uint8_t>& memory, Key at, size_t n) {
  Bytes out(n, 0xFF);
  for (size_t i = 0; i < n; ++i) {
    auto it = memory.find(Key(at + i));
    if (it != memory.end()) out[i] = it->second;
  }
  return out;
}

Row::Call read_eeprom(int16_t offset, int16_t length) {
  return [=](Call& c) { return c.d.ReadEepromRaw(kIcdev, offset, length, c.bytes()); };
}

Row::Call read_multi(int32_t offset_h, int32_t offset_l, int32_t length_h, int32_t length_l) {
  return [=](Call& c) {
    return c.d.MultiFlashRead(kIcdev, 1, offset_h, offset_l, length_h, length_l, c.bytes());
  };
}

// Both halves of the size, as text; each 7 unless written.
Row::Call region_size(uint8_t type) {
  return [=](Call& c) {
    int32_t high = 7, low = 7;
    const int16_t result = c.d.MultiFlashGetSize(kIcdev, type, &high, &low);
    c.print("%08X %08X", uint32_t(high), uint32_t(low));
    return result;
  };
}

const Bytes kData400 = wire_pattern(400, 1);
const Bytes kData400b = wire_pattern(400, 9);
const Bytes kFlash512 = wire_pattern(512, 3);
const Bytes kMulti3840 = wire_pattern(3840, 5);

// Chunks of 192 bytes: [code][00][offset BE32][length BE32], data after a
// write's header. A length of 0 goes nowhere; bounds are checked first.
const Row kEeprom[] = {
    Row("read_past_the_end_refused", read_eeprom(16000, 385)).gives(-1),
    Row("read_negative_offset_refused", read_eeprom(-1, 1)).gives(-1),
    Row("read_negative_length_refused", read_eeprom(0, -1)).gives(-1),
    Row("read_wrapping_range_refused", read_eeprom(-32768, 32767)).gives(-1),
    Row("read_offset_past_the_end_refused_even_empty", read_eeprom(32767, 0)).gives(-1),
    Row("write_past_the_end_refused",
        [](Call& c) { return c.d.WriteEepromRaw(kIcdev, 16384, 1, kData400.data()); })
        .gives(-1),
    Row("read_empty_at_the_end", read_eeprom(16384, 0)).gives(0),
    Row("read_empty_without_buffer",
        [](Call& c) { return c.d.ReadEepromRaw(kIcdev, 0, 0, nullptr); })
        .gives(0),
    Row("read_up_to_the_end", read_eeprom(16000, 384))
        .sends("05 00 00 00 00 3E 80 00 00 00 C0")
        .sends("05 00 00 00 00 3F 40 00 00 00 C0")
        .gives(0).out(Bytes(384, 0xFF)),
    Row("read_one_whole_chunk", read_eeprom(0, 192))
        .sends("05 00 00 00 00 00 00 00 00 00 C0")
        .gives(0).out(Bytes(192, 0xFF)),
    Row("read_whole_chunk_and_one", read_eeprom(0, 193))
        .sends("05 00 00 00 00 00 00 00 00 00 C0")
        .sends("05 00 00 00 00 00 C0 00 00 00 01")
        .gives(0).out(Bytes(193, 0xFF)),
    Row("read_400_in_three_chunks", read_eeprom(0, 400))
        .sends("05 00 00 00 00 00 00 00 00 00 C0")
        .sends("05 00 00 00 00 00 C0 00 00 00 C0")
        .sends("05 00 00 00 00 01 80 00 00 00 10")
        .gives(0).out(Bytes(400, 0xFF)),
    Row("write_400_in_three_chunks",
        [](Call& c) { return c.d.WriteEepromRaw(kIcdev, 100, 400, kData400.data()); })
        .sends({"05 01 00 00 00 00 64 00 00 00 C0", wire_slice(kData400, 0, 192)})
        .sends({"05 01 00 00 00 01 24 00 00 00 C0", wire_slice(kData400, 192, 192)})
        .sends({"05 01 00 00 00 01 E4 00 00 00 10", wire_slice(kData400, 384, 16)})
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(wire_slice(s.eeprom, 100, 400), kData400); }),
    Row("read_400_back", read_eeprom(100, 400))
        .given(
            [](State& s) { std::copy(kData400.begin(), kData400.end(), s.eeprom.begin() + 100); })
        .sends("05 00 00 00 00 00 64 00 00 00 C0")
        .sends("05 00 00 00 00 01 24 00 00 00 C0")
        .sends("05 00 00 00 00 01 E4 00 00 00 10")
        .gives(0).out(kData400),
    // Transfers are not atomic: chunks before a failing one stay done.
    Row("write_stops_at_the_failing_chunk",
        [](Call& c) { return c.d.WriteEepromRaw(kIcdev, 0, 400, kData400b.data()); })
        .sends({"05 01 00 00 00 00 00 00 00 00 C0", wire_slice(kData400b, 0, 192)})
        .sends({"05 01 00 00 00 00 C0 00 00 00 C0", wire_slice(kData400b, 192, 192)})
        .answer("6A 82 00")
        .gives(-2)
        .then([](const State& s) {
          EXPECT_EQ(wire_slice(s.eeprom, 0, 192), wire_slice(kData400b, 0, 192));
          EXPECT_EQ(wire_slice(s.eeprom, 192, 208), Bytes(208, 0xFF));
        }),
    Row("read_keeps_the_chunks_before_a_failing_one", read_eeprom(0, 400))
        .given([](State& s) { std::copy(kData400b.begin(), kData400b.end(), s.eeprom.begin()); })
        .sends("05 00 00 00 00 00 00 00 00 00 C0")
        .sends("05 00 00 00 00 00 C0 00 00 00 C0").answer("07 01 00")
        .gives(-2).out(wire_slice(kData400b, 0, 192)).status(0x0701),
    Row("read_chunk_reply_one_byte_short", read_eeprom(0, 400))
        .sends("05 00 00 00 00 00 00 00 00 00 C0")
        .sends("05 00 00 00 00 00 C0 00 00 00 C0").answer({"00 00 00", Bytes(191, 0x11)})
        .gives(-1).out(Bytes(192, 0xFF)),
    // Replies carrying far more than asked never write past the chunk.
    Row("read_overlong_chunk_replies", read_eeprom(0, 193))
        .sends("05 00 00 00 00 00 00 00 00 00 C0").answer({"00 00 00", Bytes(1500, 0x11)})
        .sends("05 00 00 00 00 00 C0 00 00 00 01").answer({"00 00 00", Bytes(2045, 0x22)})
        .gives(0).out({Bytes(192, 0x11), "22"}),
};
WIRE_TABLE(R42Eeprom, R42MemoryReader, kEeprom);

// Data flash (05 08/09) and out EEPROM (05 0A/0B): 32-bit offsets, no
// bound of the host's own.
const Row kFlashAndOutEeprom[] = {
    Row("flash_write_crosses_2_31",
        [](Call& c) { return c.d.WriteFlash(kIcdev, 0x7FFFFF00, 512, kFlash512.data()); })
        .sends({"05 09 00 7F FF FF 00 00 00 00 C0", wire_slice(kFlash512, 0, 192)})
        .sends({"05 09 00 7F FF FF C0 00 00 00 C0", wire_slice(kFlash512, 192, 192)})
        .sends({"05 09 00 80 00 00 80 00 00 00 80", wire_slice(kFlash512, 384, 128)})
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(get_sparse(s.flash, 0x7FFFFF00u, 512), kFlash512); }),
    Row("flash_read_crosses_2_31",
        [](Call& c) { return c.d.ReadFlash(kIcdev, 0x7FFFFF00, 512, c.bytes()); })
        .given([](State& s) { put_sparse(s.flash, 0x7FFFFF00u, kFlash512); })
        .sends("05 08 00 7F FF FF 00 00 00 00 C0")
        .sends("05 08 00 7F FF FF C0 00 00 00 C0")
        .sends("05 08 00 80 00 00 80 00 00 00 80")
        .gives(0).out(kFlash512),
    Row("out_eeprom_never_written_reads_erased",
        [](Call& c) { return c.d.ReadOutEeprom(kIcdev, 0x40000000, 4, c.bytes()); })
        .sends("05 0A 00 40 00 00 00 00 00 00 04")
        .gives(0).out("FF FF FF FF"),
    Row("out_eeprom_write_without_data_refused",
        [](Call& c) { return c.d.WriteOutEeprom(kIcdev, 0x7FFFFFFF, 0x7FFFFFFF, nullptr); })
        .gives(-1),
    Row("out_eeprom_write",
        [](Call& c) { return c.d.WriteOutEeprom(kIcdev, 5, 3, kFlash512.data()); })
        .sends({"05 0B 00 00 00 00 05 00 00 00 03", wire_slice(kFlash512, 0, 3)})
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(s.out_eeprom.size(), 3u);
          EXPECT_EQ(get_sparse(s.out_eeprom, 5u, 3), wire_slice(kFlash512, 0, 3));
        }),
    Row("out_eeprom_read_around_written_bytes",
        [](Call& c) { return c.d.ReadOutEeprom(kIcdev, 4, 5, c.bytes()); })
        .given([](State& s) { put_sparse(s.out_eeprom, 5u, wire_slice(kFlash512, 0, 3)); })
        .sends("05 0A 00 00 00 00 04 00 00 00 05")
        .gives(0).out({"FF", wire_slice(kFlash512, 0, 3), "FF"}),
    Row("flash_read_negative_offset_refused",
        [](Call& c) { return c.d.ReadFlash(kIcdev, -1, 4, c.bytes()); })
        .gives(-1),
    Row("flash_read_negative_length_refused",
        [](Call& c) { return c.d.ReadFlash(kIcdev, 0, -4, c.bytes()); })
        .gives(-1),
    Row("out_eeprom_write_negative_offset_refused",
        [](Call& c) { return c.d.WriteOutEeprom(kIcdev, INT32_MIN, 4, kFlash512.data()); })
        .gives(-1),
    Row("flash_read_empty_at_the_top",
        [](Call& c) { return c.d.ReadFlash(kIcdev, INT32_MAX, 0, c.bytes()); })
        .gives(0),
    Row("flash_erase_negative_refused", [](Call& c) { return c.d.FlashErase(kIcdev, -1); })
        .gives(-1),
    Row("flash_erase_over_16_bits_refused", [](Call& c) { return c.d.FlashErase(kIcdev, 65536); })
        .gives(-1),
    Row("flash_erase_last_sector", [](Call& c) { return c.d.FlashErase(kIcdev, 65535); })
        .sends("05 07 00 FF FF", 60000)
        .gives(0),
    Row("flash_erase_clears_its_sector", [](Call& c) { return c.d.FlashErase(kIcdev, 1); })
        .given([](State& s) { put_sparse(s.flash, 4096u + 10, wire_pattern(8, 1)); })
        .sends("05 07 00 00 01", 60000)
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(get_sparse(s.flash, 4096u + 10, 8), Bytes(8, 0xFF));
          EXPECT_EQ(s.erased_flash_sectors, std::vector<uint16_t>{1});
        }),
    Row("multi_flash_erase_past_the_region",
        [](Call& c) { return c.d.MultiFlashErase(kIcdev, 0, int32_t(0x80000001u)); })
        .sends("05 16 00 00 80 00 00 01", 60000)
        .gives(-2),
};
WIRE_TABLE(R42FlashAndOutEeprom, R42MemoryReader, kFlashAndOutEeprom);

// Multi-region flash: [type][offset high BE32][low BE32][00000000][length
// BE32] in chunks of 1920 (07 80); region 1 holds 2^40 bytes.
const Row kMultiFlash[] = {
    Row("read_empty", read_multi(0, 0, 0, 0)).gives(0),
    Row("read_whole_chunk_and_one", read_multi(0, 100, 0, 1921))
        .sends("05 17 00 01 00 00 00 00 00 00 00 64 00 00 00 00 00 00 07 80")
        .sends("05 17 00 01 00 00 00 00 00 00 07 E4 00 00 00 00 00 00 00 01")
        .gives(0).out(Bytes(1921, 0xFF)),
    // 0x1FFFFF880 + 1920 carries into the high half.
    Row("write_carries_into_the_high_half",
        [](Call& c) {
          return c.d.MultiFlashWrite(kIcdev, 1, 1, int32_t(0xFFFFF880u), 0, 3840,
                                     kMulti3840.data());
        })
        .sends({"05 18 00 01 00 00 00 01 FF FF F8 80 00 00 00 00 00 00 07 80",
                wire_slice(kMulti3840, 0, 1920)})
        .sends({"05 18 00 01 00 00 00 02 00 00 00 00 00 00 00 00 00 00 07 80",
                wire_slice(kMulti3840, 1920, 1920)})
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(get_sparse(s.multi_flash.at(1).bytes, uint64_t(0x1FFFFF880ull), 3840),
                    kMulti3840);
        }),
    Row("read_carries_into_the_high_half", read_multi(1, int32_t(0xFFFFF880u), 0, 3840))
        .given([](State& s) {
          put_sparse(s.multi_flash.at(1).bytes, uint64_t(0x1FFFFF880ull), kMulti3840);
        })
        .sends("05 17 00 01 00 00 00 01 FF FF F8 80 00 00 00 00 00 00 07 80")
        .sends("05 17 00 01 00 00 00 02 00 00 00 00 00 00 00 00 00 00 07 80")
        .gives(0).out(kMulti3840),
    // Ranges that would wrap past 2^64 never reach the wire; one that ends
    // exactly there does (this region is smaller, so the reader refuses it).
    Row("read_wrapping_past_2_64_refused", read_multi(-1, int32_t(0xFFFFF880u), 0, 0x781))
        .gives(-1),
    Row("read_all_ones_refused", read_multi(-1, -1, -1, -1)).gives(-1),
    Row("write_wrapping_refused",
        [](Call& c) { return c.d.MultiFlashWrite(kIcdev, 1, 0, 2, -1, -1, kMulti3840.data()); })
        .gives(-1),
    Row("read_ending_at_2_64", read_multi(-1, int32_t(0xFFFFF880u), 0, 0x780))
        .sends("05 17 00 01 FF FF FF FF FF FF F8 80 00 00 00 00 00 00 07 80")
        .gives(-2),
    // Halves above 2^31 are unsigned, never sign-extended.
    Row("read_low_half_unsigned", read_multi(0, int32_t(0x80000000u), 0, 4))
        .sends("05 17 00 01 00 00 00 00 80 00 00 00 00 00 00 00 00 00 00 04")
        .gives(0).out("FF FF FF FF"),
    Row("read_second_chunk_short", read_multi(0, 0, 0, 3840))
        .sends("05 17 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 07 80")
        .sends("05 17 00 01 00 00 00 00 00 00 07 80 00 00 00 00 00 00 07 80")
        .answer({"00 00 00", Bytes(1919, 0x00)})
        .gives(-1).out(Bytes(1920, 0xFF)),
    Row("region_size", region_size(2)).sends("05 19 00 02").gives(0).text("00001234 56789ABC"),
    Row("region_unknown", region_size(9)).sends("05 19 00 09").gives(-2).text("00000007 00000007"),
    Row("region_size_reply_short", region_size(2))
        .sends("05 19 00 02").answer("00 00 00 01 01 01 01 01 01 01")
        .gives(-1).text("00000007 00000007"),
};
WIRE_TABLE(R42MultiFlash, R42MemoryReader, kMultiFlash);

}  // namespace
