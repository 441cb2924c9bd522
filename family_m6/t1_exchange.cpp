#include "family_m6/t1_exchange.h"

#include <cstring>

#include "platform/byte_helpers.h"

namespace t1 {
namespace {

constexpr uint8_t kNad = 0x00;
constexpr uint8_t kSendSequence = 0x40;
constexpr uint8_t kMoreData = 0x20;
// PCB kinds: I-blocks have bit 7 clear, R-blocks 10, S-blocks 11.
constexpr uint8_t kKindBits = 0xC0;
constexpr uint8_t kKindR = 0x80;
constexpr uint8_t kKindS = 0xC0;
// An R-block's N(R) bit.
constexpr uint8_t kReceiveSequence = 0x10;
// S-requests the host answers (the response sets bit 0x20), and RESYNCH.
constexpr uint8_t kIfsRequest = 0xC1;
constexpr uint8_t kWtxRequest = 0xC3;
constexpr uint8_t kResponseBit = 0x20;
constexpr uint8_t kResynchRequest = 0xC0;
constexpr uint8_t kResynchResponse = 0xE0;
constexpr size_t kPrologue = 3;
constexpr size_t kFrame = kPrologue + 1;
// Blocks sent again (or card duplicates skipped) before RESYNCH.
constexpr int kMaxResends = 3;

// Builds [NAD][pcb][n][inf][LRC] into `block`; returns its length.
size_t build(uint8_t* block, uint8_t pcb, const uint8_t* inf, size_t n) {
  block[0] = kNad;
  block[1] = pcb;
  block[2] = uint8_t(n);
  if (n) std::memcpy(block + kPrologue, inf, n);
  block[kPrologue + n] = xor_checksum(block, int(kPrologue + n));
  return kFrame + n;
}

// A block as T=1 frames it: prologue, INF of LEN bytes, LRC over all. (A
// block the reader carries is at most kMaxBlock bytes, so LEN is never the
// reserved 0xFF.)
bool well_formed(const uint8_t* block, size_t n) {
  return n >= kFrame && n <= kMaxBlock && block[2] == n - kFrame &&
         xor_checksum(block, int(n)) == 0;
}

}  // namespace

int16_t exchange(uint8_t& send_sequence, const uint8_t* apdu, size_t length, size_t answer_cap,
                 const BlockExchange& raw, std::vector<uint8_t>& answer) {
  answer.clear();
  if (length > kMaxApdu || (length > 0 && apdu == nullptr)) return -1;
  uint8_t i_block[kMaxApdu + kFrame];
  const size_t i_length = build(i_block, send_sequence, apdu, length);
  send_sequence ^= kSendSequence;

  uint8_t r_block[kFrame];
  uint8_t request_answer[kFrame + 1];
  bool sent_r_block = false;
  int resends = 0;
  int requests = 0;
  uint8_t last_card_sequence = 0;
  const uint8_t* out = i_block;
  size_t out_length = i_length;
  uint8_t block[kMaxBlock];
  for (;;) {
    size_t n = 0;
    const int16_t result = raw(out, out_length, block, &n);
    if (result != 0) return result;
    if (!well_formed(block, n)) return -1;
    const uint8_t pcb = block[1];
    const size_t inf_length = n - kFrame;
    const bool i_block_in = (pcb & kKindBits) < kKindR;
    const bool asks_again = (pcb & kKindBits) == kKindR;
    const bool repeated =
        sent_r_block && i_block_in && (pcb & kSendSequence) == last_card_sequence;
    if ((pcb & kKindBits) == kKindS) {
      if (pcb != kWtxRequest && pcb != kIfsRequest) {
        if (answer.size() + n > answer_cap) return -1;
        answer.insert(answer.end(), block, block + n);
        return 0;
      }
      if (inf_length != 1 || ++requests > kMaxRequests) return -1;
      out = request_answer;
      out_length = build(request_answer, pcb | kResponseBit, block + kPrologue, 1);
      continue;
    }
    // A block that brings the answer no further (the card asks for a block
    // again, sent its last one twice, or chained an empty one) spends the
    // exchange's resends; past them the slot is resynchronised.
    const bool empty_chained = i_block_in && inf_length == 0 && (pcb & kMoreData);
    if ((asks_again || repeated || empty_chained) && resends++ == kMaxResends) {
      uint8_t resynch[kFrame];
      size_t got = 0;
      if (raw(resynch, build(resynch, kResynchRequest, nullptr, 0), block, &got) == 0 &&
          well_formed(block, got) && block[1] == kResynchResponse)
        send_sequence = 0;
      return -1;
    }
    if (asks_again || repeated) {
      if (sent_r_block) {
        out = r_block;
        out_length = sizeof r_block;
      } else {
        // The I-block again, numbered as the card expects it.
        const uint8_t expected = (pcb & kReceiveSequence) ? kSendSequence : 0;
        build(i_block, expected, apdu, length);
        send_sequence = expected ^ kSendSequence;
        out = i_block;
        out_length = i_length;
      }
      continue;
    }
    if (answer.size() + inf_length > answer_cap) return -1;
    answer.insert(answer.end(), block + kPrologue, block + kPrologue + inf_length);
    if (!(pcb & kMoreData)) return 0;
    last_card_sequence = pcb & kSendSequence;
    build(r_block, uint8_t(kKindR | (last_card_sequence ? 0 : kReceiveSequence)), nullptr, 0);
    sent_r_block = true;
    out = r_block;
    out_length = sizeof r_block;
  }
}

}  // namespace t1
