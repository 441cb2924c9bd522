// Reader-wide settings (contact-card options, line speed, USB mode, stripe
// format, configuration reset) and the diagnostic commands, among them the
// serial-line loop-back, which opens a serial port of the host for the
// length of the call.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "connection/com_port.h"
#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr int32_t kClearConfigTimeoutMs = 60000;
constexpr size_t kConfigParameterCount = 68;
constexpr int32_t kSelfTestTimeoutMs = 20000;
constexpr int32_t kHostPortTimeoutMs = 5000;
// The loop-back's count travels as one byte.
constexpr int32_t kLoopBackMax = 255;

int16_t byte_command(R42Device& device, uint16_t code, uint8_t* out) {
  R42Request request(code);
  return device.byte_reply(request, {out});
}

}  // namespace

int16_t R42Device::SetCpuCard616C(int32_t, uint8_t value) {
  return status_command(r42_cmd::kSetCpuCard616C, {value});
}

int16_t R42Device::GetCpuCard616C(int32_t, uint8_t* value) {
  return byte_command(*this, r42_cmd::kGetCpuCard616C, value);
}

int16_t R42Device::SetCpuCardPps(int32_t icdev, uint8_t mode) {
  int16_t result = status_command(r42_cmd::kSetCpuCardPps, {mode});
  if (result != 0) return result;
  uint8_t read_back = 0;
  ReaderDevice& self = *this;
  result = self.GetCpuCardPps(icdev, &read_back);
  if (result != 0) return result;
  return read_back == mode ? 0 : -1;
}

int16_t R42Device::GetCpuCardPps(int32_t, uint8_t* mode) {
  return byte_command(*this, r42_cmd::kGetCpuCardPps, mode);
}

int16_t R42Device::SetCpuVoltage(int32_t, uint8_t voltage) {
  contact_voltage_ = voltage;
  return 0;
}

int16_t R42Device::GetDeviceBaud(int32_t, uint8_t* baud) {
  return byte_command(*this, r42_cmd::kGetDeviceBaud, baud);
}

int16_t R42Device::GetUsbMode(int32_t, uint8_t* ucmode) {
  return byte_command(*this, r42_cmd::kGetUsbMode, ucmode);
}

int16_t R42Device::ClearDeviceConfig(int32_t) {
  const std::vector<uint8_t> cleared(kConfigParameterCount, 0xFF);
  R42Request request(r42_cmd::kClearDeviceConfig);
  request.bytes(cleared.data(), cleared.size());
  return exchange(request, kClearConfigTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::MagFormatConfig(int32_t, int32_t mode) {
  if (!R42Request::fits_u8(mode)) return -1;
  return status_command(r42_cmd::kSetMagFormat, {uint8_t(mode)});
}

int16_t R42Device::GetMagFormat(int32_t, int32_t* mode) {
  if (mode == nullptr) return -1;
  uint8_t format = 0;
  const int16_t result = byte_command(*this, r42_cmd::kGetMagFormat, &format);
  if (result == 0) *mode = format;
  return result;
}

int16_t R42Device::GetMag(int32_t, uint8_t* mode, uint8_t* track1, uint8_t* track2,
                          uint8_t* track3) {
  R42Request request(r42_cmd::kGetMagSettings);
  return byte_reply(request, {mode, track1, track2, track3});
}

int16_t R42Device::ReadNicMacAddress(int32_t, unsigned char* data_buffer, int32_t* data_len) {
  R42Request request(r42_cmd::kReadNicMac);
  return counted_reply(request, kR42DefaultTimeoutMs, data_buffer, kR42ReplyDataMax, data_len);
}

int16_t R42Device::WriteNicMacAddress(int32_t, const unsigned char* data_buffer,
                                      int32_t data_len) {
  return data_command(r42_cmd::kWriteNicMac, {}, data_buffer, data_len);
}

int16_t R42Device::TestNic(int32_t, const unsigned char* data_buffer, int32_t data_len) {
  return data_command(r42_cmd::kTestNic, {}, data_buffer, data_len, kSelfTestTimeoutMs);
}

int16_t R42Device::TestUsb(int32_t, const unsigned char* data_buffer, int32_t data_len) {
  return data_command(r42_cmd::kTestUsb, {}, data_buffer, data_len, kSelfTestTimeoutMs);
}

int16_t R42Device::ConfigTempIpAddress(int32_t, const unsigned char* data_buffer,
                                       int32_t data_len) {
  return data_command(r42_cmd::kConfigTempIp, {}, data_buffer, data_len);
}

int16_t R42Device::TestCom(int32_t, uint8_t number, const char* name, unsigned char* data_buffer,
                           int32_t* data_len) {
  if (name == nullptr || data_len == nullptr || *data_len < 0 || *data_len > kLoopBackMax ||
      (data_buffer == nullptr && *data_len > 0))
    return -1;
  const std::vector<std::string> pieces = split(name, ":");
  if (pieces.size() < 2) return -1;
  const int32_t sent = *data_len;

  bool opened = false;
  const auto host = std::make_unique<ComPort>(
      ParamMap{{"mode", "direct"}, {"name", pieces[0]}, {"baud", pieces[1]}}, &opened);
  if (!opened) return -1;
  host->purge();
  if (!host->write(data_buffer, sent, kHostPortTimeoutMs)) return -1;

  R42Request request(r42_cmd::kTestSerialLine);
  request.u8(number).u8(uint8_t(sent)).bytes(data_buffer, size_t(sent));
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + 1, &reply);
  if (result != 0) return result;
  uint8_t count = 0;
  reply.u8(count);
  // The reader's count must stay within its reply and within what was sent.
  if (count > reply.remaining() || count > sent) return -1;
  *data_len = count;
  if (!host->read(data_buffer, count, kHostPortTimeoutMs)) return -1;
  return std::equal(data_buffer, data_buffer + count, reply.here()) ? 0 : -1;
}
