// The two host engines against a scripted card: the ISO/IEC 14443-4 block
// exchange (M6BlockChain) and T=1 (M6T1). A script is the exchange as a
// trace, "host>card|host>card|...": the block the host must send (its PCB,
// or the whole block when longer) and the card's answer ("-": the reader
// reports no answer). The host sends exactly the script's blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "family_m6/block_chainer.h"
#include "family_m6/t1_exchange.h"
#include "sim/wire_table.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kApdu = hx("00 84 00 00 08");

// A T=1 block [NAD 0][pcb][LEN][inf][LRC] from "pcb inf...".
Bytes t1_block(const Bytes& pcb_inf) {
  Bytes b = {0x00, pcb_inf[0], uint8_t(pcb_inf.size() - 1)};
  b.insert(b.end(), pcb_inf.begin() + 1, pcb_inf.end());
  uint8_t lrc = 0;
  for (uint8_t x : b) lrc ^= x;
  b.push_back(lrc);
  return b;
}

// The card's side of a script: checks each block the host sends and
// answers it. T=1 answers are framed unless they start with '='.
struct ScriptedCard {
  std::vector<std::pair<Bytes, std::optional<Bytes>>> steps;
  size_t next = 0;
  size_t pcb_at;  // where a host block has its PCB

  ScriptedCard(const std::string& script, size_t pcb_offset, bool t1) : pcb_at(pcb_offset) {
    std::stringstream in(script);
    for (std::string host, card; std::getline(in, host, '>') && std::getline(in, card, '|');) {
      std::optional<Bytes> answer;
      if (card != "-")
        answer = card[0] == '=' ? hx(card.substr(1)) : t1 ? t1_block(hx(card)) : hx(card);
      steps.emplace_back(hx(host), answer);
    }
  }
  int16_t answer(const uint8_t* block, size_t length, uint8_t* reply, size_t* got) {
    const Bytes sent(block, block + length);
    if (next == steps.size()) {
      ADD_FAILURE() << "block past the script: " << spaced_hex(sent);
      return -2;
    }
    const auto& [host, card] = steps[next++];
    const Bytes seen = host.size() == 1 ? Bytes{block[pcb_at]} : sent;
    EXPECT_EQ(spaced_hex(seen), spaced_hex(host)) << "host block " << next;
    if (!card) return -2;
    std::memcpy(reply, card->data(), card->size());
    *got = card->size();
    return 0;
  }
};

struct Scenario {
  const char* name;
  std::string script;
  int16_t result;
  const char* answer = "";  // on success
  uint8_t after = 0;        // the block state (14443-4) or send sequence (T=1) after
  Bytes command = kApdu;
  size_t cap = 0;           // the answer cap; 0: the engine's own
  uint32_t frame = 7;       // 14443-4 frame size: 3 bytes a block
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }
std::string scenario_name(const ::testing::TestParamInfo<Scenario>& info) {
  return info.param.name;
}
// What every case checks once its engine has run.
void expect_outcome(const Scenario& s, int16_t result, const ScriptedCard& card, uint8_t after,
                    const Bytes& answer) {
  EXPECT_EQ(result, s.result);
  EXPECT_EQ(card.next, card.steps.size()) << "script not run to its end";
  EXPECT_EQ(int(after), int(s.after));
  if (s.result == 0) {
    EXPECT_EQ(spaced_hex(answer), s.answer);
  }
}
// `first`, then `repeat` n times.
std::string script_of(std::string first, const std::string& repeat, int n) {
  while (n-- > 0) first += "|" + repeat;
  return first;
}

// --- ISO/IEC 14443-4 ---
// kApdu goes as 00 84 00 + 00 08 from block state 0x0B (a fresh activation);
// a host block written whole is [PCB][CID 00][INF].

