// The security-module tunnel (04 24) and the raw card read built on it, as
// rows over a reader whose module holds card A unless a row says
// otherwise; the bad outer check byte on a serial line at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "family_r42/r42_rig.h"
#include "platform/byte_helpers.h"
#include "sim/id_card_module.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<IdCardMemoryReader>;
using Call = WireCall<IdCardMemoryReader>;
using State = IdCardModule::State;
using FrameFault = IdCardModule::FrameFault;

constexpr int32_t kTunnel = 8192;  // reply capacity of every tunnel exchange
const char* const kSearch = "04 24 00 AA AA AA 96 69 00 03 20 01 22";
const char* const kSelect = "04 24 00 AA AA AA 96 69 00 03 20 02 21";
const char* const kReadAll = "04 24 00 AA AA AA 96 69 00 03 30 10 23";
const char* const kReadTextPhoto = "04 24 00 AA AA AA 96 69 00 03 30 01 32";
const char* const kReadExtra = "04 24 00 AA AA AA 96 69 00 03 30 03 30";

const IdCard kA = IdCard::a();

uint8_t xor_of(std::initializer_list<Bytes> parts) {
  uint8_t x = 0;
  for (const Bytes& p : parts) x ^= xor_checksum(p.data(), int(p.size()));
  return x;
}

Bytes pattern(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i * 31 + 7);
  return out;
}

// SamAControl(code, slen, sdata), rlen and rdata null when asked: the
// answer goes to the output; rlen must be `rlen` on success and unwritten
// otherwise.
Row::Call control_raw(int32_t code, int32_t slen, const uint8_t* sdata, int32_t rlen,
                      bool no_rlen = false, bool no_rdata = false) {
  return [=](Call& c) {
    int32_t got = -7;
    const int16_t result = c.d.SamAControl(kIcdev, code, slen, sdata, no_rlen ? nullptr : &got,
                                           no_rdata ? nullptr : c.bytes());
    EXPECT_EQ(got, result == 0 ? rlen : -7) << "rlen";
    return result;
  };
}

// The same with `data`, kept alive by the call.
Row::Call control(int32_t code, Bytes data, int32_t rlen) {
  return [=](Call& c) {
    return control_raw(code, int32_t(data.size()), data.empty() ? nullptr : data.data(), rlen)(c);
  };
}

Row::Call control(int32_t code, int32_t rlen) { return control_raw(code, 0, nullptr, rlen); }

// A spoiled answer frame to `command`.
std::function<void(State&)> spoil(uint16_t command, FrameFault fault) {
  return [=](State& s) { s.frame_faults[command] = fault; };
}

Row tunnel_fault(const char* name, FrameFault fault) {
  return Row(name, control(0x2001, 4))
      .given(spoil(0x2001, fault))
      .sends(kSearch).capacity(kTunnel)
      .gives(-1);
}

const Bytes kFive = {0x01, 0x02, 0x03, 0x04, 0x05};
const Bytes kLargest = pattern(8179);

