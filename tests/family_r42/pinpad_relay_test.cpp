// The PIN pad behind the reader: the frames of every pad operation as the
// reader relays them, the pad's answers, a key chain against OpenSSL, and
// the bounds of frames, answers and the scanner's loops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "family_r42/r42_pinpad_frames.h"
#include "sim/evp_oracle.h"
#include "sim/r42_sim_services.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42ServicesReader>;
using Call = WireCall<R42ServicesReader>;
using State = R42ServicesReader::State;
using Bytes = std::vector<uint8_t>;

// The relay request carrying `frame`: [22 01][00][ctime][count][frame].
WireBytes relay(uint8_t ctime, const WireBytes& frame) {
  return {Bytes{0x22, 0x01, 0x00, ctime, uint8_t(frame.bytes.size())}, frame.bytes};
}
int32_t wait_ms(uint8_t ctime) { return (ctime + 5) * 1000; }

void pin_answer(State& s, const Bytes& answer) { s.pad.pin_answer = answer; }

Row::Call mac(const Bytes& data) {
  return [=](Call& c) {
    return c.d.SD_IFD_CreateMac(kIcdev, uint8_t(data.size()), data.data(), c.text());
  };
}
Row::Call des_caculate(const Bytes& data, uint8_t flag) {
  return [=](Call& c) {
    return c.d.SD_IFD_DesCaculate(kIcdev, uint8_t(data.size()), data.data(), c.text(), flag);
  };
}

const Bytes kKeyDigits = hx("30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F");
const Bytes kNewKey = hx("01 23 45 67 89 AB CD EF 01 23 45 67 89 AB CD EF");
const Bytes kCard = Bytes{'6', '2', '2', '5', '8', '8', '0', '1', '2', '3', '4', '5'};

