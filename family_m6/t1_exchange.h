// ISO/IEC 7816-3 T=1 run on the host for a contact card behind a reader
// that only carries blocks: one APDU in one I-block [NAD 0][PCB][LEN][INF]
// [LRC], the card's chained answer acknowledged with R-blocks, its waiting
// time and IFS requests answered, and its error R-blocks met by sending the
// last block again, up to three times, then S(RESYNCH). A chained block
// with no INF is acknowledged but spends one of those three.
//
// The send-sequence bit (0x00 or 0x40) is the slot's own byte; it moves on
// as the I-block goes, whatever the outcome. The host neither chains its
// own blocks nor negotiates IFSD: an APDU is at most kMaxApdu bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace t1 {

// The longest APDU one block carries: the block (APDU + 4) must fit the
// reader's one-byte command length.
inline constexpr size_t kMaxApdu = 250;
// The longest card block the reader's one-byte reply length carries.
inline constexpr size_t kMaxBlock = 255;
// S-requests (waiting time, IFS) answered in one exchange at most.
inline constexpr int kMaxRequests = 1024;

// The reader's block exchange: `block` out, the card's block back in
// `reply` (room for kMaxBlock bytes) and its length in `reply_length`. 0,
// or the exchange's failure, which ends the T=1 exchange with that result.
using BlockExchange = std::function<int16_t(const uint8_t* block, size_t length, uint8_t* reply,
                                            size_t* reply_length)>;

// One APDU. 0 with the answer's INF bytes (or a card S-block other than a
// waiting-time or IFS request, whole) in `answer`; the exchange's own
// failure; -1 for an APDU over kMaxApdu bytes (before `send_sequence`
// moves), a malformed card block or one with a bad LRC, too many requests,
// an answer over `answer_cap`, or recovery given up (the resynchronised
// slot then starts again at send sequence 0).
int16_t exchange(uint8_t& send_sequence, const uint8_t* apdu, size_t length, size_t answer_cap,
                 const BlockExchange& raw, std::vector<uint8_t>& answer);

}  // namespace t1
