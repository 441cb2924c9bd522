// Trelview's card tests against the simulated reader: one row per road or
// fault, each with the pane it leaves and the core functions it calls, in
// order; rows that differ only in data come from one maker.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "demo/demo_bench.h"
#include "scanner/environment.h"
#include "sim/fake_hid.h"
#include "sim/memory_cards.h"
#include "sim/process_probe.h"

namespace {

using Calls = std::vector<std::string>;
using Given = std::function<void(DemoBench&)>;

// The pane's text, with "<photo>" where a photo was shown (any file there
// loads) and "<placeholder>" where the start-up picture was.
class RecordingSink : public TextSink {
 public:
  void append(std::string_view utf8) override { text.append(utf8); }
  void clear() override { text.clear(); }
  void scroll() override { ++scrolls; }
  bool photo(const std::string& path) override {
    if (std::filesystem::exists(path)) text += "<photo>";
    return std::filesystem::exists(path);
  }
  void placeholder() override { text += "<placeholder>"; }

  std::string text;
  int scrolls = 0;
};

// The traced functions as "name", or their inputs but the handle as
// "name=value".
Calls traced(const TraceDir& traces, bool inputs) {
  static const std::regex function(R"(function:\[len:\d+\](.*))"),
      input(R"(  parameter:\[(\w+)\[in\]\]\[len:\d+\](.*))");
  Calls out;
  std::smatch m;
  for (const std::string& line : traces.lines()) {
    if (!std::regex_match(line, m, inputs ? input : function)) continue;
    if (inputs && m[1] == "icdev") {
      EXPECT_EQ(m[2], "0x00000230");
    } else {
      out.push_back(inputs ? m[1].str() + "=" + m[2].str() : m[1].str());
    }
  }
  return out;
}

struct Row {
  std::string name;
  Given given;
  std::function<void(CardTests&)> press;
  std::string pane;
  Calls calls;
  Given then = nullptr;
};

// kx_init, the steps, the beep when the test succeeded, and kx_exit.
Calls road(Calls steps, bool beep = true) {
  steps.insert(steps.begin(), "kx_init");
  if (beep) steps.push_back("kx_beep");
  steps.push_back("kx_exit");
  return steps;
}

// A processor card that gives `replies`, one per command, in order; put in
// contact seat `seat`, or in the field (-1).
std::shared_ptr<Iso7816Card> scripted(const Calls& replies) {
  auto card = std::make_shared<Iso7816Card>();
  for (const std::string& reply : replies) card->script(hx(reply));
  return card;
}
Given card_in(int seat, const Calls& replies) {
  return [=](DemoBench& b) {
    if (seat < 0) b.field.insert(scripted(replies));
    if (seat >= 0) b.slots.insert(seat, scripted(replies));
  };
}

// A contact card started and given nine commands, as the social-security
// files are read.
Calls nine_apdus(bool beep = true) {
  Calls steps = {"kx_setcpu", "kx_SetCpuVoltage", "kx_cpureset_hex"};
  steps.insert(steps.end(), 9, "kx_cpuapdusource_hex");
  return road(steps, beep);
}

// Sector 1 of the demo card: the whole road, or a stop at function `steps`
// with `error` after the pane lines of the `kept` steps that passed.
Row sector(const char* name, std::string key, size_t steps, size_t kept, const char* error,
           Given given = [](DemoBench& b) { b.insertDemoCard(); }) {
  static const Calls all = {"kx_card_double_hex", "kx_load_key_hex", "kx_authentication",
                            "kx_read_hex", "kx_write", "kx_read_hex", "kx_changeb3_hex"};
  static const std::string lines[] = {
      "Card sn is 11223344\r\n", "Read the block4 : 00000000000000000000000000000000\r\n",
      "Write '11223344556677889900aabbccddeeff' into blk5\r\n",
      "Read the blk5 is : 11223344556677889900AABBCCDDEEFF\r\n", "Change key ok\r\n"};
  std::string pane;
  for (size_t i = 0; i < kept; ++i) pane += lines[i];
  const bool ok = *error == '\0';
  return {std::string("sector_") + name, given, [key](CardTests& t) { t.sectorCard(key); },
          pane + error, road({all.begin(), all.begin() + long(steps)}, ok),
          [steps, ok](DemoBench& b) {
            EXPECT_EQ(b.reader.model.count(0x0501), steps > 2 ? 1u : 0u);  // the key sent
            if (!ok) return;
            EXPECT_EQ(traced(b.traces, true),
                      Calls({"port=480", "baud=115200", "_Mode=1", "_Mode=0", "_SecNr=1",
                             "_NKey=A3C5E7092B4D", "_Mode=0", "_SecNr=1", "_Adr=4", "_Adr=5",
                             "_Data=11223344556677889900AABBCCDDEEFF", "_Adr=5", "_SecNr=1",
                             "_KeyA=A3C5E7092B4D", "_B0=0", "_B1=0", "_B2=0", "_B3=1", "_Bk=0",
                             "_KeyB=A3C5E7092B4D", "_Msec=10"}));
          }};
}

// The social-security EF05 file whose card-number record answers `record`.
Row ef05(const char* name, std::string record, bool ok) {
  return {std::string("ef05_") + name,
          card_in(0, {"90 00", "90 00", "01 01 01 90 00", "02 01 02 90 00", "03 01 03 90 00",
                      "04 01 04 90 00", "05 01 05 90 00", "06 01 06 90 00", record}),
          &CardTests::socialSecurityEf05,
          ok ? "卡识别码:010101\r\n卡类型:020102\r\n卡规范版本:030103\r\n初始化机构编号："
               "040104\r\n发卡日期:050105 \r\n有效日期：060106\r\n卡号: A12345678\r\n"
             : "读取社保卡05错误\r\n",
          nine_apdus(ok)};
}

// A bank card in the field, one in the contact seat when given, each
// answering with its track 2 data.
Row bank(const char* name, const char* contact, bool library, const char* pane) {
  const auto card = [](std::string track2) {
    return scripted({"90 00", "70 0B 57 09 " + track2 + " 90 00"});
  };
  return {std::string("bank_") + name,
          [=](DemoBench& b) {
            if (!library) std::filesystem::remove(b.traces.root() + "libkx_pboc.so");
            b.field.insert(card("62 22 33 44 55 66 77 88 D2"));
            if (contact) b.slots.insert(0, card(contact));
          },
          &CardTests::bankCard, pane,
          road({"kx_SetCpuVoltage", "kx_GetBankAccountNumber", "kx_SetCpuVoltage",
                "kx_GetBankAccountNumber"})};
}

// A swipe of three equal tracks (none when empty), waited for as long as
// the field gives, in 8 bits.
Row stripe(const char* name, std::string field, std::string track, uint8_t seconds) {
  return {std::string("stripe_") + name,
          [track](DemoBench& b) {
            if (!track.empty()) b.stripe.queueSwipe(StripeKeypadSim::tracks(track, track, track));
          },
          [field](CardTests& t) { t.magneticStripe(field); }, track + track + track,
          road({"kx_readmagcardall"}, !track.empty()),
          [seconds](DemoBench& b) {
            EXPECT_EQ(b.reader.model.log()[1], std::vector<uint8_t>({7, 0, 0, seconds}));
          }};
}

std::vector<Row> rows() {
  const std::string id_head = "-------- 读取身份证信息 --------\r\n";
  const std::string id_pane = id_head +
                              "姓名: 张三\r\n性别: 男\r\n民族: 汉\r\n出生日期: 19800101\r\n"
                              "住址: 测试省样例市示范路8号\r\n公民身份号码: 110101198001011232\r\n"
                              "签发机关: 样例市公安局\r\n证件签发止日期: 2015010120350101\r\n";
  const Calls id_calls = road({"kx_find_i_d", "kx_start_i_d", "kx_i_d_query_name",
                               "kx_i_d_query_sex", "kx_i_d_query_nation", "kx_i_d_query_birth",
                               "kx_i_d_query_address", "kx_i_d_query_id_number",
                               "kx_i_d_query_department", "kx_i_d_query_expire_day",
                               "kx_i_d_query_photo_file", "kx_end_i_d"});
  const char* const key = "A3C5E7092B4D";
  return {
      sector("road", key, 7, 5, ""),
      sector("key_cut_at_12", "A3C5E7092B4DFFFF", 7, 5, ""),
      sector("no_card", key, 1, 0, "Please put the card on the right position.\r\n", nullptr),
      sector("non_hex_key", "A3C5E7092B4G", 2, 1, "load key err\r\n"),
      sector("wrong_key", "FFFFFFFFFFFF", 3, 1, "kx authentication error\r\n"),
      sector("write_refused", key, 5, 2, "write data error\r\n",
             [](DemoBench& b) {
               b.insertDemoCard();
               b.reader.model.failWithStatus(0x0406, 0x0001);
             }),
      {"identity_card", [](DemoBench& b) { b.insertIdCardA(); }, &CardTests::identityCard,
       id_pane + "<photo>", id_calls},
      {"identity_photo_not_decoded",  // no decoder, and an older card's photo left behind
       [](DemoBench& b) {
         b.insertIdCardA();
         std::filesystem::remove(b.traces.root() + "libwltrs_getbmp.so");
         std::ofstream(b.settings().photo_path) << "an older card's photo";
       },
       &CardTests::identityCard, id_pane + "<placeholder>", id_calls},
      {"identity_no_card", nullptr, &CardTests::identityCard, id_head + "请放置好您的身份证！\r\n",
       road({"kx_find_i_d"})},
      bank("contactless_only", nullptr, true, "6222334455667788为非接银行卡卡号\r\n"),
      bank("both_cards", "62 17 00 00 11 11 22 22 D2", true,
           "6222334455667788为非接银行卡卡号\r\n6217000011112222为接触银行卡卡号\r\n"),
      bank("no_library", nullptr, false, "银行卡号获取失败\r\n"),
      ef05("road", "07 09 41 31 32 33 34 35 36 37 38 90 00", true),
      ef05("number_length_0", "07 00 90 00", false),
      ef05("number_past_its_text", "07 09 41 31 90 00", false),
      ef05("number_text_under_4", "07 90 00", false),
      {"ef06_road",
       card_in(0, {"90 00", "90 00",
                   "08 12 31 31 30 31 30 31 31 39 38 30 30 31 30 31 30 30 31 31 90 00",
                   "09 04 D5 C5 C8 FD 90 00", "4E 01 00 90 00", "0A 01 31 90 00",
                   "0B 01 01 90 00", "0C 01 11 90 00", "0D 04 19 80 01 01 90 00"}),
       &CardTests::socialSecurityEf06,
       "身份证号：110101198001010011\r\n姓名：张三\r\n性别：男\r\n民族：汉族 \r\n出生日期：19800101\r\n",
       nine_apdus()},
      {"health_ef05_road",
       card_in(-1, {"90 00", "90 00", "02 04 56 31 2E 30 90 00", "03 04 4F 52 47 31 90 00",
                    "07 03 49 44 31 90 00"}),
       &CardTests::healthCardEf05, "版本：V1.0\r\n机构：ORG1\r\nID：ID1\r\n",
       road({"kx_pro_resethex", "kx_pro_commandhex", "kx_pro_commandhex", "kx_pro_commandhex",
             "kx_pro_commandhex", "kx_pro_commandhex"})},
      {"health_ef06_message", nullptr, &CardTests::healthCardEf06, "请插入标准的PSAM卡再试~！", {}},
      {"sle4442_road",
       [](DemoBench& b) {
         b.reader.model.with([](auto& s) { s.memory_card.insert(Sle4442Card()).memory.assign(256, 0xA5); });
       },
       &CardTests::sle4442Card, "4442数据：\r\n" + trace_lines::repeat("A5", 256) + "\r\n",
       road({"kx_read_4442_hex"})},
      {"eeprom_road",
       [](DemoBench& b) {
         b.reader.model.with([](auto& s) { s.memory_card.insert(EepromCard::c24(2)); });
       },
       &CardTests::eepromCard, "24Cxx数据：\r\n" + trace_lines::repeat("FF", 256) + "\r\n",
       road({"kx_read_24c_hex"})},
      {"card_type_id_card",
       [](DemoBench& b) { b.reader.model.scriptReply(0x044A, R42ReaderModel::reply(0, 0, {0x40, 0})); },
       &CardTests::cardType, "身份证就位\r\n", road({"kx_reset", "kx_card_exist"})},
      {"fm11rf005_road",
       [](DemoBench& b) {
         MifareCard card = MifareCard::fm11rf005({0x15, 0xCD, 0x5B, 0x07});
         std::memcpy(card.block(2).data(), "PAT1", 4);
         std::memcpy(card.block(3).data(), "2345", 4);
         b.field.insert(card);
       },
       &CardTests::fm11rf005Card, "该卡卡号是123456789\r\n该卡PatientID是 PAT12345\r\n",
       road({"kx_card_fm11rf005", "kx_read_fm11rf005", "kx_read_fm11rf005"})},
      {"fm11rf005_no_card", nullptr, &CardTests::fm11rf005Card, "请放正确类型的卡片\r\n",
       road({"kx_card_fm11rf005"})},
      {"sam_road", card_in(2, {"6F 02 84 00 90 00"}),
       &CardTests::samCard, "3B021450\r\n指令：\r\n6F0284009000",
       road({"kx_setcpu", "kx_cpureset_hex", "kx_cpuapdu_hex"})},
      {"sam_missing", nullptr, &CardTests::samCard, "请插入标准的PSAM卡再试~！\r\n",
       road({"kx_setcpu", "kx_cpureset_hex"})},
      stripe("300_seconds", "300", "T1", 44),
      stripe("255_byte_tracks", "abc", std::string(255, 'x'), 0),
      stripe("no_swipe", "1", "", 1),
  };
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class DemoCardTests : public ::testing::TestWithParam<Row> {};

TEST_P(DemoCardTests, Road) {
  const Row& row = GetParam();
  const int fds = open_fd_count();
  {
    DemoBench bench;
    if (row.given) row.given(bench);
    RecordingSink sink;
    CardTests tests(sink, bench.settings());
    row.press(tests);
    EXPECT_EQ(sink.text, row.pane);
    EXPECT_EQ(traced(bench.traces, false), row.calls);
    if (row.then) row.then(bench);
  }
  EXPECT_EQ(open_fd_count(), fds);
}

INSTANTIATE_TEST_SUITE_P(Rows, DemoCardTests, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return info.param.name; });

// Port 100 with no USB reader and no scanner on port 1100: each test that
// opens a reader says only "init error" and closes nothing; the others say
// why they got nothing.
TEST(DemoNoReader, EveryButton) {
  FakeHidBackend no_devices;
  PortStacks stacks;
  stacks.hid = &no_devices;
  device_manager.setPortStacksForTest(stacks);
  scanner_environment().hid = &no_devices;
  TraceDir traces;
  set_trace_level(1);
  RecordingSink sink;
  CardTests tests(sink, CardTests::Settings{});
  using T = CardTests;
  const std::pair<std::function<void(T&)>, std::string> presses[] = {
      {[](T& t) { t.sectorCard("A3C5E7092B4D"); }, ""}, {&T::identityCard, ""},
      {&T::bankCard, ""},    {&T::socialSecurityEf05, ""}, {&T::socialSecurityEf06, ""},
      {&T::healthCardEf05, ""}, {&T::sle4442Card, ""},   {&T::eepromCard, ""},
      {&T::cardType, ""},    {&T::fm11rf005Card, ""},      {&T::samCard, ""},
      {[](T& t) { t.magneticStripe("1"); }, ""},  // the reader tests: only "init error"
      {&T::scanOnce, "请确认设备正常工作且点击按钮后3秒内能扫描到二维码\n"},
      {&T::scannerSerialNumber, "获取失败，非标产品\r\n"},
      {&T::socialSecurityDriver, "SSCardDriver: no social-security card driver in this build\r\n"},
  };
  for (const auto& [press, text] : presses) {
    sink.text.clear();
    press(tests);
    EXPECT_EQ(sink.text, text.empty() ? "init error\r\n" : text);
  }
  EXPECT_EQ(sink.scrolls, 14);  // each but the driver's
  EXPECT_EQ(tests.handle(), -1);
  // The serial-number test closes the handle the last test left, as it
  // always did: a failed open's -1.
  Calls want(12, "kx_init");
  want.push_back("kx_exit");
  EXPECT_EQ(traced(traces, false), want);
  EXPECT_EQ(no_devices.opens(), 0);
  device_manager.setPortStacksForTest(PortStacks{});
  scanner_environment().hid = nullptr;
}

TEST(DemoCardTypeLines, DecodingAndTimeoutField) {
  // F0, F1, what the contact-slot check gives, whether the test failed.
  const std::tuple<uint8_t, uint8_t, int, bool, std::string> cases[] = {
      {0x02, 0, 0, false, "M1卡就位\r\n"},
      {0x10, 0, 0, false, "未识别到相关卡\r\n"},
      {0x01, 0, 0, false, ""},
      {0, 0x04, 22, false, "接触卡槽有一张24C02卡\r\n"},
      {0, 0x02, 99, false, ""},
      {0, 0x04, -1, true, "接触卡槽卡类型未能识别\r\n"},
      {0x40, 0x7E, 31, false,
       "身份证就位\r\nType A CPU卡或Type B CPU卡就位\r\nM1卡就位\r\n接触卡槽有一张T=1 CPU卡\r\n"},
  };
  for (const auto& [f0, f1, code, failed, text] : cases) {
    int checks = 0;
    const CardTypeLines lines = card_type_lines(f0, f1, [&, code = code] { return ++checks, code; });
    EXPECT_EQ(lines.text, text) << int(f0) << "/" << int(f1);
    EXPECT_EQ(lines.failed, failed);
    EXPECT_EQ(checks, (f1 & 0x06) ? 1 : 0);
  }
  // The stripe's time-out field (its low 8 bits are checked on the wire).
  const std::pair<const char*, uint32_t> fields[] = {
      {" 300 ", 300}, {"4294967295", 4294967295u}, {"abc", 0}, {"", 0},
      {"1a", 0},      {"-1", 0},                   {"4294967296", 0}, {"1 2", 0}};
  for (const auto& [field, value] : fields) EXPECT_EQ(parse_timeout_field(field), value) << field;
}

}  // namespace
