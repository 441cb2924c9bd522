// Keypad keys, EMV pass-through and the reader's cipher services. The
// reader keeps the keys; the host builds ECB with padding and the MAC
// methods from its single-block services, which it calls through the device
// interface.
#include <cstring>
#include <iterator>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr size_t kDesBlock = 8;
constexpr size_t kSm4Block = 16;
// The check value of the reader's MAC service.
constexpr size_t kReaderMacSize = 8;
constexpr uint8_t kEncipher = 0x00;
constexpr uint8_t kPadByte = 0x80;

// One block through the reader's single-block service of its size.
int16_t cipher_block(ReaderDevice& self, int32_t icdev, size_t block, uint8_t keytype,
                     uint8_t enmode, const uint8_t* in, uint8_t* out) {
  return block == kDesBlock ? self.CreatDesData(icdev, keytype, enmode, in, out)
                            : self.CreatSm4Data(icdev, keytype, enmode, in, out);
}

int16_t ecb(ReaderDevice& self, int32_t icdev, size_t block, uint8_t keytype, uint8_t enmode,
            int32_t slen, const uint8_t* source, int32_t* rlen, uint8_t* out) {
  if (rlen == nullptr) return -1;
  *rlen = 0;
  if (slen < 0) return -1;
  if (slen == 0) return 0;
  if (source == nullptr || out == nullptr) return -1;
  const size_t length = size_t(slen);
  uint8_t last[kSm4Block];
  if (enmode == kEncipher) {
    // Always one padding byte: a whole block more when the data fills its last.
    const size_t padded = (length / block + 1) * block;
    if (padded > size_t(INT32_MAX)) return -1;
    for (size_t at = 0; at < padded; at += block) {
      const uint8_t* in = source + at;
      if (at + block > length) {
        const size_t tail = length - at;
        std::memcpy(last, source + at, tail);
        last[tail] = kPadByte;
        std::memset(last + tail + 1, 0, block - tail - 1);
        in = last;
      }
      const int16_t result = cipher_block(self, icdev, block, keytype, enmode, in, out + at);
      if (result != 0) return result;
    }
    *rlen = int32_t(padded);
    return 0;
  }
  if (length % block != 0) return -1;
  // The last block holds the padding: it goes out only up to the 0x80.
  for (size_t at = 0; at < length; at += block) {
    uint8_t* to = at + block == length ? last : out + at;
    const int16_t result = cipher_block(self, icdev, block, keytype, enmode, source + at, to);
    if (result != 0) return result;
  }
  size_t end = block;
  while (end > 0 && last[end - 1] == 0) --end;
  if (end == 0 || last[end - 1] != kPadByte) return -1;
  std::memcpy(out + length - block, last, end - 1);
  *rlen = int32_t(length - block + end - 1);
  return 0;
}

// How a MAC method runs: a CBC chain over the data (SM4 or DES, with the
// key code `first`), or the folded form (the XOR of all 8-byte blocks as
// hex text, its halves chained under `first`); then up to two more DES
// passes; `size` bytes of the result go out as hex.
struct MacMethod {
  bool sm4;
  bool folded;
  uint8_t first;
  uint8_t then[2];
  size_t passes;
  size_t size;
};
constexpr MacMethod kMacMethods[] = {
    {false, true, 0x10, {}, 0, 4},
    {false, true, 0x10, {}, 0, 4},
    {true, false, 0x00, {}, 0, 16},
    {false, false, 0x10, {}, 0, 8},
    {false, false, 0x10, {0x21, 0x10}, 2, 8},
    {false, true, 0x10, {0x21, 0x10}, 2, 4},
    {false, false, 0x10, {0x21, 0x30}, 2, 8},
    {false, true, 0x00, {0x21, 0x30}, 2, 4},
};

void xor_into(uint8_t* target, const uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) target[i] ^= data[i];
}

// M = E(M xor block) over every block, the last one padded with zeros.
int16_t cbc_mac(ReaderDevice& self, int32_t icdev, size_t block, uint8_t keytype, uint8_t code,
                const uint8_t* data, size_t length, uint8_t* mac) {
  std::memset(mac, 0, block);
  for (size_t at = 0; at < length; at += block) {
    xor_into(mac, data + at, length - at < block ? length - at : block);
    const int16_t result = cipher_block(self, icdev, block, keytype, code, mac, mac);
    if (result != 0) return result;
  }
  return 0;
}