// Each operation's frame and the pad's own waiting time, as the pad
// protocol gives them; the simulated pad answers.
const Row kFrames[] = {
    Row("version", [](Call& c) { return c.d.SD_IFD_GetVersion(kIcdev, c.text()); })
        .sends(relay(5, "1B F8 0D 0A"), wait_ms(5))
        .gives(0).text("PAD SIM 2.0"),
    Row("voice", [](Call& c) { return c.d.SD_IFD_PlayVoice(kIcdev, 3); })
        .sends(relay(20, "1B FD 03 0D 0A"), wait_ms(20))
        .gives(0),
    Row("init", [](Call& c) { return c.d.SD_IFD_Init(kIcdev); })
        .sends(relay(10, "1B 52 0D 0A"), wait_ms(10))
        .gives(0),
    Row("main_key",
        [](Call& c) {
          return c.d.SD_IFD_SetMainKey(kIcdev, 1, Bytes(16, 0).data(), kNewKey.data());
        })
        .sends(relay(5, {"1B 4D 30 31", Bytes(32, 0x30), kKeyDigits, kKeyDigits, "0D 0A"}),
               wait_ms(5))
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.pad.main_keys.at(1), kNewKey); }),
    Row("main_key_with_a_wrong_old_key",
        [](Call& c) { return c.d.SD_IFD_SetMainKey(kIcdev, 2, kNewKey.data(), kNewKey.data()); })
        .sends(relay(5, {"1B 4D 30 32", kKeyDigits, kKeyDigits, kKeyDigits, kKeyDigits, "0D 0A"}))
        .gives(-1),
    Row("work_key", [](Call& c) { return c.d.SD_IFD_SetWorkKey(kIcdev, 1, 2, kNewKey.data()); })
        .sends(relay(5, {"1B 53 30 31 30 32", kKeyDigits, kKeyDigits, "0D 0A"}), wait_ms(5))
        .gives(0),
    Row("activate_unknown_work_key", [](Call& c) { return c.d.SD_IFD_ActWorkKey(kIcdev, 1, 0x3A); })
        .sends(relay(5, "1B 41 30 31 33 3A 0D 0A"), wait_ms(5))
        .gives(-1),
    Row("key_length", [](Call& c) { return c.d.SD_IFD_SetKeyLength(kIcdev, 0x10); })
        .sends("22 01 00 05 06 1B 4E 31 30 0D 0A", 10000).answer("00 00 00 AA")
        .gives(0),
    Row("plain_pin", [](Call& c) { return c.d.SD_IFD_GetPIN(kIcdev, c.text()); })
        .sends(relay(20, "A1 82"), 25000)
        .gives(0).text("123456"),
    Row("plain_pin_flag_kept",
        [](Call& c) { return c.d.SD_IFD_GetPINPro(kIcdev, c.text(), 0x83, 7); })
        .sends(relay(7, "A1 83"), wait_ms(7))
        .gives(0).text("123456"),
    Row("plain_pin_flag_replaced",
        [](Call& c) { return c.d.SD_IFD_GetPINPro(kIcdev, c.text(), 0x03, 0); })
        .sends(relay(0, "A1 82"), wait_ms(0))
        .gives(0).text("123456"),
    Row("enciphered_pin",
        [](Call& c) { return c.d.SD_IFD_GetEnPIN(kIcdev, c.text()); })
        .given([](State& s) { pin_answer(s, hx("01 02 03 04 05 06 07 08 09")); })
        .sends(relay(20, "1B 46 30 31 0D 0A"), wait_ms(20))
        .gives(0).text("0102030405060708"),
    Row("enciphered_pin_flags",
        [](Call& c) { return c.d.SD_IFD_GetEnPINPro(kIcdev, c.text(), 0x31, 0x20, 30); })
        .given([](State& s) { pin_answer(s, {'U'}); })
        .sends(relay(30, "1B 46 31 30 0D 0A"), 35000)
        .gives(161),
    Row("enciphered_pin_block",
        [](Call& c) {
          return c.d.SD_IFD_GetEnPINBlock(kIcdev, c.text(), 0x32, 0x33, kCard.data(), 9);
        })
        .given([](State& s) { pin_answer(s, {'w'}); })
        .sends(relay(9, {"1B 49 32 33", kCard, "0D 0A"}), wait_ms(9))
        .gives(0).text("0000000000000000"),
    Row("select_des_2", [](Call& c) { return c.d.SD_IFD_SelecetDes(kIcdev, 2); })
        .sends(relay(5, "1B 50 30 31 0D 0A"), wait_ms(5))
        .gives(0),
    Row("select_des_other", [](Call& c) { return c.d.SD_IFD_SelecetDes(kIcdev, 7); })
        .sends(relay(5, "1B 50 30 30 0D 0A"), wait_ms(5))
        .gives(0),
    Row("display", [](Call& c) { return c.d.SD_IFD_LEDDisplay(kIcdev, 1, 9, "HELLO!", 4); })
        .sends(relay(4, "1B 44 31 48 45 4C 4C 4F 21 0D 0A"), wait_ms(4))
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(s.pad.display, std::vector<std::string>{"1HELLO!"});
        }),
    Row("display_line_wraps", [](Call& c) { return c.d.SD_IFD_LEDDisplay(kIcdev, 0xD1, 0, "", 4); })
        .sends(relay(4, "1B 44 01 0D 0A"), wait_ms(4))
        .gives(0),
    Row("display_past_the_line_refused",
        [](Call& c) { return c.d.SD_IFD_LEDDisplay(kIcdev, 1, 10, "HELLO!", 4); })
        .gives(-1),
    Row("des_empty_text", [](Call& c) { return c.d.SD_IFD_DES(kIcdev, 1, "", c.text()); })
        .given([](State& s) { s.pad.work_keys[{0, 0}] = kNewKey; })
        .sends(relay(5, "1B 48 31 0D 0A"), wait_ms(5))
        .gives(-1),
    Row("des_mode_past_the_character_refused",
        [](Call& c) { return c.d.SD_IFD_DES(kIcdev, 0xD0, "0011223344556677", c.text()); })
        .gives(-1),
    Row("des_caculate_flag_0", des_caculate(hx("30 41 42"), 0))
        .sends(relay(5, "1B 48 30 41 42 0D 0A"), wait_ms(5))
        .gives(0).text("EE"),
    Row("des_caculate_flag_1", des_caculate(hx("41 42"), 1))
        .sends(relay(5, "1B 45 41 42 0D 0A"), wait_ms(5)).answer("00 00 00 0A 0B 0C")
        .gives(0).text("0A0B0C"),
    Row("des_caculate_other_flag_refused", des_caculate(hx("41 42"), 2))
        .gives(-1),
    Row("mac", mac(hx("41 42")))
        .sends(relay(5, "1B 47 41 42 0D 0A"), wait_ms(5)).answer("00 00 00 01 02 03 04 05")
        .gives(0).text("01020304"),
    Row("mac_answer_short", mac(hx("41 42")))
        .sends(relay(5, "1B 47 41 42 0D 0A")).answer("00 00 00 01 02 03")
        .gives(-1),
    Row("mac_251_bytes", mac(Bytes(251, 0x61)))
        .sends(relay(5, {"1B 47", Bytes(251, 0x61), "0D 0A"})).answer("00 00 00 01 02 03 04")
        .gives(0).text("01020304"),
    Row("mac_252_bytes_refused",
        [](Call& c) {
          return c.d.SD_IFD_CreateMac(kIcdev, 252, Bytes(252, 0x61).data(), c.text());
        })
        .gives(-1),
    Row("des_caculate_251_bytes", des_caculate(Bytes(251, 1), 1))
        .sends(relay(5, {"1B 45", Bytes(251, 1), "0D 0A"})).answer("00 00 00 FF")
        .gives(0).text("FF"),
    Row("des_caculate_252_bytes_refused",
        [](Call& c) {
          return c.d.SD_IFD_DesCaculate(kIcdev, 252, Bytes(252, 1).data(), c.text(), 0);
        })
        .gives(-1),
    Row("scanner_start", [](Call& c) { return c.d.SD_IFD_Scan2DBarcodeStart(kIcdev, 9); })
        .sends(relay(2, "1B DA 00 0D 0A"), wait_ms(2))
        .gives(0),
    Row("pin_relay_refused", [](Call& c) { return c.d.SD_IFD_GetPIN(kIcdev, c.text()); })
        .given([](State& s) { s.pad.present = false; })
        .sends(relay(20, "A1 82"))
        .gives(162).status(0x6F01),
    Row("command_relay_refused", [](Call& c) { return c.d.SD_IFD_Init(kIcdev); })
        .given([](State& s) { s.pad.present = false; })
        .sends(relay(10, "1B 52 0D 0A"))
        .gives(-2),
    Row("answer_of_256_refused",
        [](Call& c) {
          uint8_t reclen = 0xEE;
          return c.d.SD_InstallKey(kIcdev, 0, 2, hx("A1 82").data(), &reclen, c.bytes());
        })
        .sends(relay(0, "A1 82")).answer({"00 00 00", Bytes(256, 0x5A)})
        .gives(-1),
    Row("reply_without_its_spare_byte",
        [](Call& c) {
          uint8_t reclen = 0xEE;
          return c.d.SD_InstallKey(kIcdev, 0, 2, hx("A1 82").data(), &reclen, c.bytes());
        })
        .sends(relay(0, "A1 82")).answer("00 00")
        .gives(-1),
};
WIRE_TABLE(PinpadRelay, R42ServicesReader, kFrames);

