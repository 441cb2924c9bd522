// The self-service card device, contact-card states, several cards in the
// field, NFC and the second APDU channel: the results that reader statuses
// map to, the front switch set and read back, the APDU follow-up, the cpy
// channel in front of the card models, and NfcFetch, which only listens.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "family_r42/processor_card_rows.h"
#include "family_r42/r42_rig.h"
#include "sim/cpy_channel.h"
#include "sim/nfc_peer.h"
#include "sim/self_service_device.h"

namespace {

std::string status_hex(uint16_t status) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X %02X", status >> 8, status & 0xFF);
  return text;
}

// The results a command gives for reader statuses: every listed status, one
// that is not listed, and success.
struct StatusMap {
  const char* name;
  const char* request;
  Row::Call call;
  std::vector<std::pair<uint16_t, int32_t>> results;
  uint16_t unlisted;
  int32_t unlisted_result;
};

std::vector<Row> status_rows() {
  const StatusMap maps[] = {
      {"inject", "09 01 00 1E 02", [](Call& c) { return c.d.SelfServiceDeviceCardInject(kIcdev, 30, 2); },
       {{0x0901, 1}, {0x0902, 2}, {0x0903, 3}, {0x0904, 4}, {0x0905, 5}, {0x0906, 6}}, 0x0907, -2},
      {"eject", "09 02 00 00 01", [](Call& c) { return c.d.SelfServiceDeviceCardEject(kIcdev, 0, 1); },
       {{0x0907, 1}, {0x0902, 2}, {0x0904, 3}, {0x0908, 4}, {0x0909, 5}}, 0x0901, -2},
      {"move", "09 03 00 FF 03", [](Call& c) { return c.d.SelfServiceDeviceCardMove(kIcdev, 255, 3); },
       {{0x0907, 1}, {0x0902, 2}, {0x0904, 3}, {0x0909, 4}}, 0x0908, -2},
      {"multi_request", "04 4E 00", [](Call& c) { return c.d.RfMultiRequest(kIcdev); },
       {{0x0423, 1}, {0x0429, 2}, {0x042A, 3}, {0x042B, 4}, {0x042C, 5}, {0x042D, 6}}, 0x0424, -2},
      {"cpu_card", "03 08 00 00", [](Call& c) { return c.d.CpuCardStatus(kIcdev); },
       {{0x0302, 1}, {0x0301, 2}, {0x1004, 3}, {0x1003, 4}}, 0x6A82, 0},
      {"card_lock", "03 06 00 01", [](Call& c) { return c.d.card_make_and_lock(kIcdev, 1); },
       {}, 0x6A82, 1},
      {"card_position", "03 05 00", [](Call& c) { return c.d.card_status2(kIcdev, c.bytes()); },
       {}, 0x6A82, 1},
      {"sensors", "09 04 00", [](Call& c) { return c.d.SelfServiceDeviceSensorStatus(kIcdev, c.bytes()); },
       {{0x0900, 1}}, 0x0901, -2},
  };
  std::vector<Row> rows;
  for (const StatusMap& map : maps) {
    auto listed = map.results;
    listed.push_back({map.unlisted, map.unlisted_result});
    for (const auto& [status, result] : listed) {
      rows.push_back(Row(std::string(map.name) + "_" + status_hex(status).replace(2, 1, ""), map.call)
                         .sends(map.request).answer(status_hex(status))
                         .gives(result).status(status));
    }
    // A silent reader is a failed exchange whatever the map says.
    rows.push_back(Row(std::string(map.name) + "_silent", map.call).sends(map.request).fails().gives(-1));
  }
  rows.push_back(Row("inject_waits_its_seconds_and_five_more", maps[0].call)
                     .sends("09 01 00 1E 02", 35000).answer("00 00").gives(0));
  rows.push_back(Row("cpu_card_success_is_0", maps[4].call).sends("03 08 00 00").answer("00 00").gives(0));
  return rows;
}

Row::Call multicard = [](Call& c) { return c.d.MulticardStatus(kIcdev, c.bytes()); };
Row::Call multi_record = [](Call& c) { return c.d.RequestMultiCard(kIcdev, c.bytes()); };

