// Trelview's card tests against an r42 reader simulated in memory (port
// 480, the application's transport): one row per road or fault, each with
// the pane it leaves and the core functions it calls, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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
#include "sim/fake_hid.h"
#include "sim/id_card_module.h"
#include "sim/memory_cards.h"
#include "scanner/environment.h"
#include "sim/process_probe.h"
#include "sim/stripe_keypad.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Calls = std::vector<std::string>;

constexpr int16_t kPort = 480;

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

  // The input lines but the handle's, as "name=value".
  std::string ins() const {
    std::string out;
    for (const std::string& line : traces.lines()) {
      const size_t at = line.find("[in]]");
      if (at == std::string::npos) continue;
      const std::string name = line.substr(line.find('[') + 1, at - line.find('[') - 1);
      const std::string value = line.substr(line.find(']', at + 5) + 1);
      if (name == "icdev") {
        EXPECT_EQ(value, "0x00000230");
        continue;
      }
      out += (out.empty() ? "" : " ") + name + "=" + value;
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
  std::string ins = "";  // on main roads: every input traced
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

// A processor card that gives `replies`, one per command, in order.
std::shared_ptr<Iso7816Card> scripted(std::initializer_list<const char*> replies) {
  auto card = std::make_shared<Iso7816Card>();
  for (const char* reply : replies) card->script(hx(reply));
  return card;
}

// A social-security card in the contact seat whose EF05 card-number record
// answers `record7`.
std::function<void(Bench&)> ef05_card(const char* record7) {
  return [record7](Bench& b) {
    b.slots.insert(0, scripted({"90 00", "90 00", "01 01 01 90 00", "02 01 02 90 00",
                                "03 01 03 90 00", "04 01 04 90 00", "05 01 05 90 00",
                                "06 01 06 90 00", record7}));
  };
}

// A bank card answering the library's selection and its record with track
// 2 data `track2` (hex).
std::shared_ptr<Iso7816Card> bank_card(const std::string& track2) {
  const std::string record = "70 0B 57 09 " + track2 + " 90 00";
  return scripted({"90 00", record.c_str()});
}

// The contact card's start and `apdus` exchanges, as the social-security
// readers make them.
Calls contact_card_road(int apdus, bool beep = true) {
  Calls out = road({"kx_setcpu", "kx_SetCpuVoltage", "kx_cpureset_hex"}, beep);
  out.insert(out.end() - (beep ? 2 : 1), size_t(apdus), "kx_cpuapdusource_hex");
  return out;
}
const Calls kEf05Calls = contact_card_road(9), kEf05Failed = contact_card_road(9, false);
const Calls kBankCalls = road({"kx_SetCpuVoltage", "kx_GetBankAccountNumber",
                               "kx_SetCpuVoltage", "kx_GetBankAccountNumber"});
const char kIdHead[] = "-------- 读取身份证信息 --------\r\n";
const std::string kIdPane = std::string(kIdHead) +
                            "姓名: 张三\r\n性别: 男\r\n民族: 汉\r\n出生日期: 19800101\r\n"
                            "住址: 测试省样例市示范路8号\r\n公民身份号码: 110101198001011232\r\n"
                            "签发机关: 样例市公安局\r\n证件签发止日期: 2015010120350101\r\n";
const Calls kIdCalls = road({"kx_find_i_d", "kx_start_i_d", "kx_i_d_query_name",
                             "kx_i_d_query_sex", "kx_i_d_query_nation", "kx_i_d_query_birth",
                             "kx_i_d_query_address", "kx_i_d_query_id_number",
                             "kx_i_d_query_department", "kx_i_d_query_expire_day",
                             "kx_i_d_query_photo_file", "kx_end_i_d"});
const Calls kNoReaderCall = {};

void card_a(Bench& b) {
  b.ids.with([](IdCardModule::State& s) { s.card = IdCard::a(); });
}

// The flags the reader reports for a card present.
std::function<void(Bench&)> presence(uint8_t f0) {
  return [f0](Bench& b) { b.reader.model.scriptReply(0x044A, R42ReaderModel::reply(0, 0, {f0, 0})); };
}

std::vector<Row> rows() {
  const auto sector = [](std::string key) {
    return [key](CardTests& t) { t.sectorCard(key); };
  };
  return {
      {"sector_road", demo_card, sector("A3C5E7092B4D"), kSectorPane, kSectorSteps,
       [](Bench& b) {
         const std::vector<Bytes> log = b.reader.model.log();
         const Bytes want[] = {
             hx("05 01 00 00 00 00 0C 00 00 00 06 A3 C5 E7 09 2B 4D"),
             hx("05 00 00 00 00 00 0C 00 00 00 06"), hx("04 04 00 60 07 A3 C5 E7 09 2B 4D"),
             hx("04 06 00 07 A3 C5 E7 09 2B 4D FF 07 80 00 A3 C5 E7 09 2B 4D")};
         for (const Bytes& request : want) {
           EXPECT_NE(std::find(log.begin(), log.end(), request), log.end());
         }
       },
       "port=480 baud=115200 _Mode=1 _Mode=0 _SecNr=1 _NKey=A3C5E7092B4D _Mode=0 _SecNr=1 "
       "_Adr=4 _Adr=5 _Data=11223344556677889900AABBCCDDEEFF _Adr=5 _SecNr=1 "
       "_KeyA=A3C5E7092B4D _B0=0 _B1=0 _B2=0 _B3=1 _Bk=0 _KeyB=A3C5E7092B4D _Msec=10"},
      {"sector_no_card", nullptr, sector("A3C5E7092B4D"),
       "Please put the card on the right position.\r\n", road({"kx_card_double_hex"}, false)},
      {"sector_empty_key", demo_card, sector(""), "Card sn is 11223344\r\nload key err\r\n",
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
      {"identity_card", card_a, &CardTests::identityCard, kIdPane, kIdCalls,
       [](Bench& b) {
         ASSERT_EQ(b.sink.photos.size(), 1u);
         EXPECT_EQ(b.sink.placeholders, 0);
       }},
      {"identity_photo_not_decoded",  // no decoder, and an older card's photo
       [](Bench& b) {
         card_a(b);
         std::filesystem::remove(b.traces.root() + "libwltrs_getbmp.so");
         std::ofstream(b.traces.root() + "me.bmp") << "BM older card";
       },
       &CardTests::identityCard, kIdPane, kIdCalls,
       [](Bench& b) {
         EXPECT_TRUE(b.sink.photos.empty());
         EXPECT_EQ(b.sink.placeholders, 1);
       }},
      {"identity_no_card", nullptr, &CardTests::identityCard,
       std::string(kIdHead) + "请放置好您的身份证！\r\n", road({"kx_find_i_d"})},
      {"bank_contactless_only",
       [](Bench& b) { b.field.insert(bank_card("62 22 33 44 55 66 77 88 D2")); },
       &CardTests::bankCard, "6222334455667788为非接银行卡卡号\r\n", kBankCalls},
      {"bank_both_cards",
       [](Bench& b) {
         b.field.insert(bank_card("62 22 33 44 55 66 77 88 D2"));
         b.slots.insert(0, bank_card("62 17 00 00 11 11 22 22 D2"));
       },
       &CardTests::bankCard,
       "6222334455667788为非接银行卡卡号\r\n6217000011112222为接触银行卡卡号\r\n", kBankCalls},
      {"bank_no_library",
       [](Bench& b) {
         b.withoutBank();
         b.field.insert(bank_card("62 22 33 44 55 66 77 88 D2"));
       },
       &CardTests::bankCard, "银行卡号获取失败\r\n", kBankCalls},
      {"ef05_road", ef05_card("07 09 41 31 32 33 34 35 36 37 38 90 00"),
       &CardTests::socialSecurityEf05,
       "卡识别码:010101\r\n卡类型:020102\r\n卡规范版本:030103\r\n初始化机构编号：040104\r\n"
       "发卡日期:050105 \r\n有效日期：060106\r\n卡号: A12345678\r\n",
       kEf05Calls},
      {"ef05_number_length_0", ef05_card("07 00 90 00"), &CardTests::socialSecurityEf05,
       "读取社保卡05错误\r\n", kEf05Failed},
      {"ef05_number_past_its_text", ef05_card("07 09 41 31 90 00"),
       &CardTests::socialSecurityEf05, "读取社保卡05错误\r\n", kEf05Failed},
      {"ef05_number_text_under_4", ef05_card("07 90 00"), &CardTests::socialSecurityEf05,
       "读取社保卡05错误\r\n", kEf05Failed},
      {"ef06_road",
       [](Bench& b) {
         b.slots.insert(0, scripted({"90 00", "90 00",
                                     "08 12 31 31 30 31 30 31 31 39 38 30 30 31 30 31 30 30 31 31 90 00",
                                     "09 04 D5 C5 C8 FD 90 00", "4E 01 00 90 00", "0A 01 31 90 00",
                                     "0B 01 01 90 00", "0C 01 11 90 00", "0D 04 19 80 01 01 90 00"}));
       },
       &CardTests::socialSecurityEf06,
       "身份证号：110101198001010011\r\n姓名：张三\r\n性别：男\r\n民族：汉族 \r\n"
       "出生日期：19800101\r\n",
       contact_card_road(9)},
      {"health_ef05_road",
       [](Bench& b) {
         b.field.insert(scripted({"90 00", "90 00", "02 04 56 31 2E 30 90 00",
                                  "03 04 4F 52 47 31 90 00", "07 03 49 44 31 90 00"}));
       },
       &CardTests::healthCardEf05, "版本：V1.0\r\n机构：ORG1\r\nID：ID1\r\n",
       road({"kx_pro_resethex", "kx_pro_commandhex", "kx_pro_commandhex", "kx_pro_commandhex",
             "kx_pro_commandhex", "kx_pro_commandhex"})},
      {"health_ef06_message", nullptr, &CardTests::healthCardEf06, "请插入标准的PSAM卡再试~！",
       kNoReaderCall},
      {"clear", nullptr,
       [](CardTests& t) {
         t.healthCardEf06();
         t.clearPane();
       },
       "", kNoReaderCall},
      {"sle4442_road",
       [](Bench& b) {
         b.reader.model.with([](R42ReaderModel::State& s) {
           s.memory_card.insert(Sle4442Card()).memory.assign(256, 0xA5);
         });
       },
       &CardTests::sle4442Card, "4442数据：\r\n" + trace_lines::repeat("A5", 256) + "\r\n",
       road({"kx_read_4442_hex"})},
      {"sle4442_no_card", nullptr, &CardTests::sle4442Card, "4442卡读取错误，请确认卡类型\r\n",
       road({"kx_read_4442_hex"}, false)},
      {"eeprom_road",
       [](Bench& b) {
         b.reader.model.with([](R42ReaderModel::State& s) { s.memory_card.insert(EepromCard::c24(2)); });
       },
       &CardTests::eepromCard, "24Cxx数据：\r\n" + trace_lines::repeat("FF", 256) + "\r\n",
       road({"kx_read_24c_hex"})},
      {"card_type_id_card", presence(0x40), &CardTests::cardType, "身份证就位\r\n",
       road({"kx_reset", "kx_card_exist"})},
      {"card_type_no_card", nullptr, &CardTests::cardType, "无卡或卡类型错误\r\n",
       road({"kx_reset", "kx_card_exist"}, false)},
      {"fm11rf005_road",
       [](Bench& b) {
         MifareCard card = MifareCard::fm11rf005({0x15, 0xCD, 0x5B, 0x07});
         std::memcpy(card.block(2).data(), "PAT1", 4);
         std::memcpy(card.block(3).data(), "2345", 4);
         b.field.insert(card);
       },
       &CardTests::fm11rf005Card, "该卡卡号是123456789\r\n该卡PatientID是 PAT12345\r\n",
       road({"kx_card_fm11rf005", "kx_read_fm11rf005", "kx_read_fm11rf005"})},
      {"fm11rf005_no_card", nullptr, &CardTests::fm11rf005Card, "请放正确类型的卡片\r\n",
       road({"kx_card_fm11rf005"})},
      {"sam_road", [](Bench& b) { b.slots.insert(2, scripted({"6F 02 84 00 90 00"})); },
       &CardTests::samCard, "3B021450\r\n指令：\r\n6F0284009000",
       road({"kx_setcpu", "kx_cpureset_hex", "kx_cpuapdu_hex"})},
      {"sam_missing", nullptr, &CardTests::samCard, "请插入标准的PSAM卡再试~！\r\n",
       road({"kx_setcpu", "kx_cpureset_hex"})},
      {"stripe_300_seconds",
       [](Bench& b) { b.stripe.queueSwipe(StripeKeypadSim::tracks("T1", "T2", "T3")); },
       [](CardTests& t) { t.magneticStripe("300"); }, "T1T2T3", road({"kx_readmagcardall"}),
       [](Bench& b) { EXPECT_EQ(b.reader.model.log()[1], hx("07 00 00 2C")); }},
      {"stripe_255_byte_tracks",
       [](Bench& b) {
         const std::string t(255, 'x');
         b.stripe.queueSwipe(StripeKeypadSim::tracks(t, t, t));
       },
       [](CardTests& t) { t.magneticStripe("abc"); }, std::string(765, 'x'),
       road({"kx_readmagcardall"}),
       [](Bench& b) { EXPECT_EQ(b.reader.model.log()[1], hx("07 00 00 00")); }},
      {"stripe_no_swipe", nullptr, [](CardTests& t) { t.magneticStripe("1"); }, "",
       road({"kx_readmagcardall"}, false)},
      {"social_security_driver", nullptr, &CardTests::socialSecurityDriver,
       "SSCardDriver: no social-security card driver in this build\r\n", kNoReaderCall},
  };
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

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
    if (!row.ins.empty()) {
      EXPECT_EQ(bench.ins(), row.ins);
    }
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
  const std::function<void()> reader_tests[] = {
      [&] { tests.sectorCard("A3C5E7092B4D"); }, [&] { tests.identityCard(); },
      [&] { tests.bankCard(); },                 [&] { tests.socialSecurityEf05(); },
      [&] { tests.socialSecurityEf06(); },       [&] { tests.healthCardEf05(); },
      [&] { tests.sle4442Card(); },              [&] { tests.eepromCard(); },
      [&] { tests.cardType(); },                 [&] { tests.fm11rf005Card(); },
      [&] { tests.samCard(); },                  [&] { tests.magneticStripe("1"); },
  };
  for (const auto& press : reader_tests) {
    sink.text.clear();
    press();
    EXPECT_EQ(sink.text, "init error\r\n");
  }
  EXPECT_EQ(sink.scrolls, int(std::size(reader_tests)));
  EXPECT_EQ(tests.handle(), -1);
  const std::pair<std::function<void()>, std::string> others[] = {
      {[&] { tests.scanOnce(); }, "请确认设备正常工作且点击按钮后3秒内能扫描到二维码\n"},
      {[&] { tests.scannerSerialNumber(); }, "获取失败，非标产品\r\n"},
      {[&] { tests.socialSecurityDriver(); },
       "SSCardDriver: no social-security card driver in this build\r\n"},
  };
  for (const auto& [press, text] : others) {
    sink.text.clear();
    press();
    EXPECT_EQ(sink.text, text);
  }
  // The serial-number test closes the handle the last test left, as it
  // always did: a failed open's -1.
  Calls calls(std::size(reader_tests), trace_lines::fn("kx_init"));
  calls.push_back(trace_lines::fn("kx_exit"));
  Calls traced;
  for (const std::string& line : traces.lines()) {
    if (line.rfind("function:", 0) == 0) traced.push_back(line);
  }
  EXPECT_EQ(traced, calls);
  EXPECT_EQ(no_devices.opens(), 0);
  device_manager.setPortStacksForTest(PortStacks{});
  scanner_environment().hid = nullptr;
}

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