struct PadTest : ::testing::Test {
  ReaderDevice& d = reader.device;
  R42ServicesReader reader;
  size_t sent() const { return reader.wire.calls.size(); }
};

using PinpadRelayAnswers = PadTest;

TEST_F(PinpadRelayAnswers, CountIsOneByteAndNothingIsWrittenPastIt) {
  for (size_t n : {size_t(0), size_t(1), size_t(255)}) {
    Bytes reply = {0, 0, 0};
    reply.resize(3 + n, 0x11);
    reader.wire.scriptReply(reply);
    uint8_t reclen = 0xEE;
    Bytes out(300, 0xCC);
    ASSERT_EQ(d.SD_InstallKey(kIcdev, 0, 2, hx("A1 82").data(), &reclen, out.data()), 0);
    EXPECT_EQ(reclen, n);
    EXPECT_EQ(out[n], 0xCC);
  }
}

// Every one-byte answer and answers of 0 to 9 bytes, through the decoders.
TEST(PinpadRelayDecoders, OneByteAnswersAndLengths) {
  auto answer_of = [](const Bytes& bytes) {
    PinpadAnswer answer;
    answer.length = uint8_t(bytes.size());
    std::copy(bytes.begin(), bytes.end(), answer.bytes);
    return answer;
  };
  char text[40];
  for (int b = 0; b < 256; ++b) {
    const PinpadAnswer one = answer_of({uint8_t(b)});
    EXPECT_EQ(pinpad_done(one), b == 0xAA ? 0 : -1) << b;
    EXPECT_EQ(pinpad_plain_pin(one, text), b == 0x08 ? 161 : 0) << b;
    if (b != 0x08) {
      EXPECT_EQ(std::string(text), b == 0 ? "" : std::string(1, char(b))) << b;
    }
    const int16_t basic = b == 'U' ? 161 : -1;
    const int16_t extended = b == 'U' ? 161 : b == 'f' ? 163 : b == 'w' ? 0 : -1;
    EXPECT_EQ(pinpad_enciphered_pin(one, false, text), basic) << b;
    EXPECT_EQ(pinpad_enciphered_pin(one, true, text), extended) << b;
    if (b == 'w') {
      EXPECT_EQ(std::string(text), std::string(16, '0'));
    }
  }
  for (size_t n = 0; n <= 9; ++n) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(0x31 + i);
    const PinpadAnswer answer = answer_of(bytes);
    std::fill(std::begin(text), std::end(text), '#');
    EXPECT_EQ(pinpad_enciphered_pin(answer, true, text), n >= 8 ? 0 : -1) << n;
    if (n >= 8) {
      EXPECT_EQ(std::string(text), "3132333435363738") << n;
    }
    EXPECT_EQ(pinpad_plain_pin(answer, text), 0) << n;
    EXPECT_EQ(std::string(text), std::string(bytes.begin(), bytes.end())) << n;
    EXPECT_EQ(pinpad_done(answer), -1) << n;
  }
  // A plain PIN stops at its first NUL.
  EXPECT_EQ(pinpad_plain_pin(answer_of(hx("31 32 00 33")), text), 0);
  EXPECT_EQ(std::string(text), "12");
}

