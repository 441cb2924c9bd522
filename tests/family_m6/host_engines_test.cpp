// The two host engines over a callable, against the simulated cards' block
// layers: the ISO/IEC 14443-4 block exchange (M6BlockChain) and T=1
// (M6T1). Each scenario runs one echo command under the faults it sets up
// and lists the blocks the host sent, by their PCBs.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>

#include "family_m6/block_chainer.h"
#include "family_m6/t1_exchange.h"
#include "sim/iso14443_4_picc.h"
#include "sim/t1_card.h"
#include "sim/wire_table.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Dir = BlockFaults::Direction;
using Fault = BlockFaults::Fault;

// A command of n bytes that the card echoes: its data bytes and 90 00.
Bytes echo(size_t n) {
  Bytes command = wire_pattern(n, 3);
  command[0] = 0x80;
  command[1] = 0xEE;
  return command;
}
Bytes echoed(const Bytes& command) {
  Bytes answer = wire_slice(command, 2, command.size() - 2);
  answer.insert(answer.end(), {0x90, 0x00});
  return answer;
}

// The card's side of one exchange: its block, unless the script replaces
// it (an entry of nothing leaves the card's own); no block is the reader's
// "no answer".
struct Card {
  std::deque<std::optional<Bytes>> script;
  std::string pcbs;

  int16_t hand_back(const Bytes& sent, size_t pcb_at, std::optional<Bytes> back,
                    uint8_t* reply, size_t* got) {
    pcbs += (pcbs.empty() ? "" : " ") + spaced_hex(&sent[pcb_at], 1);
    if (!script.empty()) {
      if (script.front()) back = script.front();
      script.pop_front();
    }
    if (!back) return -2;
    *got = back->size();
    std::memcpy(reply, back->data(), back->size());
    return 0;
  }
};

template <typename Rig>
struct Scenario {
  const char* name;
  std::function<void(Rig&)> given;
  int16_t result;
  const char* pcbs;
};

template <typename Rig>
std::string scenario_name(const ::testing::TestParamInfo<Scenario<Rig>>& info) {
  return info.param.name;
}

// --- ISO/IEC 14443-4 ---

struct PiccRig : Card {
    std::shared_ptr<Iso7816Card> card = std::make_shared<Iso7816Card>();
  Iso14443_4Picc picc;
  uint8_t state = 0x0B;
  BlockChainer chainer{state,
                       {[this](const uint8_t* block, size_t length, uint8_t, uint8_t* reply,
                               size_t* got) {
                          const Bytes sent(block, block + length);
                          return hand_back(sent, 0, picc.block(sent), reply, got);
                        },
                        253}};

  explicit PiccRig(size_t chain_at = 60) : picc(card, chain_at) { picc.activate(); }
  int16_t run(const Bytes& command, uint32_t frame_size = 64) {
    pcbs.clear();
    return chainer.run(command.data(), command.size(),
                       {frame_size, 7, true, BlockChainer::kMaxAnswer});
  }
};
using PiccScenario = Scenario<PiccRig>;

// A 150-byte command goes as 60 + 60 + 30 (1A 1B 0A); its 150-byte answer
// comes back as 60 + 60 + 30, acknowledged twice (AB AA).
const PiccScenario kPiccScenarios[] = {
    {"plain", {}, 0, "1A 1B 0A AB AA"},
    {"wait_mid_chain_and_before_the_answer",
     [](PiccRig& r) { r.picc.waitRequests(1, 2), r.picc.waitRequests(1, 3); }, 0,
     "1A 1B FA 0A FA AB AA"},
    {"chained_block_lost", [](PiccRig& r) { r.picc.faults.plan(Dir::kToCard, 1, Fault::kLose); }, 0,
     "1A BA 1A 1B 0A AB AA"},
    {"card_ack_lost", [](PiccRig& r) { r.picc.faults.plan(Dir::kFromCard, 1, Fault::kLose); }, 0,
     "1A BA 1B 0A AB AA"},
    {"last_block_lost", [](PiccRig& r) { r.picc.faults.plan(Dir::kToCard, 3, Fault::kLose); }, 0,
     "1A 1B 0A BA 0A AB AA"},
    {"first_answer_block_lost", [](PiccRig& r) { r.picc.faults.plan(Dir::kFromCard, 3, Fault::kLose); }, 0,
     "1A 1B 0A BA AB AA"},
    {"host_ack_lost", [](PiccRig& r) { r.picc.faults.plan(Dir::kToCard, 4, Fault::kLose); }, 0,
     "1A 1B 0A AB AB AA"},
    {"chained_answer_block_lost", [](PiccRig& r) { r.picc.faults.plan(Dir::kFromCard, 4, Fault::kLose); },
     0, "1A 1B 0A AB AB AA"},
    {"nak_after_a_wait_answer_keeps_the_number",
     [](PiccRig& r) { r.picc.waitRequests(1, 3), r.picc.faults.plan(Dir::kFromCard, 4, Fault::kLose); }, 0,
     "1A 1B 0A FA BA AB AA"},
    {"four_failures",
     [](PiccRig& r) {
       for (int i = 1; i <= 4; ++i) r.picc.faults.plan(Dir::kToCard, i, Fault::kLose);
     },
     -1, "1A BA BA BA"},
    {"wait_requests_end_at_1024",
     [](PiccRig& r) { r.picc.waitRequests(BlockChainer::kMaxWaitRequests + 1, 1); }, -1,
     nullptr},
    {"short_blocks_are_errors",
     [](PiccRig& r) { r.script = {hx("1A"), hx("FA 00"), hx("1A 00")}; }, 0,
     "1A BA BA BA 1B 0A AB AA"},
    {"empty_chained_answer_block",
     [](PiccRig& r) { r.script = {std::nullopt, std::nullopt, hx("1A 00")}; }, 0,
     "1A 1B 0A BA AB AA"},
};

