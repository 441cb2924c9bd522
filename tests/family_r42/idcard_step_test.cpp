// The step API of the identity card, as rows over a reader whose module
// holds card A unless a row says otherwise: find, read, the queries, the
// fingerprint, the UID, and what a failed read leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "family_r42/idcard_support.h"
#include "sim/id_card_module.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<IdCardMemoryReader>;
using Call = WireCall<IdCardMemoryReader>;
using State = IdCardModule::State;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kRead = 10240;  // reply capacity of the record and fingerprint reads
const char* const kRecord = "04 20 00";
const char* const kFind = "04 21 00";
const char* const kFinger = "04 22 00 0B";

const std::string kFieldsA =
    gbk("张三|男|汉|19800101|测试省样例市示范路8号|110101198001011232|样例市公安局|"
        "2015010120350101");
const std::string kFieldsB =
    gbk("李四|女|外国血统中国籍人士|19751203|样例省测试市演示街2号|44030019751203108X|测试市公安局|"
        "20100101长期");

// The text queries joined with '|', each checked against its _2 twin.
std::string fields_of(ReaderDevice& d) {
  using Query = char* (ReaderDevice::*)(int32_t);
  using Twin = int16_t (ReaderDevice::*)(int32_t, char*);
  const std::pair<Query, Twin> queries[] = {
      {&ReaderDevice::i_d_query_name, &ReaderDevice::i_d_query_name_2},
      {&ReaderDevice::i_d_query_sex, &ReaderDevice::i_d_query_sex_2},
      {&ReaderDevice::i_d_query_nation, &ReaderDevice::i_d_query_nation_2},
      {&ReaderDevice::i_d_query_birth, &ReaderDevice::i_d_query_birth_2},
      {&ReaderDevice::i_d_query_address, &ReaderDevice::i_d_query_address_2},
      {&ReaderDevice::i_d_query_id_number, &ReaderDevice::i_d_query_id_number_2},
      {&ReaderDevice::i_d_query_department, &ReaderDevice::i_d_query_department_2},
      {&ReaderDevice::i_d_query_expire_day, &ReaderDevice::i_d_query_expire_day_2},
  };
  std::string out;
  for (const auto& [query, twin] : queries) {
    if (query != queries[0].first) out += '|';
    const char* text = (d.*query)(kIcdev);
    char copy[256];
    std::memset(copy, 0xCC, sizeof copy);
    EXPECT_EQ((d.*twin)(kIcdev, copy), 0);
    EXPECT_STREQ(copy, text);
    EXPECT_EQ(uint8_t(copy[std::strlen(text) + 1]), 0xCC) << "twin wrote past the NUL";
    out += text;
  }
  return out;
}

// Bytes at a pointer query, by the length query, checked against the twin.
Bytes data_of(ReaderDevice& d, bool finger) {
  const int32_t length = finger ? d.i_d_query_finger_len(kIcdev) : d.i_d_query_photo_len(kIcdev);
  const uint8_t* data = finger ? d.i_d_query_finger(kIcdev) : d.i_d_query_photo(kIcdev);
  Bytes copy(4200, 0xCC);
  EXPECT_EQ(
      finger ? d.i_d_query_finger_2(kIcdev, copy.data()) : d.i_d_query_photo_2(kIcdev, copy.data()),
      0);
  EXPECT_EQ(Bytes(copy.begin(), copy.begin() + length), Bytes(data, data + length));
  EXPECT_EQ(copy[size_t(length)], 0xCC) << "twin wrote past the data";
  return Bytes(data, data + length);
}

// Everything the queries show.
struct Record {
  std::string fields;
  Bytes photo;
  Bytes finger;
  bool operator==(const Record&) const = default;
};
Record record_of(ReaderDevice& d) { return {fields_of(d), data_of(d, false), data_of(d, true)}; }

int32_t start(Call& c) { return c.d.start_i_d(kIcdev); }
int32_t start_2(Call& c) { return c.d.start_i_d_2(kIcdev); }