const Row kTunnelRows[] = {
    Row("search", control(0x2001, 4)).sends(kSearch).capacity(kTunnel).gives(0).out("00 00 00 00"),
    Row("search_as_spelled", control(0x2001, 4))
        .sends(kSearch).capacity(kTunnel)
        .answer("00 00 00 00 0F AA AA AA 96 69 00 08 00 00 9F 00 00 00 00 97")
        .gives(0).out("00 00 00 00"),
    Row("select", control(0x2002, 8))
        .sends(kSelect).capacity(kTunnel)
        .answer("00 00 00 00 13 AA AA AA 96 69 00 0C 00 00 90 00 00 00 00 00 00 00 00 9C")
        .gives(0).out("00 00 00 00 00 00 00 00"),
    Row("read_everything", control(0x3010, 2310))
        .sends(kReadAll).capacity(kTunnel).answer(
            {"00 00 00 09 11 AA AA AA 96 69 09 0A 00 00 90 01 00 04 00 04 00", kA.text, kA.photo,
             kA.finger,
             Bytes{xor_of({hx("09 0A 00 00 90 01 00 04 00 04 00"), kA.text, kA.photo, kA.finger})}})
        .gives(0).out({"01 00 04 00 04 00", kA.text, kA.photo, kA.finger}),
    Row("five_data_bytes", control(0x1234, kFive, 2))
        .sends({"04 24 00 AA AA AA 96 69 00 08 12 34", kFive, "2F"}).capacity(kTunnel)
        .answer("00 00 00 00 0D AA AA AA 96 69 00 06 00 00 90 AB CD F0")
        .gives(0).out("AB CD"),
    // The module takes the largest frame whole (and does not know 12 34).
    Row("largest_data_fits", control(0x1234, kLargest, 0))
        .sends({"04 24 00 AA AA AA 96 69 1F F6 12 34", kLargest,
                Bytes{xor_of({hx("1F F6 12 34"), kLargest})}})
        .capacity(kTunnel)
        .gives(-1)
        .then([](const State& s) { EXPECT_EQ(s.bad_host_frames, 0u); }),
    // The reader's own count of the frame (bytes 3-4) is not looked at.
    Row("reader_length_ignored", control(0x2001, 4))
        .sends(kSearch).capacity(kTunnel)
        .answer("00 00 00 FF FF AA AA AA 96 69 00 08 00 00 9F 00 00 00 00 97")
        .gives(0).out("00 00 00 00"),
    tunnel_fault("search_answered_as_done", {.status = hx("00 00 90")}),
    tunnel_fault("bad_check_byte", {.bad_check = true}),
    tunnel_fault("bad_preamble", {.bad_preamble = true}),
    tunnel_fault("length_below_status_and_check", {.length = 3}),
    tunnel_fault("length_past_the_reply", {.length = 9}),
    tunnel_fault("frame_cut", {.cut = 1}),
    Row("done_answered_as_found", control(0x2002, 8))
        .given(spoil(0x2002, {.status = hx("00 00 9F")}))
        .sends(kSelect).capacity(kTunnel)
        .gives(-1),
    Row("reply_under_12_bytes", control(0x2001, 4))
        .sends(kSearch).capacity(kTunnel).answer("00 00 00 00 0F AA AA AA 96 69 00")
        .gives(-1),
    Row("reader_status", control(0x2001, 4))
        .sends(kSearch).capacity(kTunnel).answer("6A 82 00")
        .gives(-2).status(0x6A82),
    Row("exchange_fails", control(0x2001, 4)).sends(kSearch).capacity(kTunnel).fails().gives(-1),
    // Refused before any I/O.
    Row("code_negative", control(-1, 4)).gives(-1),
    Row("code_over_16_bits", control(0x10000, 4)).gives(-1),
    Row("data_over_8179", control(0x1234, pattern(8180), 0)).gives(-1),
    Row("slen_negative", control_raw(0x2001, -1, kFive.data(), 0)).gives(-1),
    Row("data_null", control_raw(0x2001, 1, nullptr, 0)).gives(-1),
    Row("rlen_null", control_raw(0x2001, 0, nullptr, 0, true)).gives(-1),
    Row("rdata_null", control_raw(0x2001, 0, nullptr, 0, false, true)).gives(-1),
};
WIRE_TABLE(SecurityModuleTunnel, IdCardMemoryReader, kTunnelRows);

// SamAReadCardInfo(type): the four lengths (7 until written) go to the
// output as text; each part written must be the card's, and no buffer is
// written past its length. `null_at` 0-3 passes a null length, 4-7 a null
// buffer.
Row::Call read_info(int32_t type, int null_at = -1) {
  return [=](Call& c) {
    std::vector<Bytes> parts(4, Bytes(8192, 0xCC));
    int32_t lengths[4] = {7, 7, 7, 7};
    int32_t* l[4];
    uint8_t* b[4];
    for (int i = 0; i < 4; ++i) {
      l[i] = null_at == i ? nullptr : &lengths[i];
      b[i] = null_at == i + 4 ? nullptr : parts[size_t(i)].data();
    }
    const int16_t result =
        c.d.SamAReadCardInfo(kIcdev, type, l[0], b[0], l[1], b[1], l[2], b[2], l[3], b[3]);
    const State s = c.reader.module.snapshot();
    const IdCard card = s.card.value_or(IdCard{});
    const Bytes* expected[4] = {&card.text, &card.photo, &card.finger, &card.extra};
    for (size_t i = 0; i < 4; ++i) {
      const size_t n = lengths[i] == 7 ? 0 : size_t(lengths[i]);
      if (n > 0) {
        EXPECT_EQ(Bytes(parts[i].begin(), parts[i].begin() + long(n)), *expected[i]) << i;
      }
      EXPECT_EQ(Bytes(parts[i].begin() + long(n), parts[i].end()), Bytes(8192 - n, 0xCC))
          << "part " << i << " written past its length";
    }
    c.print("%d %d %d %d", lengths[0], lengths[1], lengths[2], lengths[3]);
    return result;
  };
}

