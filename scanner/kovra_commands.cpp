// The scanner module's commands: echoed exchanges, parameters, CRC-checked
// data blocks, the bulk read and the two downloads.
#include "scanner/kovra_commands.h"

#include <SOIL/SOIL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/byte_cursor.h"
#include "platform/byte_helpers.h"
#include "platform/dynamic_library.h"
#include "platform/os.h"
#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "scanner/ring_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kScanControl = 0x75;  // "u"
constexpr uint8_t kDownload = 0x77;     // "w"
constexpr uint8_t kImageDownload = 0x09;
constexpr uint8_t kFileDownload = 0x03;
constexpr uint8_t kFileAccepted = 0x38;  // "8"
constexpr uint8_t kBlockRead = 0x52;     // "R"
constexpr uint8_t kBlockWrite = 0x57;    // "W"
constexpr uint8_t kDeviceParamHigh = 0x02;
constexpr uint8_t kSetModeCode[] = {0x61, 0x41};
constexpr uint8_t kSetACode[] = {0x62, 0x41};
constexpr uint8_t kSetBCode[] = {0x62, 0x42};
constexpr uint8_t kImageCapacityQuery[] = {0x02, 0xC3};
constexpr uint8_t kImageLimitsQuery[] = {0x02, 0xCB};
constexpr size_t kSetReplyMax = 5;
constexpr size_t kImageReplyMax = 10;
constexpr size_t kParamReplyMax = 100;
// A block read's reply data: the echoed code, the 16-bit count and up to
// kScannerParamBlockMax bytes.
constexpr size_t kParamBlockReplyMax = 4 + kScannerParamBlockMax;
constexpr int32_t kBulkFirstByteMs = 3000;
constexpr int32_t kBulkSilenceFactor = 10;
constexpr int32_t kImageResultMs = 3000;
constexpr int32_t kFileResultMs = 7000;
constexpr uint32_t kFileSettleMs = 300;
constexpr uint32_t kDownloadPauseMs = 10;
constexpr uint8_t kConfigFirst = 0xC4, kConfigLast = 0xC8;
constexpr int32_t kConfigDataMax = 20;

Bytes request(uint8_t request_class, const uint8_t* payload, size_t length) {
  Bytes bytes{request_class};
  if (length) bytes.insert(bytes.end(), payload, payload + length);
  return bytes;
}

int32_t exchange(const Bytes& request, uint8_t* reply, size_t capacity, size_t* length) {
  return scanner_exchange(request.data(), request.size(), reply, capacity, length);
}

// A caller's payload and reply buffer: negative sizes, a missing payload and
// payloads beyond one request are refused.
bool payload_ok(const uint8_t* payload, int32_t length, int32_t capacity) {
  return length >= 0 && (length == 0 || payload) && capacity >= 0 &&
         size_t(length) < kScannerBufferSize;
}

// Classes "!", "#" and "C": the reply echoes the class (plus one) and the
// first two payload bytes; the caller gets it from byte 1 on. Without a
// reply buffer, length or capacity the reply is read and not examined.
int32_t echoed(uint8_t request_class, const uint8_t* payload, int32_t length, uint8_t* reply,
               int32_t capacity, int32_t* reply_length) {
  if (!payload_ok(payload, length, capacity)) return KOVRA_BAD_PARAMETER;
  const bool examined = reply && reply_length && capacity > 0;
  if (examined && length < 2) return KOVRA_BAD_PARAMETER;
  // "!" reads one byte more than its caller takes (the class byte).
  const size_t limit = request_class == kScannerSetClass && capacity > 0
                           ? std::min(size_t(capacity) + 1, kScannerBufferSize)
                           : kScannerBufferSize;
  uint8_t received[kScannerBufferSize];
  size_t n = 0;
  const int32_t result = exchange(request(request_class, payload, size_t(length)), received,
                                  limit, &n);
  if (!examined) return result == KOVRA_NO_REPLY ? KOVRA_OK : result;
  if (result != KOVRA_OK) return result;
  ByteCursor cursor(received, n);
  uint8_t reply_class, echo0, echo1;
  if (n < 4 || !cursor.u8(reply_class) || !cursor.u8(echo0) || !cursor.u8(echo1) ||
      reply_class != request_class + 1 || echo0 != payload[0] || echo1 != payload[1])
    return KOVRA_BAD_REPLY;
  const size_t copied = std::min(n - 1, size_t(capacity));
  std::memcpy(reply, received + 1, copied);
  *reply_length = int32_t(copied);
  return KOVRA_OK;
}

