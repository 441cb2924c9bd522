#include "platform/mifare_plus_ulc_flow.h"

#include <cstring>

#include "platform/aes128.h"
#include "platform/byte_cursor.h"
#include "platform/byte_writer.h"

namespace {

constexpr uint8_t kWritePerso = 0xA8;
constexpr uint8_t kCommitPerso = 0xAA;
constexpr uint8_t kFirstAuth = 0x76;
constexpr uint8_t kSecondAuth = 0x72;
constexpr uint8_t kReadPlain = 0x33;
constexpr uint8_t kReadEnciphered = 0x31;
constexpr uint8_t kWritePlain = 0xA3;
constexpr uint8_t kWriteEnciphered = 0xA1;
// Level 1 authenticates with key 9004, named inside its first frame.
constexpr uint8_t kLevel1First[3] = {kFirstAuth, 0x04, 0x90};

constexpr size_t kBlock = 16;
constexpr size_t kMac = 8;
constexpr size_t kMostData = kBlock * kMfpBlocksMost;

constexpr uint8_t kUlcAuthenticate[2] = {0x1A, 0x00};
constexpr uint8_t kUlcMoreFrames = 0xAF;
constexpr uint8_t kUlcOk = 0x00;
constexpr size_t kUlcToken = 8;

// One frame of a flow; an empty answer gives -1.
int16_t send(const CardFrameExchange& exchange, const uint8_t* frame, size_t length,
             uint8_t* reply, size_t* reply_length) {
  *reply_length = 0;
  const int16_t result = exchange(frame, length, reply, reply_length);
  if (result != 0) return result;
  return *reply_length == 0 || *reply_length > kCardFlowAnswerMax ? -1 : 0;
}

// The card's status byte as a result: 90 is success, any other status s
// gives -s, and one whose negation would read as success gives -1.
int16_t card_status_result(uint8_t status) {
  if (status == kMfpOk) return 0;
  return status == 0 ? -1 : int16_t(-int(status));
}

// A frame whose whole answer is the status byte.
int16_t status_frame(const CardFrameExchange& exchange, const uint8_t* frame, size_t length) {
  uint8_t reply[kCardFlowAnswerMax];
  size_t received = 0;
  const int16_t result = send(exchange, frame, length, reply, &received);
  return result != 0 ? result : card_status_result(reply[0]);
}

// One frame whose answer is the status and, after 0x90, at least `needed`
// bytes, which `answer` then covers.
int16_t answered_frame(const CardFrameExchange& exchange, const uint8_t* frame, size_t length,
                       uint8_t* reply, size_t needed, ByteCursor& answer) {
  size_t received = 0;
  const int16_t result = send(exchange, frame, length, reply, &received);
  if (result != 0) return result;
  answer = ByteCursor(reply, received);
  uint8_t status = 0;
  answer.u8(status);
  if (status != kMfpOk) return card_status_result(status);
  return answer.remaining() >= needed ? 0 : -1;
}

// A level-3 data frame: on 0x90 the session's counter moves on (before any
// MAC is checked) and `answer` covers what follows the status.
int16_t counted_frame(const CardFrameExchange& exchange, const uint8_t* frame, size_t length,
                      uint32_t& counter, uint8_t* reply, ByteCursor& answer) {
  const int16_t result = answered_frame(exchange, frame, length, reply, 0, answer);
  if (result == 0) ++counter;
  return result;
}

// Both authentications: RndA drawn, 76 ..., 72 E(RndA || RndB'); on 0 the
// card's answer to the second frame (`answer` bytes) is in `plain`,
// deciphered, and `proven` tells whether it proves RndA.
struct AuthOutcome {
  uint8_t rnd_a[16];
  uint8_t rnd_b[16];
  uint8_t plain[32];
  bool proven;
};

int16_t authenticate(const CardFrameExchange& exchange, const uint8_t* first, size_t first_length,
                     const uint8_t* key, size_t answer_length, size_t rnd_at, AuthOutcome& out) {
  uint8_t reply[kCardFlowAnswerMax];
  ByteCursor answer(nullptr, 0);
  int16_t result = answered_frame(exchange, first, first_length, reply, 16, answer);
  if (result != 0) return result;
  uint8_t frame[1 + 32] = {kSecondAuth};
  mfp_host_token(key, out.rnd_a, answer.here(), out.rnd_b, frame + 1);
  result = answered_frame(exchange, frame, sizeof frame, reply, answer_length, answer);
  if (result != 0) return result;
  out.proven = mfp_check_card(key, out.rnd_a, answer.here(), answer_length, rnd_at, out.plain);
  return 0;
}

}  // namespace

