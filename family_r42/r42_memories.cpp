// The reader's memories (EEPROM, data flash, out EEPROM, multi-region
// flash), the device-information area and the reader's identity commands.
#include <cstring>
#include <string>

#include "family_r42/r42_chunked.h"
#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr int32_t kEraseTimeoutMs = 60000;

// Device-information area layout.
constexpr int16_t kUidField = 0;
constexpr int16_t kTradeNumberField = 32;
constexpr int16_t kTerminalNumberField = 64;
constexpr int16_t kCustomInfoField = 96;
constexpr int16_t kTypeNameMarker = 104;
constexpr int16_t kTypeNameField = 106;
constexpr size_t kTextFieldSize = 32;
constexpr uint8_t kMarker[2] = {0xAA, 0x55};

// Longest text that fits one request after code, zero byte and number.
constexpr size_t kCustomSerialMax = kR42BufferSize - 4;

uint64_t join_halves(int32_t high, int32_t low) {
  return uint64_t(uint32_t(high)) << 32 | uint32_t(low);
}

}  // namespace

int16_t R42Device::ReadEepromRaw(int32_t, int16_t offset, int16_t length, uint8_t* buffer) {
  return read_chunked(*this, kR42Eeprom, offset, length, buffer);
}

int16_t R42Device::WriteEepromRaw(int32_t, int16_t offset, int16_t length,
                                  const uint8_t* buffer) {
  return write_chunked(*this, kR42Eeprom, offset, length, buffer);
}

int16_t R42Device::ReadFlash(int32_t, int32_t offset, int32_t length, uint8_t* data_buffer) {
  return read_chunked(*this, kR42DataFlash, offset, length, data_buffer);
}

int16_t R42Device::WriteFlash(int32_t, int32_t offset, int32_t length,
                              const uint8_t* data_buffer) {
  return write_chunked(*this, kR42DataFlash, offset, length, data_buffer);
}

int16_t R42Device::ReadOutEeprom(int32_t, int32_t offset, int32_t length, uint8_t* data_buffer) {
  return read_chunked(*this, kR42OutEeprom, offset, length, data_buffer);
}

int16_t R42Device::WriteOutEeprom(int32_t, int32_t offset, int32_t length,
                                  const uint8_t* data_buffer) {
  return write_chunked(*this, kR42OutEeprom, offset, length, data_buffer);
}