const Row kCardStates[] = {
    Row("multicard_none_leaves_type", multicard).sends("04 4B 00").answer("00 00 00 00 07").gives(1),
    Row("multicard_one", multicard).sends("04 4B 00").answer("00 00 00 01 07").gives(0).out("07"),
    Row("multicard_two_leaves_type", multicard).sends("04 4B 00").answer("00 00 00 02 07").gives(2),
    Row("multicard_unknown_state", multicard).sends("04 4B 00").answer("00 00 00 03 07").gives(-1),
    Row("multicard_without_type_byte", multicard).sends("04 4B 00").answer("00 00 00 01").gives(-1),
    Row("multi_card_record_whole", multi_record)
        .sends("04 4C 00").answer({"00 00 00", wire_pattern(256, 3)}).gives(0).out(wire_pattern(256, 3)),
    Row("multi_card_record_past_256_bytes", multi_record)
        .sends("04 4C 00").answer({"00 00 00", wire_pattern(257, 3)}).gives(-1),
};

// The front switch behind the reader.
std::function<void(State&)> switch_device(std::function<void(SelfServiceDevice&)> edit = {}) {
  return [=](State& s) {
    auto device = std::make_shared<SelfServiceDevice>();
    if (edit) edit(*device);
    s.attachments.push_back(device);
  };
}
uint8_t front_switch(const State& s) { return attached<SelfServiceDevice>(s)->front_switch; }
Row::Call set_front = [](Call& c) { return c.d.SelfServiceDeviceSetFrontSwitch(kIcdev, 7); };

const Row kFrontSwitch[] = {
    Row("set_and_read_back", set_front).given(switch_device())
        .sends("09 0C 00 07").sends("09 0D 00")
        .gives(0).then([](const State& s) { EXPECT_EQ(front_switch(s), 7); }),
    Row("stuck_switch_reads_back_otherwise", set_front).given(switch_device([](auto& d) { d.stuck = true; }))
        .sends("09 0C 00 07").sends("09 0D 00")
        .gives(-1),
    Row("refused_setting_is_not_read_back", set_front)
        .given(switch_device([](auto& d) { d.refuse_set = 0x0909; }))
        .sends("09 0C 00 07")
        .gives(-2).status(0x0909),
    Row("read_back_failing", set_front).given(switch_device())
        .sends("09 0C 00 07").sends("09 0D 00").answer("00 00")
        .gives(-1),
};

// The contact card's APDU with its one follow-up.
Row::Call follow_up(WireBytes apdu, int32_t slen = -1) {
  return [bytes = apdu.bytes, slen](Call& c) {
    return with_length32(c, [&](int32_t* n, uint8_t* out) {
      return c.d.cpuapduresponInt(kIcdev, slen < 0 ? int32_t(bytes.size()) : slen, bytes.data(), n, out);
    });
  };
}
std::function<void(State&)> card_answering(std::vector<Bytes> answers) {
  return contact_card(0, [=](Iso7816Card& card) {
    for (const Bytes& answer : answers) card.script(answer);
  });
}