bool mfp_block_count_ok(int64_t count, int max_blocks) {
  return count >= 1 && count <= max_blocks && count <= kMfpBlocksMost;
}

int64_t mfp_sector_key(uint8_t mode, int64_t sector) {
  if (sector < 0) return -1;
  const int64_t key = kMfpFirstSectorKey + 2 * sector + (mode == 0 ? 0 : 1);
  return ByteWriter::fits_u16(key) ? key : -1;
}

// --- level 0 ---

int16_t mfp_write_perso(const CardFrameExchange& block, int64_t bnr, const uint8_t* data) {
  if (!ByteWriter::fits_u16(bnr) || data == nullptr) return -1;
  uint8_t frame[3 + kBlock] = {kWritePerso, uint8_t(bnr), uint8_t(bnr >> 8)};
  std::memcpy(frame + 3, data, kBlock);
  return status_frame(block, frame, sizeof frame);
}

int16_t mfp_commit_perso(const CardFrameExchange& block) {
  const uint8_t frame[1] = {kCommitPerso};
  return status_frame(block, frame, sizeof frame);
}

// --- authentication ---

int16_t mfp_authenticate_l1(const CardFrameExchange& raw, const uint8_t* key) {
  AuthOutcome outcome;
  if (key == nullptr || draw_challenge(outcome.rnd_a, sizeof outcome.rnd_a) != 0) return -1;
  // The card answers E(RndA').
  const int16_t result = authenticate(raw, kLevel1First, sizeof kLevel1First, key, 16, 0, outcome);
  if (result != 0) return result;
  return outcome.proven ? 0 : -1;
}

int16_t mfp_authenticate_l3(const CardFrameExchange& block, MfpSession& session,
                            int64_t key_number, const uint8_t* key) {
  AuthOutcome outcome;
  if (key == nullptr || !ByteWriter::fits_u16(key_number) ||
      draw_challenge(outcome.rnd_a, sizeof outcome.rnd_a) != 0)
    return -1;
  session.read_counter = 0;
  session.write_counter = 0;
  // Level 3 asks for no capabilities: the first frame ends with length 0.
  const uint8_t first[4] = {kFirstAuth, uint8_t(key_number), uint8_t(key_number >> 8), 0x00};
  // The card answers E(TI || RndA' || capabilities).
  const int16_t result = authenticate(block, first, sizeof first, key, 32, 4, outcome);
  if (result != 0) return result;
  // The card's TI is kept even when RndA' then fails the check.
  std::memcpy(session.transaction_id, outcome.plain, sizeof session.transaction_id);
  if (!outcome.proven) return -1;
  mfp_session_keys(key, outcome.rnd_a, outcome.rnd_b, session.enc_key, session.mac_key);
  return 0;
}

// --- level-3 data ---

int16_t mfp_read(const CardFrameExchange& block, MfpSession& session, int max_blocks,
                 bool enciphered, uint8_t flag, int64_t bnr, int64_t count, uint8_t* out) {
  if (!ByteWriter::fits_u16(bnr) || !mfp_block_count_ok(count, max_blocks) || out == nullptr)
    return -1;
  const uint8_t code = enciphered ? kReadEnciphered : kReadPlain;
  const size_t size = kBlock * size_t(count);
  // BNr and n, then (for the response MAC) the data.
  uint8_t tail[3 + kMostData] = {uint8_t(bnr), uint8_t(bnr >> 8), uint8_t(count)};
  uint8_t frame[4 + kMac] = {code, tail[0], tail[1], tail[2]};
  mfp_mac(session, code, session.read_counter, tail, 3, frame + 4);
  uint8_t reply[kCardFlowAnswerMax];
  ByteCursor answer(nullptr, 0);
  const int16_t result =
      counted_frame(block, frame, sizeof frame, session.read_counter, reply, answer);
  if (result != 0) return result;
  uint8_t card_mac[kMac];
  if (!answer.take(tail + 3, size) || !answer.take(card_mac, kMac)) return -1;
  uint8_t mac[kMac];
  mfp_mac(session, kMfpOk, session.read_counter, tail, 3 + size, mac);
  if (std::memcmp(mac, card_mac, kMac) != 0) return -1;
  uint8_t* data = tail + 3;
  if (enciphered && flag != kMfpRawFlag) {
    uint8_t iv[16];
    mfp_read_iv(session, iv);
    aes128_cbc(0, data, int(size), session.enc_key, iv);
  }
  std::memcpy(out, data, size);
  return 0;
}