int32_t control(const uint8_t* payload, int32_t length, uint8_t* reply, int32_t capacity,
                int32_t* reply_length) {
  if (!payload_ok(payload, length, capacity)) return KOVRA_BAD_PARAMETER;
  const Bytes bytes = request(kScannerControlClass, payload, size_t(length));
  // Start scanning and the like: nothing comes back.
  if (length >= 2 && payload[0] == kScanControl &&
      (payload[1] == 0x01 || payload[1] == 0x03 || payload[1] == 0x04))
    return exchange(bytes, nullptr, 0, nullptr);
  uint8_t received[kScannerBufferSize];
  size_t n = 0;
  const int32_t result = exchange(bytes, received, sizeof received, &n);
  if (result == KOVRA_NO_REPLY && reply_length) *reply_length = 0;
  if (result != KOVRA_OK || !reply || !reply_length) return result;
  const size_t copied = std::min(n - 1, size_t(capacity));
  std::memcpy(reply, received + 1, copied);
  *reply_length = int32_t(copied);
  return result;
}

// "!" with a four-byte setting; the reply is read, not examined.
int32_t setting(const uint8_t (&code)[2], uint8_t value) {
  const uint8_t payload[] = {code[0], code[1], value, 0x00};
  uint8_t received[kSetReplyMax];
  size_t n = 0;
  return exchange(request(kScannerSetClass, payload, sizeof payload), received, sizeof received,
                  &n);
}

// The two 16-bit numbers of an image query's 8 bytes of reply data.
bool image_query(const uint8_t (&query)[2], uint16_t* first, uint16_t* second) {
  uint8_t data[kScannerBufferSize];
  int32_t n = 0;
  if (echoed(kScannerDeviceClass, query, 2, data, sizeof data, &n) != KOVRA_OK || n != 8)
    return false;
  ByteCursor cursor(data, size_t(n));
  return cursor.skip(4) && cursor.be16(*first) && cursor.be16(*second);
}

// --- parameters -------------------------------------------------------------

int param_width(uint16_t code) { return (code & 0xFF) >> 6; }

bool param_refused(uint16_t code) {
  const uint8_t high = uint8_t(code >> 8);
  return high == 0x75 || high == 0x76 || high == 0x77;  // "u", "v", "w"
}

// A setter's result: reply data byte 3 is the status.
int32_t set_result(int32_t result, const uint8_t* data, int32_t n) {
  if (result != KOVRA_OK) return result;
  return n >= 4 && data[3] == 0 ? KOVRA_OK : KOVRA_FAILED;
}

// The reply data of a parameter read, as much as `data` holds.
template <size_t N>
int32_t read_param(uint16_t code, uint8_t (&data)[N], int32_t* n) {
  const uint8_t payload[] = {uint8_t(code >> 8), uint8_t(code)};
  const uint8_t request_class =
      payload[0] == kDeviceParamHigh ? kScannerDeviceClass : kScannerQueryClass;
  return echoed(request_class, payload, 2, data, int32_t(N), n);
}

// --- images -----------------------------------------------------------------

bool soil_load(const char* path, GreyImage* image) {
  using Load = decltype(&SOIL_load_image);
  using Free = decltype(&SOIL_free_image_data);
  static std::once_flag once;
  static std::unique_ptr<DynamicLibrary> library;
  static Load load = nullptr;
  static Free release = nullptr;
  std::call_once(once, [] {
    bool loaded = false;
    library = std::make_unique<DynamicLibrary>("libSOIL.so.1", &loaded);
    if (!loaded) return;
    load = reinterpret_cast<Load>(library->symbol("SOIL_load_image"));
    release = reinterpret_cast<Free>(library->symbol("SOIL_free_image_data"));
  });
  if (!load || !release) return false;
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = load(path, &width, &height, &channels, SOIL_LOAD_L);
  if (!pixels) return false;
  const bool fits = width > 0 && height > 0 && int64_t(width) * height <= INT32_MAX;
  if (fits) {
    image->width = width;
    image->height = height;
    image->pixels.assign(pixels, pixels + size_t(width) * size_t(height));
  }
  release(pixels);
  return fits;
}