Row card_read(const char* name, int32_t type) {
  return Row(name, read_info(type))
      .sends(kSearch).capacity(kTunnel)
      .sends(kSelect).capacity(kTunnel);
}

const Row kRawRows[] = {
    card_read("text_photo_finger", 1)
        .sends(kReadAll).capacity(kTunnel)
        .gives(0).text("256 1024 1024 0"),
    card_read("extra_only", 2).sends(kReadExtra).capacity(kTunnel).gives(0).text("0 0 0 70"),
    card_read("everything", 3)
        .sends(kReadAll).capacity(kTunnel)
        .sends(kReadExtra).capacity(kTunnel)
        .gives(0).text("256 1024 1024 70"),
    card_read("type_0_reads_nothing", 0).gives(-1).text("0 0 0 0"),
    card_read("type_bits_above_1_ignored", 4 | 2)
        .sends(kReadExtra).capacity(kTunnel)
        .gives(0).text("0 0 0 70"),
    // A card without fingerprint data: the module refuses 30 10.
    card_read("fallback_to_text_photo", 1)
        .given([](State& s) { s.card = IdCard::foreigner(); })
        .sends(kReadAll).capacity(kTunnel)
        .sends(kReadTextPhoto).capacity(kTunnel)
        .gives(0).text("256 1024 0 0"),
    card_read("fallback_after_reader_status", 1)
        .sends(kReadAll).capacity(kTunnel).answer("6A 82 00")
        .sends(kReadTextPhoto).capacity(kTunnel)
        .gives(0).text("256 1024 0 0"),
    card_read("fallback_fails_too", 1)
        .given([](State& s) {
          s.card = IdCard::foreigner();
          s.frame_faults[0x3001] = {.bad_check = true};
        })
        .sends(kReadAll).capacity(kTunnel)
        .sends(kReadTextPhoto).capacity(kTunnel)
        .gives(-1).text("0 0 0 0"),
    card_read("fallback_lengths_past_answer", 1)
        .given([](State& s) {
          s.card = IdCard::foreigner();
          s.frame_faults[0x3001] = {.photo_overstated = 1};
        })
        .sends(kReadAll).capacity(kTunnel)
        .sends(kReadTextPhoto).capacity(kTunnel)
        .gives(-1).text("0 0 0 0"),
    // A well-formed 30 10 answer that cannot be taken apart: no second try.
    card_read("lengths_past_answer", 1)
        .given(spoil(0x3010, {.photo_overstated = 1}))
        .sends(kReadAll).capacity(kTunnel)
        .gives(-1).text("0 0 0 0"),
    card_read("answer_under_6", 1)
        .sends(kReadAll).capacity(kTunnel)
        .answer(IdCardModule::tunnel_reply(hx("00 00 90 01 00 04 00")))
        .gives(-1).text("0 0 0 0"),
    card_read("text_over_256", 3)
        .given([](State& s) { s.card->text.resize(258, 0x20); })
        .sends(kReadAll).capacity(kTunnel)
        .sends(kReadExtra).capacity(kTunnel)
        .gives(0).text("0 0 0 70"),
    card_read("answer_over_4096", 1)
        .given([](State& s) { s.card->photo = pattern(2811); })
        .sends(kReadAll).capacity(kTunnel)
        .gives(-1).text("0 0 0 0"),
    card_read("answer_of_4096", 1)
        .given([](State& s) { s.card->photo = pattern(2810); })
        .sends(kReadAll).capacity(kTunnel)
        .gives(0).text("256 2810 1024 0"),
    card_read("extra_short", 2)
        .given([](State& s) { s.card->extra.resize(69); })
        .sends(kReadExtra).capacity(kTunnel)
        .gives(-1).text("0 0 0 0"),
    // No card found or selected: nothing written at all.
    Row("no_card", read_info(1))
        .given([](State& s) { s.card.reset(); })
        .sends(kSearch).capacity(kTunnel)
        .gives(-1).text("7 7 7 7"),
    Row("search_answer_not_zero", read_info(1))
        .sends(kSearch).capacity(kTunnel)
        .answer(IdCardModule::tunnel_reply(hx("00 00 9F 00 00 00 01")))
        .gives(-1).text("7 7 7 7"),
    Row("search_answer_short", read_info(1))
        .sends(kSearch).capacity(kTunnel)
        .answer(IdCardModule::tunnel_reply(hx("00 00 9F 00 00 00")))
        .gives(-1).text("7 7 7 7"),
    card_read("select_answer_short", 1)
        .answer(IdCardModule::tunnel_reply(hx("00 00 90 00 00 00 00 00 00 00")))
        .gives(-1).text("7 7 7 7"),
    // Unselected parts may have null buffers.
    Row("extra_without_card_buffers",
        [](Call& c) {
          int32_t t = 7, p = 7, f = 7, e = 7;
          const int16_t result =
              c.d.SamAReadCardInfo(kIcdev, 2, &t, nullptr, &p, nullptr, &f, nullptr, &e, c.bytes());
          EXPECT_EQ(t + p + f, 0);
          EXPECT_EQ(e, 70);
          return result;
        })
        .sends(kSearch).capacity(kTunnel)
        .sends(kSelect).capacity(kTunnel)
        .sends(kReadExtra).capacity(kTunnel)
        .gives(0).out(kA.extra),
};
WIRE_TABLE(RawCardRead, IdCardMemoryReader, kRawRows);

