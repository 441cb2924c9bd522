// Terminal modules: printer limits, the voice loader's echo, the keypad's
// value, the 2.4 GHz module's frames, stripe reading in single steps and
// within a budget, and the SD memory in chunks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "family_r42/r42_rig.h"
#include "sim/process_probe.h"
#include "sim/sd_radio_modules.h"
#include "sim/stripe_keypad.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;

const Bytes kData = hx("D1 D2 D3");

template <typename Sim>
std::function<void(State&)> with(std::function<void(Sim&)> set = {}) {
  return [=](State& s) {
    auto sim = std::make_shared<Sim>();
    if (set) set(*sim);
    s.attachments.push_back(sim);
  };
}

int32_t key_value(Call& c) { return c.d.pass_key_value(kIcdev, 10, c.text()); }
int32_t load_voice(Call& c) { return c.d.load_voice(kIcdev, 0x1234, 3, kData.data()); }

Row::Call radio(Bytes data, uint8_t seconds = 2) {
  return [=](Call& c) {
    int32_t n = -7;
    const int16_t r =
        c.d.op_2dot4_command(kIcdev, int32_t(data.size()), data.data(), &n, c.bytes() + 1, seconds);
    if (n != -7) c.out[0] = uint8_t(n);
    return r;
  };
}
int32_t radio_reset(Call& c) { return c.d.op_2dot4_reset(kIcdev, c.bytes(), c.bytes() + 1); }

const char* kResetRequest = "21 01 00 05 00 09 02 00 04 A2 31 00 00 93 03";

// readmag's tracks, printed "L1:T1|L2:T2|L3:T3" on success.
int32_t poll_tracks(Call& c, uint8_t budget, bool budgeted) {
  char t[3][256];
  int32_t n[3] = {};
  const int16_t r =
      budgeted ? c.d.readmagcardallA(kIcdev, budget, t[0], n, t[1], n + 1, t[2], n + 2)
               : c.d.readmag(kIcdev, t[0], n, t[1], n + 1, t[2], n + 2);
  if (r == 0) c.print("%d:%s|%d:%s|%d:%s", n[0], t[0], n[1], t[1], n[2], t[2]);
  return r;
}
int32_t poll(Call& c) { return poll_tracks(c, 0, false); }
Row::Call poll_within(uint8_t seconds) {
  return [=](Call& c) { return poll_tracks(c, seconds, true); };
}

Row::Call read_sd(int32_t offset, int32_t length) {
  return [=](Call& c) { return c.d.readSD(kIcdev, offset, length, c.bytes()); };
}
Row::Call write_sd(int32_t offset, Bytes data) {
  return [=](Call& c) { return c.d.writeSD(kIcdev, offset, int32_t(data.size()), data.data()); };
}
std::string sd_chunk(uint16_t code, uint32_t offset, uint32_t length) {
  char text[64];
  std::snprintf(text, sizeof text, "%02X %02X 00 %02X %02X %02X %02X 00 00 %02X %02X", code >> 8,
                code & 0xFF, offset >> 24, (offset >> 16) & 0xFF, (offset >> 8) & 0xFF,
                offset & 0xFF, length >> 8, length & 0xFF);
  return text;
}

const Bytes kSd = wire_pattern(400, 0x21);
void sd_filled(SdCardStore& sd) {
  for (uint32_t i = 0; i < kSd.size(); ++i) sd.bytes[0x7FFFFF00u + i] = kSd[i];
}