int16_t folded_mac(ReaderDevice& self, int32_t icdev, uint8_t keytype, uint8_t code,
                   const uint8_t* data, size_t length, uint8_t* mac) {
  uint8_t folded[kDesBlock] = {};
  for (size_t at = 0; at < length; at += kDesBlock)
    xor_into(folded, data + at, length - at < kDesBlock ? length - at : kDesBlock);
  char text[2 * kDesBlock + 1];
  hex_twin_output(folded, kDesBlock, text);
  const uint8_t* halves = reinterpret_cast<const uint8_t*>(text);
  int16_t result = cipher_block(self, icdev, kDesBlock, keytype, code, halves, mac);
  if (result != 0) return result;
  xor_into(mac, halves + kDesBlock, kDesBlock);
  return cipher_block(self, icdev, kDesBlock, keytype, code, mac, mac);
}

// DES and SM4 share one command: the reply's length tells them apart.
int16_t calculate_block(R42Device& device, uint8_t keyindex, uint8_t enmode, uint16_t datalen,
                        const uint8_t* source, uint8_t* out, size_t block) {
  if (source == nullptr && datalen > 0) return -1;
  R42Request request(r42_cmd::kCalculateBlock);
  request.u8(keyindex).u8(enmode).be16(datalen).bytes(source, datalen);
  return device.fixed_reply(request, out, block);
}

// One block through the reader's key table; the block's size picks DES or SM4.
int16_t key_table_block(R42Device& device, uint8_t keytype, uint8_t enmode, const uint8_t* source,
                        uint8_t* out, size_t block) {
  if (source == nullptr) return -1;
  R42Request request(r42_cmd::kCipherBlock);
  request.u8(keytype).u8(enmode).bytes(source, block);
  return device.fixed_reply(request, out, block);
}

}  // namespace

int16_t R42Device::InstallKbKey(int32_t, uint8_t flag, uint8_t keylen,
                                const unsigned char* keydata, uint8_t mode) {
  return data_command(r42_cmd::kInstallKbKey, {flag, mode, keylen}, keydata, keylen);
}

int16_t R42Device::SetKbKeyID(int32_t, uint8_t keyID) {
  return status_command(r42_cmd::kSetKbKeyId, {keyID});
}

int16_t R42Device::GetEnPass(int32_t, uint8_t ctime, uint8_t panlen, const unsigned char* pandata,
                             uint8_t* rlen, unsigned char* cpass) {
  if ((pandata == nullptr && panlen > 0) || rlen == nullptr) return -1;
  R42Request request(r42_cmd::kGetEnPass);
  request.u8(ctime).u8(panlen).bytes(pandata, panlen);
  int32_t count = 0;
  const int16_t result = pin_entry_result(
      counted_reply(request, reader_wait_timeout(ctime), cpass, kNarrowReplyMax, &count));
  if (result == 0 || result == kPinEntryCancelled) *rlen = uint8_t(count);
  return result;
}

int16_t R42Device::get55data(int32_t, int32_t slen, const unsigned char* sdata,
                             uint8_t* PacketType, int32_t* rlen, unsigned char* rdata) {
  if (!channel_input_ok(slen, sdata) || PacketType == nullptr || rlen == nullptr ||
      rdata == nullptr)
    return -1;
  R42Request request(r42_cmd::kGet55Data);
  request.bytes(sdata, size_t(slen));
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + 1, &reply);
  if (result != 0) return result;
  reply.u8(*PacketType);
  *rlen = int32_t(reply.remaining());
  reply.take(rdata, reply.remaining());
  return 0;
}

int16_t R42Device::CardIssuingScript(int32_t, int32_t slen, const unsigned char* sdata,
                                     uint8_t* TransactionIsInterrupted, uint8_t* TradingResult) {
  if (!channel_input_ok(slen, sdata)) return -1;
  R42Request request(r42_cmd::kIssuerScript);
  request.bytes(sdata, size_t(slen));
  return byte_reply(request, {TransactionIsInterrupted, TradingResult});
}

