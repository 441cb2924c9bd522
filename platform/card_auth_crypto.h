// Host-side steps of the card authentications and sessions that readers
// only carry: DESFire (legacy DES / two-key triple DES), MIFARE Plus (AES,
// security levels 1 and 3) and MIFARE Ultralight C (two-key triple DES).
// The steps do no I/O; the device classes send the frames these build and
// hand back the card's answers. A whole flow runs over a card frame
// exchange that the device class hands in.
//
// Conventions: X' is X rotated left by one byte. Every AES run is CBC with
// a zero IV unless an IV is named. MIFARE Plus counters and block numbers
// travel as 16-bit little-endian values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// --- challenges ---

// Fresh random bytes for a host challenge (RndA). 0, or -1 when the
// system's generator fails (nothing is sent then).
int draw_challenge(uint8_t* out, size_t count);

// Tests replace the generator to fix RndA; null restores the system's.
// Returns the source that was in place. Not part of any exported API.
using ChallengeSource = int (*)(uint8_t* out, size_t count);
ChallengeSource set_challenge_source(ChallengeSource source);

// out = in rotated by one byte (left: in[1..n-1], in[0]; right: in[n-1],
// in[0..n-2]). out may equal in.
void rotate_left_1(const uint8_t* in, size_t n, uint8_t* out);
void rotate_right_1(const uint8_t* in, size_t n, uint8_t* out);

// --- DESFire, legacy authentication ---

// D(x): DES decryption with an 8-byte key, or two-key triple DES decryption
// with a 16-byte key. False (nothing written) for any other key length.
bool desfire_decipher(const uint8_t* key, size_t key_length, const uint8_t in[8],
                      uint8_t out[8]);
// The host's answer to the card's E(RndB): rnd_b = D(card_token), then
// token = D1 || D2 with D1 = D(RndA), D2 = D(RndB' ^ D1).
bool desfire_host_token(const uint8_t* key, size_t key_length, const uint8_t rnd_a[8],
                        const uint8_t card_token[8], uint8_t rnd_b[8], uint8_t token[16]);
// Whether the card's last answer proves RndA: D(answer) rotated right.
bool desfire_check_card(const uint8_t* key, size_t key_length, const uint8_t rnd_a[8],
                        const uint8_t answer[8]);

// --- flows over a card channel ---

// The longest card answer one frame of a flow brings back.
inline constexpr size_t kCardFlowAnswerMax = 255;
// The time-out byte of every frame of a flow (DESFire, MIFARE Plus,
// Ultralight C): (7 + 20) x 250 = 6750 ms.
inline constexpr uint8_t kCardFlowTimeout = 7;

// One frame of a flow through the reader: `frame` out, the card's answer
// (at most kCardFlowAnswerMax bytes) back in `reply` and its length in
// `reply_length`. 0, or the channel's failure.
using CardFrameExchange = std::function<int16_t(const uint8_t* frame, size_t length,
                                                uint8_t* reply, size_t* reply_length)>;

// The DESFire legacy authentication with key `key_number`: 0A kk, answered
// AF E(RndB); then AF D1 D2, answered 00 E(RndA'). `rnd_b` receives RndB as
// soon as the card gave it. 0; -1 for a key of another length than 8 or 16
// or a null pointer (before any frame), a first answer that is not AF and
// 8 bytes, or a card that does not prove RndA; -2 for a second answer that
// is not 00 and 8 bytes; or the channel's failure.
int16_t desfire_authenticate(const CardFrameExchange& exchange, uint8_t key_number,
                             const uint8_t* key, size_t key_length, const uint8_t rnd_a[8],
                             uint8_t rnd_b[8]);

// --- MIFARE Plus ---

// The session of security level 3; its 44 bytes are the device's session
// field group, in this order.
struct MfpSession {
  uint32_t read_counter;
  uint32_t write_counter;
  uint8_t transaction_id[4];
  uint8_t enc_key[16];
  uint8_t mac_key[16];
};
static_assert(sizeof(MfpSession) == 44, "the session keeps the device's 44-byte layout");

// Card token E(RndB) to RndB, and the host token E(RndA || RndB') (32 bytes).
void mfp_host_token(const uint8_t key[16], const uint8_t rnd_a[16], const uint8_t card_token[16],
                    uint8_t rnd_b[16], uint8_t token[32]);
// Decrypts the card's last answer of `length` bytes (16 at level 1, 32 at
// level 3) into `plain` and tells whether its bytes `at`..`at`+15, rotated
// right, equal RndA.
bool mfp_check_card(const uint8_t key[16], const uint8_t rnd_a[16], const uint8_t* answer,
                    size_t length, size_t at, uint8_t* plain);
// Session keys from SV1 = RndA[11..15] || RndB[11..15] || (RndA[4..8] ^
// RndB[4..8]) || 11 and SV2 = RndA[7..11] || RndB[7..11] || (RndA[0..4] ^
// RndB[0..4]) || 22, each encrypted with the card key.
void mfp_session_keys(const uint8_t key[16], const uint8_t rnd_a[16], const uint8_t rnd_b[16],
                      uint8_t enc_key[16], uint8_t mac_key[16]);

inline constexpr uint8_t kMfpOk = 0x90;

// The longest MAC input: head, counter, TI, BNr, n and 15 blocks of a read.
inline constexpr size_t kMfpMacInputMost = 250;
// The 8-byte MAC over [head][counter LE16][TI][tail]: the command MAC (head
// = the command code, tail = BNr LE16 and n or the data) and the response
// MAC (head = 90, tail empty for writes, BNr, n and the data for reads).
// Tails over 243 bytes are cut there (inputs stop at kMfpMacInputMost).
void mfp_mac(const MfpSession& session, uint8_t head, uint32_t counter, const uint8_t* tail,
             size_t tail_length, uint8_t mac[8]);
// The IVs of the encrypted data: reads R||W x3 || TI (after the read
// counter moved on), writes TI || R||W x3 (counters as they stand).
void mfp_read_iv(const MfpSession& session, uint8_t iv[16]);
void mfp_write_iv(const MfpSession& session, uint8_t iv[16]);

// --- MIFARE Ultralight C ---

// The answer to the card's ek(RndB): rnd_b = D(ek(RndB)), token = C1 || C2
// with C1 = E(RndA ^ ek(RndB)), C2 = E(RndB' ^ C1) (two-key triple DES).
void ulc_host_token(const uint8_t key[16], const uint8_t rnd_a[8], const uint8_t card_token[8],
                    uint8_t rnd_b[8], uint8_t token[16]);
// Whether the card's ek(RndA') proves RndA: D(answer) ^ C2, rotated right.
bool ulc_check_card(const uint8_t key[16], const uint8_t rnd_a[8], const uint8_t token[16],
                    const uint8_t answer[8]);
// The key as the card keeps it in pages 2C-2F: key bytes 7-4, 3-0, 15-12
// and 11-8, each page's four in that (reverse) order.
inline constexpr uint8_t kUlcFirstKeyPage = 0x2C;
void ulc_key_pages(const uint8_t key[16], uint8_t pages[4][4]);