class M6BlockChain : public ::testing::TestWithParam<PiccScenario> {};

TEST_P(M6BlockChain, Exchange) {
  PiccRig rig;
  if (GetParam().given) GetParam().given(rig);
  const Bytes command = echo(150);
  ASSERT_EQ(rig.run(command), GetParam().result);
  if (GetParam().pcbs) {
    EXPECT_EQ(rig.pcbs, GetParam().pcbs);
  }
  if (GetParam().result == 0) {
    EXPECT_EQ(rig.chainer.answer(), echoed(command));
    EXPECT_EQ(rig.picc.commands, std::vector<Bytes>{command}) << "run once";
  }
}

INSTANTIATE_TEST_SUITE_P(, M6BlockChain, ::testing::ValuesIn(kPiccScenarios),
                         scenario_name<PiccRig>);

TEST(M6BlockChainRuns, CutsCommandsIntoFrames) {
  PiccRig rig(0);
  EXPECT_EQ(rig.run(echo(10), 6), -2);
  EXPECT_EQ(rig.pcbs, "");
  // 60 bytes fit one block; 100 go as 60 + 40; 120 as 60 + 60 and an empty
  // last block; each new block takes the other number.
  for (auto [length, pcbs] :
       {std::pair<size_t, const char*>{60, "0A"}, {100, "1B 0A"}, {120, "1B 1A 0B"}}) {
    EXPECT_EQ(rig.run(echo(length)), 0);
    EXPECT_EQ(rig.pcbs, pcbs) << length;
  }
  // Le of a case-4 APDU stays behind; a DESFire frame of 2 bytes is whole.
  EXPECT_EQ(rig.run(hx("00 A4 04 00 02 3F 00 00")), 0);
  EXPECT_EQ(rig.run(hx("0A 00")), 0);
  EXPECT_EQ(rig.picc.commands[3], hx("00 A4 04 00 02 3F 00"));
  EXPECT_EQ(rig.picc.commands[4], hx("0A 00"));
  // A block the channel cannot carry is refused before any I/O.
  EXPECT_EQ(rig.run(echo(300), 300), -1);
  EXPECT_EQ(rig.pcbs, "");
}

TEST(M6BlockChainRuns, LostCountIsTakenUpFromTheCard) {
  PiccRig rig;
  // Every I-block to the card is lost: -1 after four failures.
  rig.picc.faults.plan(Dir::kToCard, 1, Fault::kLose);
  rig.picc.faults.plan(Dir::kToCard, 3, Fault::kLose);
  EXPECT_EQ(rig.run(echo(5)), -1);
  EXPECT_EQ(rig.pcbs, "0A BA 0A BA");
  // The card never saw block 0, so it answers the next with the number the
  // host did not expect: it ran the command, and the host gives up at once
  // but takes up the card's count.
  EXPECT_EQ(rig.run(echo(5)), -1);
  EXPECT_EQ(rig.pcbs, "0B");
  EXPECT_EQ(rig.run(echo(5)), 0);
  EXPECT_EQ(rig.pcbs, "0B");
  EXPECT_EQ(rig.picc.commands.size(), 2u);
}

TEST(M6BlockChainRuns, AnswerCap) {
  PiccRig rig;
  rig.card->script(Bytes(BlockChainer::kMaxAnswer + 1, 0x55));
  EXPECT_EQ(rig.run(echo(5)), -1);
  rig.card->script(Bytes(BlockChainer::kMaxAnswer, 0x55));
  EXPECT_EQ(rig.run(echo(5)), 0);
  EXPECT_EQ(rig.chainer.answer().size(), BlockChainer::kMaxAnswer);
}

// --- T=1 ---

struct T1Rig : Card {
  T1Card card;
  uint8_t ns = 0;
  std::vector<Bytes> sent;
  std::vector<uint8_t> answer;
  t1::BlockExchange raw = [this](const uint8_t* block, size_t length, uint8_t* reply,
                                 size_t* got) {
    sent.emplace_back(block, block + length);
    return hand_back(sent.back(), 1, card.block(sent.back()), reply, got);
  };
  int16_t run(const Bytes& apdu, size_t cap = 255) {
    sent.clear();
    pcbs.clear();
    return t1::exchange(ns, apdu.data(), apdu.size(), cap, raw, answer);
  }
};
using T1Scenario = Scenario<T1Rig>;

