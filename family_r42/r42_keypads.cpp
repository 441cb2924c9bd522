// Keypads and PIN pads behind the reader: the reader's own PIN keypad, the
// PIN pad on its second line, the encrypting keypad reached through a byte
// tunnel, and keypad modules addressed by number.
#include <algorithm>
#include <vector>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"

namespace {

// What a request or response may carry in the tunnel's buffer.
constexpr size_t kTunnelRoom = kR42LongBufferSize - r42_cmd::kReplyHead;
// The inner operations hand on at most this much of a response.
constexpr size_t kInnerResponseMax = 2048;

// Inner commands of the encrypting keypad.
constexpr uint8_t kInnerImportKey = 0x01;
constexpr uint8_t kInnerDeleteKey = 0x02;
constexpr uint8_t kInnerDeleteAllKeys = 0x03;
constexpr uint8_t kInnerEnd = 0x04;
constexpr uint8_t kInnerStart = 0x05;
constexpr uint8_t kInnerStartMode = 0x06;
constexpr uint8_t kInnerButtonMark = 0x07;
constexpr uint8_t kInnerButtonMarkAll = 0x08;
constexpr uint8_t kInnerGetPressed = 0x09;
constexpr uint8_t kInnerPinBlock = 0x0A;
constexpr uint8_t kInnerRandom = 0x0B;
constexpr uint8_t kInnerEncryptCbc = 0x0C;
constexpr uint8_t kInnerDecryptCbc = 0x0D;
constexpr uint8_t kInnerEncryptEcb = 0x0E;
constexpr uint8_t kInnerDecryptEcb = 0x0F;
constexpr uint8_t kInnerMacCbc = 0x11;
constexpr uint8_t kAllKeys = 0xF0;
constexpr size_t kCheckValueSize = 8;

// Inner codes of a keypad module.
constexpr uint16_t kModuleOpen = 0x0A01;
constexpr uint16_t kModuleClose = 0x0A02;
constexpr uint16_t kModuleLoadKey = 0x0A03;
constexpr uint16_t kModuleClearKey = 0x0A04;
constexpr uint16_t kModuleKeyType = 0x0A05;
constexpr uint16_t kModuleAlgorithm = 0x0A06;
constexpr uint16_t kModuleStartInput = 0x0A07;
constexpr uint16_t kModuleKeyValue = 0x0A08;
constexpr uint16_t kModuleExitInput = 0x0A09;
constexpr uint16_t kModuleSetKeyValue = 0x0A0A;
// A module reply carrying one byte after the module status.
constexpr size_t kModuleByteReply = r42_cmd::kModuleReplyHead + 1;

// Status words of a key press.
constexpr uint16_t kPressed = 0x0000;
constexpr uint16_t kPressedMore = 0xFF00;
constexpr uint16_t kPressCancelled = 0xFF01;
constexpr uint16_t kPressNone = 0xD009;

// Appends each value as one byte; one that does not fit refuses the
// request.
void put_bytes(R42Request& request, std::initializer_list<int32_t> values) {
  for (int32_t value : values) request.checked_u8(value);
}

// An inner command of the encrypting keypad through the tunnel (slot 464,
// 5 s): `head`, then the caller's data. The response may not pass
// kInnerResponseMax.
int16_t tunnel(ReaderDevice& self, int32_t icdev, std::initializer_list<uint8_t> head,
               const uint8_t* data, int32_t length, std::vector<uint8_t>& response) {
  if (length < 0 || size_t(length) > kTunnelRoom - head.size() ||
      (data == nullptr && length > 0))
    return -1;
  std::vector<uint8_t> command(head);
  if (length > 0) command.insert(command.end(), data, data + length);
  response.assign(kR42LongBufferSize, 0);
  int32_t response_len = 0;
  const int16_t result = self.keypad_io_control(icdev, 0, command.data(), int32_t(command.size()),
                                                response.data(), &response_len);
  if (result != 0) return result;
  if (response_len < 0 || size_t(response_len) > kInnerResponseMax) return -1;
  response.resize(size_t(response_len));
  return 0;
}

// An inner operation that hands its whole response to the caller.
int16_t tunnel_data(ReaderDevice& self, int32_t icdev, uint8_t code, uint8_t mode,
                    int32_t key_index, const uint8_t* in, int32_t in_len, uint8_t* out,
                    int32_t* out_len) {
  if (!R42Request::fits_u8(key_index) || out == nullptr || out_len == nullptr) return -1;
  std::vector<uint8_t> response;
  const int16_t result =
      tunnel(self, icdev, {code, mode, uint8_t(key_index)}, in, in_len, response);
  if (result != 0) return result;
  std::copy(response.begin(), response.end(), out);
  *out_len = int32_t(response.size());
  return 0;
}

}  // namespace

