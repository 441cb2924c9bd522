#include "family_m6/m6_device.h"

#include <cstring>
#include <new>

#include "connection/hid_report_protocol.h"
#include "connection/m6_frame_limits.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint8_t kGetVersion = 0x80;
constexpr uint8_t kReadDeviceSerial = 0xFC;
constexpr uint8_t kConfig = 0x52;
constexpr uint8_t kUpdate = 0xFE;
constexpr uint8_t kResetDevice = 0xFB;
constexpr size_t kVersionLength = 2;
constexpr size_t kSerialLength = 32;
// The reader serial is the second half of the device serial.
constexpr size_t kReaderSerialAt = 16;

}  // namespace

M6Request::M6Request(uint8_t code, size_t capacity) : ByteWriter(inline_, kBufferSize) {
  if (capacity > size_t(kM6ReportPayloadMax)) {
    refuse();
  } else if (capacity > kBufferSize) {
    heap_.reset(new (std::nothrow) uint8_t[capacity]);
    if (heap_)
      attach(heap_.get(), capacity);
    else
      refuse();
  }
  u8(code);
}

M6Device::M6Device(const char* name, Port* port, TransportProtocol* protocol)
    : MifarePlusUlcDevice(kMfpBlocksMost), name_{}, port_(port), protocol_(protocol), state_{} {
  copy_fixed_text(name_, name);
  state_.fwt_class = 7;
}

// The handle-table entry deletes port and protocol; the device owns nothing.
M6Device::~M6Device() = default;

// --- the exchange ---

bool M6Device::ready(const M6Request& request, size_t max_size) const {
  return !request.overflowed() && request.size() <= max_size && port_ != nullptr &&
         protocol_ != nullptr;
}

int16_t M6Device::exchange(M6Request& request, int32_t timeout_ms, size_t min_answer,
                           ByteCursor* answer) {
  if (!ready(request, kM6FrameCommandMax)) return -1;
  port_->purge();
  const int32_t n =
      protocol_->transceive(request.buffer(), int32_t(request.size()), kReplyCapacity, timeout_ms);
  return finish(request, n, min_answer, answer);
}

int16_t M6Device::long_exchange(M6Request& request, int32_t timeout_ms, size_t min_answer,
                                ByteCursor* answer) {
  if (!ready(request, kM6ReportPayloadMax)) return -1;
  std::unique_ptr<HidReportProtocol> reports(new (std::nothrow) HidReportProtocol(port_));
  if (!reports) return -1;
  port_->purge();
  const int32_t n =
      reports->transceive(request.buffer(), int32_t(request.size()), kReplyCapacity, timeout_ms);
  // The protocol object lives for this one exchange only.
  reports.reset();
  return finish(request, n, min_answer, answer);
}

int16_t M6Device::send_only(M6Request& request, int32_t timeout_ms) {
  if (!ready(request, kM6FrameCommandMax)) return -1;
  port_->purge();
  return protocol_->transceive(request.buffer(), int32_t(request.size()), 0, timeout_ms) < 0
             ? int16_t(-1)
             : int16_t(0);
}

int16_t M6Device::receive(M6Request& area, int32_t timeout_ms, size_t min_answer,
                          ByteCursor* answer, int32_t* received) {
  if (!ready(area, kM6FrameCommandMax)) return -1;
  const int32_t n = protocol_->transceive(area.buffer(), 0, kReplyCapacity, timeout_ms);
  if (received != nullptr) *received = n;
  return finish(area, n, min_answer, answer);
}

int16_t M6Device::finish(M6Request& request, int32_t n, size_t min_answer, ByteCursor* answer) {
  // A protocol claiming more than it was asked for is not trusted either.
  if (n < 1 || n > kReplyCapacity) return -1;
  ByteCursor reply(request.buffer(), size_t(n));
  uint8_t status = 0;
  reply.u8(status);
  state_.last_status = status;
  if (status != 0) return -2;
  if (reply.remaining() < min_answer) return -1;
  if (answer != nullptr) *answer = reply;
  return 0;
}

// --- reply shapes ---

int16_t M6Device::status_command(uint8_t code, std::initializer_list<uint8_t> params,
                                 int32_t timeout_ms) {
  return data_command(code, params, nullptr, 0, timeout_ms);
}

int16_t M6Device::data_command(uint8_t code, std::initializer_list<uint8_t> params,
                               const void* data, int64_t length, int32_t timeout_ms) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  M6Request request(code);
  for (uint8_t b : params) request.u8(b);
  if (uint64_t(length) > request.capacity()) return -1;
  request.bytes(data, size_t(length));
  return exchange(request, timeout_ms, 0);
}

int16_t M6Device::fixed_reply(M6Request& request, uint8_t* out, size_t count,
                              int32_t timeout_ms) {
  if (out == nullptr) return -1;
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, timeout_ms, count, &answer);
  if (result != 0) return result;
  return answer.take(out, count) ? 0 : -1;
}