const Row kRows[] = {
    Row("voice_loaded", load_voice)
        .sends("17 01 00 12 34 00 03 D1 D2 D3", 5000).answer("00 00 00 12 34")
        .gives(0),
    Row("voice_echo_differs", load_voice)
        .sends("17 01 00 12 34 00 03 D1 D2 D3").answer("00 00 00 12 35")
        .gives(-1),
    Row("voice_echo_missing", load_voice)
        .sends("17 01 00 12 34 00 03 D1 D2 D3").answer("00 00 00 12")
        .gives(-1),
    Row("voice_flag_past_16_bits",
        [](Call& c) { return c.d.load_voice(kIcdev, 0x10000, 3, kData.data()); })
        .gives(-1),
    Row("voice_flag_negative", [](Call& c) { return c.d.load_voice(kIcdev, -1, 3, kData.data()); })
        .gives(-1),
    Row("voice_longest",
        [](Call& c) { return c.d.load_voice(kIcdev, 0xFFFF, 2041, Bytes(2041, 9).data()); })
        .sends({"17 01 00 FF FF 07 F9", Bytes(2041, 9)}).answer("00 00 00 FF FF")
        .gives(0),
    Row("voice_one_past_the_request",
        [](Call& c) { return c.d.load_voice(kIcdev, 1, 2042, Bytes(2042, 9).data()); })
        .gives(-1),
    Row("key_value", key_value)
        .sends("06 00 00 0A", 15000).answer("00 00 00 31 32")
        .gives(0).text("12"),
    Row("key_value_nothing_entered", key_value)
        .sends("06 00 00 0A").answer("06 01 00")
        .gives(0).text("").status(0x0601),
    Row("key_value_nothing_entered_in_two_bytes", key_value)
        .sends("06 00 00 0A").answer("06 01")
        .gives(-1),
    Row("key_value_other_status", key_value).sends("06 00 00 0A").answer("6A 82 00").gives(-1),
    Row("key_value_reply_short", key_value).sends("06 00 00 0A").answer("00 00").gives(-1),
    Row("key_value_longest", key_value)
        .sends("06 00 00 0A").answer({"00 00 00", Bytes(2045, '7')})
        .gives(0).text(std::string(2045, '7')),
    Row("radio_reset", radio_reset)
        .sends(kResetRequest, 10000).answer("00 00 00 00 07 02 00 02 90 00 90 03")
        .gives(0).out("02 90 00"),
    Row("radio_reset_answer_of_256_bytes", radio_reset)
        .given(with<Radio24Module>([](Radio24Module& m) { m.answers[hx("A2 31 00 00")] = Bytes(256, 1); }))
        .sends(kResetRequest)
        .gives(-1),
    Row("radio_reset_text",
        [](Call& c) { return c.d.op_2dot4_resethex(kIcdev, c.bytes(), c.text() + 1); })
        .given(with<Radio24Module>())
        .sends(kResetRequest)
        .gives(0).out({"02", Bytes{'9', '0', '0', '0', 0}}),
    Row("radio_command", radio(hx("00 A4")))
        .given(with<Radio24Module>([](Radio24Module& m) { m.answers[hx("00 A4")] = hx("6F 10 90 00"); }))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03", 7000)
        .gives(0).out("04 6F 10 90 00")
        .then([](const State& s) { EXPECT_EQ(attached<Radio24Module>(s)->commands.size(), 1u); }),
    Row("radio_command_text",
        [](Call& c) {
          int32_t n = -7;
          const int16_t r = c.d.op_2dot4_command_hex(kIcdev, 2, "00a4", &n, c.text(), 2);
          return r != 0 ? r : n;
        })
        .given(with<Radio24Module>())
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03")
        .gives(2).text("9000"),
    Row("radio_answer_xor_differs", radio(hx("00 A4")))
        .given(with<Radio24Module>([](Radio24Module& m) { m.bad_xor = true; }))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03")
        .gives(-1),
    Row("radio_answer_without_its_xor", radio(hx("00 A4")))
        .given(with<Radio24Module>([](Radio24Module& m) { m.cut = 2; }))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03")
        .gives(-1),
    Row("radio_answer_without_etx", radio(hx("00 A4")))
        .given(with<Radio24Module>([](Radio24Module& m) { m.cut = 1; }))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03")
        .gives(0).out("02 90 00"),
    Row("radio_answer_length_past_the_reply", radio(hx("00 A4")))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03").answer("00 00 00 00 07 02 00 05 90 00 90 03")
        .gives(-1),
    Row("radio_empty_answer", radio(hx("00 A4")))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03").answer("00 00 00 00 05 02 00 00 00 03")
        .gives(0).out("00"),
    Row("radio_reply_of_9_bytes", radio(hx("00 A4")))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03").answer("00 00 00 00 05 02 00 00 00")
        .gives(-1),
    Row("radio_status", radio(hx("00 A4")))
        .sends("21 01 00 02 00 07 02 00 02 00 A4 A4 03").answer("6A 82")
        .gives(-2).status(0x6A82),
    Row("radio_longest", radio(Bytes(2037, 0x42), 0))
        .given(with<Radio24Module>())
        .sends({"21 01 00 00 07 FA 02 07 F5", Bytes(2037, 0x42), "42 03"}, 5000)
        .gives(0).out("02 90 00"),
    Row("radio_one_past_the_request", radio(Bytes(2038, 0x42))).gives(-1),
    Row("radio_negative_length",
        [](Call& c) {
          int32_t n = 0;
          return c.d.op_2dot4_command(kIcdev, -1, kData.data(), &n, c.bytes(), 1);
        })
        .gives(-1),
    Row("swipe", poll)
        .given(with<StripeKeypadSim>([](StripeKeypadSim& k) {
          k.started = true;
          k.queueSwipe(StripeKeypadSim::tracks("", ";12=34?", "+9"));
        }))
        .sends("07 03 00", 5000)
        .gives(0).text("0:|7:;12=34?|2:+9"),
    Row("swipe_awaited", poll)
        .given(with<StripeKeypadSim>([](StripeKeypadSim& k) { k.started = true; }))
        .sends("07 03 00").gives(1).status(0x0705),
    Row("swipe_unreadable", poll).sends("07 03 00").answer("07 03 00").gives(2),
    Row("swipe_other_status", poll).sends("07 03 00").answer("6A 82 00").gives(-1),
    Row("swipe_status_in_two_bytes", poll).sends("07 03 00").answer("07 05").gives(-1),
    Row("swipe_track_past_the_reply", poll).sends("07 03 00").answer("00 00 00 00 00 03 41").gives(-1),
    Row("swipe_budget_0", poll_within(0))
        .given(with<StripeKeypadSim>())
        .sends("07 01 00").sends("07 03 00").sends("07 02 00")
        .gives(-2)
        .then([](const State& s) { EXPECT_FALSE(attached<StripeKeypadSim>(s)->started); }),
    Row("swipe_on_the_third_read", poll_within(5))
        .sends("07 01 00").answer("00 00")
        .sends("07 03 00").answer("07 05 00")
        .sends("07 03 00").answer("07 05 00")
        .sends("07 03 00").answer("00 00 00 01 41 00 00")
        .gives(0).text("1:A|0:|0:"),
    Row("swipe_unreadable_ends_the_wait", poll_within(5))
        .sends("07 01 00").answer("00 00")
        .sends("07 03 00").answer("07 03 00")
        .gives(2),
    Row("swipe_start_refused", poll_within(5)).sends("07 01 00").answer("6A 82").gives(-2),
    Row("sd_nothing", read_sd(0, 0)).gives(0),
    Row("sd_one_chunk", read_sd(0x7FFFFF00, 192))
        .given(with<SdCardStore>(sd_filled))
        .sends(sd_chunk(0x0510, 0x7FFFFF00, 192))
        .gives(0).out(wire_slice(kSd, 0, 192)),
    Row("sd_a_chunk_and_a_byte", read_sd(0x7FFFFF00, 193))
        .given(with<SdCardStore>(sd_filled))
        .sends(sd_chunk(0x0510, 0x7FFFFF00, 192)).sends(sd_chunk(0x0510, 0x7FFFFFC0, 1))
        .gives(0).out(wire_slice(kSd, 0, 193)),
    // Chunk offsets past the 31 bits of the caller's offset still travel whole.
    Row("sd_400_bytes_past_2_gib", read_sd(0x7FFFFF00, 400))
        .given(with<SdCardStore>(sd_filled))
        .sends(sd_chunk(0x0510, 0x7FFFFF00, 192)).sends(sd_chunk(0x0510, 0x7FFFFFC0, 192))
        .sends(sd_chunk(0x0510, 0x80000080, 16))
        .gives(0).out(kSd),
    Row("sd_write_400_bytes", write_sd(0x7FFFFF00, kSd))
        .given(with<SdCardStore>())
        .sends({sd_chunk(0x0511, 0x7FFFFF00, 192), wire_slice(kSd, 0, 192)})
        .sends({sd_chunk(0x0511, 0x7FFFFFC0, 192), wire_slice(kSd, 192, 192)})
        .sends({sd_chunk(0x0511, 0x80000080, 16), wire_slice(kSd, 384, 16)})
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(attached<SdCardStore>(s)->bytes.size(), 400u); }),
    Row("sd_chunk_2_fails", write_sd(0, kSd))
        .given(with<SdCardStore>([](SdCardStore& sd) { sd.fail_chunk = 2; }))
        .sends({sd_chunk(0x0511, 0, 192), wire_slice(kSd, 0, 192)})
        .sends({sd_chunk(0x0511, 192, 192), wire_slice(kSd, 192, 192)})
        .gives(-2).status(0x6F00)
        .then([](const State& s) { EXPECT_EQ(attached<SdCardStore>(s)->bytes.size(), 192u); }),
    Row("sd_read_chunk_short", read_sd(0, 192))
        .sends(sd_chunk(0x0510, 0, 192)).answer({"00 00 00", Bytes(191, 0)})
        .gives(-1),
    Row("sd_negative_offset", read_sd(-1, 16)).gives(-1),
    Row("sd_negative_length", [](Call& c) { return c.d.writeSD(kIcdev, 0, -1, kSd.data()); })
        .gives(-1),
    Row("sd_without_buffer", [](Call& c) { return c.d.writeSD(kIcdev, 0, 1, nullptr); }).gives(-1),
};