using PinpadRelayKeys = PadTest;

// Main key, work key enciphered under it, activation, then the pad's DES
// and MAC match OpenSSL under the work key.
TEST_F(PinpadRelayKeys, KeyChainThenDesAndMacMatchOpenSsl) {
  const Bytes main_key = hx("11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00");
  const Bytes work_key = hx("0F 1E 2D 3C 4B 5A 69 78 87 96 A5 B4 C3 D2 E1 F0");
  const Bytes data = hx("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");
  ASSERT_EQ(d.SD_IFD_SetMainKey(kIcdev, 3, Bytes(16, 0).data(), main_key.data()), 0);
  ASSERT_EQ(d.SD_IFD_SetWorkKey(kIcdev, 3, 4, evp_des_ecb(main_key, work_key, true).data()), 0);
  ASSERT_EQ(d.SD_IFD_ActWorkKey(kIcdev, 3, 4), 0);
  ASSERT_EQ(d.SD_IFD_SetKeyLength(kIcdev, 0x10), 0);
  char text[40];
  ASSERT_EQ(d.SD_IFD_DES(kIcdev, 0, "00112233445566778899aabbccddeeff", text), 0);
  const Bytes sealed = evp_des_ecb(work_key, data, true);
  char expected[40];
  hex_twin_output(sealed.data(), 8, expected);
  EXPECT_STREQ(text, expected);

  char sealed_text[40];
  hex_twin_output(sealed.data(), 16, sealed_text);
  ASSERT_EQ(d.SD_IFD_DES(kIcdev, 1, sealed_text, text), 0);
  EXPECT_STREQ(text, "0011223344556677");

  ASSERT_EQ(d.SD_IFD_SetKeyLength(kIcdev, 0x08), 0);
  ASSERT_EQ(d.SD_IFD_CreateMac(kIcdev, 8, data.data(), text), 0);
  const Bytes mac = evp_des_ecb(Bytes(work_key.begin(), work_key.begin() + 8),
                                Bytes(data.begin(), data.begin() + 8), true);
  hex_twin_output(mac.data(), 4, expected);
  EXPECT_STREQ(text, expected);
}

// DES text: whole blocks of 16 hex digits, at most 496 of them.
TEST_F(PinpadRelayKeys, DesTextBounds) {
  reader.pad.with([](PinpadSim::State& s) { s.work_keys[{0, 0}] = Bytes(16, 0x5A); });
  char text[40];
  const std::string block(16, 'A');
  std::string longest;
  for (int i = 0; i < 31; ++i) longest += block;
  EXPECT_EQ(d.SD_IFD_DES(kIcdev, 0, block.substr(0, 15).c_str(), text), -1);
  EXPECT_EQ(d.SD_IFD_DES(kIcdev, 0, (longest + block).c_str(), text), -1);
  EXPECT_EQ(d.SD_IFD_DES(kIcdev, 0, "00112233445566G7", text), -1);
  EXPECT_EQ(d.SD_IFD_DES(kIcdev, 0, nullptr, text), -1);
  EXPECT_EQ(sent(), 0u);
  EXPECT_EQ(d.SD_IFD_DES(kIcdev, 0, block.c_str(), text), 0);
  EXPECT_EQ(d.SD_IFD_DES(kIcdev, 0, longest.c_str(), text), 0);
  ASSERT_EQ(sent(), 2u);
  EXPECT_EQ(reader.wire.calls[1].request.size(), 5u + 3u + 248u + 2u);
}

