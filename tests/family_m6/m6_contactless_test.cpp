// m6 type-B cards, ISO/IEC 15693 and other tags, card presence and the
// identity-card serial: canned replies, one row per reply shape or fault.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using State = M6ReaderModel::State;
using Bytes = std::vector<uint8_t>;

const char* kUidText = "E004010012345678";
const char* kUid = "E0 04 01 00 12 34 56 78";
const Bytes kAtqb = {0x50, 0x11, 0x22, 0x33, 0x44, 0xA1, 0xA2, 0xA3, 0xA4, 0x00, 0x71, 0x85};

// 15693 write of d0-d3 to block 4; the reader answers `status`.
Row write_block(std::string name, const char* status, uint8_t wlen = 4) {
  return Row(std::move(name), [wlen](Call& c) {
           const uint8_t uid[8] = {0xE0, 0x04, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78};
           const uint8_t data[4] = {0xD0, 0xD1, 0xD2, 0xD3};
           return c.d.writeblock(kIcdev, 0x22, 4, 1, uid, wlen, data);
         })
      .sends({"96 22 04 01", wire_slice({0xD0, 0xD1, 0xD2, 0xD3}, 0, wlen), kUid})
      .answer(status);
}
const char* kReadBack = "95 22 04 01 E0 04 01 00 12 34 56 78";
// SHC1102 write of 01-04 to block 3, read back as `read_back`.
Row shc1102_write(std::string name, const char* read_back) {
  return Row(std::move(name),
             [](Call& c) { return c.d.write_shc1102(kIcdev, 3, hx("01 02 03 04").data()); })
      .sends("C3 03 01 02 03 04").answer("01")
      .sends("C2 03").answer(read_back);
}

// The call's length, then its bytes, as text "n: bytes".
Row::Call with_length(std::function<int16_t(ReaderDevice&, int32_t*, uint8_t*)> call) {
  return [call](Call& c) {
    int32_t n = -1;
    uint8_t bytes[64];
    const int16_t r = call(c.d, &n, bytes);
    if (r == 0) c.print("%d: %s", n, spaced_hex(bytes, size_t(n)).c_str());
    return r;
  };
}

