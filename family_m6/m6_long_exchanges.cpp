// Card exchanges with longer commands or answers, or longer waits, than the
// ordinary ones. Those over report frames build their HidReportProtocol for
// the one exchange (long_exchange); their requests must still fit one
// 2048-byte command buffer, so each checks its length before any I/O.
#include "connection/card_io.h"
#include "connection/m6_frame_limits.h"
#include "connection/radio24_module.h"
#include "connection/reader_waits.h"
#include "family_m6/m6_device.h"
#include "platform/apdu_follow_up.h"

namespace {

constexpr uint8_t kCrcFrame = 0x84;
constexpr uint8_t kCpuParameters = 0xF6;
constexpr uint8_t kApduExt = 0xF8;
constexpr uint8_t kExchangeBlock = 0xF5;
constexpr uint8_t kHotReset = 0xA5;
constexpr uint8_t kRadio = 0xDB;
constexpr uint8_t kCpyKey = 0xED;
constexpr uint8_t kCpyApdu = 0xEC;
constexpr uint8_t kCpyBlocks = 0xEB;

constexpr uint32_t kReportLinkFrameSize = 256;

// The longest request data after a head of `head` bytes in one command
// buffer (report frames) or one frame of the entry's framing.
constexpr int32_t report_room(int32_t head) { return int32_t(M6Request::kBufferSize) - head; }
constexpr int32_t kApduExtMax = kM6FrameCommandMax - 2;
constexpr int32_t kApduIntMax = report_room(1);
constexpr int32_t kRadioMax = report_room(2);
constexpr int32_t kRadioApduMax = report_room(2 + int32_t(sizeof kRadio24ApduHead));
constexpr int32_t kBlockStateMax = report_room(3);
constexpr int32_t kCpyKeyMax = kM6FrameCommandMax - 2;
// The longest extended APDU: CLA INS P1 P2, 00 Lc1 Lc2, 65535 bytes, Le1 Le2.
constexpr int32_t kLinkCommandMax = 65544;
// What a report-frame reply can bring back, and so a twin's area.
constexpr size_t kReportRoom = M6Request::kBufferSize;

bool fits(int64_t length, int32_t most) { return length >= 0 && length <= most; }

}  // namespace

// --- shapes ---

int16_t M6Device::report_reply(M6Request& request, int32_t timeout_ms, uint8_t* out,
                               int32_t* length) {
  if (out == nullptr || length == nullptr) return -1;
  ByteCursor answer(nullptr, 0);
  const int16_t result = long_exchange(request, timeout_ms, 0, &answer);
  if (result != 0) return result;
  *length = int32_t(answer.remaining());
  answer.take(out, answer.remaining());
  return 0;
}

int16_t M6Device::report_apdu(uint8_t code, int32_t slen, const uint8_t* apdu, int32_t* rlen,
                              uint8_t* out) {
  if (!fits(slen, kApduIntMax)) return -1;
  M6Request request(code);
  request.bytes(apdu, size_t(slen));
  return report_reply(request, kContactApduTimeoutMs, out, rlen);
}

int16_t M6Device::block_state_reply(int16_t result, ByteCursor& answer, uint8_t* out,
                                    int32_t* length) {
  if (result != 0) return result;
  uint8_t next_state = 0;
  if (!answer.u8(next_state)) return -1;
  state_.tcl_block_state = next_state;
  *length = int32_t(answer.remaining());
  answer.take(out, answer.remaining());
  return 0;
}

// --- contact cards ---

int16_t M6Device::getcpupara(int32_t, uint8_t cputype, uint8_t* cpupro, uint8_t* cpuetu) {
  M6Request request(kCpuParameters);
  request.u8(cputype);
  return byte_reply(request, {cpupro, cpuetu});
}