const Row kFollowUp[] = {
    Row("wrong_le_on_a_5_byte_apdu_resends_it", follow_up("00 B0 00 00 20")).given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 20").sends("03 04 00 00 00 B0 00 00 10")
        .gives(0).out({"12 00 00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 90 00"}),
    Row("wrong_le_to_a_longer_apdu_is_the_response", follow_up("00 B0 00 00 02 AA BB")).given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 02 AA BB")
        .gives(0).out("02 00 00 00 6C 10"),
    Row("more_data_fetches_with_get_response", follow_up("00 A4 04 00 02 3F 00")).given(contact_card(0))
        .sends("03 04 00 00 00 A4 04 00 02 3F 00").sends("03 04 00 00 00 C0 00 00 0A")
        .gives(0).out("0C 00 00 00 6F 08 84 02 3F 00 A5 02 88 01 90 00"),
    Row("wrong_le_of_zero_is_the_response", follow_up(hx("00 B0 00 00 20")))
        .given(card_answering({hx("6C 00")}))
        .sends("03 04 00 00 00 B0 00 00 20")
        .gives(0).out("02 00 00 00 6C 00"),
    Row("more_data_after_wrong_le_is_handed_over", follow_up("00 B0 00 00 20"))
        .given(card_answering({hx("6C 10"), hx("61 05")}))
        .sends("03 04 00 00 00 B0 00 00 20").sends("03 04 00 00 00 B0 00 00 10")
        .gives(0).out("02 00 00 00 61 05"),
    Row("first_exchange_failing", follow_up("00 B0 00 00 20"))
        .sends("03 04 00 00 00 B0 00 00 20").answer("6A 82")
        .gives(-2),
    Row("apdu_past_the_channel", follow_up(Bytes(2049, 0), 2049)).gives(-1),
    Row("hex_twin", [](Call& c) {
          int32_t n = 0;
          const int16_t r = c.d.cpuapduresponInt_hex(kIcdev, 5, "00b0000020", &n, c.text());
          return r == 0 ? n : r;
        })
        .given(contact_card(0))
        .sends("03 04 00 00 00 B0 00 00 20").sends("03 04 00 00 00 B0 00 00 10")
        .gives(18).text("000102030405060708090A0B0C0D0E0F9000"),
};

// The cpy channel in front of a card in contact slot 0 and one in the field.
void cpy_cards(State& s) {
  auto slots = std::make_shared<ContactSlots>();
  slots->insert(0);
  slots->setPowered(0, true);
  auto field = std::make_shared<CardField>();
  field->insert(std::make_shared<Iso7816Card>());
  s.attachments.push_back(slots);
  s.attachments.push_back(field);
  s.attachments.push_back(std::make_shared<CpyChannel>(slots, field));
}
Bytes cpy_key(const State& s) { return attached<CpyChannel>(s)->key; }
const Bytes kChallenge = hx("00 84 00 00 08");
const Bytes kChallengeAnswer = hx("01 02 03 04 05 06 07 08 90 00");
const Bytes kSelect = hx("00 A4 04 00 02 3F 00");

const Row kCpyChannel[] = {
    Row("contact_card_gets_the_apdu_whole", [](Call& c) {
          return with_length32(c, [&](int32_t* n, uint8_t* o) {
            return c.d.cpy_cpuapduInt(kIcdev, 6, hx("00 A4 04 00 00 00").data(), n, o);
          });
        })
        .given(cpy_cards)
        .sends("D0 11 00 00 00 A4 04 00 00 00", 60000)
        .gives(0).out("02 00 00 00 61 0A"),
    Row("contact_card_8_bit_form", [](Call& c) {
          return c.d.cpy_cpuapdu(kIcdev, 5, kChallenge.data(), c.bytes(), c.bytes() + 1);
        })
        .given(cpy_cards)
        .sends("D0 11 00 00 00 84 00 00 08")
        .gives(0).out({"0A", kChallengeAnswer}),
    Row("contactless_card_after_activation", [](Call& c) {
          uint8_t ats[64];
          uint8_t n = 0;
          if (c.d.pro_reset(kIcdev, &n, ats) != 0) return -100;
          return with_length32(c, [&](int32_t* length, uint8_t* o) {
            return c.d.cpy_procommandInt(kIcdev, 5, kChallenge.data(), length, o, 0);
          });
        })
        .given(cpy_cards)
        .sends("04 43 00").sends("D0 12 00 00 05 00 84 00 00 08", 5000)
        .gives(0).out({"0A 00 00 00", kChallengeAnswer}),
    Row("contactless_8_bit_form_hex", [](Call& c) {
          return c.d.cpy_procommand_hex(kIcdev, 5, "0084000008", c.bytes(), c.text() + 1, 7);
        })
        .sends("D0 12 00 00 05 00 84 00 00 08").answer("00 00 00 00 02 90 00")
        .gives(0).out({"02", text_bytes("9000")}),
    Row("key_set_then_read", [](Call& c) {
          const int16_t r = c.d.cpy_setkey(kIcdev, wire_pattern(16, 1).data(), 16);
          if (r != 0) return int32_t(r);
          return with_length32(c, [&](int32_t* n, uint8_t* o) { return c.d.cpy_getkey(kIcdev, o, n); });
        })
        .given(cpy_cards)
        .sends({"D0 10 00 10", wire_pattern(16, 1)}).sends("D0 10 00 00")
        .gives(0).out({"10 00 00 00", wire_pattern(16, 1)})
        .then([](const State& s) { EXPECT_EQ(cpy_key(s), wire_pattern(16, 1)); }),
    Row("8_bit_form_refuses_256_bytes", [](Call& c) {
          return c.d.cpy_cpuapdu(kIcdev, 5, kChallenge.data(), c.bytes(), c.bytes() + 1);
        })
        .sends("D0 11 00 00 00 84 00 00 08").answer({"00 00 00", wire_pattern(256, 1)})
        .gives(-1),
    Row("contactless_8_bit_form_refuses_256_bytes", [](Call& c) {
          return c.d.cpy_procommand(kIcdev, 5, kChallenge.data(), c.bytes(), c.bytes() + 1, 7);
        })
        .sends("D0 12 00 00 05 00 84 00 00 08").answer({"00 00 00 01 00", wire_pattern(256, 1)})
        .gives(-1),
    Row("contactless_length_past_the_reply", [](Call& c) {
          return with_length32(c, [&](int32_t* n, uint8_t* o) {
            return c.d.cpy_procommandInt(kIcdev, 5, kChallenge.data(), n, o, 7);
          });
        })
        .sends("D0 12 00 00 05 00 84 00 00 08").answer("00 00 00 00 05 90 00")
        .gives(-1),
    Row("hex_twin_of_5_characters_for_3_bytes", [](Call& c) {
          return c.d.cpy_cpuapdu_hex(kIcdev, 3, "00840", c.bytes(), c.text() + 1);
        })
        .gives(-1),
};

