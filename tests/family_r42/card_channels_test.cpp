// Extended card channels, presence queries, the type A / type B search, the
// cascade-aware UID read and the RF registers, as table rows.
#include <gtest/gtest.h>

#include "family_r42/processor_card_rows.h"

namespace {

// `slen` INT32_MIN: the APDU's own length.
Row::Call apdu_int(WireBytes command, int32_t slen = INT32_MIN) {
  return [bytes = command.bytes, slen](Call& c) {
    return with_length32(c, [&](int32_t* length, uint8_t* out) {
      return c.d.cpuapduInt(kIcdev, slen == INT32_MIN ? int32_t(bytes.size()) : slen, bytes.data(), length,
                            out);
    });
  };
}

Row::Call link_ext(WireBytes command, uint8_t timeout = 7) {
  return [bytes = command.bytes, timeout](Call& c) {
    return with_length32(c, [&](int32_t* length, uint8_t* out) {
      return c.d.pro_commandlinkEXT(kIcdev, int32_t(bytes.size()), bytes.data(), length, out,
                                    timeout, 0);
    });
  };
}

Row::Call crc_frame(WireBytes frame, uint8_t crc) {
  return [bytes = frame.bytes, crc](Call& c) {
    return c.d.pro_commandsourceCRC(kIcdev, uint8_t(bytes.size()), bytes.data(), c.bytes(),
                                    c.bytes() + 1, 0, crc);
  };
}

const Bytes kApdu = hx("00 84 00 00 08");

const Row kChannels[] = {
    Row("contact_case_4_with_lc_0_drops_le", apdu_int("00 A4 04 00 00 00"))
        .given(contact_card(0))
        .sends("03 04 00 00 00 A4 04 00 00", 60000)
        .gives(0).out("02 00 00 00 61 0A"),
    Row("contact_case_2_goes_whole", apdu_int("00 B0 00 00 10"))
        .given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 10", 60000)
        .gives(0).out("12 00 00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 90 00"),
    Row("contact_negative_length_refused", apdu_int("00 B0", -1)).gives(-1),
    Row("contact_length_past_the_request_refused", apdu_int(repeated(2045, 0x80))).gives(-1),
    Row("contact_null_apdu_refused",
        [](Call& c) {
          int32_t n = 0;
          return c.d.cpuapduInt(kIcdev, 5, nullptr, &n, c.bytes());
        })
        .gives(-1),
    Row("contact_longest_apdu", apdu_int(repeated(2044, 0x80)))
        .sends({"03 04 00 00", repeated(2044, 0x80)}).answer("00 00 00 90 00")
        .gives(0).out("02 00 00 00 90 00"),
    Row("contact_reply_without_data", apdu_int("00 B0 00 00 10"))
        .sends("03 04 00 00 00 B0 00 00 10").answer("00 00")
        .gives(-1),
    Row("contact_16_bit_form",
        [](Call& c) {
          int16_t n = -7;
          const int16_t r = c.d.cpuapduEXT(kIcdev, 5, kApdu.data(), &n, c.bytes() + 2);
          if (r == 0) std::memcpy(c.bytes(), &n, 2);
          return r;
        })
        .given(contact_card(0))
        .sends("03 04 00 00 00 84 00 00 08")
        .gives(0).out("0A 00 01 02 03 04 05 06 07 08 90 00"),
    Row("contact_hex_twin_checks_the_length_first",
        [](Call& c) {
          int32_t n = 0;
          return c.d.cpuapduInt_hex(kIcdev, 4000, "00", &n, c.text());
        })
        .gives(-1),
    Row("contact_16_bit_hex_twin",
        [](Call& c) {
          int16_t n = 0;
          const int16_t r = c.d.cpuapdusourceEXT_hex(kIcdev, 5, "0084000002", &n, c.text());
          return r == 0 ? n : r;
        })
        .given(contact_card(0))
        .sends("03 04 00 00 00 84 00 00 02")
        .gives(4).text("01029000"),
    Row("block_apdu_length_counts_the_bytes_sent", link_ext("00 A4 04 00 02 3F 00 00"))
        .sends("04 11 00 00 07 00 A4 04 00 02 3F 00", 6750).answer("00 00 00 00 02 61 0A")
        .gives(0).out("02 00 00 00 61 0A"),
    Row("block_apdu_time_out_from_the_byte", link_ext(kApdu, 0))
        .sends("04 11 00 00 05 00 84 00 00 08", 5000).answer("00 00 00 00 02 90 00")
        .gives(0).out("02 00 00 00 90 00"),
    Row("block_apdu_length_past_the_reply_refused", link_ext(kApdu))
        .sends("04 11 00 00 05 00 84 00 00 08").answer("00 00 00 00 03 90 00")
        .gives(-1),
    Row("block_apdu_reply_without_length_refused", link_ext(kApdu))
        .sends("04 11 00 00 05 00 84 00 00 08").answer("00 00 00 00")
        .gives(-1),
    Row("block_apdu_longest", link_ext(repeated(2043, 0x80)))
        .sends({"04 11 00 07 FB", repeated(2043, 0x80)}).answer("00 00 00 00 00")
        .gives(0).out("00 00 00 00"),
    Row("block_apdu_past_the_request_refused", link_ext(repeated(2044, 0x80))).gives(-1),
    Row("block_apdu_int_hex_twin",
        [](Call& c) {
          int32_t n = 0;
          const int16_t r = c.d.pro_commandlinkInt_hex(kIcdev, 5, "0084000008", &n, c.text(), 7);
          return r == 0 ? n : r;
        })
        .sends("04 11 00 00 05 00 84 00 00 08").answer("00 00 00 00 02 90 00")
        .gives(2).text("9000"),
    Row("crc_frame_sends_the_setting_last", crc_frame("26 01 00", 0x5A))
        .sends("04 36 00 0A 01 00 03 26 01 00 5A", 5000).answer("00 00 00 00 02 44 00")
        .gives(0).out("02 44 00"),
    Row("crc_frame_over_255_bytes_refused", crc_frame("30 04", 1))
        .sends("04 36 00 0A 01 00 02 30 04 01").answer({"00 00 00 01 00", repeated(256, 1)})
        .gives(-1),
    Row("crc_frame_length_past_the_reply_refused", crc_frame("30 04", 1))
        .sends("04 36 00 0A 01 00 02 30 04 01").answer("00 00 00 00 05 01 02")
        .gives(-1),
    Row("crc_frame_hex_twin",
        [](Call& c) {
          return c.d.pro_commandsourceCRChex(kIcdev, 2, "3004", c.bytes(), c.text() + 1, 0, 0);
        })
        .sends("04 36 00 0A 01 00 02 30 04 00").answer("00 00 00 00 02 AB CD")
        .gives(0).out({"02", text_bytes("ABCD")}),
    Row("hot_reset",
        [](Call& c) {
          c.d.setcpu(kIcdev, 1);
          return c.d.cpuhotreset(kIcdev, c.bytes(), c.bytes() + 1);
        })
        .given(contact_card(1))
        .sends("03 02 00 01")
        .gives(0).out("04 3B 02 14 50"),
    Row("hot_reset_hex_twin",
        [](Call& c) { return c.d.cpuhotreset_hex(kIcdev, c.bytes(), c.text() + 1); })
        .sends("03 02 00 00").answer({"00 00 00 00", repeated(256, 0x3B)})
        .gives(-1),
};
WIRE_TABLE(CardChannelsApdu, R42MemoryReader, kChannels);

Row::Call card_exist() {
  return [](Call& c) {
    uint16_t flag = 0xBEEF;
    const int16_t r = c.d.card_exist(kIcdev, &flag);
    if (r == 0) c.print("%04X", flag);
    return r;
  };
}

int32_t card_status(Call& c) { return c.d.card_status(kIcdev); }
int32_t typeab(Call& c) { return c.d.typeab_card_status(kIcdev); }

const Row kPresence[] = {
    Row("exist_flag", card_exist()).sends("04 4A 00").answer("00 00 00 01 00")
        .gives(0).text("0001"),
    Row("exist_no_card_is_1", card_exist()).sends("04 4A 00").answer("03 07").gives(1),
    Row("exist_other_status", card_exist()).sends("04 4A 00").answer("6A 82").gives(-2),
    Row("exist_short_reply", card_exist()).sends("04 4A 00").answer("00 00 00 01").gives(-1),
    Row("exist_silent_reader", card_exist()).sends("04 4A 00").fails().gives(-1),
    Row("contact_card_present", card_status).given(contact_card(0)).sends("03 00 00 00").gives(0),
    Row("contact_card_absent", card_status).given(contact_card(1)).sends("03 00 00 00").gives(1),
    Row("contact_status_silent_reader", card_status).sends("03 00 00 00").fails().gives(-1),
    Row("typeab_success_is_no_state", typeab).sends("04 46 00").answer("00 00").gives(-2),
    Row("typeab_no_card", typeab).sends("04 46 00").answer("03 07").gives(0),
    Row("typeab_type_b", typeab).sends("04 46 00").answer("00 02").gives(2),
    Row("typeab_other_status", typeab).sends("04 46 00").answer("6A 82").gives(-2),
    Row("typeab_field_model",
        typeab)
        .given([](State& s) {
          auto field = std::make_shared<CardField>();
          field->insert(MifareCard::classic1k({1, 2, 3, 4}));
          s.attachments.push_back(field);
        })
        .sends("04 46 00").gives(1),
};
WIRE_TABLE(CardChannelsPresence, R42MemoryReader, kPresence);

Row::Call card_n(uint8_t mode = 0) {
  return [mode](Call& c) {
    int32_t n = -7;
    const int16_t r = c.d.card_n(kIcdev, mode, &n, c.bytes() + 1);
    if (r == 0) c.bytes()[0] = uint8_t(n);
    return r;
  };
}

Row::Call rfreg(uint8_t flag, uint8_t value) {
  return [=](Call& c) {
    c.bytes()[0] = value;
    return c.d.rw_rfreg(kIcdev, flag, 0x11, c.bytes());
  };
}

const Row kSearch[] = {
    Row("card_n_four_byte_uid", card_n())
        .sends("04 33 00 26").answer("00 00 00 04 00")
        .sends("04 34 00 93").answer("00 00 00 00 11 22 33 44")
        .sends("04 35 00 93 04 11 22 33 44").answer("00 00 00 08")
        .sends("04 01 00 26").answer("00 00 00 04 00")
        .gives(0).out("04 44 33 22 11"),
    Row("card_n_seven_byte_uid", card_n(1))
        .sends("04 33 00 52").answer("00 00 00 44 00")
        .sends("04 34 00 93").answer("00 00 00 00 88 04 A1 B2")
        .sends("04 35 00 93 04 88 04 A1 B2").answer("00 00 00 04")
        .sends("04 34 00 95").answer("00 00 00 00 C3 D4 E5 F6")
        .sends("04 35 00 95 04 C3 D4 E5 F6").answer("00 00 00 08")
        .gives(0).out("07 04 A1 B2 F6 E5 D4 C3"),
    Row("card_n_second_level_fails", card_n())
        .sends("04 33 00 26").answer("00 00 00 44 00")
        .sends("04 34 00 93").answer("00 00 00 00 88 04 A1 B2")
        .sends("04 35 00 93 04 88 04 A1 B2").answer("00 00 00 04")
        .sends("04 34 00 95").answer("6F 01")
        .gives(-2),
    Row("card_n_hex_twin",
        [](Call& c) {
          int32_t n = 0;
          return c.d.card_n_hex(kIcdev, 0, &n, c.text());
        })
        .given([](State& s) {
          auto field = std::make_shared<CardField>();
          field->insert(MifareCard::classic1k({0x04, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
          s.attachments.push_back(field);
        })
        .sends("04 33 00 26").sends("04 34 00 93").sends("04 35 00 93 04 88 04 A1 B2")
        .sends("04 34 00 95").sends("04 35 00 95 04 C3 D4 E5 F6")
        .gives(0).text("04A1B2F6E5D4C3"),
    Row("cardstr_decimal_serial",
        [](Call& c) { return c.d.cardstr(kIcdev, 0, c.text()); })
        .given([](State& s) {
          auto field = std::make_shared<CardField>();
          field->insert(MifareCard::classic1k({0xFF, 0xFF, 0xFF, 0xFF}));
          s.attachments.push_back(field);
        })
        .sends("04 33 00 26").sends("04 34 00 93").sends("04 35 00 93 04 FF FF FF FF")
        .sends("04 01 00 26")
        .gives(0).text("4294967295"),
    Row("getlongver_is_getver", [](Call& c) { return c.d.getlongver(kIcdev, c.text()); })
        .sends("0F 10 00")
        .gives(0).text("R42 SIM 1.0"),
    Row("rf_register_read", rfreg(0, 0)).sends("04 31 00 11").answer("00 00 00 5A")
        .gives(0).out("5A"),
    Row("rf_register_read_short", rfreg(0, 0x77)).sends("04 31 00 11").answer("00 00 00")
        .gives(-1).out("77"),
    Row("rf_register_write", rfreg(1, 0xA5)).sends("04 32 00 11 A5").answer("00 00")
        .gives(0).out("A5"),
    Row("rf_register_hex_write",
        [](Call& c) {
          std::strcpy(c.text(), "a5");
          return c.d.rw_rfreg_hex(kIcdev, 2, 0x11, c.text());
        })
        .sends("04 32 00 11 A5").answer("00 00")
        .gives(0).text("a5"),
    Row("rf_register_hex_write_non_hex_refused",
        [](Call& c) {
          std::strcpy(c.text(), "x5");
          return c.d.rw_rfreg_hex(kIcdev, 1, 0x11, c.text());
        })
        .gives(-1).text("x5"),
    Row("rf_register_hex_read",
        [](Call& c) { return c.d.rw_rfreg_hex(kIcdev, 0, 0x11, c.text()); })
        .sends("04 31 00 11").answer("00 00 00 0C")
        .gives(0).text("0C"),
};
WIRE_TABLE(CardChannelsSearch, R42MemoryReader, kSearch);

std::vector<Row> stub_rows() {
  std::vector<Row> rows;
  auto stub = [&](const char* name, Row::Call call) { rows.push_back(Row(name, call).gives(-1)); };
  stub("getrcinfo", [](Call& c) { return c.d.getrcinfo(kIcdev, c.bytes()); });
  stub("getrcinfo_hex", [](Call& c) { return c.d.getrcinfo_hex(kIcdev, c.text()); });
  stub("dispmap_V7", [](Call& c) { return c.d.dispmap_V7(kIcdev, c.bytes()); });
  stub("displow_V7", [](Call& c) { return c.d.displow_V7(kIcdev, 1, 2); });
  stub("mulrequest_b", [](Call& c) { return c.d.mulrequest_b(kIcdev, 0, 0, c.bytes(), c.bytes()); });
  stub("hltb", [](Call& c) { return c.d.hltb(kIcdev, c.bytes()); });
  stub("set_poweroff", [](Call& c) { return c.d.set_poweroff(kIcdev, 1, 2, 3); });
  stub("exchangeblock",
       [](Call& c) { return c.d.exchangeblock(kIcdev, 1, c.bytes(), c.bytes(), c.bytes(), 0); });
  stub("exchangeblock_hex",
       [](Call& c) { return c.d.exchangeblock_hex(kIcdev, 1, "00", c.bytes(), c.text(), 0); });
  stub("write1024", [](Call& c) { return c.d.write1024(kIcdev, 0, 1, c.bytes()); });
  stub("write1024_hex", [](Call& c) { return c.d.write1024_hex(kIcdev, 0, 1, "00"); });
  stub("read1024", [](Call& c) { return c.d.read1024(kIcdev, 0, 1, c.bytes()); });
  stub("read1024_hex", [](Call& c) { return c.d.read1024_hex(kIcdev, 0, 1, c.text()); });
  stub("switch_linux", [](Call& c) { return c.d.switch_linux(kIcdev); });
  stub("card_n_number", [](Call& c) { return c.d.card_n_number(kIcdev, 0, c.text()); });
  return rows;
}
WIRE_TABLE(CardChannelsStubs, R42MemoryReader, stub_rows());

// The type A / type B search over a field with processor cards.
struct SearchCase {
  const char* name;
  bool type_a;
};

class CardChannelsCardAB : public ::testing::TestWithParam<SearchCase> {};

TEST_P(CardChannelsCardAB, FindsTheCardAndItsAnswer) {
  R42MemoryReader reader;
  auto field = std::make_shared<CardField>();
  auto card = std::make_shared<Iso7816Card>();
  if (!GetParam().type_a)
    card->setField(ContactlessCard::Type::kB, hx("11 22 33 44"),
                   hx("50 11 22 33 44 00 00 00 00 00 71 85"));
  field->insert(card);
  reader.edit([&](State& s) { s.attachments.push_back(field); });
  uint8_t rlen = 0, type = 0, rbuf[64];
  std::memset(rbuf, 0xCC, sizeof rbuf);
  ASSERT_EQ(reader.device.cardAB(kIcdev, &rlen, rbuf, &type), 0);
  if (GetParam().type_a) {
    EXPECT_EQ(type, 'A');
    EXPECT_EQ(Bytes(rbuf, rbuf + rlen), hx("06 75 77 81 02 80"));
  } else {
    EXPECT_EQ(type, 'B');
    EXPECT_EQ(rlen, 12);
    EXPECT_EQ(Bytes(rbuf, rbuf + 12), hx("50 11 22 33 44 00 00 00 00 00 71 85"));
    EXPECT_EQ(rbuf[12], 0xCC);
  }
  // The search starts with the field reset (off, then on).
  ASSERT_GE(reader.wire.calls.size(), 3u);
  EXPECT_EQ(reader.wire.calls[0].request, hx("04 0D 00"));
  EXPECT_EQ(reader.wire.calls[1].request, hx("04 00 00"));
  EXPECT_EQ(reader.wire.calls.back().request, hx("04 43 00"));
}

INSTANTIATE_TEST_SUITE_P(, CardChannelsCardAB,
                         ::testing::Values(SearchCase{"type_a", true}, SearchCase{"type_b", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CardChannelsCardB, ResultsAndTheHexTwin) {
  R42MemoryReader reader;
  char text[64];
  std::memset(text, 0x7E, sizeof text);
  reader.model.failWithStatus(0x0443, 0x6F01);
  reader.model.failWithStatus(0x0410, 0x6F01);
  EXPECT_EQ(reader.device.card_b_hex(kIcdev, text), -2);
  EXPECT_EQ(text[0], 0x7E);
  reader.model.scriptReply(0x0443, hx("00 00 00 0B 04 01 02 03 04 0C 50 01 02 03 04 05 06 07 08 09 0A 0B"));
  ASSERT_EQ(reader.device.card_b_hex(kIcdev, text), 0);
  EXPECT_STREQ(text, "500102030405060708090A0B");
}

// Leaves a pattern where the next call's locals are likely to lie.
__attribute__((noinline)) void paint_stack() {
  volatile uint8_t area[4096];
  for (size_t i = 0; i < sizeof area; ++i) area[i] = 0xAB;
}

TEST(CardChannelsCardB, ElevenByteAnswerEndsTheTextInZeros) {
  R42MemoryReader reader;
  char text[64];
  reader.model.scriptReply(0x0443, hx("00 00 00 0B 04 01 02 03 04 0B 50 01 02 03 04 05 06 07 08 09 0A"));
  paint_stack();
  ASSERT_EQ(reader.device.card_b_hex(kIcdev, text), 0);
  EXPECT_STREQ(text, "500102030405060708090A00");
}

}  // namespace
