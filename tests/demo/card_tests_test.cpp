// Trelview's card tests against an r42 reader simulated in memory (port
// 480, the application's transport): one row per road or fault, each with
// the pane it leaves and the core functions it calls, in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core_api/core_test_support.h"
#include "core_api/memory_transport.h"
#include "demo/card_tests.h"
#include "sim/card_field.h"
#include "sim/contact_slots.h"
#include "sim/id_card_module.h"
#include "sim/memory_cards.h"
#include "sim/process_probe.h"
#include "sim/stripe_keypad.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Calls = std::vector<std::string>;

constexpr int16_t kPort = 480;

Bytes hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

class RecordingSink : public TextSink {
 public:
  void append(std::string_view utf8) override { text.append(utf8); }
  void clear() override { text.clear(); }
  void scroll() override { ++scrolls; }
  bool photo(const std::string& path) override {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    if (!in.read(magic, 2) || magic[0] != 'B' || magic[1] != 'M') return false;
    photos.push_back(path);
    return true;
  }
  void placeholder() override { ++placeholders; }

  std::string text;
  int scrolls = 0, placeholders = 0;
  std::vector<std::string> photos;
};

// The reader with its card field, identity-card module, contact slots and
// stripe, behind the application's transport; the library directory holds
// the photo decoder and the bank-card library.
struct Bench {
  Bench() {
    field.attach(reader.model);
    ids.attach(reader.model);
    slots.attach(reader.model);
    stripe.attach(reader.model);
    ids.with([](IdCardModule::State& s) { s.card.reset(); });
    provider = reader.provider();
    CoreConfigure(KX_CFG_CALLBACKS, &provider);
    for (const char* library : {QM_DEMO_PHOTO_DECODER, QM_DEMO_BANK_LIBRARY}) {
      const std::filesystem::path from(library);
      std::filesystem::copy_file(from, traces.root() + from.filename().string());
    }
    set_trace_level(2);
  }
  ~Bench() {
    PortProvider none{};
    CoreConfigure(KX_CFG_CALLBACKS, &none);
  }
  void withoutBank() { std::filesystem::remove(traces.root() + "libkx_pboc.so"); }
  // The core functions called, in order.
  Calls calls() const {
    Calls out;
    for (const std::string& line : traces.lines()) {
      if (line.rfind("function:", 0) == 0) out.push_back(line.substr(line.find(']') + 1));
    }
    return out;
  }

  TraceDir traces;
  MemoryTransportReader reader;
  PortProvider provider{};
  CardField field;
  IdCardModule ids;
  ContactSlots slots;
  StripeKeypadSim stripe;
  RecordingSink sink;
};

struct Row {
  std::string name;
  std::function<void(Bench&)> given;
  std::function<void(CardTests&)> press;
  std::string pane;
  Calls calls;
  std::function<void(Bench&)> then = nullptr;
};

// kx_init, the steps, the beep (when given) and kx_exit.
Calls road(std::initializer_list<const char*> steps, bool beep = true) {
  Calls out = {"kx_init"};
  out.insert(out.end(), steps.begin(), steps.end());
  if (beep) out.push_back("kx_beep");
  out.push_back("kx_exit");
  return out;
}

const MifareCard::Key kDemoKey = {0xA3, 0xC5, 0xE7, 0x09, 0x2B, 0x4D};

void demo_card(Bench& b) {
  MifareCard card = MifareCard::classic1k({0x11, 0x22, 0x33, 0x44});
  card.setKeys(1, kDemoKey, kDemoKey);
  b.field.insert(card);
}

const char kSectorPane[] =
    "Card sn is 11223344\r\nRead the block4 : 00000000000000000000000000000000\r\n"
    "Write '11223344556677889900aabbccddeeff' into blk5\r\n"
    "Read the blk5 is : 11223344556677889900AABBCCDDEEFF\r\nChange key ok\r\n";
const Calls kSectorSteps = road({"kx_card_double_hex", "kx_load_key_hex", "kx_authentication",
                                 "kx_read_hex", "kx_write", "kx_read_hex", "kx_changeb3_hex"});