// The rows above, and printer settings as given and as sent: font,
// alignment, left and right margins, row pitch, print rate.
std::vector<Row> all_rows() {
  const struct {
    const char* name;
    uint8_t in[6];
    const char* sent;
  } cases[] = {
      {"font_1_margin_at_its_bound", {1, 0, 32, 31, 5, 2}, "01 00 14 1F 05 02"},
      {"font_5_is_font_0", {5, 0, 50, 47, 9, 3}, "00 00 1E 2F 09 03"},
      {"font_2_margins", {2, 2, 23, 24, 0, 1}, "02 02 17 0A 00 01"},
      {"font_0_margins", {0, 1, 48, 255, 1, 0}, "00 01 1E 1E 01 00"},
      {"font_3_keeps_font_0_margins", {3, 0, 24, 40, 7, 0}, "00 00 18 28 07 00"},
      {"alignment_3_and_rate_4", {0, 3, 0, 0, 255, 4}, "00 00 00 00 FF 03"},
      {"alignment_255_and_rate_255", {1, 255, 0, 0, 0, 255}, "01 00 00 00 00 03"},
  };
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  for (const auto& k : cases) {
    const auto& v = k.in;
    rows.push_back(Row(std::string("printer_") + k.name,
                       [=](Call& c) { return c.d.setprint(kIcdev, v[0], v[1], v[2], v[3], v[4], v[5]); })
                       .sends(std::string("24 00 00 01 ") + k.sent).answer("00 00 00")
                       .gives(0));
  }
  return rows;
}

