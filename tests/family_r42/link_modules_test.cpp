// Modules behind the reader: the Bluetooth settings read and written, the
// SMS request, the identity-card module's fingerprint data, serial number
// and whole-card read, and the 2.4 GHz APDU handed to the link's command.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "family_r42/processor_card_rows.h"
#include "sim/id_card_module.h"

namespace {

// A u8 setting: the value goes in and, read, comes back in out[0].
Row::Call byte_setting(uint16_t code, uint8_t flag) {
  return [=](Call& c) {
    uint8_t value = 0x5A;
    const int16_t r = code == 0x2001 ? c.d.BtBaudrateControl(kIcdev, flag, &value)
                                     : c.d.BtWithReaderBaudrateControl(kIcdev, flag, &value);
    if (r == 0 && flag == 0) c.out[0] = value;
    return r;
  };
}
// A text setting: "pw" goes out when written; read, the text comes back.
Row::Call text_setting(uint16_t code, uint8_t flag) {
  return [=](Call& c) {
    char* value = c.text();
    if (flag != 0) std::strcpy(value, "pw");
    const int16_t r = code == 0x2002 ? c.d.BtPasswordControl(kIcdev, flag, value)
                                     : c.d.BtNameControl(kIcdev, flag, value);
    if (flag != 0) std::memset(value, kWireFill, 3);
    return r;
  };
}
// The address: its length in out[0], its bytes after it.
Row::Call address(uint8_t flag) {
  return [=](Call& c) {
    uint8_t length = 2;
    uint8_t value[8] = {0xAA, 0xBB};
    const int16_t r = c.d.BtAddressControl(kIcdev, flag, &length, value);
    if (r == 0 && flag == 0) {
      c.out[0] = length;
      std::memcpy(c.bytes() + 1, value, length);
    }
    return r;
  };
}
Row::Call user_area(uint8_t flag, int32_t offset, int32_t length) {
  return [=](Call& c) {
    Bytes data = hx("D1 D2 D3 D4");
    return c.d.BtUserControl(kIcdev, flag, offset, length, flag != 0 ? data.data() : c.bytes());
  };
}

// Read with flag 0 as a fixed 4-byte request; any other flag writes.
const Row kControls[] = {
    Row("baud_read", byte_setting(0x2001, 0)).sends("20 01 00 00").answer("00 00 00 07").gives(0).out("07"),
    Row("baud_read_without_its_byte", byte_setting(0x2001, 0)).sends("20 01 00 00").answer("00 00 00").gives(-1),
    Row("baud_write", byte_setting(0x2001, 3)).sends("20 01 00 03 5A").answer("00 00").gives(0),
    Row("reader_baud_read", byte_setting(0x2008, 0)).sends("20 08 00 00").answer("00 00 00 04").gives(0).out("04"),
    Row("reader_baud_write", byte_setting(0x2008, 1)).sends("20 08 00 01 5A").answer("6A 82").gives(-2).status(0x6A82),
    Row("password_read", text_setting(0x2002, 0)).sends("20 02 00 00").answer("00 00 00 31 32 33").gives(0).text("123"),
    Row("password_write", text_setting(0x2002, 1)).sends("20 02 00 01 70 77").answer("00 00").gives(0),
    Row("name_read", text_setting(0x2004, 0)).sends("20 04 00 00").answer("00 00 00 51 4D").gives(0).text("QM"),
    Row("name_write", text_setting(0x2004, 2)).sends("20 04 00 02 70 77").answer("00 00").gives(0),
    Row("address_read", address(0)).sends("20 03 00 00").answer("00 00 00 03 01 02 03 EE").gives(0).out("03 01 02 03"),
    Row("address_read_empty", address(0)).sends("20 03 00 00").answer("00 00 00 00").gives(0).out("00"),
    Row("address_read_without_its_length", address(0)).sends("20 03 00 00").answer("00 00 00").gives(-1),
    Row("address_length_past_the_reply", address(0)).sends("20 03 00 00").answer("00 00 00 03 01 02").gives(-1),
    Row("address_write", address(1)).sends("20 03 00 01 02 AA BB").answer("00 00").gives(0),
    Row("user_area_read", user_area(0, 4, 3)).sends("20 05 00 00 04 03").answer("00 00 00 D1 D2 D3").gives(0).out("D1 D2 D3"),
    Row("user_area_read_shorter", user_area(0, 4, 3)).sends("20 05 00 00 04 03").answer("00 00 00 D1").gives(0).out("D1"),
    Row("user_area_read_more_than_asked", user_area(0, 4, 3)).sends("20 05 00 00 04 03").answer("00 00 00 D1 D2 D3 D4").gives(-1),
    Row("user_area_write", user_area(1, 255, 4)).sends("20 05 00 01 FF 04 D1 D2 D3 D4").answer("00 00").gives(0),
    Row("user_area_length_past_its_byte", user_area(0, 0, 256)).gives(-1),
    Row("user_area_offset_negative", user_area(1, -1, 4)).gives(-1),
};
WIRE_TABLE(R42LinkModulesControl, R42MemoryReader, kControls);

int32_t sms(Call& c) { return c.d.send_sms(kIcdev, "13800138000", "hello"); }
const char kSmsRequest[] =
    "19 0A 00 00 20 00 00 00 01 00 00 00 0B 31 33 38 30 30 31 33 38 30 30 30"
    " 00 00 00 02 00 00 00 05 68 65 6C 6C 6F";

const Row kSms[] = {
    Row("eleven_digits_and_five_characters", sms)
        .sends(kSmsRequest, 5000)
        .capacity(8192).answer("00 00").gives(0),
    Row("empty_texts", [](Call& c) { return c.d.send_sms(kIcdev, "", ""); })
        .sends("19 0A 00 00 10 00 00 00 01 00 00 00 00 00 00 00 02 00 00 00 00")
        .capacity(8192).answer("00 00").gives(0),
    Row("refused", sms).sends(kSmsRequest).capacity(8192).answer("10 04").gives(-2).status(0x1004),
};

// The whole request just fits 8192 bytes; one character more is refused.
TEST(R42LinkModules, SmsFillsItsBufferAndNoMore) {
  R42MemoryReader reader;
  reader.model.scriptReply(0x190A, hx("00 00"), 1, true);
  std::string text(8192 - 5 - 16 - 1, 'x');
  EXPECT_EQ(reader.device.send_sms(kIcdev, "1", text.c_str()), 0);
  ASSERT_EQ(reader.wire.calls.size(), 1u);
  EXPECT_EQ(reader.wire.calls[0].request.size(), 8192u);
  text += 'x';
  EXPECT_EQ(reader.device.send_sms(kIcdev, "1", text.c_str()), -1);
  EXPECT_EQ(reader.wire.calls.size(), 1u);
}

// --- the identity-card module ---

struct ModuleReader {
  ModuleReader() { module.attach(reader.model); }
  R42MemoryReader reader;
  IdCardModule module;
  ReaderDevice& d = reader.device;
};

std::string upper_hex(const Bytes& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

TEST(R42LinkModules, FingerprintDataAsHexText) {
  ModuleReader m;
  const Bytes finger = IdCard::a().finger;
  ASSERT_EQ(finger.size(), 1024u);
  std::string data(2 * finger.size() + 8, '?');
  int32_t length = -7;
  EXPECT_EQ(m.d.getfingerdata(kIcdev, &length, data.data()), 0);
  EXPECT_EQ(length, 2048);
  EXPECT_STREQ(data.c_str(), upper_hex(finger).c_str());
  EXPECT_EQ(data[2049], '?');
  ASSERT_EQ(m.reader.wire.calls.size(), 3u);
  EXPECT_EQ(m.reader.wire.calls[0].request, hx("04 24 00 AA AA AA 96 69 00 03 20 01 22"));
  EXPECT_EQ(m.reader.wire.calls[1].request, hx("04 24 00 AA AA AA 96 69 00 03 20 02 21"));
  EXPECT_EQ(m.reader.wire.calls[2].request, hx("04 24 00 AA AA AA 96 69 00 03 30 10 23"));
  EXPECT_EQ(m.reader.wire.calls[2].capacity, 8192);
}

// Announced lengths that reach past the answer (the frame's check byte
// aside), and a failed step, write nothing.
TEST(R42LinkModules, FingerprintDataPastTheAnswer) {
  ModuleReader m;
  m.module.with([](IdCardModule::State& s) {
    s.frame_faults[0x3010] = IdCardModule::FrameFault{.photo_overstated = 2};
  });
  char data[8] = "canary";
  int32_t length = -7;
  EXPECT_EQ(m.d.getfingerdata(kIcdev, &length, data), -1);
  m.module.with([](IdCardModule::State& s) {
    s.frame_faults[0x3010] = IdCardModule::FrameFault{.cut = 2};
  });
  EXPECT_EQ(m.d.getfingerdata(kIcdev, &length, data), -1);
  m.reader.wire.scriptFailure();
  EXPECT_EQ(m.d.getfingerdata(kIcdev, &length, data), -1);
  EXPECT_EQ(m.reader.wire.calls.size(), 7u) << "a failed step ends the read";
  EXPECT_STREQ(data, "canary");
  EXPECT_EQ(length, -7);
  EXPECT_EQ(m.d.getfingerdata(kIcdev, nullptr, data), -1);
}

TEST(R42LinkModules, ModuleSerialNumber) {
  ModuleReader m;
  char number[45];
  std::memset(number, 'x', sizeof number);
  EXPECT_EQ(m.d.SamAReadSerialNumber(kIcdev, number), 0);
  EXPECT_STREQ(number, "258.03-12345678-0000000001-4294967295");
  ASSERT_EQ(m.reader.wire.calls.size(), 1u);
  EXPECT_EQ(m.reader.wire.calls[0].request, hx("04 24 00 AA AA AA 96 69 00 03 12 FF EE"));
  // The widest fields fill the 45 bytes with the terminator.
  m.module.with([](IdCardModule::State& s) { s.module_serial = Bytes(16, 0xFF); });
  std::memset(number, 'x', sizeof number);
  EXPECT_EQ(m.d.SamAReadSerialNumber(kIcdev, number), 0);
  EXPECT_STREQ(number, "65535.65535-4294967295-4294967295-4294967295");
  // Fewer than 16 bytes from the module: nothing written.
  m.module.with([](IdCardModule::State& s) { s.module_serial = Bytes(15, 0x01); });
  std::memset(number, 'x', sizeof number);
  EXPECT_EQ(m.d.SamAReadSerialNumber(kIcdev, number), -1);
  EXPECT_EQ(number[0], 'x');
}

struct CardParts {
  int32_t lengths[4] = {-7, -7, -7, -7};
  Bytes parts[4] = {Bytes(300, 0xEE), Bytes(1100, 0xEE), Bytes(1100, 0xEE), Bytes(100, 0xEE)};
  int16_t read(ReaderDevice& d, uint8_t type) {
    return d.IdCardReadCardInfo(kIcdev, 1, type, &lengths[0], parts[0].data(), &lengths[1],
                                parts[1].data(), &lengths[2], parts[2].data(), &lengths[3],
                                parts[3].data());
  }
  bool untouched() const {
    for (int i = 0; i < 4; ++i)
      if (lengths[i] != -7 || parts[i] != Bytes(parts[i].size(), 0xEE)) return false;
    return true;
  }
};

TEST(R42LinkModules, WholeCardRead) {
  ModuleReader m;
  CardParts out;
  EXPECT_EQ(out.read(m.d, 0), 0);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(out.lengths[i], 0) << "type 0 reads no part: length " << i;
    EXPECT_EQ(out.parts[i], Bytes(out.parts[i].size(), 0xEE)) << i;
  }
  EXPECT_EQ(m.reader.wire.calls.back().request, hx("04 2D 00 01 00"));
  EXPECT_EQ(m.reader.wire.calls.back().capacity, 4096);
  EXPECT_EQ(m.reader.wire.calls.back().timeout_ms, 20000);

  EXPECT_EQ(out.read(m.d, 1), 0);
  const IdCard card = IdCard::a();
  const Bytes* expected[4] = {&card.text, &card.photo, &card.finger, &card.extra};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(out.lengths[i], int32_t(expected[i]->size())) << i;
    EXPECT_TRUE(std::equal(expected[i]->begin(), expected[i]->end(), out.parts[i].begin())) << i;
    EXPECT_EQ(out.parts[i][expected[i]->size()], 0xEE) << i;
  }
}