std::vector<Row> all_rows() {
  std::vector<Row> rows = status_rows();
  rows.insert(rows.end(), std::begin(kCardStates), std::end(kCardStates));
  return rows;
}

WIRE_TABLE(R42SelfServiceRfStatuses, R42MemoryReader, all_rows());
WIRE_TABLE(R42SelfServiceRfFrontSwitch, R42MemoryReader, kFrontSwitch);
WIRE_TABLE(R42SelfServiceRfFollowUp, R42MemoryReader, kFollowUp);
WIRE_TABLE(R42SelfServiceRfCpyChannel, R42MemoryReader, kCpyChannel);

// --- NFC: what the peer sends comes as a reply of the reader's own ---

std::shared_ptr<NfcPeer> add_peer(R42MemoryReader& reader) {
  auto peer = std::make_shared<NfcPeer>();
  reader.edit([&](State& s) { s.attachments.push_back(peer); });
  return peer;
}

TEST(R42SelfServiceRf, NfcFetchListensWithoutSendingOrPurging) {
  R42MemoryReader reader;
  add_peer(reader);
  ReaderDevice& d = reader.device;
  ASSERT_EQ(d.NfcInit(kIcdev), 0);
  ASSERT_EQ(d.NfcPush(kIcdev, kChallenge.data(), int32_t(kChallenge.size())), 0);
  uint8_t response[2048];
  int32_t length = -7;
  EXPECT_EQ(d.NfcFetch(kIcdev, response, &length, 1500), 0);
  EXPECT_EQ(Bytes(response, response + length), NfcPeer::answerTo(kChallenge));
  const auto& fetch = reader.wire.calls.back();
  EXPECT_TRUE(fetch.request.empty());
  EXPECT_EQ(fetch.timeout_ms, 1500);
  EXPECT_EQ(fetch.capacity, 2048);
  EXPECT_EQ(reader.port.purges, 2) << "only the init and the push purge";
  // Nothing more waits: the reader stays silent.
  EXPECT_EQ(d.NfcFetch(kIcdev, response, &length, 10), -1);
}

