// The device-information fields that readers of both families keep in one
// of their memories, at the same places from the start of the area: three
// texts of 32 characters padded with spaces, 8 bytes of custom information,
// and a type name that counts only behind the marker AA 55. The family
// hands in its memory's read and write, offsets counted from the area's
// start; each gives 0 or the memory's failure.
//
//   const DeviceInfoArea area(read, write);
//   area.readText(DeviceInfoArea::kUid, uid);
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class DeviceInfoArea {
 public:
  using Read = std::function<int16_t(int16_t offset, int16_t length, uint8_t* out)>;
  using Write = std::function<int16_t(int16_t offset, int16_t length, const uint8_t* in)>;

  // Where each text field starts.
  enum Field : int16_t { kUid = 0, kTradeNumber = 32, kTerminalNumber = 64 };
  static constexpr size_t kTextSize = 32;
  static constexpr int16_t kCustomInfoSize = 8;

  DeviceInfoArea(Read read, Write write) : read_(std::move(read)), write_(std::move(write)) {}

  // The field without its padding, and a NUL: at most 33 bytes.
  int16_t readText(Field field, char* out) const;
  // At most 32 characters, padded with spaces; a longer or null text gives
  // -1 before any I/O.
  int16_t writeText(Field field, const char* text) const;
  int16_t readCustomInfo(uint8_t* info) const;
  int16_t writeCustomInfo(const uint8_t* info) const;
  // "" and 0 when no type name was ever written (no marker).
  int16_t readTypeName(char* name) const;
  // The name is checked before the marker goes out, so a refused name never
  // leaves a marker over stale bytes.
  int16_t writeTypeName(const char* name) const;

 private:
  int16_t readTextAt(int16_t offset, char* out) const;
  int16_t writeTextAt(int16_t offset, const char* text) const;

  Read read_;
  Write write_;
};
