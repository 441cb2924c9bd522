// The security-module tunnel and the raw card read built on it.
#include "family_r42/security_module.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_helpers.h"

namespace security_module {

namespace {

constexpr uint8_t kPreamble[5] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
constexpr uint8_t kStatusFound[3] = {0x00, 0x00, 0x9F};
constexpr uint8_t kStatusDone[3] = {0x00, 0x00, 0x90};
// Status bytes and check byte: the shortest body length an answer has.
constexpr uint16_t kAnswerOverhead = 4;

}  // namespace

void build_request(R42Request& request, uint16_t command, const uint8_t* data, size_t size) {
  // Length field and command word; the check byte covers them and the data.
  const uint8_t head[4] = {uint8_t((size + 3) >> 8), uint8_t(size + 3), uint8_t(command >> 8),
                           uint8_t(command)};
  const uint8_t check = uint8_t(xor_checksum(head, 4) ^ xor_checksum(data, int(size)));
  request.bytes(kPreamble, sizeof kPreamble).bytes(head, sizeof head).bytes(data, size).u8(check);
}

bool read_answer(ByteCursor payload, uint16_t command, ByteCursor* answer) {
  uint8_t preamble[sizeof kPreamble];
  uint16_t length = 0;
  // Bytes 3-4 are the reader's own count of what follows; the frame's
  // length field decides.
  if (!payload.skip(2) || !payload.take(preamble, sizeof preamble) ||
      std::memcmp(preamble, kPreamble, sizeof preamble) != 0 || !payload.be16(length) ||
      length < kAnswerOverhead || length > payload.remaining()) {
    return false;
  }
  const uint8_t* body = payload.here();
  if ((xor_checksum(body, length) ^ uint8_t(length >> 8) ^ uint8_t(length)) != 0) return false;
  uint8_t status[3];
  payload.take(status, sizeof status);
  const uint8_t* expected = command == kFindCard ? kStatusFound : kStatusDone;
  if (std::memcmp(status, expected, sizeof status) != 0) return false;
  *answer = ByteCursor(payload.here(), size_t(length - kAnswerOverhead));
  return true;
}

}  // namespace security_module

namespace {

using namespace security_module;

// The work area of the raw card read: the largest answer a tunnel reply
// can hold.
constexpr size_t kWorkArea = kR42LongBufferSize;
// Answers longer than this are not taken apart.
constexpr size_t kMaxPartAnswer = 4096;
// A text longer than a card text would not fit the callers' text buffers.
constexpr size_t kMaxText = 256;
constexpr size_t kExtraTextSize = 70;
constexpr size_t kFindAnswer = 4;
constexpr size_t kSelectAnswer = 8;
// A tunnel reply reaches at least the module's length field: status word,
// spare byte, the reader's length, preamble and length.
constexpr size_t kTunnelReplyHead = r42_cmd::kReplyHead + 2 + 5 + 2;

// One preparatory command whose answer must start with `zeros` zero bytes.
bool prepare(ReaderDevice& self, int32_t icdev, uint16_t command, size_t zeros, uint8_t* work) {
  int32_t rlen = 0;
  if (self.SamAControl(icdev, command, 0, nullptr, &rlen, work) != 0 || rlen < int32_t(zeros))
    return false;
  return std::all_of(work, work + zeros, [](uint8_t b) { return b == 0; });
}

// One part of the card as the caller wants it: where its length and bytes
// go.
struct PartOut {
  int32_t* length;
  uint8_t* buffer;
};

// Reads `count` BE16 lengths from the head of an answer, then as many
// parts; writes each part with its length only when all fit the answer
// and the text (the first) fits a card text's buffer.
bool take_parts(const uint8_t* work, int32_t rlen, const PartOut* parts, size_t count) {
  if (rlen < 0 || size_t(rlen) > kMaxPartAnswer) return false;
  ByteCursor answer(work, size_t(rlen));
  uint16_t lengths[3] = {};
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!answer.be16(lengths[i])) return false;
    total += lengths[i];
  }
  if (total > answer.remaining() || lengths[0] > kMaxText) return false;
  for (size_t i = 0; i < count; ++i) {
    answer.take(parts[i].buffer, lengths[i]);
    *parts[i].length = lengths[i];
  }
  return true;
}

}  // namespace

int16_t R42Device::SamAControl(int32_t, int32_t code, int32_t slen, const unsigned char* sdata,
                               int32_t* rlen, unsigned char* rdata) {
  if (!R42Request::fits_u16(code) || slen < 0 || size_t(slen) > kMaxHostData ||
      (sdata == nullptr && slen > 0) || rlen == nullptr || rdata == nullptr) {
    return -1;
  }
  R42Request request(r42_cmd::kIdModuleTunnel, kR42LongBufferSize);
  build_request(request, uint16_t(code), sdata, size_t(slen));
  ByteCursor payload(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, kTunnelReplyHead, &payload);
  if (result != 0) return result;
  ByteCursor answer(nullptr, 0);
  if (!read_answer(payload, uint16_t(code), &answer)) return -1;
  *rlen = int32_t(answer.remaining());
  answer.take(rdata, answer.remaining());
  return 0;
}

int16_t R42Device::SamAReadCardInfo(int32_t icdev, int32_t type, int32_t* text_len,
                                    unsigned char* text, int32_t* photo_len, unsigned char* photo,
                                    int32_t* fingerprint_len, unsigned char* fingerprint,
                                    int32_t* extra_len, unsigned char* extra) {
  const bool card_parts = (type & 1) != 0;
  const bool extra_part = (type & 2) != 0;
  if (text_len == nullptr || photo_len == nullptr || fingerprint_len == nullptr ||
      extra_len == nullptr ||
      (card_parts && (text == nullptr || photo == nullptr || fingerprint == nullptr)) ||
      (extra_part && extra == nullptr)) {
    return -1;
  }
  ReaderDevice& self = *this;
  uint8_t work[kWorkArea];
  if (!prepare(self, icdev, kFindCard, kFindAnswer, work) ||
      !prepare(self, icdev, kSelectCard, kSelectAnswer, work)) {
    return -1;
  }
  *text_len = *photo_len = *fingerprint_len = *extra_len = 0;
  bool read = false;
  int32_t rlen = 0;
  if (card_parts) {
    const PartOut parts[] = {{text_len, text}, {photo_len, photo}, {fingerprint_len, fingerprint}};
    // A card without fingerprint data refuses the first command; a
    // malformed answer to it is no reason to ask again.
    if (self.SamAControl(icdev, kReadTextPhotoFinger, 0, nullptr, &rlen, work) == 0)
      read = take_parts(work, rlen, parts, 3);
    else if (self.SamAControl(icdev, kReadTextPhoto, 0, nullptr, &rlen, work) == 0)
      read = take_parts(work, rlen, parts, 2);
  }
  if (extra_part && self.SamAControl(icdev, kReadExtraText, 0, nullptr, &rlen, work) == 0 &&
      rlen >= int32_t(kExtraTextSize) && size_t(rlen) <= kMaxPartAnswer) {
    std::memcpy(extra, work, kExtraTextSize);
    *extra_len = int32_t(kExtraTextSize);
    read = true;
  }
  return read ? 0 : -1;
}
