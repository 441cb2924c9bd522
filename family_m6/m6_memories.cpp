// The reader's memories: the 8192-byte EEPROM, which also holds the
// device-information texts, and the 131072-byte data memory. Both move in
// chunks, one command per chunk; transfers are not atomic.
#include "connection/card_io.h"
#include "family_m6/m6_device.h"
#include "platform/chunk_walk.h"

namespace {

// EEPROM layout.
constexpr int16_t kLinuxMarkAt = 0;
constexpr uint8_t kLinuxMark[3] = {0xAA, 0x00, 0x55};
// The device-information area.
constexpr int16_t kInfoAreaAt = 100;

}  // namespace

const M6Device::Memory M6Device::kEeprom = {0x37, 0x38, 8192, 40, false};
const M6Device::Memory M6Device::kDataMemory = {0xBE, 0xBF, 131072, 192, true};

namespace {

// [offset][count]: the head of one chunk.
void put_chunk_head(M6Request& request, bool wide_offset, uint64_t offset, uint32_t count) {
  if (wide_offset)
    request.le32(uint32_t(offset));
  else
    request.le16(uint16_t(offset));
  request.u8(uint8_t(count));
}

}  // namespace

int16_t M6Device::memory_read(const Memory& memory, int64_t offset, int64_t length,
                              uint8_t* out) {
  if (!signed_range_ok(offset, length, memory.size)) return -1;
  if (length == 0) return 0;
  if (out == nullptr) return -1;
  return for_each_chunk(memory.chunk, uint64_t(length), [&](uint64_t at, uint32_t count) {
    M6Request request(memory.read_code);
    put_chunk_head(request, memory.wide_offset, uint64_t(offset) + at, count);
    return fixed_reply(request, out + at, count);
  });
}

int16_t M6Device::memory_write(const Memory& memory, int64_t offset, int64_t length,
                               const uint8_t* in) {
  if (!signed_range_ok(offset, length, memory.size)) return -1;
  if (length == 0) return 0;
  if (in == nullptr) return -1;
  return for_each_chunk(memory.chunk, uint64_t(length), [&](uint64_t at, uint32_t count) {
    M6Request request(memory.write_code);
    put_chunk_head(request, memory.wide_offset, uint64_t(offset) + at, count);
    request.bytes(in + at, count);
    return exchange(request, kDefaultTimeoutMs, 0);
  });
}

int16_t M6Device::ReadEepromRaw(int32_t, int16_t offset, int16_t length, uint8_t* buffer) {
  return memory_read(kEeprom, offset, length, buffer);
}

int16_t M6Device::WriteEepromRaw(int32_t, int16_t offset, int16_t length,
                                 const uint8_t* buffer) {
  return memory_write(kEeprom, offset, length, buffer);
}

int16_t M6Device::read1024(int32_t, int32_t offset, int32_t length, unsigned char* databuffer) {
  return memory_read(kDataMemory, offset, length, databuffer);
}

int16_t M6Device::write1024(int32_t, int32_t offset, int32_t length,
                            const unsigned char* writebuffer) {
  return memory_write(kDataMemory, offset, length, writebuffer);
}

int16_t M6Device::read1024_hex(int32_t icdev, int32_t offset, int32_t length,
                               char* databuffer) {
  return memory_read_hex(*this, &ReaderDevice::read1024, icdev, offset, length,
                         signed_range_ok(offset, length, kDataMemory.size), databuffer);
}

int16_t M6Device::write1024_hex(int32_t icdev, int32_t offset, int32_t length,
                                const char* writebuffer) {
  return memory_write_hex(*this, &ReaderDevice::write1024, icdev, offset, length,
                          signed_range_ok(offset, length, kDataMemory.size), writebuffer);
}

int16_t M6Device::switch_linux(int32_t icdev) {
  return WriteEepromRaw(icdev, kLinuxMarkAt, sizeof kLinuxMark, kLinuxMark);
}

// --- device-information texts ---

DeviceInfoArea M6Device::info_area(int32_t icdev) {
  return {[this, icdev](int16_t offset, int16_t length, uint8_t* out) {
            return ReadEepromRaw(icdev, int16_t(kInfoAreaAt + offset), length, out);
          },
          [this, icdev](int16_t offset, int16_t length, const uint8_t* in) {
            return WriteEepromRaw(icdev, int16_t(kInfoAreaAt + offset), length, in);
          }};
}

int16_t M6Device::GetDeviceUid(int32_t icdev, char* uid) {
  return info_area(icdev).readText(DeviceInfoArea::kUid, uid);
}
int16_t M6Device::SetDeviceUid(int32_t icdev, const char* uid) {
  return info_area(icdev).writeText(DeviceInfoArea::kUid, uid);
}
int16_t M6Device::GetDeviceTradeNumber(int32_t icdev, char* number) {
  return info_area(icdev).readText(DeviceInfoArea::kTradeNumber, number);
}
int16_t M6Device::SetDeviceTradeNumber(int32_t icdev, const char* number) {
  return info_area(icdev).writeText(DeviceInfoArea::kTradeNumber, number);
}
int16_t M6Device::GetDeviceTerminalNumber(int32_t icdev, char* number) {
  return info_area(icdev).readText(DeviceInfoArea::kTerminalNumber, number);
}
int16_t M6Device::SetDeviceTerminalNumber(int32_t icdev, const char* number) {
  return info_area(icdev).writeText(DeviceInfoArea::kTerminalNumber, number);
}

int16_t M6Device::ReadDeviceCustomInfo(int32_t icdev, unsigned char* info) {
  return info_area(icdev).readCustomInfo(info);
}

int16_t M6Device::WriteDeviceCustomInfo(int32_t icdev, const unsigned char* info) {
  return info_area(icdev).writeCustomInfo(info);
}

int16_t M6Device::ReadDeviceTypeName(int32_t icdev, char* name) {
  return info_area(icdev).readTypeName(name);
}

int16_t M6Device::WriteDeviceTypeName(int32_t icdev, const char* name) {
  return info_area(icdev).writeTypeName(name);
}