int16_t R42Device::FlashErase(int32_t, int32_t sector) {
  R42Request request(r42_cmd::kEraseFlashSector);
  request.checked_be16(sector);
  return exchange(request, kEraseTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::MultiFlashErase(int32_t, uint8_t type, int32_t sector) {
  R42Request request(r42_cmd::kEraseMultiFlash);
  request.u8(type).be32(uint32_t(sector));
  return exchange(request, kEraseTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::MultiFlashRead(int32_t, uint8_t type, int32_t offset_h, int32_t offset_l,
                                  int32_t length_h, int32_t length_l, uint8_t* data_buffer) {
  return read_chunked_u64(*this, r42_multi_flash(type), join_halves(offset_h, offset_l),
                          join_halves(length_h, length_l), data_buffer);
}

int16_t R42Device::MultiFlashWrite(int32_t, uint8_t type, int32_t offset_h, int32_t offset_l,
                                   int32_t length_h, int32_t length_l,
                                   const uint8_t* data_buffer) {
  return write_chunked_u64(*this, r42_multi_flash(type), join_halves(offset_h, offset_l),
                           join_halves(length_h, length_l), data_buffer);
}

int16_t R42Device::MultiFlashGetSize(int32_t, uint8_t type, int32_t* length_h,
                                     int32_t* length_l) {
  if (length_h == nullptr || length_l == nullptr) return -1;
  R42Request request(r42_cmd::kMultiFlashSize);
  request.u8(type);
  ByteCursor reply(nullptr, 0);
  int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kMultiFlashSizeReply, &reply);
  if (result != 0) return result;
  uint32_t high = 0, low = 0;
  if (!reply.be32(high) || !reply.be32(low)) return -1;
  *length_h = int32_t(high);
  *length_l = int32_t(low);
  return 0;
}

int16_t R42Device::read_text_field(int16_t offset, char* out) {
  if (out == nullptr) return -1;
  char field[kTextFieldSize + 1] = {};
  int16_t result =
      read_info_area(*this, offset, kTextFieldSize, reinterpret_cast<uint8_t*>(field));
  if (result != 0) return result;
  std::string text(field);
  trim(text);
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

int16_t R42Device::write_text_field(int16_t offset, const char* text) {
  if (text == nullptr) return -1;
  const size_t length = strnlen(text, kTextFieldSize + 1);
  if (length > kTextFieldSize) return -1;
  uint8_t field[kTextFieldSize];
  std::memset(field, ' ', sizeof(field));
  std::memcpy(field, text, length);
  return write_info_area(*this, offset, kTextFieldSize, field);
}

int16_t R42Device::GetDeviceUid(int32_t, char* uid) { return read_text_field(kUidField, uid); }
int16_t R42Device::SetDeviceUid(int32_t, const char* uid) {
  return write_text_field(kUidField, uid);
}
int16_t R42Device::GetDeviceTradeNumber(int32_t, char* number) {
  return read_text_field(kTradeNumberField, number);
}
int16_t R42Device::SetDeviceTradeNumber(int32_t, const char* number) {
  return write_text_field(kTradeNumberField, number);
}
int16_t R42Device::GetDeviceTerminalNumber(int32_t, char* number) {
  return read_text_field(kTerminalNumberField, number);
}
int16_t R42Device::SetDeviceTerminalNumber(int32_t, const char* number) {
  return write_text_field(kTerminalNumberField, number);
}

int16_t R42Device::ReadDeviceCustomInfo(int32_t, uint8_t* info) {
  return read_info_area(*this, kCustomInfoField, 8, info);
}

int16_t R42Device::WriteDeviceCustomInfo(int32_t, const uint8_t* info) {
  return write_info_area(*this, kCustomInfoField, 8, info);
}

int16_t R42Device::ReadDeviceTypeName(int32_t, char* name) {
  if (name == nullptr) return -1;
  name[0] = '\0';
  uint8_t marker[2] = {};
  int16_t result = read_info_area(*this, kTypeNameMarker, 2, marker);
  if (result != 0) return result;
  // Without the marker no type name was ever written.
  if (std::memcmp(marker, kMarker, 2) != 0) return 0;
  return read_text_field(kTypeNameField, name);
}

int16_t R42Device::WriteDeviceTypeName(int32_t, const char* name) {
  if (name == nullptr || strnlen(name, kTextFieldSize + 1) > kTextFieldSize) return -1;
  int16_t result = write_info_area(*this, kTypeNameMarker, 2, kMarker);
  if (result != 0) return result;
  return write_text_field(kTypeNameField, name);
}

int16_t R42Device::ReadDeviceCustomSerialNumber(int32_t, uint8_t number, char* data) {
  R42Request request(r42_cmd::kReadCustomSerial);
  request.u8(number);
  return text_reply(request, kR42DefaultTimeoutMs, reinterpret_cast<uint8_t*>(data),
                    kR42ReplyDataMax);
}

int16_t R42Device::WriteDeviceCustomSerialNumber(int32_t, uint8_t number, const char* data) {
  if (data == nullptr) return -1;
  const size_t length = strnlen(data, kCustomSerialMax + 1);
  if (length > kCustomSerialMax) return -1;
  R42Request request(r42_cmd::kWriteCustomSerial);
  request.u8(number).bytes(data, length);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::GetChipIdNumber(int32_t, char* number) {
  if (number == nullptr) return -1;
  R42Request request(r42_cmd::kChipId);
  ByteCursor reply(nullptr, 0);
  int16_t result = exchange(request, kR42DefaultTimeoutMs, r42_cmd::kDataReply, &reply);
  if (result != 0) return result;
  hex_twin_output(reply.here(), reply.remaining(), number);
  return 0;
}

int16_t R42Device::DeviceCommand0F01(int32_t) {
  return status_command(r42_cmd::kCommand0F01);
}

int16_t R42Device::DeviceQuery0F13(int32_t, uint8_t* buffer) {
  R42Request request(r42_cmd::kQuery0F13);
  return text_reply(request, kR42DefaultTimeoutMs, buffer, kR42ReplyDataMax);
}
