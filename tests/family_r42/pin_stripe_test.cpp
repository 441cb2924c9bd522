// PIN entry, the stripe reader/writer and the terminal display: result
// codes, replies whose lengths run past their data, texts that flow over
// the display's lines, and compositions that reach overrides.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "family_r42/r42_rig.h"
#include "sim/front_panel.h"
#include "sim/process_probe.h"
#include "sim/stripe_keypad.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;

constexpr size_t kTrackRoom = 256;
constexpr uint8_t kCanary = 0xCC;

// The three tracks and lengths of a stripe call, printed as
// "L1:T1|L2:T2|L3:T3" once anything of them was written; a byte written
// past a track's NUL shows as "!", a length not written as -7.
template <typename F>
Row::Call tracks(F f) {
  return [=](Call& c) {
    std::vector<char> t(3 * kTrackRoom, char(kCanary));
    int32_t n[3] = {-7, -7, -7};
    const int32_t result = f(c, t.data(), n);
    std::string shown;
    bool written = false;
    for (size_t i = 0; i < 3; ++i) {
      const char* track = t.data() + i * kTrackRoom;
      const size_t length = strnlen(track, kTrackRoom);
      written = written || n[i] != -7 || track[0] != char(kCanary);
      // A track without its NUL was not written: shown empty.
      const std::string text = length < kTrackRoom ? std::string(track, length) : "";
      shown += (i ? "|" : "") + std::to_string(n[i]) + ":" + text;
      if (length + 1 < kTrackRoom && track[length + 1] != char(kCanary)) shown += "!";
    }
    if (written) c.print("%s", shown.c_str());
    return result;
  };
}

Row::Call read_all(uint8_t seconds) {
  return tracks([=](Call& c, char* t, int32_t* n) {
    return c.d.readmagcardall(kIcdev, seconds, t, n, t + kTrackRoom, n + 1, t + 2 * kTrackRoom,
                              n + 2);
  });
}

// getinputpass and passget: the length byte, then the text.
int32_t input_pass(Call& c) { return c.d.getinputpass(kIcdev, 30, c.bytes(), c.text() + 1); }
int32_t pad_pass(Call& c) { return c.d.passget(kIcdev, c.bytes(), c.text() + 1); }
int32_t write_tracks(Call& c) {
  return c.d.writemagcard(kIcdev, 10, hx("41").data(), 1, hx("3B 31 3F").data(), 3, nullptr, 0);
}
int32_t card_number(Call& c, const std::string& number) {
  return c.d.passin2(kIcdev, 20, 0, number.c_str());
}

std::string digits(size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += char('0' + i % 10);
  return out;
}
std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}
WireBytes ok_with(const std::string& text) { return {"00 00 00", bytes_of(text)}; }

// "Welcome to use", and 请刷卡或插卡 in GBK.
const std::string kGreeting = "57 65 6C 63 6F 6D 65 20 74 6F 20 75 73 65";
const std::string kPrompt = "C7 EB CB A2 BF A8 BB F2 B2 E5 BF A8";