TEST(R42SelfServiceRf, NfcFetchResultsForReaderStatuses) {
  R42MemoryReader reader;
  auto peer = add_peer(reader);
  ReaderDevice& d = reader.device;
  reader.edit([&](State&) {
    peer->outbox = {R42ReaderModel::reply(0x0001, 0), R42ReaderModel::reply(0x6A82, 0),
                    R42ReaderModel::reply(0x0000, 0)};
  });
  uint8_t response[8] = {0xCC};
  int32_t length = -7;
  EXPECT_EQ(d.NfcFetch(kIcdev, response, &length, 10), 2);
  EXPECT_EQ(d.NfcFetch(kIcdev, response, &length, 10), 1);
  EXPECT_EQ(reader.lastStatus(), 0x6A82u);
  EXPECT_EQ(length, -7);
  EXPECT_EQ(d.NfcFetch(kIcdev, response, &length, 10), 0);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(d.NfcFetch(kIcdev, response, &length, -1), -1);
  EXPECT_EQ(reader.wire.calls.size(), 3u) << "a negative wait is refused before listening";
}

// On a line: an answer that came in before the call is not purged away, and
// one that comes while the call waits is taken too.
TEST(R42SelfServiceRf, NfcFetchOnALine) {
  R42Rig rig;
  ASSERT_RIG(rig);
  auto peer = std::make_shared<NfcPeer>();
  rig.model.with([&](State& s) { s.attachments.push_back(peer); });
  ASSERT_EQ(rig.device->NfcInit(kIcdev), 0);
  ASSERT_EQ(rig.device->NfcPush(kIcdev, kChallenge.data(), 5), 0);
  const Bytes early = R42SerialSim::stxFrame(rig.model.answer({}));
  rig.sim->sendRaw(early);
  // The whole frame waits on the line before the call begins.
  int waiting = 0;
  for (int i = 0; i < 400 && waiting < int(early.size()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(ioctl(rig.sim->pty()->slave(), FIONREAD, &waiting), 0);
  }
  ASSERT_EQ(waiting, int(early.size()));
  uint8_t response[2048];
  int32_t length = 0;
  EXPECT_EQ(rig.device->NfcFetch(kIcdev, response, &length, 2000), 0);
  EXPECT_EQ(Bytes(response, response + length), NfcPeer::answerTo(kChallenge));

  ASSERT_EQ(rig.device->NfcPush(kIcdev, kSelect.data(), 7), 0);
  std::thread peer_later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rig.sim->sendRaw(R42SerialSim::stxFrame(rig.model.answer({})));
  });
  EXPECT_EQ(rig.device->NfcFetch(kIcdev, response, &length, 3000), 0);
  peer_later.join();
  EXPECT_EQ(Bytes(response, response + length), NfcPeer::answerTo(kSelect));
  EXPECT_EQ(rig.sim->requestCount(), 3u) << "the fetches send nothing";
}

// --- compositions reach the slots they build on through the interface ---

struct UidOverride : R42Device {
  using R42Device::R42Device;
  int16_t getuid_i_d(int32_t, unsigned char* uid) override {
    ++calls;
    if (result == 0) std::memcpy(uid, hx("01 23 45 67 89 AB CD EF").data(), 8);
    return result;
  }
  int calls = 0;
  int16_t result = 0;
};

TEST(R42SelfServiceRf, IdentityCardSerialReachesAnOverride) {
  NullPort port;
  RecordingProtocol wire(&port, [](const Bytes&) { return std::nullopt; });
  UidOverride device("r42-u", &port, &wire);
  ReaderDevice& d = device;
  uint8_t uid[8] = {};
  EXPECT_EQ(d.get_idsnr(kIcdev, uid), 0);
  EXPECT_EQ(Bytes(uid, uid + 8), hx("01 23 45 67 89 AB CD EF"));
  char text[20];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(d.get_idsnr_hex(kIcdev, text), 0);
  EXPECT_STREQ(text, "0123456789ABCDEF");
  device.result = -2;
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(d.get_idsnr_hex(kIcdev, text), -2);
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(device.calls, 3);
  EXPECT_TRUE(wire.calls.empty());
}

}  // namespace