int16_t M6Device::cpuapdusourceEXT(int32_t, int16_t slen, const unsigned char* sendbuffer,
                                   int16_t* rlen, unsigned char* databuffer) {
  if (!fits(slen, kApduExtMax) || rlen == nullptr) return -1;
  M6Request request(kApduExt);
  request.u8(uint8_t(slen)).bytes(sendbuffer, size_t(slen));
  uint8_t length = 0;
  const int16_t result = length_reply(request, kContactApduTimeoutMs, databuffer, &length);
  if (result == 0) *rlen = length;
  return result;
}

int16_t M6Device::cpuapdusourceEXT_hex(int32_t icdev, int16_t slen, const char* sendbuffer,
                                       int16_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int16_t* length, uint8_t* reply) {
                         return self.cpuapdusourceEXT(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpuapduEXT(int32_t icdev, int16_t slen, const unsigned char* sendbuffer,
                             int16_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  const bool host_t1 = slot_runs_t1();
  const int16_t result =
      slot_apdu(sendbuffer, slen, rlen, databuffer, size_t(INT16_MAX),
                [&](const uint8_t* apdu, int16_t n, int16_t* count, uint8_t* reply) {
                  return self.cpuapdusourceEXT(icdev, n, apdu, count, reply);
                });
  // Host T=1 reports no length on failure; a T=0 slot answers as the
  // reader's exchange does.
  if (result != 0 && host_t1 && rlen != nullptr) *rlen = 0;
  return result;
}

int16_t M6Device::cpuapduEXT_hex(int32_t icdev, int16_t slen, const char* sendbuffer,
                                 int16_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(size_t(INT16_MAX), slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int16_t* length, uint8_t* reply) {
                         return self.cpuapduEXT(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpuapduInt(int32_t, int32_t slen, const unsigned char* sendbuffer,
                             int32_t* rlen, unsigned char* databuffer) {
  return report_apdu(kContactApdu, slen, sendbuffer, rlen, databuffer);
}

int16_t M6Device::cpuapduInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                 int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kReportRoom, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.cpuapduInt(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpuapduresponInt(int32_t icdev, int32_t slen, const unsigned char* sendbuffer,
                                   int32_t* rlen, unsigned char* databuffer) {
  if (!fits(slen, kApduIntMax)) return -1;
  ReaderDevice& self = *this;
  return apdu_follow_up::run<kReportRoom>(
      sendbuffer, size_t(slen), rlen, databuffer,
      [&](const uint8_t* apdu, size_t length, int32_t* count, uint8_t* reply) {
        return self.cpuapduInt(icdev, int32_t(length), apdu, count, reply);
      });
}

int16_t M6Device::cpuapduresponInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                       int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kReportRoom, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.cpuapduresponInt(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpuhotreset(int32_t, uint8_t* rlen, unsigned char* databuffer) {
  M6Request request(kContactReset);
  request.u8(kHotReset);
  return contact_reset(request, rlen, databuffer);
}

int16_t M6Device::cpuhotreset_hex(int32_t icdev, uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kNarrowReplyMax, rlen, databuffer, [&](uint8_t* length, uint8_t* atr) {
    return self.cpuhotreset(icdev, length, atr);
  });
}

// --- contactless cards ---

int16_t M6Device::pro_commandsourceCRC(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                                       uint8_t* rlen, unsigned char* databuffer, uint8_t timeout,
                                       uint8_t crc) {
  M6Request request(kCrcFrame);
  request.u8(timeout).u8(crc).u8(slen).bytes(sendbuffer, slen);
  return length_reply(request, card_timeout_ms(timeout), databuffer, rlen);
}

int16_t M6Device::pro_commandsourceCRChex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                          uint8_t* rlen, char* databuffer, uint8_t timeout,
                                          uint8_t crc) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* frame, uint8_t* length, uint8_t* reply) {
                         return self.pro_commandsourceCRC(icdev, slen, frame, length, reply,
                                                          timeout, crc);
                       });
}

int16_t M6Device::exchangeblock(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                                uint8_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  M6Request request(kExchangeBlock);
  request.u8(timeout).u8(slen).bytes(sendbuffer, slen);
  return length_reply(request, reader_wait_timeout(timeout), databuffer, rlen);
}

int16_t M6Device::exchangeblock_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                    uint8_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* block, uint8_t* length, uint8_t* reply) {
                         return self.exchangeblock(icdev, slen, block, length, reply, timeout);
                       });
}