const Row kRows[] = {
    Row("pin_entered", input_pass)
        .sends("06 02 00 1E", 35000).answer("00 00 00 31 32 33 34 35 36")
        .gives(0).out("06 31 32 33 34 35 36 00"),
    Row("pin_refused", input_pass)
        .sends("06 02 00 1E").answer("06 01 00")
        .gives(162).out("00 00").status(0x0601),
    Row("pin_cancelled", input_pass)
        .sends("06 02 00 1E").answer("06 02 00")
        .gives(161).out("00 00"),
    Row("pin_refused_in_two_bytes", input_pass)
        .sends("06 02 00 1E").answer("06 01")
        .gives(-1).status(0x0601),
    Row("pin_other_status", input_pass)
        .sends("06 02 00 1E").answer("6A 82 00")
        .gives(-1).status(0x6A82),
    Row("pin_of_255_characters", input_pass)
        .sends("06 02 00 1E").answer(ok_with(digits(255)))
        .gives(0).out({"FF", bytes_of(digits(255)), "00"}),
    Row("pin_of_256_characters", input_pass)
        .sends("06 02 00 1E").answer(ok_with(digits(256)))
        .gives(-1),
    Row("tracks", read_all(10))
        .sends("07 00 00 0A", 15000).answer("00 00 00 00 03 3B 31 3F 00")
        .gives(0).text("0:|3:;1?|0:"),
    Row("tracks_timed_out", read_all(10)).sends("07 00 00 0A").answer("07 01 00").gives(-2),
    Row("tracks_unreadable", read_all(10)).sends("07 00 00 0A").answer("07 02 00").gives(-3),
    Row("tracks_status_0011", read_all(10)).sends("07 00 00 0A").answer("00 11 00").gives(-4),
    Row("tracks_other_status", read_all(10))
        .sends("07 00 00 0A").answer("6A 82 00")
        .gives(-1).status(0x6A82),
    Row("tracks_status_in_two_bytes", read_all(10)).sends("07 00 00 0A").answer("07 02").gives(-1),
    Row("tracks_missing", read_all(10)).sends("07 00 00 0A").answer("00 00 00").gives(-1),
    Row("track_1_one_past_the_reply", read_all(10))
        .sends("07 00 00 0A").answer("00 00 00 01")
        .gives(-1),
    Row("track_2_one_past_the_reply", read_all(10))
        .sends("07 00 00 0A").answer("00 00 00 00 03 3B 31")
        .gives(-1),
    Row("track_3_one_past_the_reply", read_all(10))
        .sends("07 00 00 0A").answer("00 00 00 01 41 00 02 42")
        .gives(-1),
    Row("tracks_of_255_bytes", read_all(0))
        .sends("07 00 00 00", 5000)
        .answer({"00 00 00 FF", std::vector<uint8_t>(255, 'a'), "FF",
                 std::vector<uint8_t>(255, 'b'), "FF", std::vector<uint8_t>(255, 'c')})
        .gives(0)
        .text("255:" + std::string(255, 'a') + "|255:" + std::string(255, 'b') + "|255:" +
              std::string(255, 'c')),
    Row("tracks_2_and_3", tracks([](Call& c, char* t, int32_t* n) {
          return c.d.readmagcard(kIcdev, 1, t + kTrackRoom, n + 1, t + 2 * kTrackRoom, n + 2);
        }))
        .sends("07 00 00 01", 6000).answer("00 00 00 01 41 02 42 42 01 43")
        .gives(0).text("-7:|2:BB|1:C"),
    Row("tracks_without_an_output", tracks([](Call& c, char* t, int32_t* n) {
          return c.d.readmagcardall(kIcdev, 1, t, n, nullptr, n + 1, t, n + 2);
        }))
        .gives(-1),
    Row("tracks_written", write_tracks)
        .sends("07 01 00 0A 01 41 03 3B 31 3F 00", 15000).answer("00 00")
        .gives(0),
    Row("tracks_write_without_data",
        [](Call& c) { return c.d.writemagcard(kIcdev, 10, nullptr, 1, nullptr, 0, nullptr, 0); })
        .gives(-1),
    Row("pad_card_number", [](Call& c) { return card_number(c, "6222021234567890"); })
        .sends("C0 10 00 14 00 10 36 32 32 32 30 32 31 32 33 34 35 36 37 38 39 30", 5000)
        .answer("00 00")
        .gives(0),
    Row("pad_card_number_of_255", [](Call& c) { return card_number(c, digits(255)); })
        .sends({"C0 10 00 14 00 FF", bytes_of(digits(255))})
        .answer("00 00")
        .gives(0),
    Row("pad_card_number_of_256", [](Call& c) { return card_number(c, digits(256)); })
        .gives(-1),
    Row("pad_card_number_missing", [](Call& c) { return c.d.passin2(kIcdev, 20, 0, nullptr); })
        .gives(-1),
    Row("pad_mode_2", [](Call& c) { return c.d.PassIn2(kIcdev, 20, 2, "1234"); }).gives(-1),
    Row("pad_pin", pad_pass)
        .sends("C0 11 00", 5000).answer("00 00 00 31 32 33 34")
        .gives(0).out("04 31 32 33 34 00"),
    Row("pad_pin_nothing_entered", pad_pass)
        .sends("C0 11 00").answer("06 01")
        .gives(-1537),
    Row("pad_pin_missing", pad_pass).sends("C0 11 00").answer("00 00").gives(-1),
    Row("pad_pin_of_256_characters", pad_pass)
        .sends("C0 11 00").answer(ok_with(digits(256)))
        .gives(-1),
    Row("pad_pin_forwarded", [](Call& c) { return c.d.PassGet(kIcdev, c.bytes(), c.text() + 1); })
        .sends("C0 11 00").answer("00 00 00 39")
        .gives(0).out("01 39 00"),
    Row("flowing_text", [](Call& c) { return c.d.dispmaininfo(kIcdev, 0x1C, "ABCDEFGHIJ"); })
        .sends("08 01 00 01 0C 00 41 42 43 44").answer("00 00 00")
        .sends("08 01 00 02 00 00 45 46 47 48 49 4A").answer("00 00 00")
        .gives(0),
    Row("flowing_text_wraps_to_line_0",
        [](Call& c) { return c.d.dispmaininfo(kIcdev, 0xFC, "ABCDEFGHIJ"); })
        .sends("08 01 00 0F 0C 00 41 42 43 44").answer("00 00 00")
        .sends("08 01 00 00 00 00 45 46 47 48 49 4A").answer("00 00 00")
        .gives(0),
    Row("flowing_text_stops_at_a_failure",
        [](Call& c) { return c.d.dispmaininfo(kIcdev, 0x0E, "ABCDEFGHIJKLMNOPQRS"); })
        .sends("08 01 00 00 0E 00 41 42").answer("00 00 00")
        .sends("08 01 00 01 00 00 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52")
        .answer("6A 82")
        .gives(-2),
    Row("flowing_text_empty", [](Call& c) { return c.d.dispmaininfo(kIcdev, 0, ""); }).gives(0),
    Row("main_menu", [](Call& c) { return c.d.dispmainmenu(kIcdev); })
        .sends("08 00 00 04").answer("00 00 00")
        .sends("08 01 00 01 01 00 " + kGreeting).answer("00 00 00")
        .sends("08 01 00 02 02 00 " + kPrompt).answer("00 00 00")
        .gives(0),
    Row("main_menu_stops_at_a_failure", [](Call& c) { return c.d.dispmainmenu(kIcdev); })
        .sends("08 00 00 04").answer("00 00 00")
        .sends("08 01 00 01 01 00 " + kGreeting).answer("6A 82")
        .gives(-2),
};

