// The reader's memories (EEPROM, data flash, out EEPROM, multi-region
// flash), the device-information area and the reader's identity commands.
#include <cstring>

#include "family_r42/r42_chunked.h"
#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr int32_t kEraseTimeoutMs = 60000;

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

DeviceInfoArea R42Device::info_area() {
  return {[this](int16_t offset, int16_t length, uint8_t* out) {
            return read_info_area(*this, offset, length, out);
          },
          [this](int16_t offset, int16_t length, const uint8_t* in) {
            return write_info_area(*this, offset, length, in);
          }};
}

int16_t R42Device::GetDeviceUid(int32_t, char* uid) {
  return info_area().readText(DeviceInfoArea::kUid, uid);
}
int16_t R42Device::SetDeviceUid(int32_t, const char* uid) {
  return info_area().writeText(DeviceInfoArea::kUid, uid);
}
int16_t R42Device::GetDeviceTradeNumber(int32_t, char* number) {
  return info_area().readText(DeviceInfoArea::kTradeNumber, number);
}
int16_t R42Device::SetDeviceTradeNumber(int32_t, const char* number) {
  return info_area().writeText(DeviceInfoArea::kTradeNumber, number);
}
int16_t R42Device::GetDeviceTerminalNumber(int32_t, char* number) {
  return info_area().readText(DeviceInfoArea::kTerminalNumber, number);
}
int16_t R42Device::SetDeviceTerminalNumber(int32_t, const char* number) {
  return info_area().writeText(DeviceInfoArea::kTerminalNumber, number);
}

int16_t R42Device::ReadDeviceCustomInfo(int32_t, uint8_t* info) {
  return info_area().readCustomInfo(info);
}

int16_t R42Device::WriteDeviceCustomInfo(int32_t, const uint8_t* info) {
  return info_area().writeCustomInfo(info);
}

int16_t R42Device::ReadDeviceTypeName(int32_t, char* name) {
  return info_area().readTypeName(name);
}

int16_t R42Device::WriteDeviceTypeName(int32_t, const char* name) {
  return info_area().writeTypeName(name);
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