const Row kRows[] = {
    // ISO/IEC 15693
    Row("inventory_flag_bytes_and_answer",
        [](Call& c) {
          uint8_t n = 0;
          return c.d.inventory_hex(kIcdev, 0x26, 0, 0, &n, c.text());
        })
        .sends("91 26 00 00").answer("00 03 AA BB CC")
        .gives(0).text("AABBCC"),
    Row("read_block_as_text",
        [](Call& c) {
          uint8_t n = 0;
          return c.d.readblock_hex(kIcdev, 0x22, 4, 1, kUidText, &n, c.text());
        })
        .sends(kReadBack).answer("00 04 01 02 03 04")
        .gives(0).text("01020304"),
    write_block("write_unconfirmed_reads_back_other_data", "7D")
        .sends(kReadBack).answer("00 04 D0 D1 D2 00").gives(1),
    // Unconfirmed: the bytes written (4 at most) are read back and compared;
    // none at all leaves nothing to confirm.
    write_block("write_two_bytes_unconfirmed", "7D", 2)
        .sends(kReadBack).answer("00 04 D0 D1 EE EE").gives(0),
    write_block("write_nothing_unconfirmed", "7D", 0).gives(-2).status(125),
    // Other tags
    shc1102_write("shc1102_write_read_back_equal", "00 01 02 03 04").gives(0),
    shc1102_write("shc1102_write_read_back_other", "00 01 02 03 05").gives(-1),
    Row("fm11rf005_serial_without_anticollision", [](Call& c) {
          uint32_t snr = 0;
          const int16_t r = c.d.card_fm11rf005(kIcdev, 0, &snr);
          c.print("%08X", unsigned(snr));
          return r;
        })
        .sends("41 00").answer("00 05 00").sends("43 00 00 00 00").answer("01")
        .sends("C5 01").answer("00 DE AD BE EF")
        .gives(0).text("EFBEADDE"),
    // Type B
    Row("request_b_wake_up_kept_as_the_last_answer",
        with_length([](ReaderDevice& d, int32_t* n, uint8_t* b) {
          EXPECT_EQ(d.request_b(kIcdev, 1, 0, 0, b), 0);
          return d.ReadRfTypeABATS(kIcdev, n, b);
        }))
        .sends("88 08 00 00").answer({"00", kAtqb})
        .gives(0).text("13: 50 11 22 33 44 A1 A2 A3 A4 00 71 85 00"),
    Row("request_b_mode_2_tried_twice",
        [](Call& c) { return c.d.request_b(kIcdev, 2, 0, 0, c.bytes()); })
        .sends("88 00 00 00").answer("01")
        .sends("88 00 00 00").answer({"00", kAtqb})
        .gives(0).out({kAtqb, "00"}),
    Row("slot_marker_past_32_bytes",
        [](Call& c) { return c.d.slotmarker(kIcdev, 2, c.bytes()); })
        .sends("89 02").answer({"00", Bytes(33, 0x5A)})
        .gives(-1),
    Row("config_card_b_on_a_silent_reader", [](Call& c) { return c.d.config_card(kIcdev, 'B'); })
        .sends("41 00").fails().sends("87 42").fails()
        .gives(0),
    // Presence
    Row("card_status_byte_ff", [](Call& c) { return c.d.card_status(kIcdev); })
        .sends("EF").answer("00 FF").gives(255),
    Row("seven_byte_serial", with_length([](ReaderDevice& d, int32_t* n, uint8_t* b) {
          return d.card_n(kIcdev, 0, n, b);
        }))
        .sends("41 00").answer("00 44 00").sends("42 00 00 00 00 00").answer("00 88 04 11 22")
        .sends("43 88 04 11 22").answer("00 04").sends("A2 00 00 00 00 00").answer("00 33 44 55 66")
        .sends("A3 33 44 55 66").answer("00 08")
        .gives(0).text("7: 04 11 22 33 44 55 66"),
    Row("idcard_info_whole_seconds",
        with_length([](ReaderDevice& d, int32_t* n, uint8_t* b) {
          return d.ReadIdCardInfo(kIcdev, 2500, n, b);
        }))
        .sends("C8 02", 7000).answer("00 01 02 03 04 05")
        .gives(0).text("5: 01 02 03 04 05"),
    // Neither time fits the one-byte seconds, nor 254 bytes the frame.
    Row("idcard_info_time_past_a_byte", with_length([](ReaderDevice& d, int32_t* n, uint8_t* b) {
          const int16_t high = d.ReadIdCardInfo(kIcdev, 256000, n, b);
          return high == d.ReadIdCardInfo(kIcdev, -1, n, b) ? high : 0;
        }))
        .gives(-1),
    Row("ntag_data_past_one_frame", with_length([](ReaderDevice& d, int32_t* n, uint8_t* b) {
          return d.NtagCommand(kIcdev, 1, 2, 254, b, n, b);
        }))
        .gives(-1),
    Row("anticollision_with_mode", [](Call& c) {
          int32_t snr = 0x04030201;
          const int16_t r = c.d.anticoll_mode(kIcdev, 1, 0, &snr);
          c.print("%08X", unsigned(snr));
          return r;
        })
        .sends("59 01 00 01 02 03 04").answer("00 11 22 33 44")
        .gives(0).text("44332211"),
    Row("key_pad_value_waits_its_time",
        [](Call& c) { return c.d.pass_key_value(kIcdev, 5, c.text()); })
        .sends("01 05 01 82", 10000).answer("00 03 31 32 33")
        .gives(0).text("123"),
    // MulticardStatus: each state the reader reports; only 01 gives a type.
    Row("multicard_states", [](Call& c) {
          int16_t r[4];
          uint8_t type = 0;
          for (int16_t& result : r) result = c.d.MulticardStatus(kIcdev, &type);
          c.print("%d %d %d %d %02X", r[0], r[1], r[2], r[3], type);
          return 0;
        })
        .sends("4F").answer("00 00 0A").sends("4F").answer("00 01 0B")
        .sends("4F").answer("00 02 0C").sends("4F").answer("00 03 0D")
        .gives(0).text("1 0 2 -1 0B"),
};
WIRE_TABLE(M6Contactless, M6MemoryReader, kRows);