int16_t M6Device::pro_commandlinkEXT(int32_t icdev, int32_t slen,
                                     const unsigned char* sendbuffer, int32_t* rlen,
                                     unsigned char* databuffer, uint8_t timeout, uint8_t fg) {
  if (!fits(slen, kLinkCommandMax)) return -1;
  return link(frame_channel(icdev), sendbuffer, slen,
              {fg, timeout, true, BlockChainer::kMaxAnswer}, rlen, databuffer);
}

int16_t M6Device::pro_commandlinkEXT_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                         int32_t* rlen, char* databuffer, uint8_t timeout,
                                         uint8_t fg) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(size_t(kLinkCommandMax), slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.pro_commandlinkEXT(icdev, slen, apdu, length, reply, timeout,
                                                        fg);
                       });
}

int16_t M6Device::pro_commandlinkInt(int32_t icdev, int32_t slen,
                                     const unsigned char* sendbuffer, int32_t* rlen,
                                     unsigned char* databuffer, uint8_t timeout) {
  if (!newer_version()) {
    ReaderDevice& self = *this;
    return self.pro_commandlinkEXT(icdev, slen, sendbuffer, rlen, databuffer, timeout,
                                   kLinkFg);
  }
  if (!fits(slen, kLinkCommandMax)) return -1;
  return link(report_channel(icdev), sendbuffer, slen,
              {kReportLinkFrameSize, timeout, true, BlockChainer::kMaxAnswer}, rlen, databuffer);
}

int16_t M6Device::pro_commandlinkInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                         int32_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(size_t(kLinkCommandMax), slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.pro_commandlinkInt(icdev, slen, apdu, length, reply,
                                                        timeout);
                       });
}

int16_t M6Device::GlyProCommand(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                int32_t* rlen, unsigned char* databuffer, uint8_t) {
  if (!fits(slen, kBlockStateMax) || rlen == nullptr || databuffer == nullptr) return -1;
  M6Request request(kCardFrameCommand);
  request.u8(state_.fwt_class).u8(state_.tcl_block_state).bytes(sendbuffer, size_t(slen));
  ByteCursor answer(nullptr, 0);
  const int16_t result = long_exchange(request, card_timeout_ms(state_.fwt_class), 1, &answer);
  return block_state_reply(result, answer, databuffer, rlen);
}

int16_t M6Device::GlyProCommand_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                    int32_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kReportRoom, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* data, int32_t* length, uint8_t* reply) {
                         return self.GlyProCommand(icdev, slen, data, length, reply, timeout);
                       });
}

// --- the 2.4 GHz channel ---

int16_t M6Device::op_2dot4_command(int32_t, int32_t slen, const unsigned char* senddata,
                                   int32_t* rlen, unsigned char* recvbuffer, uint8_t timeout) {
  if (!fits(slen, kRadioMax)) return -1;
  M6Request request(kRadio);
  request.u8(timeout).bytes(senddata, size_t(slen));
  return report_reply(request, reader_wait_timeout(timeout), recvbuffer, rlen);
}

int16_t M6Device::op_2dot4_command_hex(int32_t icdev, int32_t slen, const char* senddata,
                                       int32_t* rlen, char* recvbuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kReportRoom, slen, senddata, rlen, recvbuffer,
                       [&](const uint8_t* data, int32_t* length, uint8_t* reply) {
                         return self.op_2dot4_command(icdev, slen, data, length, reply, timeout);
                       });
}