bool load_image(const char* path, GreyImage* image) {
  const auto& hook = scanner_environment().load_image;
  try {
    return hook ? hook(path, image) : soil_load(path, image);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Starts a download of `kind`, sends the optional header and the data in
// pieces and reads the scanner's verdict.
int32_t download(uint8_t kind, const uint8_t* header, size_t header_size, const uint8_t* data,
                 size_t size) {
  const uint8_t start[] = {kDownload, kind};
  const uint8_t accepted[] = {kScannerControlClass + 1, kDownload, kind, 0x00, 0x00};
  uint8_t reply[kImageReplyMax];
  size_t n = 0;
  const int32_t started =
      exchange(request(kScannerControlClass, start, sizeof start), reply, sizeof reply, &n);
  if (started == KOVRA_TRANSPORT) return started;
  if (started != KOVRA_OK || n != sizeof accepted || std::memcmp(reply, accepted, n) != 0)
    return KOVRA_READ_FAILED;
  if (kind == kFileDownload) os_sleep(kFileSettleMs);
  ScannerExchange exchange;
  if (header_size && !exchange.write(header, header_size)) return KOVRA_TRANSPORT;
  for (size_t at = 0; at < size; at += kScannerDownloadChunk) {
    if (!exchange.write(data + at, std::min(kScannerDownloadChunk, size - at)))
      return KOVRA_TRANSPORT;
    os_sleep(kDownloadPauseMs);
  }
  if (kind == kFileDownload) {
    n = exchange.read(reply, 1, kFileResultMs);
    if (n == 0) return KOVRA_NO_REPLY;
    return reply[0] == kFileAccepted ? KOVRA_OK : KOVRA_FAILED;
  }
  const uint8_t done[] = {kScannerControlClass + 1, kDownload, kind, kind, 0x00};
  n = exchange.read(reply, sizeof reply, kImageResultMs);
  if (n == 0) return KOVRA_NO_REPLY;
  return n == sizeof done && std::memcmp(reply, done, n) == 0 ? KOVRA_OK : KOVRA_BAD_REPLY;
}

}  // namespace

extern "C" {

int32_t KOVRA_Command21(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length) {
  return echoed(kScannerSetClass, payload, length, reply, capacity, reply_length);
}

int32_t KOVRA_Command23(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length) {
  return echoed(kScannerQueryClass, payload, length, reply, capacity, reply_length);
}

int32_t KOVRA_Command43(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length) {
  return echoed(kScannerDeviceClass, payload, length, reply, capacity, reply_length);
}

int32_t KOVRA_Command32(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length) {
  return control(payload, length, reply, capacity, reply_length);
}

int32_t KOVRA_StartScan(void) {
  const uint8_t payload[] = {kScanControl, 0x01};
  return control(payload, 2, nullptr, 0, nullptr) == KOVRA_OK ? KOVRA_OK : KOVRA_FAILED;
}

int32_t KOVRA_StopScan(void) {
  const uint8_t payload[] = {kScanControl, 0x02};
  return control(payload, 2, nullptr, 0, nullptr) == KOVRA_OK ? KOVRA_OK : KOVRA_FAILED;
}

int32_t KOVRA_SetMode(uint8_t mode) {
  scanner_remember_mode(mode);
  return setting(kSetModeCode, mode);
}

int32_t KOVRA_Set_bA(uint8_t value) { return setting(kSetACode, value); }
int32_t KOVRA_Set_bB(uint8_t value) { return setting(kSetBCode, value); }

int32_t KOVRA_GetImageCapacity(void) {
  uint16_t height = 0, width = 0;
  if (!image_query(kImageCapacityQuery, &height, &width)) return KOVRA_TRANSPORT;
  const int64_t pixels = int64_t(width) * height;
  return pixels > INT32_MAX ? KOVRA_TRANSPORT : int32_t(pixels);
}

int32_t KOVRA_SendImage(const char* path) {
  if (!path) return KOVRA_NO_BUFFER;
  uint16_t max_width = 0, max_height = 0;
  if (!image_query(kImageLimitsQuery, &max_width, &max_height) || !max_width || !max_height)
    return KOVRA_FAILED;
  GreyImage image;
  if (!load_image(path, &image)) return KOVRA_FAILED;
  if (image.width > max_width || image.height > max_height) return KOVRA_TOO_LARGE;
  const uint8_t header[8] = {uint8_t(image.width >> 8), uint8_t(image.width),
                             uint8_t(image.height >> 8), uint8_t(image.height)};
  return download(kImageDownload, header, sizeof header, image.pixels.data(),
                  std::min(image.pixels.size(), size_t(image.width) * size_t(image.height)));
}

int32_t KOVRA_SendFile(const char* path) {
  if (!path) return KOVRA_BAD_PARAMETER;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return KOVRA_NO_FILE;
  struct stat st {};
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= INT32_MAX) {
    size = size_t(st.st_size);
    data.reset(new (std::nothrow) uint8_t[size ? size : 1]);
  }
  size_t done = 0;
  while (data && done < size) {
    const ssize_t n = ::read(fd, data.get() + done, size - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
  if (!data || done != size) return KOVRA_FAILED;
  return download(kFileDownload, nullptr, 0, data.get(), size);
}

int32_t KOVRA_ConfigCommand(uint8_t command, const uint8_t* data, int32_t length) {
  if (command < kConfigFirst || command > kConfigLast || length < 0 || length > kConfigDataMax ||
      (length > 0 && !data))
    return KOVRA_BAD_PARAMETER;
  Bytes bytes{kScannerConfigClass, 0x10, command, uint8_t(length >> 8), uint8_t(length)};
  bytes.insert(bytes.end(), data, data + length);
  uint8_t reply[kScannerBufferSize];
  size_t n = 0;
  const int32_t result = exchange(bytes, reply, sizeof reply, &n);
  if (result != KOVRA_OK) return result;
  if (n != 5) return KOVRA_BAD_REPLY;
  return reply[4] == 0 ? KOVRA_OK : KOVRA_FAILED;
}

int32_t KOVRA_SetParam(uint16_t code, uint16_t value) {
  if (param_refused(code)) return KOVRA_FAILED;
  const int width = param_width(code);
  if ((width != 1 && width != 2) || (width == 1 && value > 0xFF)) return KOVRA_BAD_PARAMETER;
  const uint8_t payload[] = {uint8_t(code >> 8), uint8_t(code), uint8_t(width == 1 ? value : value >> 8),
                             uint8_t(value)};
  uint8_t data[kParamReplyMax];
  int32_t n = 0;
  const int32_t result = echoed(kScannerSetClass, payload, 2 + width, data, sizeof data, &n);
  return set_result(result, data, n);
}

int32_t KOVRA_SetParamBlock(uint16_t code, const uint8_t* data, int32_t length) {
  if (param_refused(code) || param_width(code) != 3 || code >> 8 == kDeviceParamHigh ||
      length < 0 || (length > 0 && !data))
    return KOVRA_BAD_PARAMETER;
  if (size_t(length) > kScannerParamBlockMax) return KOVRA_TOO_SMALL;
  Bytes payload{uint8_t(code >> 8), uint8_t(code)};
  payload.insert(payload.end(), data, data + length);
  uint8_t reply[kParamReplyMax];
  int32_t n = 0;
  const int32_t result = echoed(kScannerSetClass, payload.data(), int32_t(payload.size()), reply,
                                sizeof reply, &n);
  return set_result(result, reply, n);
}

int32_t KOVRA_GetParam(uint16_t code, uint16_t* value) {
  const int width = param_width(code);
  if (param_refused(code) || width == 0 || width == 3 || !value) return KOVRA_BAD_PARAMETER;
  uint8_t data[kParamReplyMax];
  int32_t n = 0;
  const int32_t result = read_param(code, data, &n);
  if (result != KOVRA_OK) return result;
  ByteCursor cursor(data, size_t(n));
  uint8_t byte = 0;
  uint16_t word = 0;
  if (!cursor.skip(2) || !(width == 1 ? cursor.u8(byte) : cursor.be16(word)))
    return KOVRA_BAD_REPLY;
  *value = width == 1 ? byte : word;
  return KOVRA_OK;
}

int32_t KOVRA_GetParamBlock(uint16_t code, uint8_t* buffer, int32_t* length) {
  if (param_refused(code) || param_width(code) != 3 || !buffer || !length)
    return KOVRA_BAD_PARAMETER;
  uint8_t data[kParamBlockReplyMax];
  int32_t n = 0;
  const int32_t result = read_param(code, data, &n);
  if (result != KOVRA_OK) return result;
  ByteCursor cursor(data, size_t(n));
  uint16_t count = 0;
  if (!cursor.skip(2) || !cursor.be16(count)) return KOVRA_BAD_REPLY;
  if (count > kScannerParamBlockMax) return KOVRA_TOO_SMALL;
  if (!cursor.take(buffer, count)) return KOVRA_BAD_REPLY;
  *length = count;
  return KOVRA_OK;
}

int32_t KOVRA_ReadDataBlock(uint8_t block, uint8_t* buffer, int32_t capacity, int32_t* length) {
  if (block >= kScannerBlocks) return KOVRA_BAD_PARAMETER;
  if (!buffer || !length) return KOVRA_NO_BUFFER;
  if (capacity < 0) return KOVRA_BAD_PARAMETER;
  uint8_t reply[kScannerBlockReplyMax];
  size_t n = 0;
  const int32_t result =
      exchange({kScannerBlockClass, kBlockRead, block}, reply, sizeof reply, &n);
  if (result != KOVRA_OK) return result;
  ByteCursor cursor(reply, n);
  uint8_t reply_class = 0, kind = 0, number = 0;
  uint16_t size = 0, crc = 0;
  if (n < 5 || !cursor.u8(reply_class) || !cursor.u8(kind) || !cursor.u8(number) ||
      !cursor.be16(size) || reply_class != kScannerBlockClass + 1 || kind != kBlockRead ||
      number != block)
    return KOVRA_FAILED;
  if (size == 0) {
    *length = 0;
    return KOVRA_OK;
  }
  if (size_t(size) + 7 != n) return KOVRA_BAD_REPLY;
  const uint8_t* data = cursor.here();
  if (!cursor.skip(size) || !cursor.be16(crc)) return KOVRA_BAD_REPLY;
  if (crc16_umts(data, size) != crc) return KOVRA_CRC;
  if (size > capacity) return KOVRA_TOO_SMALL;
  std::memcpy(buffer, data, size);
  *length = size;
  return KOVRA_OK;
}

int32_t KOVRA_WriteDataBlock(uint8_t block, const uint8_t* data, int32_t length) {
  if (block >= kScannerBlocks || length < 0 || size_t(length) > kScannerBlockWriteMax ||
      (length > 0 && !data))
    return KOVRA_BAD_PARAMETER;
  Bytes bytes{kScannerBlockClass, kBlockWrite, block, uint8_t(length >> 8), uint8_t(length)};
  if (length > 0) {
    const uint16_t crc = crc16_umts(data, length);
    bytes.insert(bytes.end(), data, data + length);
    bytes.push_back(uint8_t(crc >> 8));
    bytes.push_back(uint8_t(crc));
  }
  const uint8_t written[] = {kScannerBlockClass + 1, kBlockWrite, block, 0x00, 0x00};
  uint8_t reply[kScannerBufferSize];
  size_t n = 0;
  const int32_t result = exchange(bytes, reply, sizeof reply, &n);
  if (result != KOVRA_OK) return result;
  return n == sizeof written && std::memcmp(reply, written, n) == 0 ? KOVRA_OK : KOVRA_FAILED;
}

int32_t KOVRA_ReadBulkData(uint8_t* buffer, int32_t* capacity, int32_t* first, int32_t* second) {
  if (!buffer || !capacity) return KOVRA_NO_BUFFER;
  const uint8_t bytes[] = {kScannerBulkClass, 0x02, 0xF0, 0x01, 0xE0,
                           uint8_t(scanner_last_mode() == 1 ? 0x02 : 0x00), 0x00};
  std::unique_ptr<uint8_t[]> reply(new (std::nothrow) uint8_t[kScannerBulkCapacity]);
  if (!reply) return KOVRA_FAILED;
  ScannerExchange exchange;
  if (!exchange.write(bytes, sizeof bytes)) return KOVRA_TRANSPORT;
  const size_t n =
      exchange.read(reply.get(), kScannerBulkCapacity, kBulkFirstByteMs, kBulkSilenceFactor);
  if (n == 0) return KOVRA_NO_REPLY;
  ByteCursor cursor(reply.get(), n);
  uint8_t reply_class = 0;
  uint16_t one = 0, two = 0, unused = 0;
  uint32_t count = 0;
  if (n < 12 || !cursor.u8(reply_class) || !cursor.be16(one) || !cursor.be16(two) ||
      !cursor.be16(unused) || !cursor.be32(count) || reply_class != kScannerBulkClass + 1 ||
      count != n - 11)
    return KOVRA_BAD_REPLY;
  if (*capacity < 0 || uint32_t(*capacity) < count) return KOVRA_TOO_SMALL;
  std::memcpy(buffer, cursor.here(), count);
  *capacity = int32_t(count);
  if (first) *first = one;
  if (second) *second = two;
  return KOVRA_OK;
}

}  // extern "C"