// --- the reader's PIN keypad and the PIN pad's line ---

int16_t R42Device::pass_key_value2(int32_t, uint8_t ctime, uint8_t* rlen, char* cpass) {
  if (rlen == nullptr || cpass == nullptr) return -1;
  R42Request command(r42_cmd::kReaderPinEntry);
  command.u8(ctime);
  int32_t count = 0;
  const int16_t result = pin_entry_result(text_reply(command, reader_wait_timeout(ctime),
                                                     reinterpret_cast<uint8_t*>(cpass),
                                                     kNarrowReplyMax, &count));
  if (result == kPinEntryCancelled) cpass[0] = 0;
  if (result == 0 || result == kPinEntryCancelled) *rlen = uint8_t(count);
  return result;
}

int16_t R42Device::PinpadCommunication(int32_t, int32_t time_100ms, int32_t slen,
                                       const unsigned char* sdata, int32_t* rlen,
                                       unsigned char* rdata) {
  if (!R42Request::fits_u16(time_100ms)) return -1;
  R42Request command(r42_cmd::kPinpadCommunication);
  command.be16(uint16_t(time_100ms)).be16_counted(sdata, slen);
  return counted_reply(command, time_100ms * 100 + kR42DefaultTimeoutMs, rdata, kR42ReplyDataMax,
                       rlen);
}

int16_t R42Device::SetPinpadWithReaderBaudrate(int32_t, uint8_t value) {
  return status_command(r42_cmd::kPinpadBaud, {0x01, value});
}

int16_t R42Device::CheckPinpadWithReaderBaudrate(int32_t, uint8_t* value) {
  R42Request command(r42_cmd::kPinpadBaud);
  command.u8(0x00);
  return byte_reply(command, {value});
}

// --- the encrypting keypad ---

int16_t R42Device::keypad_io_control(int32_t, uint8_t ctime, const unsigned char* request,
                                     int32_t request_len, unsigned char* response,
                                     int32_t* response_len) {
  if (request_len < 0 || size_t(request_len) > kTunnelRoom ||
      (request == nullptr && request_len > 0))
    return -1;
  R42Request command(r42_cmd::kKeypadTunnel, kR42LongBufferSize);
  command.bytes(request, size_t(request_len));
  return counted_reply(command, reader_wait_timeout(ctime), response, kTunnelRoom, response_len);
}

int16_t R42Device::keypad_ImportKey(int32_t icdev, unsigned char* check_value, uint8_t check_mode,
                                    int32_t key_index, int32_t use_key_index, uint8_t enable,
                                    const unsigned char* key, int32_t key_len) {
  if (check_value == nullptr || !R42Request::fits_u8(key_index) || !R42Request::fits_u8(use_key_index)) return -1;
  std::vector<uint8_t> response;
  const int16_t result =
      tunnel(*this, icdev,
             {kInnerImportKey, check_mode, uint8_t(key_index), uint8_t(use_key_index), enable},
             key, key_len, response);
  if (result != 0) return result;
  if (response.size() < kCheckValueSize) return -1;
  std::copy_n(response.begin(), kCheckValueSize, check_value);
  return 0;
}

int16_t R42Device::keypad_DeleteKey(int32_t icdev, int32_t key_index) {
  if (key_index != -1 && !R42Request::fits_u8(key_index)) return -1;
  std::vector<uint8_t> response;
  return key_index == -1
             ? tunnel(*this, icdev, {kInnerDeleteAllKeys, kAllKeys}, nullptr, 0, response)
             : tunnel(*this, icdev, {kInnerDeleteKey, uint8_t(key_index)}, nullptr, 0, response);
}

int16_t R42Device::keypad_SetButtonMark(int32_t icdev, int32_t mark_value, uint8_t use) {
  const uint16_t mark = uint16_t(mark_value);
  const uint8_t code = mark == 0xFFFF ? kInnerButtonMarkAll : kInnerButtonMark;
  std::vector<uint8_t> response;
  return tunnel(*this, icdev, {code, uint8_t(mark >> 8), uint8_t(mark), use}, nullptr, 0,
                response);
}