// Reads card A with `first`, spoils the module with `spoil`, calls `second`:
// a failure must leave A's record exactly as it was.
Row::Call after_a(Row::Call first, std::function<void(State&)> spoil, Row::Call second) {
  return [=](Call& c) {
    EXPECT_EQ(first(c), kIcdev) << "card A";
    const Record before = record_of(c.d);
    c.reader.module.with(spoil);
    const int32_t result = second(c);
    if (result < 0) {
      EXPECT_TRUE(record_of(c.d) == before) << "a failed read changed the record";
    }
    return result;
  };
}
void unspoiled(State&) {}

// The queries' view of the record, written into the row's output.
Row::Call then_fields(Row::Call read) {
  return [=](Call& c) {
    const int32_t result = read(c);
    std::snprintf(c.text(), 1024, "%s", fields_of(c.d).c_str());
    return result;
  };
}

const IdCard kA = IdCard::a();
const IdCard kB = IdCard::b();

Bytes sized_reply(const Bytes& data) {
  Bytes out = {0x00, 0x00, 0x00, uint8_t(data.size() >> 8), uint8_t(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// Reading card A and what the queries give then.
const Row kReads[] = {
    Row("card_a_fields_and_expire_day", then_fields(start))
        .sends(kRecord).capacity(kRead)
        .gives(kIcdev).text(kFieldsA),
    Row("card_a_photo",
        [](Call& c) {
          const int32_t handle = start(c);
          EXPECT_EQ(c.d.i_d_query_photo_len(kIcdev), 1024);
          EXPECT_EQ(c.d.i_d_query_finger_len(kIcdev), 0) << "no fingerprint after start_i_d";
          c.d.i_d_query_photo_2(kIcdev, c.bytes());
          return handle;
        })
        .sends(kRecord).capacity(kRead)
        .gives(kIcdev).out(kA.photo),
    Row("card_a_with_fingerprint",
        [](Call& c) {
          const int32_t handle = start_2(c);
          EXPECT_EQ(c.d.i_d_query_finger_len(kIcdev), 1024);
          EXPECT_EQ(data_of(c.d, false), kA.photo);
          c.d.i_d_query_finger_2(kIcdev, c.bytes());
          return handle;
        })
        .sends(kRecord).capacity(kRead)
        .sends(kFind)
        .sends(kFinger).capacity(kRead)
        .gives(kIcdev).out(kA.finger),
    // A read without fingerprint drops the one an earlier read kept.
    Row("start_i_d_drops_an_older_fingerprint",
        [](Call& c) {
          EXPECT_EQ(start_2(c), kIcdev);
          const int32_t handle = start(c);
          EXPECT_EQ(c.d.i_d_query_finger_len(kIcdev), 0);
          const uint8_t* finger = c.d.i_d_query_finger(kIcdev);
          EXPECT_EQ(Bytes(finger, finger + 4096), Bytes(4096, 0));
          return handle;
        })
        .sends(kRecord).capacity(kRead)
        .sends(kFind)
        .sends(kFinger).capacity(kRead)
        .sends(kRecord).capacity(kRead)
        .gives(kIcdev),
    Row("card_b_words", then_fields(start))
        .given([](State& s) { s.card = IdCard::b(); })
        .sends(kRecord).capacity(kRead)
        .gives(kIcdev).text(kFieldsB),
    // The spelled-out record of card A: n = 1292, L = 1287, T = 256, P = 1024.
    Row("record_as_spelled", then_fields(start))
        .sends(kRecord).capacity(kRead)
        .answer({"00 00 00 05 07 00 00 90 01 00 04 00", kA.text, kA.photo})
        .gives(kIcdev).text(kFieldsA),
    // T above 256: the text stays at its place, the photo follows T.
    Row("longer_text_moves_the_photo_only",
        [](Call& c) {
          const int32_t handle = start(c);
          EXPECT_EQ(fields_of(c.d), kFieldsA);
          c.d.i_d_query_photo_2(kIcdev, c.bytes());
          return handle;
        })
        .sends(kRecord).capacity(kRead)
        .answer({"00 00 00 05 09 00 00 90 01 02 04 00", kA.text, "EE EE", kA.photo})
        .gives(kIcdev).out(kA.photo),
    // Codes the nation table lacks, and a sex other than 1.
    Row("unknown_nation_and_sex",
        [](Call& c) {
          const int32_t handle = start(c);
          std::snprintf(c.text(), 64, "%s|%s", c.d.i_d_query_sex(kIcdev),
                        c.d.i_d_query_nation(kIcdev));
          return handle;
        })
        .given([](State& s) {
          s.card = id_card({{u"X", 15}, {u"0", 1}, {u"60", 2}}, {}, {}, {}, {});
        })
        .sends(kRecord).capacity(kRead)
        .gives(kIcdev).text(gbk("女|无")),
    // A, a B whose photo part is short, then B whole.
    Row("a_then_failing_b_then_b",
        [](Call& c) {
          EXPECT_EQ(start(c), kIcdev);
          const Record a = record_of(c.d);
          c.reader.module.with([](State& s) {
            s.card = IdCard::b();
            s.record_cut = 87;
          });
          EXPECT_EQ(start(c), -1);
          EXPECT_TRUE(record_of(c.d) == a) << "B's text must not stand beside A's photo";
          c.reader.module.with([](State& s) { s.record_cut = 0; });
          const int32_t handle = start(c);
          EXPECT_EQ(data_of(c.d, false), kB.photo);
          std::snprintf(c.text(), 1024, "%s", fields_of(c.d).c_str());
          return handle;
        })
        .sends(kRecord).capacity(kRead)
        .sends(kRecord).capacity(kRead)
        .sends(kRecord).capacity(kRead)
        .gives(kIcdev).text(kFieldsB),
    Row("fresh_device_queries",
        [](Call& c) {
          EXPECT_EQ(c.d.i_d_query_photo_len(kIcdev), 0);
          EXPECT_EQ(c.d.i_d_query_finger_len(kIcdev), 0);
          EXPECT_EQ(c.d.i_d_query_finger_file(kIcdev, "x.bmp"), -1);
          int32_t length = 100;
          EXPECT_EQ(c.d.i_d_query_finger_bmp_buffer(kIcdev, c.bytes(), &length), -1);
          EXPECT_EQ(length, 100);
          c.d.end_i_d(kIcdev);
          return int32_t(std::strlen(fields_of(c.d).c_str()));
        })
        .gives(7),
};
WIRE_TABLE(IdCardStepApiReads, IdCardMemoryReader, kReads);

// A record read that fails gives -1 and leaves card A's record as it was.
Row record_fault(const char* name, std::function<void(State&)> spoil) {
  return Row(name, after_a(start, spoil, start))
      .sends(kRecord).capacity(kRead)
      .sends(kRecord).capacity(kRead)
      .gives(-1);
}
Row record_answer(const char* name, WireBytes reply) {
  return record_fault(name, unspoiled).answer(std::move(reply));
}

const Row kRecordFaults[] = {
    record_answer("reader_status", "6A 82 00").status(0x6A82),
    record_fault("no_card", [](State& s) { s.card.reset(); }).status(0x6A82),
    record_answer("reply_of_one_byte", "00"),
    record_answer("reply_without_length", "00 00 00 05"),
    record_fault("exchange_fails", unspoiled).fails(),
    record_answer("record_of_six_bytes", "00 00 00 00 06 00 00 90 01 00 04"),
    // T = 256, P = 1024, but only 1200 bytes: the photo part is short.
    record_fault("photo_part_short", [](State& s) { s.record_cut = 87; }),
    record_fault("text_shorter_than_a_card_text", [](State& s) { s.text_length = 255; }),
    record_fault("text_past_the_record", [](State& s) { s.text_length = 1281; }),
    record_fault("photo_over_4096", [](State& s) { s.card->photo = Bytes(4097, 0x5A); }),
    record_fault("length_past_the_reply", [](State& s) { s.record_length_added = 1; }),
    // The same checks hold for find_i_d, which reads the whole card.
    Row("find_reads_the_card", [](Call& c) { return c.d.find_i_d(kIcdev); })
        .sends(kRecord).capacity(kRead)
        .gives(0),
    Row("find_fails_with_the_read",
        after_a(start, unspoiled, [](Call& c) { return c.d.find_i_d(kIcdev); }))
        .sends(kRecord).capacity(kRead)
        .sends(kRecord).capacity(kRead).answer("6A 82 00")
        .gives(-1).status(0x6A82),
    Row("photo_of_4096_fits",
        [](Call& c) {
          const int32_t handle = start(c);
          EXPECT_EQ(c.d.i_d_query_photo_len(kIcdev), 4096);
          return handle;
        })
        .given([](State& s) { s.card->photo = Bytes(4096, 0x5A); })
        .sends(kRecord).capacity(kRead)
        .gives(kIcdev),
};
WIRE_TABLE(IdCardStepApiRecordFaults, IdCardMemoryReader, kRecordFaults);

// start_i_d_2 over card A's record: card B fails at a later step and
// leaves A (fingerprint included) as it was.
Row finger_fault(const char* name, std::function<void(State&)> spoil) {
  return Row(name, after_a(
                       start_2,
                       [=](State& s) {
                         s.card = IdCard::b();
                         spoil(s);
                       },
                       start_2))
      .sends(kRecord).capacity(kRead)
      .sends(kFind)
      .sends(kFinger).capacity(kRead)
      .sends(kRecord).capacity(kRead);
}

const Row kFingerFaults[] = {
    finger_fault("find_fails", unspoiled).sends(kFind).answer("6A 82 00").gives(-1),
    finger_fault("find_reply_short", unspoiled).sends(kFind).answer("00").gives(-1),
    finger_fault("finger_status", unspoiled)
        .sends(kFind)
        .sends(kFinger).capacity(kRead).answer("6A 82 00")
        .gives(-1).status(0x6A82),
    finger_fault("finger_over_4096", [](State& s) { s.card->finger = Bytes(4097, 0x77); })
        .sends(kFind)
        .sends(kFinger).capacity(kRead)
        .gives(-1),
    finger_fault("finger_under_7", [](State& s) { s.card->finger = Bytes(6, 0x77); })
        .sends(kFind)
        .sends(kFinger).capacity(kRead)
        .gives(-1),
    finger_fault("finger_length_past_the_reply", unspoiled)
        .sends(kFind)
        .sends(kFinger).capacity(kRead).answer("00 00 00 00 08 01 02 03 04 05 06 07")
        .gives(-1),
    finger_fault("record_fails", [](State& s) { s.text_length = 255; }).gives(-1),
    Row("finger_of_7_and_of_4096",
        [](Call& c) {
          c.reader.module.with([](State& s) { s.card->finger = Bytes(7, 0x77); });
          EXPECT_EQ(start_2(c), kIcdev);
          EXPECT_EQ(c.d.i_d_query_finger_len(kIcdev), 7);
          c.reader.module.with([](State& s) { s.card->finger = Bytes(4096, 0x78); });
          const int32_t handle = start_2(c);
          EXPECT_EQ(c.d.i_d_query_finger_len(kIcdev), 4096);
          return handle;
        })
        .sends(kRecord).capacity(kRead)
        .sends(kFind)
        .sends(kFinger).capacity(kRead)
        .sends(kRecord).capacity(kRead)
        .sends(kFind)
        .sends(kFinger).capacity(kRead)
        .gives(kIcdev),
};
WIRE_TABLE(IdCardStepApiFingerFaults, IdCardMemoryReader, kFingerFaults);

int32_t find_2(Call& c) { return c.d.find_i_d_2(kIcdev); }
int32_t find_fast(Call& c) { return c.d.find_i_d_speed(kIcdev); }
int32_t uid(Call& c) { return c.d.getuid_i_d(kIcdev, c.bytes()); }
int32_t raw(Call& c) { return c.d.get_i_d_raw_buffer(kIcdev, c.bytes()); }

// Find, UID and the raw record: one command each, the status passed on.
const Row kCommands[] = {
    Row("find", find_2).sends(kFind).gives(0),
    Row("find_no_card", find_2)
        .given([](State& s) { s.card.reset(); })
        .sends(kFind)
        .gives(-2).status(0x6A82),
    Row("find_reply_short", find_2).sends(kFind).answer("00").gives(-1),
    Row("find_fast", find_fast).sends("04 26 00").gives(0),
    Row("find_fast_no_card", find_fast)
        .given([](State& s) { s.card.reset(); })
        .sends("04 26 00")
        .gives(-2).status(0x6A82),
    Row("uid", uid).sends("04 25 00").gives(0).out("01 02 03 04 05 06 07 08"),
    Row("uid_no_card", uid)
        .given([](State& s) { s.card.reset(); })
        .sends("04 25 00")
        .gives(-2).status(0x6A82),
    Row("uid_reply_short", uid).sends("04 25 00").answer("00 00 00 01 02 03 04 05 06 07").gives(-1),
    Row("uid_null_refused", [](Call& c) { return c.d.getuid_i_d(kIcdev, nullptr); }).gives(-1),
    Row("raw_record", raw)
        .sends(kRecord).capacity(kRead)
        .gives(0).out({"00 00 90 01 00 04 00", kA.text, kA.photo}),
    Row("raw_record_status", raw)
        .sends(kRecord).capacity(kRead).answer("6A 82 00")
        .gives(-2).status(0x6A82),
    Row("raw_record_reply_short", raw)
        .sends(kRecord).capacity(kRead).answer("00 00 00 05")
        .gives(-1),
    Row("raw_record_over_1287", raw)
        .given([](State& s) { s.card->photo.push_back(0x01); })
        .sends(kRecord).capacity(kRead)
        .gives(-1),
    Row("raw_record_length_past_the_reply", raw)
        .given([](State& s) { s.record_length_added = 1; })
        .sends(kRecord).capacity(kRead)
        .gives(-1),
    Row("raw_record_short_one_is_copied", raw)
        .sends(kRecord).capacity(kRead).answer(sized_reply(hx("00 00 90 01 00")))
        .gives(0).out("00 00 90 01 00"),
    Row("raw_null_refused", [](Call& c) { return c.d.get_i_d_raw_buffer(kIcdev, nullptr); })
        .gives(-1),
};
WIRE_TABLE(IdCardStepApiCommands, IdCardMemoryReader, kCommands);

// The copying queries refuse a null buffer; the record stays as it was.
TEST(IdCardStepApiTwins, NullOutputsRefused) {
  IdCardMemoryReader reader;
  ReaderDevice& d = reader.device;
  ASSERT_EQ(d.start_i_d(kIcdev), kIcdev);
  using Twin = int16_t (ReaderDevice::*)(int32_t, char*);
  for (Twin twin : {&ReaderDevice::i_d_query_name_2, &ReaderDevice::i_d_query_sex_2,
                    &ReaderDevice::i_d_query_nation_2, &ReaderDevice::i_d_query_birth_2,
                    &ReaderDevice::i_d_query_address_2, &ReaderDevice::i_d_query_id_number_2,
                    &ReaderDevice::i_d_query_department_2, &ReaderDevice::i_d_query_expire_day_2}) {
    EXPECT_EQ((d.*twin)(kIcdev, nullptr), -1);
  }
  EXPECT_EQ(d.i_d_query_photo_2(kIcdev, nullptr), -1);
  EXPECT_EQ(d.i_d_query_finger_2(kIcdev, nullptr), -1);
  EXPECT_EQ(fields_of(d), kFieldsA);
  EXPECT_EQ(reader.wire.calls.size(), 1u);
}

}  // namespace