int16_t M6Device::op_2dot4_reset(int32_t icdev, uint8_t* rlen, unsigned char* databuffer) {
  return radio24_reset(*this, icdev, kReportRoom, rlen, databuffer);
}

int16_t M6Device::op_2dot4_resethex(int32_t icdev, uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kNarrowReplyMax, rlen, databuffer, [&](uint8_t* length, uint8_t* reply) {
    return self.op_2dot4_reset(icdev, length, reply);
  });
}

int16_t M6Device::op_2dot4Apdu(int32_t icdev, int32_t slen, const unsigned char* sendbuffer,
                               int32_t* rlen, unsigned char* databuffer) {
  return radio24_apdu(*this, icdev, slen, sendbuffer, kRadioApduMax, rlen, databuffer);
}

int16_t M6Device::op_2dot4Apdu_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                   int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kReportRoom, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.op_2dot4Apdu(icdev, slen, apdu, length, reply);
                       });
}

// --- the cpy channel ---

int16_t M6Device::cpy_getkey(int32_t, unsigned char* respkey, int32_t* resplen) {
  if (resplen == nullptr) return -1;
  M6Request request(kCpyKey);
  request.u8(0x00);
  uint8_t length = 0;
  const int16_t result = length_reply(request, kDefaultTimeoutMs, respkey, &length);
  if (result == 0) *resplen = length;
  return result;
}

int16_t M6Device::cpy_setkey(int32_t, const unsigned char* genkey, int32_t keylen) {
  if (keylen < 1 || keylen > kCpyKeyMax) return -1;
  return data_command(kCpyKey, {uint8_t(keylen)}, genkey, keylen);
}

int16_t M6Device::cpy_cpuapdu(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                              uint8_t* rlen, unsigned char* databuffer) {
  M6Request request(kCpyApdu);
  request.u8(slen).bytes(sendbuffer, slen);
  return length_reply(request, kDefaultTimeoutMs, databuffer, rlen);
}

int16_t M6Device::cpy_cpuapdu_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                  uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpy_cpuapdu(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpy_cpuapduInt(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                 int32_t* rlen, unsigned char* databuffer) {
  return report_apdu(kCpyApdu, slen, sendbuffer, rlen, databuffer);
}

int16_t M6Device::cpy_cpuapduInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                     int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kReportRoom, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.cpy_cpuapduInt(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpy_procommand(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                                 uint8_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  if (rlen == nullptr || databuffer == nullptr) return -1;
  M6Request request(kCpyBlocks);
  request.u8(timeout).u8(slen).u8(state_.tcl_block_state).bytes(sendbuffer, slen);
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, card_timeout_ms(timeout), 2, &answer);
  if (result != 0) return result;
  uint8_t length = 0, next_state = 0;
  answer.u8(length);
  answer.u8(next_state);
  if (answer.remaining() < length) return -1;
  state_.tcl_block_state = next_state;
  answer.take(databuffer, length);
  *rlen = length;
  return 0;
}

int16_t M6Device::cpy_procommand_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                     uint8_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* data, uint8_t* length, uint8_t* reply) {
                         return self.cpy_procommand(icdev, slen, data, length, reply, timeout);
                       });
}

int16_t M6Device::cpy_procommandInt(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                    int32_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  if (!fits(slen, kBlockStateMax) || rlen == nullptr || databuffer == nullptr) return -1;
  M6Request request(kCpyBlocks);
  request.u8(timeout).u8(state_.tcl_block_state).bytes(sendbuffer, size_t(slen));
  ByteCursor answer(nullptr, 0);
  const int16_t result = long_exchange(request, card_timeout_ms(timeout), 1, &answer);
  return block_state_reply(result, answer, databuffer, rlen);
}

int16_t M6Device::cpy_procommandInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                        int32_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kReportRoom, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* data, int32_t* length, uint8_t* reply) {
                         return self.cpy_procommandInt(icdev, slen, data, length, reply, timeout);
                       });
}