std::vector<Scenario> picc_scenarios() {
  const std::string chained = "1A>AA 00|0B>1B 00 01 02|AA>0A 00 90 00";
  return {
      {"chained_both_ways_answer_at_the_cap", chained, 0, "01 02 90 00", 0x0A, kApdu, 4},
      {"answer_past_the_cap", chained, -1, "", 0x0A, kApdu, 3},
      // Refused before any I/O: a frame size under 7, a block the channel
      // cannot carry, a cap past the largest answer.
      {"frame_under_7", "", -2, "", 0x0B, kApdu, 0, 6},
      {"block_past_the_channel", "", -1, "", 0x0B, Bytes(300), 0, 300},
      {"cap_past_the_largest_answer", "", -1, "", 0x0B, kApdu, BlockChainer::kMaxAnswer + 1},
      // A full last block is followed by an empty one; the Le of a case-4
      // APDU stays behind; a DESFire frame of 2 bytes goes whole.
      {"command_cut_into_frames", "1A 00 01 08 0F>AA 00|1B 00 16 1D 24>AB 00|0A 00>0A 00 90 00", 0,
       "90 00", 0x0A, wire_pattern(6, 1)},
      {"case_4_le_stays_behind", "1A 00 00 A4 04>AA 00|1B 00 00 02 3F>AB 00|0A 00 00>0A 00 90 00",
       0, "90 00", 0x0A, hx("00 A4 04 00 02 3F 00 00")},
      {"desfire_frame_whole", "0A 00 0A 00>0A 00 90 00", 0, "90 00", 0x0A, hx("0A 00")},
      // 256 chained blocks do not wrap a count.
      {"chain_of_257_blocks", script_of("1A>AA 00|1B>AB 00", "1A>AA 00|1B>AB 00", 127) +
                                  "|0A>0A 00 90 00", 0, "90 00", 0x0A, Bytes(768)},
      {"wait_requests_mid_chain_and_before_the_answer",
       "1A>FA 00 C1|FA 00 01>AA 00|0B>FA 00 02|FA 00 02>0B 00 90 00", 0, "90 00", 0x0B},
      {"nak_after_a_wait_answer_keeps_the_number",
       "1A>AA 00|0B>FA 00 01|FA 00 01>-|BB>0B 00 90 00", 0, "90 00", 0x0B},
      {"chained_block_lost_sent_again", "1A>-|BA>AB 00|1A>AA 00|0B>0B 00 90 00", 0, "90 00", 0x0B},
      {"card_ack_lost", "1A>-|BA>AA 00|0B>0B 00 90 00", 0, "90 00", 0x0B},
      {"host_ack_lost_sent_again", "1A>AA 00|0B>1B 00 01 02|AA>-|AA>0A 00 90 00", 0,
       "01 02 90 00", 0x0A},
      {"ack_to_the_last_block_is_an_error", "1A>AA 00|0B>AB 00|BB>0B 00 90 00", 0, "90 00", 0x0B},
      {"s_block_numbered_1_is_an_error", "1A>F3 00 01|BA>AA 00|0B>0B 00 90 00", 0, "90 00", 0x0B},
      {"short_blocks_are_errors", "1A>1A|BA>FA 00|BA>AA 00|0B>0B 00 90 00", 0, "90 00", 0x0B},
      {"empty_chained_answer_block", "1A>AA 00|0B>1B 00|BB>1B 00 01 02|AA>0A 00 90 00", 0,
       "01 02 90 00", 0x0A},
      {"four_failures", "1A>-|BA>-|BA>-|BA>-", -1, "", 0x1A},
      // The card answers the other number: it ran the command unseen. No
      // R(NAK) (it would run it twice); the host takes up the card's count.
      {"answer_numbered_by_a_card_ahead", "0A>0B 00 90 00", -1, "", 0x0B, kApdu, 0, 64},
      {"wait_requests_end_at_1024",
       script_of("1A>FA 00 01", "FA 00 01>FA 00 01", BlockChainer::kMaxWaitRequests), -1, "",
       0x1A},
  };
}

class M6BlockChain : public ::testing::TestWithParam<Scenario> {};

