// Photo decoding of the identity card. The card stores its photo in a
// compressed format of its own, which only an outside decoder library
// turns into a BMP: libwltrs_getbmp.so, or failing that libWltRS.so,
// looked for in the library directory and then by the loader's own search.
// Its entry point GetBmp(path, 1) reads the compressed photo from a ".wlt"
// file and writes the BMP beside it, returning 1 on success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What becomes of the decoded photo.
enum PhotoOutputKind : int32_t {
  kPhotoFile = 0,    // a BMP file at `path`
  kPhotoBytes = 1,   // BMP bytes into `buffer`
  kPhotoBase64 = 2,  // the BMP as base64 text and a NUL into `buffer`
};

// `type` is a PhotoOutputKind; any other type decodes and delivers nothing.
// For bytes and base64, *length holds the buffer's capacity and receives
// the bytes or characters (without the NUL) written; a capacity too small
// leaves it as it was.
struct PhotoDelivery {
  int32_t type;
  const char* path;
  uint8_t* buffer;
  int32_t* length;
};

// Decodes `length` bytes of compressed photo through temporary files in
// `directory` (a prefix ending in '/', or "" for the working directory) and
// delivers the BMP. 0; -1 capacity too small or no base64 text; -2 no
// decoder library or no GetBmp in it; -3 a file that cannot be made,
// written, read or moved into place; -4 the decoder failed. No temporary
// file is left behind, and a target file is replaced whole or not at all.
int16_t decodePhotoToBmp(const uint8_t* photo, size_t length, const std::string& directory,
                         const PhotoDelivery& delivery);

// The folder of a path, up to and including its last '/'; "" without one.
std::string photo_directory(const char* path);
