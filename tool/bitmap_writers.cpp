#include "tool/bitmap_writers.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/file_helpers.h"
#include "tool/qr_encoder.h"

namespace {

// The largest file a BMP header can describe.
constexpr int64_t kMaxBmpFile = INT32_MAX;
constexpr int kBmpHeader = 54;

void put_le(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = uint8_t(value >> (8 * i));
}

int64_t bmp_stride(int64_t width) { return (width * 3 + 3) / 4 * 4; }

// Whether a BMP of this many pixels stays within the header's sizes.
bool bmp_fits(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxBmpFile / 3 &&
         height <= (kMaxBmpFile - kBmpHeader) / bmp_stride(width);
}

// A 24-bit BMP of a grid of `columns` x `rows` modules (row by row, one
// dark flag each), every module `module_width` x `module_height` pixels.
// -1 (no file) when the file would pass 2^31 - 1 bytes or cannot be written.
int write_bmp(const char* file, const uint8_t* modules, int64_t columns, int64_t rows,
              int64_t module_width, int64_t module_height) {
  const int64_t width = columns * module_width;
  const int64_t height = rows * module_height;
  if (!bmp_fits(width, height)) return -1;
  const int64_t stride = bmp_stride(width);
  const int64_t image = height * stride;
  try {
    std::vector<uint8_t> bmp(size_t(kBmpHeader + image), 0);
    uint8_t* h = bmp.data();
    h[0] = 'B';
    h[1] = 'M';
    put_le(h + 2, uint32_t(kBmpHeader + image), 4);
    put_le(h + 10, kBmpHeader, 4);
    put_le(h + 14, 40, 4);
    put_le(h + 18, uint32_t(width), 4);
    put_le(h + 22, uint32_t(height), 4);
    put_le(h + 26, 1, 2);
    put_le(h + 28, 24, 2);
    put_le(h + 34, uint32_t(image), 4);
    // Rows bottom-up, so the top module row comes last; padding stays zero.
    for (int64_t r = 0; r < rows; ++r) {
      uint8_t* first = &bmp[size_t(kBmpHeader + (rows - 1 - r) * module_height * stride)];
      for (int64_t c = 0; c < columns; ++c) {
        std::memset(first + 3 * c * module_width, modules[r * columns + c] ? 0 : 255,
                    size_t(3 * module_width));
      }
      for (int64_t k = 1; k < module_height; ++k) std::memcpy(first + k * stride, first, size_t(3 * width));
    }
    return replace_file(file, bmp.data(), int(bmp.size())) ? 0 : -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

// The one encoder of the process and the lock that serialises its use.
struct SharedEncoder {
  std::mutex lock;
  QrEncoder encoder;
};

SharedEncoder& shared_encoder() {
  static SharedEncoder shared;
  return shared;
}

// Code 39: the 12 modules of each character, first module in the top bit,
// 1 dark; a light 13th module follows each character.
constexpr char kCode39Characters[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%*";
constexpr uint16_t kCode39Patterns[] = {
    0xA6D, 0xD2B, 0xB2B, 0xD95, 0xA6B, 0xD35, 0xB35, 0xA5B, 0xD2D, 0xB2D,  // 0-9
    0xD4B, 0xB4B, 0xDA5, 0xACB, 0xD65, 0xB65, 0xA9B, 0xD4D, 0xB4D, 0xACD,  // A-J
    0xD53, 0xB53, 0xDA9, 0xAD3, 0xD69, 0xB69, 0xAB3, 0xD59, 0xB59, 0xAD9,  // K-T
    0xCAB, 0x9AB, 0xCD5, 0x96B, 0xCB5, 0x9B5,                              // U-Z
    0x95B, 0xCAD, 0x9AD, 0x925, 0x929, 0x949, 0xA49, 0x96D,                // - . space $ / + % *
};
static_assert(sizeof(kCode39Patterns) / sizeof(kCode39Patterns[0]) == sizeof(kCode39Characters) - 1);
constexpr int kCode39Modules = 13;
// The framed text (with its start and stop characters) stays below this
// many modules.
constexpr int kCode39ModuleLimit = 1001;

// The pattern of a character (lower-case letters as upper case), -1 when
// it has none.
int code39_pattern(char c) {
  if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  const char* at = c ? std::strchr(kCode39Characters, c) : nullptr;
  return at ? kCode39Patterns[at - kCode39Characters] : -1;
}

}  // namespace

int WriteQrBitmap(const char* file, const char* text, int scale, int level) {
  if (!file || !text || scale < 1) return -1;
  QrSymbol symbol;
  {
    SharedEncoder& shared = shared_encoder();
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!shared.encoder.encode(level, text)) return -1;
    symbol = shared.encoder.symbol();
  }
  const int64_t pixels = 2 * int64_t(scale);
  return write_bmp(file, symbol.dark.data(), symbol.size, symbol.size, pixels, pixels);
}

int WriteCode39Bitmap(const char* file, const char* text, int height, int moduleWidth) {
  if (!file || !text || height < 1 || moduleWidth < 1) return -1;
  const size_t limit = kCode39ModuleLimit / kCode39Modules;
  const size_t length = strnlen(text, limit);
  if (length + 2 > size_t(kCode39ModuleLimit - 1) / kCode39Modules) return -1;
  std::vector<uint8_t> modules;
  const std::string framed = "*" + std::string(text, length) + "*";
  for (size_t i = 0; i < framed.size(); ++i) {
    const int pattern = code39_pattern(framed[i]);
    // A "*" inside the text would read as a stop character.
    const bool inner_star = framed[i] == '*' && i != 0 && i + 1 != framed.size();
    if (pattern < 0 || inner_star) return -1;
    for (int bit = 11; bit >= 0; --bit) modules.push_back(uint8_t((pattern >> bit) & 1));
    modules.push_back(0);
  }
  return write_bmp(file, modules.data(), int64_t(modules.size()), 1, moduleWidth, height);
}
