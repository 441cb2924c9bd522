// The reader's user-facing front: character LCD, colour screen, voice and
// text-to-speech, 2D barcode scanner, LEDs, buzzer and file download.
#include <cstring>

#include "family_r42/r42_device.h"
#include "platform/os.h"

namespace {

// A screen image may take the screen this long; its reply is the status
// word and two more bytes.
constexpr int32_t kImageTimeoutMs = 1800000;
constexpr size_t kImageReply = 4;
// What precedes the image bytes after the header.
constexpr uint32_t kImageMarker = 0xFFFFFFFF;

// The 2D code and the file download travel in the long buffer.

constexpr uint8_t kConfigGet = 0x01;
constexpr uint8_t kConfigSet = 0x00;
// A screen setting is a length byte and at most 255 bytes.
constexpr size_t kConfigMax = 256;

constexpr uint8_t kBarcodeStart = 0x00;
constexpr uint8_t kBarcodeFetch = 0x01;
constexpr uint8_t kBarcodeStop = 0x02;
// The scanner needs a moment before its data can be fetched.
constexpr uint32_t kBarcodeFetchPauseMs = 200;

// Charsets of LcdDisplayText: 0-4 are 8-bit texts, 5 and 6 UTF-16.
constexpr uint8_t kLastByteCharset = 4;
constexpr uint8_t kWideCharsets[] = {5, 6};

// Screen coordinates and sizes: their low 16 bits.
ByteWriter& put_rect(ByteWriter& request, int32_t x, int32_t y, int32_t w, int32_t h) {
  return request.be16(uint16_t(x)).be16(uint16_t(y)).be16(uint16_t(w)).be16(uint16_t(h));
}

// The bytes of a text up to and including its terminator, an 8-bit NUL or
// a 16-bit zero unit read as a byte pair; false when none lies within the
// request's room.
bool put_terminated(R42Request& request, const unsigned char* text, size_t unit) {
  const size_t room = request.capacity() - request.size();
  for (size_t at = 0; at + unit <= room; at += unit) {
    if (text[at] == 0 && (unit == 1 || text[at + 1] == 0)) {
      request.bytes(text, at + unit);
      return true;
    }
  }
  return false;
}

// Sends a screen image: `head` writes the parameters, then the marker and
// the blob's bytes follow in one request sized for them.
template <typename Head>
int16_t send_image(R42Device& device, uint16_t code, size_t head_size,
                   const unsigned char* image_data, Head head) {
  if (image_data == nullptr) return -1;
  uint32_t count = 0;
  ByteCursor(image_data, 4).be32(count);
  const uint64_t size = uint64_t(r42_cmd::kReplyHead) + head_size + 4 + count;
  R42Request request(code, size, kImageReply);
  if (request.overflowed()) return -1;
  head(request);
  request.be32(kImageMarker).bytes(image_data + 4, count);
  return device.exchange(request, kImageTimeoutMs, r42_cmd::kStatusOnly);
}

}  // namespace