int16_t R42Device::keypad_Start(int32_t icdev, uint8_t mode, int32_t max_len, uint8_t auto_end,
                                uint8_t enable_sound) {
  if (!R42Request::fits_u8(max_len)) return -1;
  std::vector<uint8_t> response;
  return tunnel(*this, icdev,
                {mode != 0 ? kInnerStartMode : kInnerStart, uint8_t(max_len), auto_end,
                 enable_sound},
                nullptr, 0, response);
}

int16_t R42Device::keypad_End(int32_t icdev) {
  std::vector<uint8_t> response;
  return tunnel(*this, icdev, {kInnerEnd}, nullptr, 0, response);
}

int16_t R42Device::keypad_GetPressed(int32_t, int32_t time_ms, uint8_t* value) {
  if (value == nullptr || !R42Request::fits_u16(time_ms)) return -1;
  R42Request command(r42_cmd::kKeypadTunnel, kR42LongBufferSize);
  command.u8(kInnerGetPressed).be16(uint16_t(time_ms));
  int32_t received = 0;
  const int16_t result = exchange(command, time_ms + kR42DefaultTimeoutMs, r42_cmd::kStatusOnly,
                                  nullptr, &received);
  if (result == -1) return -1;
  // Some status words other than success still carry the key.
  ByteCursor reply(command.buffer(), size_t(received));
  uint8_t key = 0;
  const bool has_key = reply.skip(r42_cmd::kReplyHead) && reply.u8(key);
  switch (last_status()) {
    case kPressed:
    case kPressedMore:
      if (!has_key) return -1;
      *value = key;
      return last_status() == kPressed ? 0 : 2;
    case kPressCancelled:
      return 3;
    case kPressNone:
      return 1;
    default:
      return -2;
  }
}

int16_t R42Device::keypad_GetPinBlock(int32_t icdev, uint8_t mode, int32_t key_index,
                                      const unsigned char* customer_data,
                                      int32_t customer_data_len, unsigned char* out_data,
                                      int32_t* out_data_len) {
  return tunnel_data(*this, icdev, kInnerPinBlock, mode, key_index, customer_data,
                     customer_data_len, out_data, out_data_len);
}

int16_t R42Device::keypad_GetRandomValue(int32_t icdev, int32_t length, unsigned char* value) {
  if (!R42Request::fits_u8(length) || value == nullptr) return -1;
  std::vector<uint8_t> response;
  const int16_t result =
      tunnel(*this, icdev, {kInnerRandom, uint8_t(length)}, nullptr, 0, response);
  if (result != 0) return result;
  if (response.size() < size_t(length)) return -1;
  std::copy_n(response.begin(), length, value);
  return 0;
}

int16_t R42Device::keypad_GetEncryptDataOfCBC(int32_t icdev, uint8_t mode, int32_t key_index,
                                              const unsigned char* in_data, int32_t in_data_len,
                                              unsigned char* out_data, int32_t* out_data_len) {
  return tunnel_data(*this, icdev, kInnerEncryptCbc, mode, key_index, in_data, in_data_len,
                     out_data, out_data_len);
}

int16_t R42Device::keypad_GetDecryptDataOfCBC(int32_t icdev, uint8_t mode, int32_t key_index,
                                              const unsigned char* in_data, int32_t in_data_len,
                                              unsigned char* out_data, int32_t* out_data_len) {
  return tunnel_data(*this, icdev, kInnerDecryptCbc, mode, key_index, in_data, in_data_len,
                     out_data, out_data_len);
}

int16_t R42Device::keypad_GetEncryptDataOfECB(int32_t icdev, uint8_t mode, int32_t key_index,
                                              const unsigned char* in_data, int32_t in_data_len,
                                              unsigned char* out_data, int32_t* out_data_len) {
  return tunnel_data(*this, icdev, kInnerEncryptEcb, mode, key_index, in_data, in_data_len,
                     out_data, out_data_len);
}

int16_t R42Device::keypad_GetDecryptDataOfECB(int32_t icdev, uint8_t mode, int32_t key_index,
                                              const unsigned char* in_data, int32_t in_data_len,
                                              unsigned char* out_data, int32_t* out_data_len) {
  return tunnel_data(*this, icdev, kInnerDecryptEcb, mode, key_index, in_data, in_data_len,
                     out_data, out_data_len);
}

int16_t R42Device::keypad_GetMACDataOfCBC(int32_t icdev, uint8_t mode, int32_t key_index,
                                          const unsigned char* in_data, int32_t in_data_len,
                                          unsigned char* out_data, int32_t* out_data_len) {
  return tunnel_data(*this, icdev, kInnerMacCbc, mode, key_index, in_data, in_data_len, out_data,
                     out_data_len);
}