int16_t mfp_write(const CardFrameExchange& block, MfpSession& session, int max_blocks,
                  bool enciphered, uint8_t flag, int64_t bnr, int64_t count,
                  const uint8_t* data) {
  if (!ByteWriter::fits_u16(bnr) || !mfp_block_count_ok(count, max_blocks) || data == nullptr)
    return -1;
  const uint8_t code = enciphered ? kWriteEnciphered : kWritePlain;
  const size_t size = kBlock * size_t(count);
  // [code][BNr][D][MAC]; the caller's data is copied, never changed.
  uint8_t frame[3 + kMostData + kMac] = {code, uint8_t(bnr), uint8_t(bnr >> 8)};
  std::memcpy(frame + 3, data, size);
  if (enciphered && flag != kMfpRawFlag) {
    uint8_t iv[16];
    mfp_write_iv(session, iv);
    aes128_cbc(1, frame + 3, int(size), session.enc_key, iv);
  }
  mfp_mac(session, code, session.write_counter, frame + 1, 2 + size, frame + 3 + size);
  uint8_t reply[kCardFlowAnswerMax];
  ByteCursor answer(nullptr, 0);
  const int16_t result =
      counted_frame(block, frame, 3 + size + kMac, session.write_counter, reply, answer);
  if (result != 0) return result;
  uint8_t card_mac[kMac];
  if (!answer.take(card_mac, kMac)) return -1;
  uint8_t mac[kMac];
  mfp_mac(session, kMfpOk, session.write_counter, nullptr, 0, mac);
  return std::memcmp(mac, card_mac, kMac) == 0 ? 0 : -1;
}

// --- Ultralight C ---

int16_t ulc_authenticate(const CardFrameExchange& raw, const uint8_t* key) {
  uint8_t rnd_a[kUlcToken];
  if (key == nullptr || draw_challenge(rnd_a, sizeof rnd_a) != 0) return -1;
  uint8_t reply[kCardFlowAnswerMax];
  size_t received = 0;
  int16_t result = send(raw, kUlcAuthenticate, sizeof kUlcAuthenticate, reply, &received);
  if (result != 0) return result;
  ByteCursor answer(reply, received);
  uint8_t status = 0, card_token[kUlcToken];
  if (!answer.u8(status) || status != kUlcMoreFrames || !answer.take(card_token, kUlcToken))
    return -1;
  uint8_t frame[1 + 2 * kUlcToken] = {kUlcMoreFrames};
  uint8_t rnd_b[kUlcToken];
  ulc_host_token(key, rnd_a, card_token, rnd_b, frame + 1);
  result = send(raw, frame, sizeof frame, reply, &received);
  if (result != 0) return result;
  answer = ByteCursor(reply, received);
  if (!answer.u8(status) || status != kUlcOk || !answer.take(card_token, kUlcToken)) return -1;
  return ulc_check_card(key, rnd_a, frame + 1, card_token) ? 0 : -1;
}

int16_t ulc_change_key(const UlcPageWrite& write_page, const uint8_t* key) {
  if (key == nullptr) return -1;
  uint8_t pages[4][4];
  ulc_key_pages(key, pages);
  for (int page = 0; page < 4; ++page) {
    // The card keeps the first four bytes of a write.
    uint8_t block[kBlock] = {};
    std::memcpy(block, pages[page], 4);
    const int16_t result = write_page(uint8_t(kUlcFirstKeyPage + page), block);
    if (result != 0) return result;
  }
  return 0;
}
