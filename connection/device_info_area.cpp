#include "connection/device_info_area.h"

#include <cstring>
#include <string>

#include "platform/text_helpers.h"

namespace {

constexpr int16_t kCustomInfoAt = 96;
constexpr int16_t kTypeNameMarkerAt = 104;
constexpr int16_t kTypeNameAt = 106;
constexpr uint8_t kTypeNameMarker[2] = {0xAA, 0x55};

}  // namespace

int16_t DeviceInfoArea::readTextAt(int16_t offset, char* out) const {
  if (out == nullptr) return -1;
  char field[kTextSize + 1] = {};
  const int16_t result = read_(offset, kTextSize, reinterpret_cast<uint8_t*>(field));
  if (result != 0) return result;
  std::string text(field);
  trim(text);
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

int16_t DeviceInfoArea::writeTextAt(int16_t offset, const char* text) const {
  if (text == nullptr) return -1;
  const size_t length = strnlen(text, kTextSize + 1);
  if (length > kTextSize) return -1;
  uint8_t field[kTextSize];
  std::memset(field, ' ', sizeof field);
  std::memcpy(field, text, length);
  return write_(offset, kTextSize, field);
}

int16_t DeviceInfoArea::readText(Field field, char* out) const { return readTextAt(field, out); }

int16_t DeviceInfoArea::writeText(Field field, const char* text) const {
  return writeTextAt(field, text);
}

int16_t DeviceInfoArea::readCustomInfo(uint8_t* info) const {
  return read_(kCustomInfoAt, kCustomInfoSize, info);
}

int16_t DeviceInfoArea::writeCustomInfo(const uint8_t* info) const {
  return write_(kCustomInfoAt, kCustomInfoSize, info);
}

int16_t DeviceInfoArea::readTypeName(char* name) const {
  if (name == nullptr) return -1;
  name[0] = '\0';
  uint8_t marker[sizeof kTypeNameMarker] = {};
  const int16_t result = read_(kTypeNameMarkerAt, sizeof marker, marker);
  if (result != 0) return result;
  if (std::memcmp(marker, kTypeNameMarker, sizeof marker) != 0) return 0;
  return readTextAt(kTypeNameAt, name);
}

int16_t DeviceInfoArea::writeTypeName(const char* name) const {
  if (name == nullptr || strnlen(name, kTextSize + 1) > kTextSize) return -1;
  const int16_t result = write_(kTypeNameMarkerAt, sizeof kTypeNameMarker, kTypeNameMarker);
  if (result != 0) return result;
  return writeTextAt(kTypeNameAt, name);
}