using PinpadRelayScanner = PadTest;

TEST_F(PinpadRelayScanner, CollectsWholePiecesUpTo4096Bytes) {
  Bytes code(300);
  for (size_t i = 0; i < code.size(); ++i) code[i] = uint8_t(i * 3);
  reader.pad.with([&](PinpadSim::State& s) { s.barcode = code; });
  Bytes out(5000, 0xCC);
  int32_t rlen = -1;
  ASSERT_EQ(d.SD_IFD_Scan2DBarcodeGetData(kIcdev, &rlen, out.data()), 0);
  EXPECT_EQ(rlen, 300);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 300), code);
  EXPECT_EQ(out[300], 0xCC);
  EXPECT_EQ(sent(), 3u) << "127 + 127 + 46";
  for (const auto& call : reader.wire.calls)
    EXPECT_EQ(spaced_hex(call.request), spaced_hex(relay(2, "1B DA 01 0D 0A").bytes));

  ASSERT_EQ(d.SD_IFD_Scan2DBarcodeGetData(kIcdev, &rlen, out.data()), -1) << "nothing left";

  reader.pad.with([](PinpadSim::State& s) {
    s.barcode.assign(127 * 40, 0x42);
    s.barcode_sent = 0;
  });
  std::fill(out.begin(), out.end(), 0xCC);
  rlen = -1;
  EXPECT_EQ(d.SD_IFD_Scan2DBarcodeGetData(kIcdev, &rlen, out.data()), -1);
  EXPECT_EQ(rlen, -1);
  EXPECT_EQ(out[0], 0xCC) << "a refused code writes nothing";
  EXPECT_EQ(sent(), 4u + 33u) << "refused at the piece that passes 4096 bytes";
}

TEST_F(PinpadRelayScanner, ExitAsksAgainWhileBusyTenTimesAtMost) {
  reader.pad.with([](PinpadSim::State& s) { s.busy_exits = 3; });
  EXPECT_EQ(d.SD_IFD_Scan2DBarcodeExit(kIcdev), 0);
  EXPECT_EQ(sent(), 4u);
  reader.pad.with([](PinpadSim::State& s) { s.busy_exits = 1000; });
  EXPECT_EQ(d.SD_IFD_Scan2DBarcodeExit(kIcdev), -1);
  EXPECT_EQ(sent(), 14u);
  reader.wire.scriptReply(hx("00 00 00"));
  EXPECT_EQ(d.SD_IFD_Scan2DBarcodeExit(kIcdev), -1) << "an empty answer";
  reader.wire.scriptReply(hx("00 00 00 CC"));
  EXPECT_EQ(d.SD_IFD_Scan2DBarcodeExit(kIcdev), -1) << "another byte";
}

// A class overriding the relay sees every frame and answers them itself.
TEST(PinpadRelayOverride, EveryOperationReachesTheRelayThroughTheInterface) {
  struct Relay : R42Device {
    using R42Device::R42Device;
    int16_t SD_InstallKey(int32_t, uint8_t ctime, uint8_t senlen, const unsigned char* source,
                          uint8_t* reclen, unsigned char* rdata) override {
      frames.emplace_back(source, source + senlen);
      times.push_back(ctime);
      *reclen = 8;
      std::fill(rdata, rdata + 8, 0xAA);
      return 0;
    }
    std::vector<Bytes> frames;
    Bytes times;
  };
  NullPort port;
  Relay pad("r42-u", &port, nullptr);
  ReaderDevice& d = pad;
  char text[600];
  int32_t rlen = 0;
  uint8_t data[16] = {};
  EXPECT_EQ(d.SD_IFD_Init(kIcdev), 0);
  EXPECT_EQ(d.SD_IFD_GetVersion(kIcdev, text), 0);
  EXPECT_EQ(d.SD_IFD_GetEnPIN(kIcdev, text), 0);
  EXPECT_EQ(d.SD_IFD_DesCaculate(kIcdev, 16, data, text, 0), 0);
  EXPECT_EQ(d.SD_IFD_Scan2DBarcodeGetData(kIcdev, &rlen, data), 0);
  EXPECT_EQ(d.SD_IFD_Scan2DBarcodeExit(kIcdev), 0);
  EXPECT_EQ(pad.frames.size(), 6u);
  EXPECT_EQ(pad.times, hx("0A 05 14 05 02 02"));
  EXPECT_EQ(port.purges, 0);
}

}  // namespace