TEST_P(M6BlockChain, Exchange) {
  const Scenario& s = GetParam();
  ScriptedCard card(s.script, 0, false);
  uint8_t state = BlockChainer::kStateAfterActivation;
  BlockChainer chainer(state, {[&](const uint8_t* block, size_t length, uint8_t timeout,
                                   uint8_t* reply, size_t* got) {
                                 EXPECT_EQ(timeout, block[0] == 0xFA ? 10 : 7);
                                 return card.answer(block, length, reply, got);
                               },
                               253});
  const int16_t result = chainer.run(s.command.data(), s.command.size(),
                                     {s.frame, 7, true, s.cap ? s.cap : BlockChainer::kMaxAnswer});
  expect_outcome(s, result, card, state, chainer.answer());
}

INSTANTIATE_TEST_SUITE_P(, M6BlockChain, ::testing::ValuesIn(picc_scenarios()), scenario_name);

// --- T=1 ---
// Card blocks are written "pcb inf..." and framed; the send sequence starts
// at 0.

std::vector<Scenario> t1_scenarios() {
  return {
      {"chained_answer_at_the_cap", "00>20 01 02|90>60 03 04|80>00 90 00", 0, "01 02 03 04 90 00",
       0x40, kApdu, 6},
      {"answer_past_the_cap", "00>00 90 00", -1, "", 0x40, kApdu, 1},
      // 250 bytes go in one block; 251 are refused before any I/O, and
      // before the send sequence moves.
      {"apdu_of_250_bytes_in_one_block", "00>00 90 00", 0, "90 00", 0x40, Bytes(250)},
      {"apdu_of_251_bytes_refused", "", -1, "", 0x00, Bytes(251)},
      {"wait_and_ifs_requests", "00>C3 05|00 E3 01 05 E7>C1 FE|00 E1 01 FE 1E>00 90 00", 0,
       "90 00", 0x40},
      // An R-block asks for the I-block again, numbered as it says.
      {"i_block_asked_again", "00>91|40>00 90 00", 0, "90 00", 0x00},
      {"r_block_asked_again_no_duplicate", "00>20 01 02|90>91|90>60 03 04|80>00 90 00", 0,
       "01 02 03 04 90 00", 0x40},
      {"repeated_card_block_skipped", "00>20 01 02|90>20 01 02|90>60 03 04|80>00 90 00", 0,
       "01 02 03 04 90 00", 0x40},
      {"persistent_errors_resynchronise", "00>81|00>81|00>81|00>81|C0>E0", -1, "", 0x00},
      {"empty_chained_blocks_resynchronise", "00>20|90>60|80>20|90>60|C0>E0", -1, "", 0x00},
      {"bad_card_lrc", "00>=00 00 02 90 00 00", -1, "", 0x40},
      {"wait_request_with_a_bad_lrc", "00>=00 C3 01 01 00", -1, "", 0x40},
      {"short_block", "00>=00 00 00", -1, "", 0x40},
      {"length_beyond_the_block", "00>=00 00 02 90 92", -1, "", 0x40},
      {"reader_failure_kept", "00>-", -2, "", 0x40},
      {"other_s_block_whole", "00>C2", 0, "00 C2 00 C2", 0x40},
      {"endless_wait_requests", script_of("00>C3 01", "00 E3 01 01 E3>C3 01", t1::kMaxRequests),
       -1, "", 0x40},
  };
}

class M6T1 : public ::testing::TestWithParam<Scenario> {};

TEST_P(M6T1, Exchange) {
  const Scenario& s = GetParam();
  ScriptedCard card(s.script, 1, true);
  uint8_t ns = 0;
  std::vector<uint8_t> answer;
  const int16_t result = t1::exchange(
      ns, s.command.data(), s.command.size(), s.cap ? s.cap : 255,
      [&](const uint8_t* b, size_t n, uint8_t* reply, size_t* got) {
        return card.answer(b, n, reply, got);
      },
      answer);
  expect_outcome(s, result, card, ns, answer);
}

INSTANTIATE_TEST_SUITE_P(, M6T1, ::testing::ValuesIn(t1_scenarios()), scenario_name);

}  // namespace