// ATTRIB is a card frame: sent alone, its answer taken on a receive.
Row card_frame(Row row, WireBytes frame, WireBytes answer) {
  return row.sends(std::move(frame)).capacity(0).sends("").answer(std::move(answer));
}
// cardAB's outputs: length and type, then the answer.
int32_t card_ab(Call& c) {
  uint8_t length = 0, type = 0;
  const int16_t r = c.d.cardAB(kIcdev, &length, c.bytes() + 2, &type);
  c.bytes()[0] = length, c.bytes()[1] = type;
  return r;
}
// The identity card's serial; `answer` to the serial request.
Row id_serial(std::string name, WireBytes answer) {
  Row row = Row(std::move(name), [](Call& c) { return c.d.get_idsnr_hex(kIcdev, c.text()); });
  row.sends("4E 0A 00").answer("00").sends("41 00").answer("01").sends("41 00").answer("01")
      .sends("87 42").answer("00");
  row = card_frame(row, "86 03 03 05 00 00", {"00 0C", kAtqb});
  row = card_frame(row, "86 05 09 1D 00 00 00 00 00 08 01 08", "00 01 00");
  return card_frame(row, "86 07 05 00 36 00 00 08", std::move(answer));
}
// ATTRIB after init, on the simulated SP0 reader (param 2 07) or a newer
// one (08).
Row attrib(std::string name, bool newer) {
  Row row(std::move(name), [newer](Call& c) {
    c.d.init(0, 0);
    const Bytes pupi = hx("11 22 33 44");
    return newer ? c.d.attribInt(kIcdev, pupi.data(), 0x13) : c.d.attrib(kIcdev, pupi.data(), 0x13);
  });
  if (newer) row.given([](State& s) { s.version[0] = 'L', s.version[1] = 'C'; });
  return card_frame(row.sends("80").sends("FC"),
                    {"86 05 09 1D 11 22 33 44 00", newer ? "08" : "07", "01 03"}, "00 01 00")
      .gives(0);
}

const Row kFlows[] = {
    attrib("attrib_under_sp0", false),
    attrib("attrib_of_a_newer_reader", true),
    Row("card_ab_type_a", card_ab)
        .sends("4E 0A 00").answer("00").sends("87 41").answer("00")
        .sends("41 00").answer("00 04 00").sends("42 00 00 00 00 00").answer("00 11 22 33 44")
        .sends("43 11 22 33 44").answer("00 20").sends("85 50").answer("00 02 00")
        .gives(0).out("02 41 02 00"),
    // The type A request comes back short: type B.
    card_frame(Row("card_ab_type_b", card_ab)
                   .sends("4E 0A 00").answer("00").sends("87 41").answer("00")
                   .sends("41 00").answer("00 00").sends("41 00").answer("00 00")
                   .sends("87 42").answer("00").sends("88 00 00 00").answer({"00", kAtqb}),
               "86 05 09 1D 11 22 33 44 00 05 01 00", "00 01 00")
        .gives(0).out({"0C 42", kAtqb, "00"}),
    id_serial("id_serial", "00 0A 01 02 03 04 05 06 07 08 90 00").gives(0).text("0102030405060708"),
    id_serial("id_serial_cut_after_90", "00 09 01 02 03 04 05 06 07 08 90")
        .gives(0).text("0102030405060708"),
    id_serial("id_serial_nine_bytes_without_90", "00 09 01 02 03 04 05 06 07 08 6A").gives(-1),
};
WIRE_TABLE(M6TypeBFlows, M6MemoryReader, kFlows);

std::vector<Row> null_rows() {
  return Row::null_rows({
      {"request_b", [](Call& c) { return c.d.request_b(kIcdev, 0, 0, 0, nullptr); }},
      {"attrib", [](Call& c) { return c.d.attrib(kIcdev, nullptr, 0); }},
      {"inventory", [](Call& c) { return c.d.inventory(kIcdev, 0, 0, 0, nullptr, c.bytes()); }},
      {"writeblock", [](Call& c) { return c.d.writeblock(kIcdev, 0, 0, 1, nullptr, 0, nullptr); }},
      {"get_idsnr", [](Call& c) { return c.d.get_idsnr(kIcdev, nullptr); }},
  });
}
WIRE_TABLE(M6ContactlessNull, M6MemoryReader, null_rows());

}  // namespace
