#include "family_r42/idcard_photo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "family_r42/r42_device.h"
#include "platform/byte_helpers.h"
#include "platform/dynamic_library.h"
#include "platform/settings.h"

namespace {

using GetBmpFunction = int (*)(char* path, int mode);
constexpr int kDecodeToBmp = 1;
constexpr int kDecoded = 1;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct HeapFree {
  void operator()(void* p) const { std::free(p); }
};

// The first decoder that loads, "wltrs_getbmp" before "WltRS", each from
// the library directory and then through the loader's search.
std::unique_ptr<DynamicLibrary> load_decoder() {
  const std::string folder = library_directory();
  std::unique_ptr<DynamicLibrary> decoder = load_outside_library(folder, "wltrs_getbmp");
  return decoder ? std::move(decoder) : load_outside_library(folder, "WltRS");
}

// Writes the photo to a new "<directory><time>XXXXXX.wlt", made exclusively
// (mode 0600) so that no other file is overwritten or followed; its name
// goes to *name. False, with nothing left, on any failure.
bool write_temporary(const std::string& directory, const uint8_t* photo, size_t length,
                     std::string* name) {
  std::string path = directory + std::to_string(unsigned(std::time(nullptr))) + "XXXXXX.wlt";
  const int fd = mkostemps(path.data(), 4, O_CLOEXEC);
  if (fd < 0) return false;
  File file(fdopen(fd, "wb"));
  if (!file) {
    close(fd);
    unlink(path.c_str());
    return false;
  }
  size_t done = 0;
  while (done < length) {
    const size_t put = std::fwrite(photo + done, 1, length - done, file.get());
    if (put == 0) break;
    done += put;
  }
  const bool written = done == length && std::fflush(file.get()) == 0;
  if (std::fclose(file.release()) != 0 || !written) {
    unlink(path.c_str());
    return false;
  }
  *name = path;
  return true;
}

// Opens the BMP and finds its size. The photo is read here rather than
// through read_file (platform/file_helpers.h) on purpose: the size the
// caller's buffer must hold (the bytes, or their base64 text) is checked
// against the file's size before any byte is read.
File open_sized(const std::string& path, long* size) {
  File file(std::fopen(path.c_str(), "rbe"));
  if (!file) return nullptr;
  if (std::fseek(file.get(), 0, SEEK_END) != 0 || (*size = std::ftell(file.get())) < 0 ||
      std::fseek(file.get(), 0, SEEK_SET) != 0) {
    return nullptr;
  }
  return file;
}

bool read_all(FILE* file, uint8_t* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const size_t got = std::fread(out + done, 1, size - done, file);
    if (got == 0) return false;
    done += got;
  }
  return true;
}

int16_t deliver_bytes(const std::string& bmp, uint8_t* buffer, int32_t* length) {
  long size = 0;
  File file = open_sized(bmp, &size);
  if (!file) return -3;
  if (size > *length) return -1;
  if (!read_all(file.get(), buffer, size_t(size))) return -3;
  *length = int32_t(size);
  return 0;
}

int16_t deliver_base64(const std::string& bmp, uint8_t* buffer, int32_t* length) {
  long size = 0;
  File file = open_sized(bmp, &size);
  if (!file) return -3;
  // Four characters for each started group of three bytes, and the NUL;
  // checked before anything is read.
  const int64_t needed = (int64_t(size) + 2) / 3 * 4 + 1;
  if (needed > *length) return -1;
  std::unique_ptr<uint8_t, HeapFree> bytes(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
  if (!bytes || !read_all(file.get(), bytes.get(), size_t(size))) return -3;
  char* encoded = nullptr;
  const int text_length = base64_encode(bytes.get(), int(size), &encoded);
  if (text_length < 0) return -1;
  std::unique_ptr<char, HeapFree> text(encoded);
  std::memcpy(buffer, text.get(), size_t(text_length) + 1);
  *length = text_length;
  return 0;
}

int16_t deliver(const std::string& bmp, const PhotoDelivery& delivery) {
  switch (delivery.type) {
    case kPhotoFile:
      // Atomic: the target is the old file or the new one, never neither.
      return std::rename(bmp.c_str(), delivery.path) == 0 ? 0 : -3;
    case kPhotoBytes:
      return deliver_bytes(bmp, delivery.buffer, delivery.length);
    case kPhotoBase64:
      return deliver_base64(bmp, delivery.buffer, delivery.length);
    default:
      return 0;
  }
}

}  // namespace

std::string photo_directory(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? std::string(path, size_t(slash - path) + 1) : std::string();
}

int16_t decodePhotoToBmp(const uint8_t* photo, size_t length, const std::string& directory,
                         const PhotoDelivery& delivery) {
  const std::unique_ptr<DynamicLibrary> decoder = load_decoder();
  if (!decoder) return -2;
  const auto get_bmp = reinterpret_cast<GetBmpFunction>(decoder->symbol("GetBmp"));
  if (get_bmp == nullptr) return -2;
  std::string wlt;
  if (!write_temporary(directory, photo, length, &wlt)) return -3;
  // The decoder gets a copy it may write to; the BMP has the same stem.
  std::string argument = wlt;
  const int decoded = get_bmp(argument.data(), kDecodeToBmp);
  unlink(wlt.c_str());
  const std::string bmp = wlt.substr(0, wlt.rfind('.') + 1) + "bmp";
  const int16_t result = decoded == kDecoded ? deliver(bmp, delivery) : -4;
  if (result != 0 || delivery.type != kPhotoFile) unlink(bmp.c_str());
  return result;
}

int16_t R42Device::i_d_query_photo_file(int32_t, const char* FileName) {
  if (FileName == nullptr) return -1;
  return decodePhotoToBmp(id_photo_, id_photo_length_, photo_directory(FileName),
                          {kPhotoFile, FileName, nullptr, nullptr});
}

int16_t R42Device::i_d_query_photo_bmp_buffer(int32_t, unsigned char* BmpBuffer,
                                              int32_t* BmpLength) {
  if (BmpBuffer == nullptr || BmpLength == nullptr) return -1;
  return decodePhotoToBmp(id_photo_, id_photo_length_, "",
                          {kPhotoBytes, nullptr, BmpBuffer, BmpLength});
}

int16_t R42Device::ParsePhotoInfo(int32_t, int32_t type, int32_t info_len,
                                  const unsigned char* info, int32_t* photo_len, char* photo) {
  if (info_len < 0 || info == nullptr) return -1;
  const bool delivers = type == kPhotoFile || type == kPhotoBytes || type == kPhotoBase64;
  if (delivers && photo == nullptr) return -1;
  if ((type == kPhotoBytes || type == kPhotoBase64) && photo_len == nullptr) return -1;
  const std::string directory = type == kPhotoFile ? photo_directory(photo) : std::string();
  return decodePhotoToBmp(info, size_t(info_len), directory,
                          {type, photo, reinterpret_cast<uint8_t*>(photo), photo_len});
}