// The rows above, and the PIN pad's and the track writer's results: minus
// the reader's status word, as 16 bits.
std::vector<Row> all_rows() {
  const struct {
    const char* word;
    int32_t result;
  } statuses[] = {{"00 01", -1}, {"06 01", -1537}, {"80 00", -32768}, {"80 01", 32767},
                  {"FF FF", 1}};
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  for (const auto& s : statuses) {
    const std::string name = std::string("status_") + s.word[0] + s.word[1] + s.word[3] + s.word[4];
    rows.push_back(Row("tracks_write_" + name, write_tracks)
                       .sends("07 01 00 0A 01 41 03 3B 31 3F 00").answer(s.word)
                       .gives(s.result));
    rows.push_back(Row("pad_start_" + name, [](Call& c) { return c.d.passin(kIcdev, 9); })
                       .sends("C0 10 00 09 01").answer(s.word)
                       .gives(s.result));
    rows.push_back(Row("pad_cancel_" + name, [](Call& c) { return c.d.passcancel(kIcdev); })
                       .sends("C0 12 00").answer(s.word)
                       .gives(s.result));
  }
  return rows;
}

WIRE_TABLE(R42PinStripe, R42MemoryReader, all_rows());

// A long text flows over the display, 16 bytes a line, line 15 wrapping to
// line 0, one piece per line (the simulated display refuses a piece that
// runs past its line).
TEST(R42PinStripeDisplay, LongTextFlowsOverTheLinesOneLineAtATime) {
  R42MemoryReader reader;
  auto panel = std::make_shared<FrontPanelSim>();
  reader.edit([&](State& s) { s.attachments.push_back(panel); });
  std::string text(100000, ' ');
  for (size_t i = 0; i < text.size(); ++i) text[i] = char('A' + (i / 16) % 26);
  ReaderDevice& d = reader.device;
  EXPECT_EQ(d.dispmaininfo(kIcdev, 0x00, text.c_str()), 0);
  EXPECT_EQ(panel->lcd_writes, 6250);
  // The last piece, number 6249, went to line 9; line 10 keeps the piece
  // before it on that line, number 6234.
  EXPECT_EQ(panel->lines[9], std::string(16, char('A' + 6249 % 26)));
  EXPECT_EQ(panel->lines[10], std::string(16, char('A' + 6234 % 26)));
}