int16_t M6Device::byte_reply(M6Request& request, std::initializer_list<uint8_t*> outs) {
  for (uint8_t* out : outs)
    if (out == nullptr) return -1;
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, kDefaultTimeoutMs, outs.size(), &answer);
  if (result != 0) return result;
  for (uint8_t* out : outs)
    if (!answer.u8(*out)) return -1;
  return 0;
}

int16_t M6Device::byte_result(M6Request& request) {
  uint8_t value = 0;
  const int16_t result = byte_reply(request, {&value});
  return result != 0 ? result : int16_t(value);
}

int16_t M6Device::counted_reply(M6Request& request, int32_t timeout_ms, uint8_t* out,
                                size_t room, int32_t* count) {
  if (out == nullptr || count == nullptr) return -1;
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, timeout_ms, 0, &answer);
  if (result != 0) return result;
  const size_t length = answer.remaining();
  if (length > room) return -1;
  answer.take(out, length);
  *count = int32_t(length);
  return 0;
}

int16_t M6Device::length_reply(M6Request& request, int32_t timeout_ms, uint8_t* out,
                               uint8_t* length) {
  if (out == nullptr || length == nullptr) return -1;
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, timeout_ms, 1, &answer);
  return take_length_form(result, answer, out, length);
}

int16_t M6Device::take_length_form(int16_t result, ByteCursor& answer, uint8_t* out,
                                   uint8_t* length) {
  if (result != 0) return result;
  uint8_t count = 0;
  if (!answer.u8(count) || answer.remaining() < count) return -1;
  answer.take(out, count);
  *length = count;
  return 0;
}

// --- object, version and serial ---

int16_t M6Device::queryText(uint8_t command, int32_t timeout_ms, char* text, size_t length) {
  M6Request request(command);
  const int16_t result = fixed_reply(request, reinterpret_cast<uint8_t*>(text), length, timeout_ms);
  if (result == 0) text[length] = '\0';
  return result;
}

int16_t M6Device::versionProbe(char* version) {
  int32_t timeout = starts_with(name_, "m6-s") || starts_with(name_, "m6-u") ? kProbeTimeoutMs
                                                                           : kDefaultTimeoutMs;
  return queryText(kGetVersion, timeout, version, kVersionLength);
}

int16_t M6Device::getver(int32_t, char* version) {
  if (version == nullptr) return -1;
  // A reader that missed the first request (a line still settling, a
  // stale frame) gets one more chance; a status failure counts as -1 here.
  if (versionProbe(version) == 0) return 0;
  return versionProbe(version) == 0 ? 0 : -1;
}

int16_t M6Device::readdevsnr(int32_t, char* serial) {
  if (serial == nullptr) return -1;
  return queryText(kReadDeviceSerial, kDefaultTimeoutMs, serial, kSerialLength);
}

int16_t M6Device::readreadersnr(int32_t icdev, char* serial) {
  if (serial == nullptr) return -1;
  char text[kSerialLength + 1];
  if (readdevsnr(icdev, text) < 0) return -1;
  std::memcpy(serial, text + kReaderSerialAt, kSerialLength - kReaderSerialAt + 1);
  return 0;
}

int32_t M6Device::readIdentity() {
  ReaderDevice& self = *this;
  char text[kReplyCapacity] = {};
  if (self.getver(0, text) == 0) copy_fixed_text(state_.version_text, text);
  // The SP0 flag follows the serial just read; a failed read must not let
  // the version text (or anything else left in the buffer) decide it.
  int16_t serial = self.readdevsnr(0, text);
  if (serial == 0) copy_fixed_text(state_.serial_text, text);
  state_.sp0_flag = serial == 0 && starts_with(text, "SP0") ? 1 : 0;
  return -1;
}

bool M6Device::newer_version() const {
  const char* v = state_.version_text;
  return (v[0] == 'U' || v[0] == 'L') && uint8_t(v[1]) >= 'B';
}

int32_t M6Device::init(int32_t, int32_t) { return readIdentity(); }

int32_t M6Device::init_name(int32_t, int32_t, int32_t) { return readIdentity(); }

int16_t M6Device::getname(int32_t, char* name) {
  if (name == nullptr) return -1;
  std::memcpy(name, name_, std::strlen(name_) + 1);
  return 0;
}

int16_t M6Device::config(int32_t, uint8_t mode, uint8_t baud) {
  return status_command(kConfig, {mode, baud});
}

int16_t M6Device::update(int32_t) {
  M6Request request(kUpdate);
  request.u8(0x00).u8(0x00);
  return send_only(request, kDefaultTimeoutMs);
}

int16_t M6Device::resetdevice(int32_t) { return status_command(kResetDevice, {0x00, 0x01}); }

int16_t M6Device::GetLastResponseCode(int32_t, int32_t* code) {
  if (code == nullptr) return -1;
  *code = int32_t(state_.last_status);
  return 0;
}

int16_t M6Device::CpuCardStatus(int32_t) { return 0; }
