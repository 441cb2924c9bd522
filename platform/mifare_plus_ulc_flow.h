// Whole MIFARE Plus and Ultralight C flows, run by the host over a reader
// that only carries card frames: personalisation at level 0, the AES
// authentications of levels 1 and 3, the level-3 session's MACed and
// enciphered reads and writes, and the Ultralight C triple-DES
// authentication and key change. The cryptographic steps are those of
// card_auth_crypto.h; each device class hands in how a frame reaches the
// card.
//
// Results follow the card's status byte: 0x90 gives 0, any other status s
// gives -s, and a status whose negation would read as success (0x00) gives
// -1. An empty, short or unproven answer gives -1; a channel's failure is
// returned unchanged. Arguments are checked before the first frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/card_auth_crypto.h"

// The two ways a flow's frame reaches the card: whole, through the block
// protocol of ISO/IEC 14443-4 (personalisation, level 3), or as a bare
// ISO/IEC 14443-3 frame (level 1, Ultralight C).
struct CardFlowChannel {
  CardFrameExchange block;
  CardFrameExchange raw;
};

// --- MIFARE Plus ---

// The most blocks one level-3 read or write can cover: the frames and MAC
// inputs carry their lengths in 8 bits, so 16 blocks no longer fit. A reader
// family may allow fewer.
inline constexpr int kMfpBlocksMost = 15;
// The flag of the enciphered forms that leaves the data as it is.
inline constexpr uint8_t kMfpRawFlag = 1;
// Key numbers of the level switches and of the first sector key (key A of
// sector s is 0x4000 + 2s, its key B the next number).
inline constexpr uint32_t kMfpSwitchToLevel2Key = 0x9002;
inline constexpr uint32_t kMfpSwitchToLevel3Key = 0x9003;
inline constexpr uint32_t kMfpFirstSectorKey = 0x4000;

// Whether a block count is one a read or write of a family allowing
// `max_blocks` takes (1 to max_blocks, never above kMfpBlocksMost).
bool mfp_block_count_ok(int64_t count, int max_blocks);
// The key number of a sector's key A (mode 0) or key B (any other mode); -1
// for a negative sector or a number beyond 16 bits.
int64_t mfp_sector_key(uint8_t mode, int64_t sector);

// Level 0: A8 BNr(LE16) D16 stores a personalisation block, AA commits.
int16_t mfp_write_perso(const CardFrameExchange& block, int64_t bnr, const uint8_t* data);
int16_t mfp_commit_perso(const CardFrameExchange& block);

// Level 1: 76 04 90 and 72 E(RndA || RndB') with the card's level-1 key,
// as bare frames; no session is kept.
int16_t mfp_authenticate_l1(const CardFrameExchange& raw, const uint8_t* key);
// Level 3 with key `key_number` (0 to 65535): both counters start at 0 (also
// when the attempt then fails), the card's TI is kept once its answer
// arrived, and the session keys only once the card proved RndA.
int16_t mfp_authenticate_l3(const CardFrameExchange& block, MfpSession& session,
                            int64_t key_number, const uint8_t* key);

// Level-3 reads (33 plain, 31 enciphered) and writes (A3 plain, A1
// enciphered) of `count` blocks from block `bnr` (0 to 65535), MACed with
// the session. The enciphered forms decipher what they read and encipher a
// copy of what they write, unless `flag` is kMfpRawFlag. A counter moves on
// with each 0x90, before the response MAC is checked; `out` is written only
// once the MAC matched.
int16_t mfp_read(const CardFrameExchange& block, MfpSession& session, int max_blocks,
                 bool enciphered, uint8_t flag, int64_t bnr, int64_t count, uint8_t* out);
int16_t mfp_write(const CardFrameExchange& block, MfpSession& session, int max_blocks,
                  bool enciphered, uint8_t flag, int64_t bnr, int64_t count,
                  const uint8_t* data);

// --- MIFARE Ultralight C ---

// 1A 00, answered AF ek(RndB); then AF C1 C2, answered 00 ek(RndA').
int16_t ulc_authenticate(const CardFrameExchange& raw, const uint8_t* key);

// One page write of the card's memory: the page's four bytes lead a
// 16-byte block, zeros after them. 0, or the write's failure.
using UlcPageWrite = std::function<int16_t(uint8_t page, const uint8_t block[16])>;
// Writes the new key to pages 2C-2F in that order; the first failing write
// ends it with its result, and pages already written stay written.
int16_t ulc_change_key(const UlcPageWrite& write_page, const uint8_t* key);