// Compositions call the operations they build on through the device
// interface, so a derived class's override takes their place.
class LoggingDevice : public R42Device {
 public:
  using R42Device::R42Device;
  int16_t LcdDisplay(int32_t, uint8_t line, uint8_t offset, uint8_t, const char* data) override {
    calls.push_back("lcd " + std::to_string(line) + "," + std::to_string(offset) + " " + data);
    return 0;
  }
  int16_t lcdclrscrn(int32_t, uint8_t line) override {
    calls.push_back("clear " + std::to_string(line));
    return 0;
  }
  int16_t getinputpass(int32_t, uint8_t ctime, uint8_t*, char*) override {
    calls.push_back("pin " + std::to_string(ctime));
    return 5;
  }
  int16_t readmagcardall(int32_t, uint8_t ctime, char*, int32_t*, char*, int32_t*, char*,
                         int32_t*) override {
    calls.push_back("tracks " + std::to_string(ctime));
    return 6;
  }
  int16_t passin2(int32_t, uint8_t ctime, uint8_t mode, const char*) override {
    calls.push_back("pad " + std::to_string(ctime) + "," + std::to_string(mode));
    return 7;
  }
  std::vector<std::string> calls;
};

TEST(R42PinStripeCompositions, ReachOverridesThroughTheInterface) {
  NullPort port;
  RecordingProtocol wire(&port, [](const RecordingProtocol::Bytes&) { return std::nullopt; });
  LoggingDevice device("r42-u", &port, &wire);
  ReaderDevice& d = device;
  uint8_t length = 0;
  char text[kTrackRoom] = {};
  int32_t n = 0;
  EXPECT_EQ(d.dispmainmenu(kIcdev), 0);
  EXPECT_EQ(d.dispinfo_pro_V7(kIcdev, 0x2E, "xyz"), 0);
  EXPECT_EQ(d.clearlcd_V7(kIcdev, 2), 0);
  EXPECT_EQ(d.GetInputPass(kIcdev, 3, &length, text), 5);
  EXPECT_EQ(d.readmagcard(kIcdev, 4, text, &n, text, &n), 6);
  EXPECT_EQ(d.PassIn(kIcdev, 8), 7);
  const std::vector<uint8_t> prompt = hx(kPrompt);
  const std::vector<std::string> expected = {"clear 4",
                                             "lcd 1,1 Welcome to use",
                                             "lcd 2,2 " + std::string(prompt.begin(), prompt.end()),
                                             "lcd 2,14 xy",
                                             "lcd 3,0 z",
                                             "clear 2",
                                             "pin 3",
                                             "tracks 4",
                                             "pad 8,1"};
  EXPECT_EQ(device.calls, expected);
  EXPECT_TRUE(wire.calls.empty());
}

// The reader answers a PIN entry when the cardholder is done: the call
// waits for it within the cardholder's time and five seconds more.
TEST(R42PinStripeEntry, WaitsForTheCardholder) {
  StripeKeypadSim keypad;  // outlives the simulator, which the rig stops
  R42Rig rig;
  ASSERT_RIG(rig);
  keypad.attach(rig.model);
  rig.model.with([&](State&) {
    keypad.pins.push_back("2468");
    keypad.entry_delay_ms = 1500;
  });
  uint8_t length = 0;
  char pin[256] = {};
  Stopwatch clock;
  EXPECT_EQ(rig.device->getinputpass(kIcdev, 0, &length, pin), 0);
  EXPECT_GE(clock.ms(), 1500);
  EXPECT_EQ(length, 4);
  EXPECT_STREQ(pin, "2468");
  EXPECT_EQ(rig.last().timeout_ms, 5000);
}

}  // namespace