// --- keypad modules by number ---

int16_t R42Device::KeypadOpen(int32_t, int32_t number, char* version) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleOpen);
  if (version == nullptr) return -1;
  put_bytes(command, {number});
  ByteCursor data(nullptr, 0);
  const int16_t result = module_reply(command, r42_cmd::kModuleReplyHead, &data);
  if (result != 0) return result;
  const size_t length = data.remaining();
  data.take(reinterpret_cast<uint8_t*>(version), length);
  version[length] = 0;
  return 0;
}

int16_t R42Device::KeypadClose(int32_t, int32_t number) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleClose);
  put_bytes(command, {number});
  return module_reply(command, r42_cmd::kModuleReplyHead, nullptr);
}

int16_t R42Device::KeypadLoadKey(int32_t, int32_t number, int32_t set_index, int32_t sub_index,
                                 int32_t type, int32_t mode, const unsigned char* key_data,
                                 int32_t key_len, int32_t flag, unsigned char* ex_data,
                                 int32_t* ex_len) {
  if (ex_len == nullptr) return -1;
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleLoadKey);
  put_bytes(command, {number, set_index, sub_index, type, mode});
  command.be16_counted(key_data, key_len);
  put_bytes(command, {flag});
  command.be16_counted(ex_data, *ex_len);
  return module_counted_reply(command, ex_data, ex_len);
}

int16_t R42Device::KeypadClearKey(int32_t, int32_t number, int32_t set_index,
                                  int32_t sub_index) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleClearKey);
  put_bytes(command, {number, set_index, sub_index});
  return module_reply(command, r42_cmd::kModuleReplyHead, nullptr);
}

int16_t R42Device::KeypadGetKeyType(int32_t, int32_t number, int32_t set_index,
                                    int32_t sub_index, int32_t* type) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleKeyType);
  if (type == nullptr) return -1;
  put_bytes(command, {number, set_index, sub_index});
  ByteCursor data(nullptr, 0);
  const int16_t result = module_reply(command, kModuleByteReply, &data);
  if (result != 0) return result;
  uint8_t key_type = 0;
  data.u8(key_type);
  *type = key_type;
  return 0;
}

int16_t R42Device::KeypadAlgorithm(int32_t, int32_t number, int32_t set_index, int32_t sub_index,
                                   int32_t flag, int32_t mode, const unsigned char* in_data,
                                   int32_t in_len, unsigned char* out_data, int32_t* out_len) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleAlgorithm);
  put_bytes(command, {number, set_index, sub_index, flag, mode});
  command.be16_counted(in_data, in_len);
  return module_counted_reply(command, out_data, out_len);
}

int16_t R42Device::KeypadStartInput(int32_t, int32_t number, int32_t mode, int32_t set_index,
                                    int32_t sub_index, const unsigned char* in_data,
                                    int32_t in_len, int32_t min_len, int32_t max_len,
                                    int32_t auto_end, int32_t enable_beep, int32_t time_s,
                                    unsigned char* out_data, int32_t* out_len) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleStartInput);
  put_bytes(command, {number, mode, set_index, sub_index});
  command.be16_counted(in_data, in_len);
  put_bytes(command, {min_len, max_len, auto_end, enable_beep, time_s});
  return module_counted_reply(command, out_data, out_len);
}

int16_t R42Device::KeypadGetKeyValue(int32_t, int32_t number, uint8_t* value) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleKeyValue);
  if (value == nullptr) return -1;
  put_bytes(command, {number});
  ByteCursor data(nullptr, 0);
  const int16_t result = module_reply(command, kModuleByteReply, &data);
  if (result != 0) return result;
  data.u8(*value);
  return 0;
}

int16_t R42Device::KeypadExitAndGetInput(int32_t, int32_t number, int32_t mode,
                                         unsigned char* out_data, int32_t* out_len) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleExitInput);
  put_bytes(command, {number, mode});
  return module_counted_reply(command, out_data, out_len);
}

int16_t R42Device::KeypadSetKeyValue(int32_t, int32_t number, uint8_t value) {
  R42Request command(r42_cmd::kKeypadModule);
  command.be16(kModuleSetKeyValue);
  put_bytes(command, {number, value});
  return module_reply(command, r42_cmd::kModuleReplyHead, nullptr);
}
