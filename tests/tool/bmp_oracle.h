// Reading back the BMP files of the bitmap writers without their code, and
// decoding the pictures with zbarimg.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// A black-and-white picture, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> dark;

  bool at(int x, int y) const { return dark[size_t(y) * size_t(width) + size_t(x)] != 0; }
};

inline uint32_t le_at(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
  return v;
}

// Parses an uncompressed 24-bit bottom-up BMP whose pixels are all black or
// all white and whose row padding is zero. "" on success, else what is wrong.
inline std::string parse_bmp(const std::string& b, Picture& out) {
  if (b.size() < 54) return "shorter than a header";
  if (b.compare(0, 2, "BM") != 0) return "no BM";
  const uint32_t width = le_at(b, 18, 4);
  const uint32_t height = le_at(b, 22, 4);
  if (width == 0 || height == 0 || int32_t(height) < 0) return "bad width or height";
  const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
  const size_t image = stride * height;
  if (le_at(b, 2, 4) != 54 + image || b.size() != 54 + image) return "bad file size";
  if (le_at(b, 6, 4) != 0 || le_at(b, 10, 4) != 54 || le_at(b, 14, 4) != 40) return "bad offsets";
  if (le_at(b, 26, 2) != 1 || le_at(b, 28, 2) != 24 || le_at(b, 30, 4) != 0) return "not 24-bit RGB";
  if (le_at(b, 34, 4) != image) return "bad image size";
  for (size_t i = 38; i < 54; ++i) {
    if (b[i] != 0) return "resolution or colour counts set";
  }
  out.width = int(width);
  out.height = int(height);
  out.dark.assign(size_t(width) * height, 0);
  for (size_t row = 0; row < height; ++row) {
    const size_t base = 54 + row * stride;
    const size_t y = height - 1 - row;  // the first stored row is the bottom one
    for (size_t x = 0; x < width; ++x) {
      const auto p0 = uint8_t(b[base + 3 * x]);
      const auto p1 = uint8_t(b[base + 3 * x + 1]);
      const auto p2 = uint8_t(b[base + 3 * x + 2]);
      if (p0 != p1 || p1 != p2 || (p0 != 0 && p0 != 255)) return "a pixel neither black nor white";
      out.dark[y * width + x] = p0 == 0;
    }
    for (size_t i = 3 * size_t(width); i < stride; ++i) {
      if (b[base + i] != 0) return "padding not zero";
    }
  }
  return "";
}

// What zbarimg reads in `picture` with a light border of `border` pixels
// around it (the writers draw none), given its symbology options; "<none>"
// when it finds nothing.
inline std::string zbar_decode(const Picture& picture, int border, const std::string& pgm_path,
                               const std::string& options = "") {
  const int w = picture.width + 2 * border;
  const int h = picture.height + 2 * border;
  std::string pgm = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::string pixels(size_t(w) * size_t(h), char(255));
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (picture.at(x, y)) pixels[size_t(y + border) * size_t(w) + size_t(x + border)] = 0;
    }
  }
  std::ofstream(pgm_path, std::ios::binary) << pgm << pixels;
  const std::string command =
      std::string(QM_ZBARIMG) + " -q --raw -Sbinary " + options + " '" + pgm_path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "<popen failed>";
  std::string text;
  char chunk[4096];
  size_t got = 0;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, got);
  const int status = pclose(pipe);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 4) return "<none>";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<zbarimg failed>";
  return text;
}