// A null length, or a null buffer of a selected part: -1 before any I/O.
std::vector<Row> null_rows() {
  std::vector<Row> rows;
  const char* names[] = {"text_len", "photo_len", "fingerprint_len", "extra_len",
                         "text",     "photo",     "fingerprint",     "extra"};
  for (int i = 0; i < 8; ++i) {
    rows.push_back(Row(std::string("null_") + names[i], read_info(i == 7 ? 2 : 1, i))
                       .gives(-1).text("7 7 7 7"));
  }
  return rows;
}
WIRE_TABLE(RawCardReadRefused, IdCardMemoryReader, null_rows());

// Over a serial line: the record and the tunnel through the real framing
// at their large capacities, and a reply frame whose outer check byte is
// wrong.
TEST(SecurityModuleTunnelSerial, LargeRepliesAndABadOuterCheckByte) {
  R42Rig rig;
  ASSERT_RIG(rig);
  IdCardModule module;
  module.attach(rig.model);
  ReaderDevice& d = *rig.device;
  ASSERT_EQ(d.start_i_d(kIcdev), kIcdev);
  EXPECT_EQ(rig.last().capacity, 10240);
  int32_t rlen = 0;
  Bytes answer(8192);
  ASSERT_EQ(d.SamAControl(kIcdev, 0x3010, 0, nullptr, &rlen, answer.data()), 0);
  EXPECT_EQ(rlen, 2310);
  EXPECT_EQ(rig.last().capacity, 8192);

  R42SerialSim::FaultPlan bad_xor;
  bad_xor.kind = R42SerialSim::Fault::kBadXor;
  rig.sim->injectFault(bad_xor);
  module.with([](State& s) { s.card = IdCard::b(); });
  EXPECT_EQ(d.start_i_d(kIcdev), -1);
  EXPECT_EQ(d.i_d_query_photo(kIcdev)[0], kA.photo[0]) << "card A stays";
  rig.sim->injectFault(bad_xor);
  rlen = -7;
  EXPECT_EQ(d.SamAControl(kIcdev, 0x2001, 0, nullptr, &rlen, answer.data()), -1);
  EXPECT_EQ(rlen, -7);
  // The line is clean again.
  EXPECT_EQ(d.start_i_d(kIcdev), kIcdev);
  EXPECT_EQ(d.i_d_query_photo(kIcdev)[0], IdCard::b().photo[0]);
  rig.sim->stop();
}

}  // namespace