int16_t R42Device::LcdDisplay(int32_t, uint8_t line, uint8_t offset, uint8_t mode,
                              const char* data) {
  if (data == nullptr) return -1;
  if (data[0] == '\0') return 0;
  R42Request request(r42_cmd::kLcdText);
  request.u8(line).u8(offset).u8(mode).text(data);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::LcdDisplayText(int32_t, uint8_t line, uint8_t offset, uint8_t mode,
                                  uint8_t charset, const unsigned char* text) {
  R42Request request(r42_cmd::kLcdCharsetText);
  request.u8(line).u8(offset).u8(mode).u8(charset);
  static_assert(r42_cmd::kLcdCharsetTextRoom == kR42BufferSize - r42_cmd::kReplyHead - 4);
  const bool wide = std::memchr(kWideCharsets, charset, sizeof kWideCharsets) != nullptr;
  if (charset <= kLastByteCharset || wide) {
    if (text == nullptr || !put_terminated(request, text, wide ? 2 : 1)) return -1;
  }
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::LcdDisplayTextFromData(int32_t icdev, uint8_t line, uint8_t offset,
                                          uint8_t mode, uint8_t charset,
                                          const unsigned char* text, const unsigned char*,
                                          int32_t) {
  ReaderDevice& self = *this;
  return self.LcdDisplayText(icdev, line, offset, mode, charset, text);
}

int16_t R42Device::display_2dbarcode(int32_t, int32_t point_x, int32_t point_y,
                                     const char* info) {
  if (info == nullptr) return -1;
  R42Request request(r42_cmd::kShow2dCode, kR42LongBufferSize);
  const size_t length = strnlen(info, kR42LongBufferSize);
  request.checked_u8(point_x).checked_u8(point_y).be16_counted(info, int64_t(length));
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::RefreshAndDisplayMainUI(int32_t) {
  return status_command(r42_cmd::kMainScreen);
}

int16_t R42Device::ScreenDisplayImage(int32_t, int32_t x, int32_t y, int32_t w, int32_t h,
                                      int32_t time_s, const unsigned char* image_data) {
  return send_image(*this, r42_cmd::kScreenImage, 12, image_data, [&](R42Request& request) {
    put_rect(request, x, y, w, h).be32(uint32_t(time_s));
  });
}

int16_t R42Device::ScreenClearDisplay(int32_t, int32_t x, int32_t y, int32_t w, int32_t h,
                                      int32_t time_s) {
  R42Request request(r42_cmd::kScreenClear);
  put_rect(request, x, y, w, h).be32(uint32_t(time_s));
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::ScreenLoadBgImage(int32_t, int32_t number, const unsigned char* image_data) {
  if (!R42Request::fits_u8(number)) return -1;
  return send_image(*this, r42_cmd::kScreenLoadBg, 1, image_data,
                    [&](R42Request& request) { request.u8(uint8_t(number)); });
}

int16_t R42Device::ScreenDisplayBgImage(int32_t, int32_t number, int32_t x, int32_t y, int32_t w,
                                        int32_t h) {
  R42Request request(r42_cmd::kScreenShowBg);
  put_rect(request.checked_u8(number), x, y, w, h);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::ScreenDisplayGetConfig(int32_t, uint8_t tag, unsigned char* config_data) {
  if (config_data == nullptr) return -1;
  R42Request request(r42_cmd::kScreenConfig);
  request.u8(kConfigGet).u8(tag);
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + 1, &reply);
  if (result != 0) return result;
  // The setting starts at reply byte 4 and must hold the length it declares.
  uint8_t declared = 0;
  if (!reply.skip(1) || reply.remaining() > kConfigMax || !ByteCursor(reply).u8(declared) ||
      size_t(declared) + 1 > reply.remaining())
    return -1;
  reply.take(config_data, reply.remaining());
  return 0;
}

int16_t R42Device::ScreenDisplaySetConfig(int32_t, uint8_t tag,
                                          const unsigned char* config_data) {
  if (config_data == nullptr) return -1;
  R42Request request(r42_cmd::kScreenConfig);
  request.u8(kConfigSet).u8(tag).bytes(config_data, size_t(config_data[0]) + 1);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::ScreenDisplayText(int32_t, uint8_t font_size, const unsigned char* fg_rgb,
                                     const unsigned char* bg_rgb, int32_t x, int32_t y,
                                     int32_t time_s, uint8_t line_flag, uint8_t voice_flag,
                                     const char* text) {
  if (fg_rgb == nullptr || bg_rgb == nullptr || text == nullptr) return -1;
  R42Request request(r42_cmd::kScreenText);
  request.u8(font_size).bytes(fg_rgb, 3).bytes(bg_rgb, 3);
  request.be16(uint16_t(x)).be16(uint16_t(y)).be32(uint32_t(time_s));
  request.u8(line_flag).u8(voice_flag).text(text);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::ScreenDisplayBgImageByColor(int32_t, const unsigned char* rgb, int32_t x,
                                               int32_t y, int32_t w, int32_t h) {
  if (rgb == nullptr) return -1;
  R42Request request(r42_cmd::kScreenFill);
  put_rect(request.bytes(rgb, 3), x, y, w, h);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::TtsVoicePlay(int32_t, uint8_t type, const unsigned char* content,
                                int32_t content_len) {
  return data_command(r42_cmd::kTtsPlay, {type}, content, content_len);
}

int16_t R42Device::TtsVoiceConfig(int32_t, uint8_t type, uint8_t value) {
  return status_command(r42_cmd::kTtsConfig, {type, value});
}

int16_t R42Device::VoicePlayAndDisplay(int32_t, uint8_t mode, uint8_t type) {
  return status_command(r42_cmd::kVoiceAndDisplay, {mode, type});
}

int16_t R42Device::Config2DBarcode(int32_t, const unsigned char* content, int32_t content_len) {
  return data_command(r42_cmd::kBarcodeConfig, {}, content, content_len);
}

int16_t R42Device::Scan2DBarcode(int32_t, uint16_t time_ms, char* message_data) {
  R42Request request(r42_cmd::kBarcodeScan);
  request.be16(time_ms);
  return text_reply(request, int32_t(time_ms) + kR42DefaultTimeoutMs,
                    reinterpret_cast<uint8_t*>(message_data), kR42ReplyDataMax);
}

int16_t R42Device::Scan2DBarcodeStart(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kBarcodeSession, {kBarcodeStart, mode});
}

int16_t R42Device::Scan2DBarcodeGetData(int32_t, int32_t* rlen, unsigned char* rdata) {
  if (rlen == nullptr || rdata == nullptr) return -1;
  os_sleep(kBarcodeFetchPauseMs);
  R42Request request(r42_cmd::kBarcodeSession);
  request.u8(kBarcodeFetch);
  return counted_reply(request, kR42DefaultTimeoutMs, rdata, kR42ReplyDataMax, rlen);
}

int16_t R42Device::Scan2DBarcodeExit(int32_t) {
  return status_command(r42_cmd::kBarcodeSession, {kBarcodeStop});
}

int16_t R42Device::LedDisplay(int32_t, uint8_t number, uint8_t mode, uint8_t value) {
  return status_command(r42_cmd::kLedDisplay, {number, mode, value});
}

int16_t R42Device::LedControl(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kLedControl, {mode});
}

int16_t R42Device::BuzzerBeep(int32_t, uint16_t beep_time_ms, uint16_t interval_time_ms,
                              uint16_t count) {
  R42Request request(r42_cmd::kBuzzerPattern);
  request.be16(beep_time_ms).be16(interval_time_ms).be16(count);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::DownloadFileData(int32_t, int32_t file_type, int32_t file_size, int32_t flag,
                                    const unsigned char* data, int32_t* data_size) {
  if (data_size == nullptr) return -1;
  R42Request request(r42_cmd::kDownloadFile, kR42LongBufferSize);
  request.be32(uint32_t(file_type)).be32(uint32_t(file_size)).be32(uint32_t(flag));
  if (flag != 0) {
    const int32_t count = *data_size;
    if (count < 0 || (data == nullptr && count > 0)) return -1;
    request.bytes(data, size_t(count));
    return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
  }
  // The header alone: the reader answers with its count.
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + 4, &reply);
  if (result != 0) return result;
  uint32_t count = 0;
  if (!reply.be32(count)) return -1;
  *data_size = int32_t(count);
  return 0;
}