WIRE_TABLE(R42TerminalModules, R42MemoryReader, all_rows());

// Without a swipe the timed read polls for its one budget, each poll after
// a pause (no spinning), then stops the reader and gives -2.
TEST(R42TerminalModulesBudget, NoSwipeWithinOneSecond) {
  StripeKeypadSim stripe;  // outlives the simulator, which the rig stops
  R42Rig rig;
  ASSERT_RIG(rig);
  stripe.attach(rig.model);
  char t[3][256];
  int32_t n[3] = {};
  Stopwatch clock;
  const double cpu_before = thread_cpu_ms();
  EXPECT_EQ(rig.device->readmagcardallA(kIcdev, 1, t[0], n, t[1], n + 1, t[2], n + 2), -2);
  const int64_t elapsed = clock.ms();
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 3000);
  EXPECT_LT(thread_cpu_ms() - cpu_before, 50.0);
  const std::vector<Bytes> sent = rig.requests();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent.front(), hx("07 01 00"));
  EXPECT_EQ(sent.back(), hx("07 02 00"));
  for (size_t i = 1; i + 1 < sent.size(); ++i) EXPECT_EQ(sent[i], hx("07 03 00"));
  rig.model.with([&](State&) { EXPECT_FALSE(stripe.started); });
}

}  // namespace