TEST(R42LinkModules, WholeCardReadRefusals) {
  ModuleReader m;
  CardParts out;
  // The last part announced one byte longer than the reply holds.
  m.module.with([](IdCardModule::State& s) { s.parts_length_added = 1; });
  EXPECT_EQ(out.read(m.d, 1), -1);
  m.module.with([](IdCardModule::State& s) {
    s.parts_length_added = 0;
    s.card.reset();
  });
  EXPECT_EQ(out.read(m.d, 1), -2);
  EXPECT_EQ(m.reader.lastStatus(), 0x6A82u);
  EXPECT_EQ(m.d.IdCardReadCardInfo(kIcdev, 0, 1, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
            -1);
  EXPECT_EQ(m.reader.wire.calls.size(), 2u) << "missing outputs are refused before the request";
  EXPECT_TRUE(out.untouched());
}

const Row kCardPartsReplies[] = {
    Row("status_without_its_spare_byte", [](Call& c) {
      return CardParts().read(c.d, 1);
    }).sends("04 2D 00 01 01", 20000).capacity(4096).answer("04 2D").gives(-1),
    Row("lengths_cut_short", [](Call& c) {
      return CardParts().read(c.d, 1);
    }).sends("04 2D 00 01 01", 20000).capacity(4096).answer("00 00 00 00 00 00 00 00 00 00").gives(-1),
    Row("four_empty_parts", [](Call& c) {
      return CardParts().read(c.d, 1);
    }).sends("04 2D 00 01 01", 20000).capacity(4096).answer("00 00 00 00 00 00 00 00 00 00 00").gives(0),
};

// --- the 2.4 GHz APDU goes through the link's command, and its reply back ---

struct RadioLink : R42Device {
  using R42Device::R42Device;
  int16_t op_2dot4_command(int32_t, int32_t slen, const unsigned char* senddata, int32_t* rlen,
                           unsigned char* recvbuffer, uint8_t timeout) override {
    sent.assign(senddata, senddata + slen);
    sent_timeout = timeout;
    if (result != 0) return result;
    *rlen = int32_t(reply.size());
    std::memcpy(recvbuffer, reply.data(), reply.size());
    return 0;
  }
  Bytes sent;
  uint8_t sent_timeout = 0;
  int16_t result = 0;
  Bytes reply = hx("6F 10 84 08 90 00");
};

TEST(R42LinkModules, RadioApduHandsTheLinkReplyOver) {
  NullPort port;
  RecordingProtocol wire(&port, [](const Bytes&) { return std::nullopt; });
  RadioLink link("r42-u", &port, &wire);
  ReaderDevice& d = link;
  uint8_t out[16];
  std::memset(out, 0xEE, sizeof out);
  int32_t rlen = -7;
  EXPECT_EQ(d.op_2dot4Apdu(kIcdev, 5, hx("00 A4 00 00 00").data(), &rlen, out), 0);
  EXPECT_EQ(link.sent, hx("A2 33 00 A4 00 00 00"));
  EXPECT_EQ(link.sent_timeout, 5);
  EXPECT_EQ(Bytes(out, out + rlen), link.reply);
  EXPECT_EQ(out[rlen], 0xEE);

  char text[32];
  EXPECT_EQ(d.op_2dot4Apdu_hex(kIcdev, 5, "00A4000000", &rlen, text), 0);
  EXPECT_STREQ(text, "6F1084089000");

  link.result = -2;
  std::memset(out, 0xEE, sizeof out);
  rlen = -7;
  EXPECT_EQ(d.op_2dot4Apdu(kIcdev, 5, hx("00 A4 00 00 00").data(), &rlen, out), -2);
  EXPECT_EQ(rlen, -7);
  EXPECT_EQ(out[0], 0xEE);

  // An APDU past what the link's command carries behind the head.
  link.sent.clear();
  const Bytes longest(2035, 0x11), beyond(2036, 0x11);
  link.result = 0;
  EXPECT_EQ(d.op_2dot4Apdu(kIcdev, 2035, longest.data(), &rlen, out), 0);
  EXPECT_EQ(link.sent.size(), 2037u);
  link.sent.clear();
  EXPECT_EQ(d.op_2dot4Apdu(kIcdev, 2036, beyond.data(), &rlen, out), -1);
  EXPECT_EQ(d.op_2dot4Apdu(kIcdev, -1, longest.data(), &rlen, out), -1);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_TRUE(wire.calls.empty());
}

WIRE_TABLE(R42LinkModulesSms, R42MemoryReader, kSms);
WIRE_TABLE(R42LinkModulesCardParts, R42MemoryReader, kCardPartsReplies);

}  // namespace
