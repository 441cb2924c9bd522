// Contact processor cards and SAMs: slot choice, power up, APDUs with the
// 61xx/6Cxx follow-up, power down and the T=0/T=1 check, as table rows over
// the in-memory reader with cards in its contact slots.
#include <gtest/gtest.h>

#include "family_r42/processor_card_rows.h"

namespace {

// [rlen][ATR or response] into the output buffer.
int32_t cpureset(Call& c) { return c.d.cpureset(kIcdev, c.bytes(), c.bytes() + 1); }

Row::Call apdu(WireBytes command, int16_t (ReaderDevice::*op)(int32_t, uint8_t,
                                                             const unsigned char*, uint8_t*,
                                                             unsigned char*) =
                                      &ReaderDevice::cpuapdu) {
  return [bytes = command.bytes, op](Call& c) {
    return (c.d.*op)(kIcdev, uint8_t(bytes.size()), bytes.data(), c.bytes(), c.bytes() + 1);
  };
}

Row::Call respon(WireBytes command) { return apdu(std::move(command), &ReaderDevice::cpuapdurespon); }

Row::Call select_then(uint8_t code, Row::Call next) {
  return [=](Call& c) {
    const int16_t result = c.d.setcpu(kIcdev, code);
    return result != 0 ? result : next(c);
  };
}

const Bytes kAtr300 = repeated(300, 0x3B);

const Row kSlots[] = {
    Row("setcpu_13_selects_slot_2", select_then(0x0D, cpureset))
        .given(contact_card(2))
        .sends("03 01 00 02 00 00")
        .gives(0).out("04 3B 02 14 50"),
    Row("setcpu_21_selects_slot_9", select_then(21, [](Call& c) { return c.d.cpudown(kIcdev); }))
        .given(contact_card(9))
        .sends("03 03 00 09")
        .gives(0),
    Row("setcpu_16_keeps_the_slot",
        select_then(3, select_then(16, [](Call& c) { return c.d.cpudown(kIcdev); })))
        .given(contact_card(3))
        .sends("03 03 00 03")
        .gives(0),
    Row("setcpu_10_refused", [](Call& c) { return c.d.setcpu(kIcdev, 10); }).gives(-1),
    Row("setcpu_22_refused", [](Call& c) { return c.d.setcpu(kIcdev, 22); }).gives(-1),
    Row("setcpupara_etu_20_sends_baud_2",
        [](Call& c) {
          const int16_t r = c.d.setcpupara(kIcdev, 0x0C, 1, 20);
          return r != 0 ? r : cpureset(c);
        })
        .given(contact_card(0))
        .sends("03 01 00 00 02 00")
        .gives(0).out("04 3B 02 14 50"),
    Row("setcpupara_refused_slot_records_nothing",
        [](Call& c) {
          const int16_t r = c.d.setcpupara(kIcdev, 10, 1, 20);
          uint8_t pro = 9, etu = 9;
          c.d.getcpupara(kIcdev, 0, &pro, &etu);
          c.print("%d %u %u", r, pro, etu);
          return 0;
        })
        .gives(0).text("-1 0 92"),
    Row("setcpupara_records_per_slot",
        [](Call& c) {
          c.d.setcpupara(kIcdev, 13, 1, 20);
          uint8_t pro = 9, etu = 9, pro0 = 9, etu0 = 9;
          c.d.getcpupara(kIcdev, 2, &pro, &etu);
          c.d.getcpupara(kIcdev, 16, &pro0, &etu0);
          c.print("%u %u %u %u", pro, etu, pro0, etu0);
          return c.d.getcpupara(kIcdev, 10, &pro, &etu);
        })
        .gives(-1).text("1 20 0 92"),
    Row("sam_in_slot_2_answers_apart_from_slot_0", select_then(2, cpureset))
        .given([](State& s) {
          auto slots = std::make_shared<ContactSlots>();
          slots->insert(0, hx("3B 02 14 50"));
          slots->insert(2, hx("3B 68 00 00 53 41 4D 00 01 02"));
          s.attachments.push_back(slots);
        })
        .sends("03 01 00 02 00 00")
        .gives(0).out("0A 3B 68 00 00 53 41 4D 00 01 02"),
    Row("power_up_reply_length_byte_is_the_readers", cpureset)
        .sends("03 01 00 00 00 00").answer("00 00 00 77 3B 02 14 50")
        .gives(0).out("04 3B 02 14 50"),
    Row("power_up_of_an_empty_slot_is_a_status", cpureset)
        .given(contact_card(4))
        .sends("03 01 00 00 00 00")
        .gives(-2).status(0x6F01),
    Row("power_up_reply_without_the_length_byte", cpureset)
        .sends("03 01 00 00 00 00").answer("00 00 00")
        .gives(-1),
    Row("answer_to_reset_over_255_bytes_refused", cpureset)
        .sends("03 01 00 00 00 00").answer({"00 00 00 00", kAtr300})
        .gives(-1),
    Row("answer_to_reset_of_255_bytes", cpureset)
        .sends("03 01 00 00 00 00").answer({"00 00 00 00", repeated(255, 0x3B)})
        .gives(0).out({"FF", repeated(255, 0x3B)}),
    Row("reset_hex_twin",
        [](Call& c) { return c.d.cpureset_hex(kIcdev, c.bytes(), c.text() + 1); })
        .given(contact_card(0))
        .sends("03 01 00 00 00 00")
        .gives(0).out({"04", text_bytes("3B021450")}),
    Row("power_down", [](Call& c) { return c.d.cpudown(kIcdev); })
        .given(contact_card(0))
        .sends("03 03 00 00")
        .gives(0)
        .then([](const State& s) { EXPECT_FALSE(attached<ContactSlots>(s)->powered(0)); }),
    Row("null_outputs_refused", [](Call& c) { return c.d.cpureset(kIcdev, nullptr, c.bytes()); })
        .gives(-1),
};
WIRE_TABLE(ContactCpuSlots, R42MemoryReader, kSlots);

const Row kApdus[] = {
    Row("case_4_apdu_goes_without_le", apdu("00 A4 04 00 02 3F 00 00"))
        .given(contact_card(0))
        .sends("03 04 00 00 00 A4 04 00 02 3F 00", 60000)
        .gives(0).out("02 61 0A"),
    Row("response_over_255_bytes_refused", apdu("80 EE 00 00 FA"))
        .sends("03 04 00 00 80 EE 00 00 FA").answer({"00 00 00", repeated(256, 0x55)})
        .gives(-1),
    Row("response_of_255_bytes", apdu("80 EE 00 00 FA"))
        .sends("03 04 00 00 80 EE 00 00 FA").answer({"00 00 00", repeated(255, 0x55)})
        .gives(0).out({"FF", repeated(255, 0x55)}),
    Row("apdu_hex_twin",
        [](Call& c) { return c.d.cpuapdu_hex(kIcdev, 5, "00b0000010", c.bytes(), c.text() + 1); })
        .given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 10")
        .gives(0).out({"12", text_bytes("000102030405060708090A0B0C0D0E0F9000")}),
    Row("apdu_hex_twin_short_text_refused",
        [](Call& c) { return c.d.cpuapdusource_hex(kIcdev, 5, "00B00000", c.bytes(), c.text()); })
        .gives(-1),
    Row("apdu_hex_twin_non_hex_refused",
        [](Call& c) { return c.d.cpuapdusource_hex(kIcdev, 2, "0G", c.bytes(), c.text()); })
        .gives(-1),
    Row("wrong_le_is_asked_again_with_the_cards_le", respon("00 B0 00 00 00"))
        .given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 00")
        .sends("03 04 00 00 00 B0 00 00 10")
        .gives(0).out("12 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 90 00"),
    Row("more_data_is_fetched_with_get_response", respon("00 A4 04 00 02 3F 00 00"))
        .given(contact_card(0))
        .sends("03 04 00 00 00 A4 04 00 02 3F 00")
        .sends("03 04 00 00 00 C0 00 00 0A")
        .gives(0).out("0C 6F 08 84 02 3F 00 A5 02 88 01 90 00"),
    Row("only_one_follow_up", respon("00 A4 04 00 02 3F 00"))
        .given(contact_card(0, [](Iso7816Card& card) { card.scriptForever(hx("61 FF")); }))
        .sends("03 04 00 00 00 A4 04 00 02 3F 00")
        .sends("03 04 00 00 00 C0 00 00 FF")
        .gives(0).out("02 61 FF")
        .then([](const State& s) { EXPECT_EQ(apdus_in(s, 0).size(), 2u); }),
    Row("more_data_00_comes_back_unchanged", respon("00 A4 04 00 02 3F 00"))
        .given(contact_card(0, [](Iso7816Card& card) { card.script(hx("61 00")); }))
        .sends("03 04 00 00 00 A4 04 00 02 3F 00")
        .gives(0).out("02 61 00"),
    Row("wrong_le_to_a_case_4_apdu_comes_back_unchanged", respon("00 A4 04 00 01 3F 00"))
        .given(contact_card(0, [](Iso7816Card& card) { card.script(hx("6C 10")); }))
        .sends("03 04 00 00 00 A4 04 00 01 3F")
        .gives(0).out("02 6C 10"),
    Row("wrong_le_to_a_four_byte_apdu_comes_back_unchanged", respon("00 B0 00 00"))
        .given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00")
        .gives(0).out("02 6C 10"),
    Row("failed_follow_up_writes_nothing", respon("00 B0 00 00 00"))
        .given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 00")
        .sends("03 04 00 00 00 B0 00 00 10").answer("6A 82")
        .gives(-2),
    Row("respon_hex_twin",
        [](Call& c) {
          return c.d.cpuapdurespon_hex(kIcdev, 5, "00B0000000", c.bytes(), c.text() + 1);
        })
        .given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 00")
        .sends("03 04 00 00 00 B0 00 00 10")
        .gives(0).out({"12", text_bytes("000102030405060708090A0B0C0D0E0F9000")}),
    Row("apdu_to_an_unpowered_card_is_a_status", apdu("00 84 00 00 08"))
        .given([](State& s) {
          auto slots = std::make_shared<ContactSlots>();
          slots->insert(0);
          s.attachments.push_back(slots);
        })
        .sends("03 04 00 00 00 84 00 00 08")
        .gives(-2),
};
WIRE_TABLE(ContactCpuApdus, R42MemoryReader, kApdus);

int32_t check_cpu(Call& c) { return c.d.Check_CPU(kIcdev); }

std::vector<Row> check_rows() {
  struct Case {
    const char* name;
    const char* atr;
    int result;
  };
  const Case cases[] = {
      {"t1_td1_after_ta1", "3B 9F 95 81 31 FE", 1},
      {"t0_td1_after_ta1", "3B 9F 95 80 31 FE", 0},
      {"no_td1", "3B 02 14 50", 0},
      {"td1_after_three_interface_bytes", "3B F0 11 22 33 01", 1},
      {"one_byte_refused", "3B", -1},
      {"td1_announced_but_missing", "3B 80", -1},
      {"td1_after_ta1_missing", "3B 90 11", -1},
      {"empty_refused", "", -1},
  };
  std::vector<Row> rows;
  for (const Case& k : cases) {
    rows.push_back(Row(k.name, check_cpu)
                       .sends("03 01 00 00 00 00")
                       .answer({"00 00 00 00", k.atr})
                       .gives(k.result));
  }
  // The slot it picks stays.
  rows.push_back(Row("leaves_slot_0_selected",
                     [](Call& c) {
                       c.d.setcpu(kIcdev, 5);
                       c.d.Check_CPU(kIcdev);
                       return c.d.cpudown(kIcdev);
                     })
                     .given(contact_card(0))
                     .sends("03 01 00 00 00 00").answer("00 00 00 00 3B 02 14 50")
                     .sends("03 03 00 00")
                     .gives(0));
  return rows;
}
WIRE_TABLE(ContactCpuCheck, R42MemoryReader, check_rows());

}  // namespace
