// Contactless processor cards: activation with its fall-back, APDUs and
// plain frames, deactivation, the DESFire authentication and the
// identity-card serial read.
#include <gtest/gtest.h>

#include "family_r42/processor_card_rows.h"
#include "sim/desfire_card.h"

namespace {

const char* kAts0443 = "00 00 00 0A 04 11 22 33 44 05 75 77 81 02 80";

int32_t pro_reset(Call& c) { return c.d.pro_reset(kIcdev, c.bytes(), c.bytes() + 1); }
int32_t request_b(Call& c) { return c.d.request_b(kIcdev, 0, 0, 0, c.bytes()); }
int32_t slotmarker(Call& c) { return c.d.slotmarker(kIcdev, 0, c.bytes()); }

Row::Call source_int(WireBytes command, uint8_t timeout) {
  return [bytes = command.bytes, timeout](Call& c) {
    return with_length32(c, [&](int32_t* length, uint8_t* out) {
      return c.d.pro_commandsource_int(kIcdev, int32_t(bytes.size()), bytes.data(), length, out,
                                       timeout);
    });
  };
}

Row::Call narrow(int16_t (ReaderDevice::*op)(int32_t, uint8_t, const unsigned char*, uint8_t*,
                                             unsigned char*, uint8_t),
                 WireBytes command, uint8_t timeout = 7) {
  return [bytes = command.bytes, op, timeout](Call& c) {
    return (c.d.*op)(kIcdev, uint8_t(bytes.size()), bytes.data(), c.bytes(), c.bytes() + 1,
                     timeout);
  };
}

const Bytes kAtqb12 = hx("50 01 02 03 04 05 06 07 08 09 0A 0B");

const Row kActivation[] = {
    Row("type_a_answer", pro_reset).sends("04 43 00").answer(kAts0443)
        .gives(0).out("05 75 77 81 02 80"),
    Row("answer_one_byte_short", pro_reset)
        .sends("04 43 00").answer("00 00 00 0A 04 11 22 33 44 05 75 77 81 02")
        .gives(-1),
    Row("type_b_card_to_pro_reset", pro_reset)
        .sends("04 43 00").answer("00 00 00 0B 04 11 22 33 44 01 50")
        .gives(-1),
    Row("older_activation_behind_a_status", pro_reset)
        .sends("04 43 00").answer("6F 01")
        .sends("04 10 00").answer("00 00 00 0A 04 11 22 33 44 05 75 77 81 02 80")
        .gives(0).out("05 05 75 77 81 02"),
    Row("failed_exchange_has_no_fall_back", pro_reset).sends("04 43 00").fails().gives(-1),
    Row("field_model_activates_the_card", pro_reset)
        .given([](State& s) {
          auto field = std::make_shared<CardField>();
          field->insert(std::make_shared<Iso7816Card>());
          s.attachments.push_back(field);
        })
        .sends("04 43 00")
        .gives(0).out("06 06 75 77 81 02 80"),
    Row("field_without_a_type_a_card", [](Call& c) {
          uint16_t tag = 0;
          return c.d.request(kIcdev, 0, &tag);
        })
        .given([](State& s) {
          auto field = std::make_shared<CardField>();
          auto card = std::make_shared<Iso7816Card>();
          card->setField(ContactlessCard::Type::kB, hx("01 02 03 04"), kAtqb12);
          field->insert(card);
          s.attachments.push_back(field);
        })
        .sends("04 33 00 26")
        .gives(1),
    Row("request_b_type_a_card_refused", request_b).sends("04 43 00").answer(kAts0443).gives(-1),
    Row("request_b_answer", request_b)
        .sends("04 43 00").answer({"00 00 00 0B 04 01 02 03 04 0C", kAtqb12})
        .gives(0).out(kAtqb12),
    Row("request_b_older_command_adds_a_nul", request_b)
        .sends("04 43 00").answer("6F 01")
        .sends("04 10 00").answer({"00 00 00 0B 04 01 02 03 04 0C", kAtqb12, "FF"})
        .gives(0).out({"0C 50 01 02 03 04 05 06 07 08 09 0A 00"}),
    Row("request_b_32_bytes", request_b)
        .sends("04 43 00").answer({"00 00 00 0B 00 20", repeated(32, 0x50)})
        .gives(0).out(repeated(32, 0x50)),
    Row("request_b_33_bytes_refused", request_b)
        .sends("04 43 00").answer({"00 00 00 0B 00 21", repeated(33, 0x50)})
        .gives(-1),
    Row("request_b_older_32_bytes_refused", request_b)
        .sends("04 43 00").answer("6F 01")
        .sends("04 10 00").answer({"00 00 00 0B 00 20", repeated(33, 0x50)})
        .gives(-1),
    Row("request_b_older_empty_answer", request_b)
        .sends("04 43 00").answer("6F 01")
        .sends("04 10 00").answer("00 00 00 0B 00 00 00")
        .gives(0).out("00"),
    Row("slotmarker_drops_the_first_byte", slotmarker)
        .sends("04 43 00").answer("00 00 00 0A 00 06 06 75 77 81 02 80")
        .gives(0).out("75 77 81 02 80"),
    Row("slotmarker_empty_answer", slotmarker)
        .sends("04 43 00").answer("00 00 00 0A 00 00")
        .gives(0),
    Row("slotmarker_33_bytes", slotmarker)
        .sends("04 43 00").answer({"00 00 00 0A 00 21", repeated(33, 0x44)})
        .gives(0).out(repeated(32, 0x44)),
    Row("slotmarker_34_bytes_refused", slotmarker)
        .sends("04 43 00").answer({"00 00 00 0A 00 22", repeated(34, 0x44)})
        .gives(-1),
    Row("reset_hex_twins",
        [](Call& c) { return c.d.pro_reset_hex(kIcdev, c.bytes(), c.text() + 1); })
        .sends("04 43 00").answer(kAts0443)
        .gives(0).out({"05", text_bytes("7577810280")}),
    Row("halt", [](Call& c) { return c.d.pro_halt(kIcdev); })
        .sends("04 0C 00 00 64").answer("00 00")
        .gives(0),
};
WIRE_TABLE(ContactlessCpuActivation, R42MemoryReader, kActivation);

const Row kExchanges[] = {
    Row("pro_command_main_road", narrow(&ReaderDevice::pro_command, "00 84 00 00 08"))
        .sends("04 11 00 00 05 00 84 00 00 08", 6750)
        .answer("00 00 00 00 0A 01 02 03 04 05 06 07 08 90 00")
        .gives(0).out("0A 01 02 03 04 05 06 07 08 90 00"),
    Row("pro_command_drops_le_of_case_4",
        narrow(&ReaderDevice::pro_command, "00 A4 04 00 02 3F 00 00"))
        .sends("04 11 00 00 07 00 A4 04 00 02 3F 00").answer("00 00 00 00 02 61 0A")
        .gives(0).out("02 61 0A"),
    Row("pro_command_response_of_256_bytes_refused",
        narrow(&ReaderDevice::pro_command, "00 B0 00 00 00"))
        .sends("04 11 00 00 05 00 B0 00 00 00").answer({"00 00 00 01 00", repeated(256, 7)})
        .gives(-1),
    Row("source_int_time_out_0", source_int("00 84 00 00 08", 0))
        .sends("04 36 00 0A 01 00 05 00 84 00 00 08", 5000).answer("00 00 00 00 02 90 00")
        .gives(0).out("02 00 00 00 90 00"),
    Row("source_int_time_out_20", source_int("00 84 00 00 08", 20))
        .sends("04 36 00 0A 01 00 05 00 84 00 00 08", 10000).answer("00 00 00 00 00")
        .gives(0).out("00 00 00 00"),
    Row("source_int_length_past_the_reply", source_int("26", 0))
        .sends("04 36 00 0A 01 00 01 26").answer("00 00 00 00 03 44 00")
        .gives(-1),
    Row("source_int_reply_of_256_bytes", source_int("30 00", 0))
        .sends("04 36 00 0A 01 00 02 30 00").answer({"00 00 00 01 00", repeated(256, 9)})
        .gives(0).out({"00 01 00 00", repeated(256, 9)}),
    Row("source_8_bit_form_refuses_256_bytes",
        narrow(&ReaderDevice::pro_commandsource, "30 00", 0))
        .sends("04 36 00 0A 01 00 02 30 00").answer({"00 00 00 01 00", repeated(256, 9)})
        .gives(-1),
    Row("source_hex_twin",
        [](Call& c) {
          return c.d.pro_commandsource_hex(kIcdev, 2, "3000", c.bytes(), c.text() + 1, 0);
        })
        .sends("04 36 00 0A 01 00 02 30 00").answer("00 00 00 00 02 AA BB")
        .gives(0).out({"02", text_bytes("AABB")}),
    Row("link_hex_twin_odd_text_refused",
        [](Call& c) {
          return c.d.pro_commandlink_hex(kIcdev, 2, "30Z0", c.bytes(), c.text(), 7, 64);
        })
        .gives(-1),
    Row("command_hex_twin_through_the_card",
        [](Call& c) {
          const int16_t r = c.d.pro_reset(kIcdev, c.bytes(), c.bytes() + 1);
          return r != 0 ? r : c.d.pro_command_hex(kIcdev, 5, "0084000004", c.bytes(),
                                                  c.text() + 1, 7);
        })
        .given([](State& s) {
          auto field = std::make_shared<CardField>();
          field->insert(std::make_shared<Iso7816Card>());
          s.attachments.push_back(field);
        })
        .sends("04 43 00").sends("04 11 00 00 05 00 84 00 00 04")
        .gives(0).out({"06", text_bytes("010203049000")}),
};
WIRE_TABLE(ContactlessCpuExchanges, R42MemoryReader, kExchanges);

// The identity-card read reaches slot 502, which another part of the family
// answers; here a device stands in for it.
class IdCardStandIn : public R42Device {
 public:
  using R42Device::R42Device;
  int16_t ReadIdCardInfo(int32_t, int32_t time_ms, int32_t* rlen, unsigned char* rdata) override {
    asked_ms.push_back(time_ms);
    std::memcpy(rdata, answer.data(), answer.size());
    *rlen = int32_t(answer.size());
    return 0;
  }
  std::vector<int32_t> asked_ms;
  Bytes answer = hx("11 22 33 44 55 66");
};

TEST(ContactlessCpuIdCard, TimeInMillisecondsFitsSixteenBits) {
  NullPort port;
  RecordingProtocol wire(&port, [](const RecordingProtocol::Bytes&) {
    return std::optional<RecordingProtocol::Bytes>();
  });
  IdCardStandIn device("r42-u", &port, &wire);
  ReaderDevice& d = device;
  uint8_t data[8] = {};
  ASSERT_EQ(d.read_idcard(kIcdev, 65, data), 0);
  EXPECT_EQ(Bytes(data, data + 6), hx("11 22 33 44 55 00"));
  EXPECT_EQ(d.read_idcard(kIcdev, 66, data), -1);
  EXPECT_EQ(device.asked_ms, std::vector<int32_t>{65000}) << "66 reaches no slot";
  char text[16];
  ASSERT_EQ(d.read_idcard_hex(kIcdev, 1, text), 0);
  EXPECT_STREQ(text, "1122334455");
  device.answer = hx("01 02 03 04");
  EXPECT_EQ(d.read_idcard(kIcdev, 1, data), -1) << "fewer than 5 bytes";
  EXPECT_TRUE(wire.calls.empty());
}

// --- DESFire ---

struct DesfireRig {
  DesfireRig(Bytes key, Bytes rnd_b = hx("10 20 30 40 50 60 70 80")) {
    card = std::make_shared<DesfireCard>(key, rnd_b);
    auto field = std::make_shared<CardField>();
    field->insert(card);
    reader.edit([&](State& s) { s.attachments.push_back(field); });
    uint8_t rlen = 0, ats[256];
    activated = reader.device.pro_reset(kIcdev, &rlen, ats) == 0;
    reader.wire.calls.clear();
  }
  std::vector<Bytes> sent() const {
    std::vector<Bytes> out;
    for (const auto& c : reader.wire.calls) out.push_back(c.request);
    return out;
  }
  R42MemoryReader reader;
  std::shared_ptr<DesfireCard> card;
  bool activated = false;
};

struct DesfireVector {
  const char* name;
  const char* key;
  const char* host_frame;
};

class DesfireAuth : public ::testing::TestWithParam<DesfireVector> {};

TEST_P(DesfireAuth, VectorFramesAndResult) {
  const Bytes key = hx(GetParam().key);
  DesfireRig rig(key);
  ASSERT_TRUE(rig.activated);
  const Bytes rnd_a = hx("01 02 03 04 05 06 07 08");
  uint8_t rnd_b[8] = {};
  ASSERT_EQ(rig.reader.device.mfdes_auth(kIcdev, 0, uint8_t(key.size()), key.data(), rnd_a.data(),
                                         rnd_b),
            0);
  EXPECT_EQ(Bytes(rnd_b, rnd_b + 8), hx("10 20 30 40 50 60 70 80"));
  EXPECT_EQ(rig.card->recovered_rnd_a, rnd_a);
  EXPECT_EQ(rig.sent(), (std::vector<Bytes>{hx("04 11 00 00 02 0A 00"),
                                            WireBytes{"04 11 00 00 11 AF", GetParam().host_frame}
                                                .bytes}));
  EXPECT_EQ(rig.reader.wire.calls[1].timeout_ms, 6750);
}

INSTANTIATE_TEST_SUITE_P(
    , DesfireAuth,
    ::testing::Values(DesfireVector{"des", "00 00 00 00 00 00 00 00",
                                    "CE AD 37 3D B8 0E AB F8 80 9B FD E0 3E 6D D9 C3"},
                      DesfireVector{"two_key_3des",
                                    "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF",
                                    "D9 16 AA 29 EF 0A 8F 6A 1D 6E D0 35 28 36 B1 DE"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DesfireAuthFrames, SecondFrameGoesWholeEvenWhenItLooksLikeCase4) {
  // With RndA 02C307BCA6F13369 the first host block is 0000000B00000000:
  // byte 4 (0x0B) + 6 = 17, the frame's length.
  const Bytes key(8, 0x00);
  DesfireRig rig(key);
  const Bytes rnd_a = hx("02 C3 07 BC A6 F1 33 69");
  uint8_t rnd_b[8];
  ASSERT_EQ(rig.reader.device.mfdes_auth(kIcdev, 0, 8, key.data(), rnd_a.data(), rnd_b), 0);
  const std::vector<Bytes> sent = rig.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Bytes(sent[1].begin(), sent[1].begin() + 14),
            hx("04 11 00 00 11 AF 00 00 00 0B 00 00 00 00"));
  EXPECT_EQ(sent[1].size(), 5u + 17u);
}

TEST(DesfireAuthFrames, RefusalsAndWrongKeys) {
  const Bytes key(8, 0x00), wrong(8, 0x11);
  const Bytes rnd_a = hx("01 02 03 04 05 06 07 08");
  uint8_t rnd_b[8];
  {
    DesfireRig rig(key);
    EXPECT_EQ(rig.reader.device.mfdes_auth(kIcdev, 0, 8, wrong.data(), rnd_a.data(), rnd_b), -2)
        << "the card refuses the second frame (AE)";
    EXPECT_EQ(rig.sent().size(), 2u);
  }
  {
    DesfireRig rig(key);
    EXPECT_EQ(rig.reader.device.mfdes_auth(kIcdev, 5, 8, key.data(), rnd_a.data(), rnd_b), -1)
        << "another key number: the first answer is no AF";
    EXPECT_EQ(rig.sent().size(), 1u);
  }
  {
    DesfireRig rig(key);
    const uint8_t long_key[24] = {};
    EXPECT_EQ(rig.reader.device.mfdes_auth(kIcdev, 0, 24, long_key, rnd_a.data(), rnd_b), -1);
    EXPECT_TRUE(rig.sent().empty());
    rig.reader.model.scriptReply(0x0411, hx("00 00 00 00 08 AF 01 02 03 04 05 06 07"));
    EXPECT_EQ(rig.reader.device.mfdes_auth(kIcdev, 0, 8, key.data(), rnd_a.data(), rnd_b), -1)
        << "an answer of 8 bytes";
    EXPECT_EQ(rig.sent().size(), 1u);
  }
  {
    // A card whose proof does not match RndA: the exchange worked, the key
    // check fails.
    DesfireRig rig(key);
    rig.reader.model.scriptReply(0x0411, hx("00 00 00 00 09 00 01 02 03 04 05 06 07 08"), 2);
    uint8_t b[8] = {};
    EXPECT_EQ(rig.reader.device.mfdes_auth(kIcdev, 0, 8, key.data(), rnd_a.data(), b), -1);
    EXPECT_EQ(Bytes(b, b + 8), hx("10 20 30 40 50 60 70 80")) << "RndB is written early";
  }
}

TEST(DesfireAuthFrames, HexTwin) {
  DesfireRig rig(Bytes(16, 0x00));
  char out[20];
  std::memset(out, 0x7E, sizeof out);
  EXPECT_EQ(rig.reader.device.mfdes_auth_hex(kIcdev, 0, 24, "00", "0102030405060708", out), -1);
  EXPECT_EQ(rig.reader.device.mfdes_auth_hex(kIcdev, 0, 16, std::string(31, '0').c_str(),
                                             "0102030405060708", out),
            -1);
  EXPECT_EQ(rig.reader.device.mfdes_auth_hex(kIcdev, 0, 16, std::string(32, '0').c_str(),
                                             "010203040506070G", out),
            -1);
  EXPECT_TRUE(rig.sent().empty());
  EXPECT_EQ(out[0], 0x7E);
  ASSERT_EQ(rig.reader.device.mfdes_auth_hex(kIcdev, 0, 16, std::string(32, '0').c_str(),
                                             "0102030405060708", out),
            0);
  EXPECT_STREQ(out, "1020304050607080");
}

}  // namespace
