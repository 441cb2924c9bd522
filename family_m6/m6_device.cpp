#include "family_m6/m6_device.h"

#include <cstring>

#include "platform/byte_cursor.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint8_t kGetVersion = 0x80;
constexpr uint8_t kReadDeviceSerial = 0xFC;
constexpr size_t kVersionLength = 2;
constexpr size_t kSerialLength = 32;

}  // namespace

M6Device::M6Device(const char* name, Port* port, TransportProtocol* protocol)
    : name_{}, port_(port), protocol_(protocol), state_{} {
  copy_fixed_text(name_, name);
  state_.fwt_class = 7;
}

// The handle-table entry deletes port and protocol; the device owns nothing.
M6Device::~M6Device() = default;

int32_t M6Device::exchange(uint8_t* buffer, int32_t send_length, int32_t timeout_ms) {
  if (protocol_ == nullptr) return -1;
  if (port_ != nullptr) port_->purge();
  int32_t length = protocol_->transceive(buffer, send_length, kReplyCapacity, timeout_ms);
  if (length < 1) return -1;
  return length < kReplyCapacity ? length : kReplyCapacity;
}

int16_t M6Device::queryText(uint8_t command, int32_t timeout_ms, char* text, size_t length) {
  uint8_t buffer[kReplyCapacity] = {command};
  int32_t reply_length = exchange(buffer, 1, timeout_ms);
  if (reply_length < 0) return -1;
  ByteCursor reply(buffer, size_t(reply_length));
  uint8_t status = 0;
  if (!reply.u8(status)) return -1;
  state_.last_status = status;
  if (status != 0) return -2;
  if (!reply.take(reinterpret_cast<uint8_t*>(text), length)) return -1;
  text[length] = '\0';
  return 0;
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

int32_t M6Device::init(int32_t, int32_t) { return readIdentity(); }

int32_t M6Device::init_name(int32_t, int32_t, int32_t) { return readIdentity(); }

int16_t M6Device::CpuCardStatus(int32_t) { return 0; }