// A 140-byte echo comes back in five blocks of at most 32 bytes.
const T1Scenario kT1Scenarios[] = {
    {"five_block_chain", {}, 0, "00 90 80 90 80"},
    {"wait_and_ifs_requests", [](T1Rig& r) { r.card.waitRequest(5), r.card.ifsRequest(0xFE); },
     0, "00 E3 E1 90 80 90 80"},
    {"corrupt_host_block_sent_again", [](T1Rig& r) { r.card.faults.plan(Dir::kToCard, 1, Fault::kCorrupt); }, 0,
     "00 00 90 80 90 80"},
    {"corrupt_host_r_block_no_duplicate",
     [](T1Rig& r) { r.card.faults.plan(Dir::kToCard, 2, Fault::kCorrupt); }, 0, "00 90 90 80 90 80"},
    {"repeated_card_block_skipped", [](T1Rig& r) { r.card.repeatNextChained(); }, 0,
     "00 90 90 80 90 80"},
    {"bad_card_lrc", [](T1Rig& r) { r.card.faults.plan(Dir::kFromCard, 2, Fault::kCorrupt); }, -1, "00 90"},
    {"lost_block_keeps_the_reader_failure", [](T1Rig& r) { r.card.faults.plan(Dir::kToCard, 1, Fault::kLose); },
     -2, "00"},
    {"unchecked_wait_request",
     [](T1Rig& r) { r.card.waitRequest(), r.card.faults.plan(Dir::kFromCard, 1, Fault::kCorrupt); }, -1, "00"},
    {"persistent_errors_resynchronise",
     [](T1Rig& r) {
       for (int i = 1; i <= 4; ++i) r.card.faults.plan(Dir::kToCard, i, Fault::kCorrupt);
     },
     -1, "00 00 00 00 C0"},
    {"short_block", [](T1Rig& r) { r.script = {hx("00 00 00")}; }, -1, "00"},
    {"length_beyond_the_block", [](T1Rig& r) { r.script = {hx("00 00 02 90 92")}; }, -1, "00"},
    {"endless_wait_requests",
     [](T1Rig& r) { r.script.assign(t1::kMaxRequests + 1, hx("00 C3 01 01 C3")); }, -1,
     nullptr},
};

class M6T1 : public ::testing::TestWithParam<T1Scenario> {};

TEST_P(M6T1, Exchange) {
  T1Rig rig;
  if (GetParam().given) GetParam().given(rig);
  const Bytes apdu = echo(140);
  ASSERT_EQ(rig.run(apdu), GetParam().result);
  if (GetParam().pcbs) {
    EXPECT_EQ(rig.pcbs, GetParam().pcbs);
  }
  if (GetParam().result == 0) {
    EXPECT_EQ(rig.answer, echoed(apdu));
  }
  // Whatever happened, the next APDU goes through.
  rig.script.clear();
  EXPECT_EQ(rig.run(hx("00 84 00 00 08")), 0);
  EXPECT_EQ(rig.answer, hx("01 02 03 04 05 06 07 08 90 00"));
}

INSTANTIATE_TEST_SUITE_P(, M6T1, ::testing::ValuesIn(kT1Scenarios), scenario_name<T1Rig>);

TEST(M6T1Runs, BlockShapes) {
  T1Rig rig;
  // The main road's bytes, then the WTX and IFS answers.
  EXPECT_EQ(rig.run(hx("00 84 00 00 08")), 0);
  EXPECT_EQ(rig.sent[0], hx("00 00 05 00 84 00 00 08 89"));
  rig.card.waitRequest(5);
  rig.card.ifsRequest(0xFE);
  EXPECT_EQ(rig.run(hx("00 84 00 00 08")), 0);
  EXPECT_EQ(rig.sent[1], hx("00 E3 01 05 E7"));
  EXPECT_EQ(rig.sent[2], hx("00 E1 01 FE 1E"));
  // 250 bytes go in one block; 251 are refused before the sequence moves.
  EXPECT_EQ(rig.run(echo(250), t1::kMaxApdu + 2), 0);
  EXPECT_EQ(rig.sent[0].size(), 254u);
  EXPECT_EQ(rig.run(echo(251)), -1);
  EXPECT_TRUE(rig.sent.empty());
  EXPECT_EQ(rig.run(hx("00 84 00 00 08")), 0);
  // An answer over the cap, and a card S-block other than a request, whole.
  rig.card.card().script(Bytes(256, 0x11));
  EXPECT_EQ(rig.run(hx("00 84 00 00 08")), -1);
  rig.script = {hx("00 C2 00 C2")};
  EXPECT_EQ(rig.run(hx("00 84 00 00 08")), 0);
  EXPECT_EQ(rig.answer, hx("00 C2 00 C2"));
}

}  // namespace