std::vector<Row> rows() {
  const auto sector = [](std::string key) {
    return [key](CardTests& t) { t.sectorCard(key); };
  };
  return {
      {"sector_road", demo_card, sector("A3C5E7092B4D"), kSectorPane, kSectorSteps,
       [](Bench& b) {
         const std::vector<Bytes> log = b.reader.model.log();
         const Bytes want[] = {
             hex("05 01 00 00 00 00 0C 00 00 00 06 A3 C5 E7 09 2B 4D"),
             hex("05 00 00 00 00 00 0C 00 00 00 06"), hex("04 04 00 60 07 A3 C5 E7 09 2B 4D"),
             hex("04 06 00 07 A3 C5 E7 09 2B 4D FF 07 80 00 A3 C5 E7 09 2B 4D")};
         for (const Bytes& request : want) {
           EXPECT_NE(std::find(log.begin(), log.end(), request), log.end());
         }
         const std::vector<std::string> lines = b.traces.lines();
         EXPECT_NE(std::find(lines.begin(), lines.end(),
                             trace_lines::in("NKey", "A3C5E7092B4D")), lines.end());
       }},
      {"sector_no_card", nullptr, sector("A3C5E7092B4D"),
       "Please put the card on the right position.\r\n", road({"kx_card_double_hex"}, false)},
      {"sector_empty_key", demo_card, sector(""), "Card sn is 11223344\r\nload key err\r\n",
       road({"kx_card_double_hex", "kx_load_key_hex"}, false),
       [](Bench& b) { EXPECT_EQ(b.reader.model.count(0x0501), 0u); }},
      {"sector_odd_key", demo_card, sector("A3C5E7092B4Z"), "Card sn is 11223344\r\nload key err\r\n",
       road({"kx_card_double_hex", "kx_load_key_hex"}, false),
       [](Bench& b) { EXPECT_EQ(b.reader.model.count(0x0501), 0u); }},
      {"sector_wrong_key", demo_card, sector("FFFFFFFFFFFF"),
       "Card sn is 11223344\r\nkx authentication error\r\n",
       road({"kx_card_double_hex", "kx_load_key_hex", "kx_authentication"}, false)},
      {"sector_write_refused",
       [](Bench& b) {
         demo_card(b);
         b.reader.model.failWithStatus(0x0406, 0x0001);
       },
       sector("A3C5E7092B4D"),
       "Card sn is 11223344\r\nRead the block4 : 00000000000000000000000000000000\r\n"
       "write data error\r\n",
       road({"kx_card_double_hex", "kx_load_key_hex", "kx_authentication", "kx_read_hex",
             "kx_write"}, false)},
      {"sector_key_cut_at_12", demo_card, sector("A3C5E7092B4DFFFF"), kSectorPane, kSectorSteps},
  };
}

class DemoCardTests : public ::testing::TestWithParam<Row> {};

TEST_P(DemoCardTests, Road) {
  const Row& row = GetParam();
  const int fds = open_fd_count();
  {
    Bench bench;
    if (row.given) row.given(bench);
    CardTests::Settings settings;
    settings.port = kPort;
    settings.photo_path = bench.traces.root() + "me.bmp";
    CardTests tests(bench.sink, settings);
    row.press(tests);
    EXPECT_EQ(bench.sink.text, row.pane);
    EXPECT_EQ(bench.calls(), row.calls);
    if (row.then) row.then(bench);
  }
  EXPECT_EQ(open_fd_count(), fds);
}

INSTANTIATE_TEST_SUITE_P(Rows, DemoCardTests, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return info.param.name; });

TEST(DemoCardTypeLines, Decoding) {
  struct Case {
    uint8_t f0, f1;
    int code;  // what the contact-slot check gives
    std::string text;
    bool failed;
  } cases[] = {
      {0x40, 0, 0, "身份证就位\r\n", false},
      {0x02, 0, 0, "M1卡就位\r\n", false},
      {0x10, 0, 0, "未识别到相关卡\r\n", false},
      {0x01, 0, 0, "", false},
      {0, 0x04, 22, "接触卡槽有一张24C02卡\r\n", false},
      {0, 0x02, 99, "", false},
      {0, 0x04, -1, "接触卡槽卡类型未能识别\r\n", true},
      {0x40, 0x7E, 31, "身份证就位\r\nType A CPU卡或Type B CPU卡就位\r\nM1卡就位\r\n接触卡槽有一张T=1 CPU卡\r\n",
       false},
  };
  for (const Case& c : cases) {
    int checks = 0;
    const CardTypeLines lines = card_type_lines(c.f0, c.f1, [&] {
      ++checks;
      return c.code;
    });
    EXPECT_EQ(lines.text, c.text) << int(c.f0) << "/" << int(c.f1);
    EXPECT_EQ(lines.failed, c.failed);
    EXPECT_EQ(checks, (c.f1 & 0x06) ? 1 : 0);
  }
}

TEST(DemoCardTypeLines, TimeoutField) {
  EXPECT_EQ(parse_timeout_field(" 300 "), 300u);
  EXPECT_EQ(uint8_t(parse_timeout_field("300")), 44);
  EXPECT_EQ(parse_timeout_field("4294967295"), 4294967295u);
  for (const char* bad : {"abc", "", "1a", "-1", "4294967296", "1 2"}) {
    EXPECT_EQ(parse_timeout_field(bad), 0u) << bad;
  }
}

}  // namespace