int16_t R42Device::SetEMVPara(int32_t, int32_t slen, const unsigned char* sdata) {
  if (!channel_input_ok(slen, sdata)) return -1;
  R42Request request(r42_cmd::kSetEmvParameters);
  request.be16(uint16_t(slen)).bytes(sdata, size_t(slen));
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::CalculateMACCheck(int32_t, uint8_t keyindex, uint8_t macmode, int32_t datalen,
                                     const unsigned char* srcdata, unsigned char* macdata) {
  if (!channel_input_ok(datalen, srcdata)) return -1;
  R42Request request(r42_cmd::kMacCheck);
  request.u8(keyindex).u8(macmode).be32(uint32_t(datalen)).bytes(srcdata, size_t(datalen));
  return fixed_reply(request, macdata, kReaderMacSize);
}

int16_t R42Device::CalculateDes(int32_t, uint8_t keyindex, uint8_t enmode, uint16_t datalen,
                                const unsigned char* srcdata, unsigned char* desdata) {
  return calculate_block(*this, keyindex, enmode, datalen, srcdata, desdata, kDesBlock);
}

int16_t R42Device::CalculateSm4(int32_t, uint8_t keyindex, uint8_t enmode, uint16_t datalen,
                                const unsigned char* srcdata, unsigned char* sm4data) {
  return calculate_block(*this, keyindex, enmode, datalen, srcdata, sm4data, kSm4Block);
}

int16_t R42Device::CreatDesData(int32_t, uint8_t keytype, uint8_t enmode,
                                const unsigned char* sourcedata, unsigned char* retdata) {
  return key_table_block(*this, keytype, enmode, sourcedata, retdata, kDesBlock);
}

int16_t R42Device::CreatSm4Data(int32_t, uint8_t keytype, uint8_t enmode,
                                const unsigned char* sourcedata, unsigned char* retdata) {
  return key_table_block(*this, keytype, enmode, sourcedata, retdata, kSm4Block);
}

int16_t R42Device::CreatDesDataECB(int32_t icdev, uint8_t keytype, uint8_t enmode, int32_t slen,
                                   const unsigned char* sourcedata, int32_t* rlen,
                                   unsigned char* retdata) {
  return ecb(*this, icdev, kDesBlock, keytype, enmode, slen, sourcedata, rlen, retdata);
}

int16_t R42Device::CreatSm4DataECB(int32_t icdev, uint8_t keytype, uint8_t enmode, int32_t slen,
                                   const unsigned char* sourcedata, int32_t* rlen,
                                   unsigned char* retdata) {
  return ecb(*this, icdev, kSm4Block, keytype, enmode, slen, sourcedata, rlen, retdata);
}

int16_t R42Device::CreatMacDataECB(int32_t icdev, uint8_t keytype, uint8_t enmode, int32_t slen,
                                   const unsigned char* sourcedata, int32_t* rlen,
                                   unsigned char* retdata) {
  if (rlen == nullptr || retdata == nullptr || slen < 0 || enmode >= std::size(kMacMethods))
    return -1;
  if (slen == 0) {
    *rlen = 0;
    retdata[0] = 0;
    return 0;
  }
  if (sourcedata == nullptr) return -1;
  const MacMethod& method = kMacMethods[enmode];
  const size_t block = method.sm4 ? kSm4Block : kDesBlock;
  uint8_t mac[kSm4Block];
  int16_t result =
      method.folded
          ? folded_mac(*this, icdev, keytype, method.first, sourcedata, size_t(slen), mac)
          : cbc_mac(*this, icdev, block, keytype, method.first, sourcedata, size_t(slen), mac);
  for (size_t i = 0; result == 0 && i < method.passes; ++i)
    result = cipher_block(*this, icdev, kDesBlock, keytype, method.then[i], mac, mac);
  if (result != 0) return result;
  hex_twin_output(mac, method.size, reinterpret_cast<char*>(retdata));
  *rlen = int32_t(2 * method.size);
  return 0;
}
