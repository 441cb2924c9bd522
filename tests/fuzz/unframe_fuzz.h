// The body every reply-unframing fuzz target shares. The input's first two
// bytes pick the reply capacity (0 to 4096); the rest is everything the
// reader sends, handshake bytes included. One command byte goes out first.
// The caller's buffer is exactly as large as the command or the capacity
// needs, so the sanitizers see any write past it. Beyond no crash, leak or
// undefined behaviour, each exchange must give -1 or a length within the
// capacity, never ask the port for a negative length, and take no more
// bytes from the line than the reply's own frame may hold, so that a
// malformed reply never eats into the one after it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz/memory_port.h"
#include "platform/byte_cursor.h"

using Line = std::vector<uint8_t>;

template <typename Protocol, typename Bound>
int fuzz_unframe(const uint8_t* data, size_t size, Bound frame_bound) {
  if (size < 2) return 0;
  const int32_t capacity = int32_t((uint32_t(data[0]) << 8 | data[1]) % 4097);
  MemoryPort port(data + 2, size - 2);
  Protocol protocol(&port);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t(std::max(capacity, 1))]);
  buffer[0] = 0x80;
  const int32_t result = protocol.transceive(buffer.get(), 1, capacity, 10);
  if (result < -1 || result > capacity) {
    std::fprintf(stderr, "result %d with capacity %d\n", result, capacity);
    std::abort();
  }
  for (int32_t length : port.reads) {
    if (length < 0) {
      std::fprintf(stderr, "read of %d bytes asked for\n", length);
      std::abort();
    }
  }
  const uint64_t bound = frame_bound(port.input);
  if (port.consumed() > bound) {
    std::fprintf(stderr, "%zu bytes taken from the line, the frame allows %llu\n",
                 port.consumed(), static_cast<unsigned long long>(bound));
    std::abort();
  }
  return 0;
}

// What each framing may take from the line, given all the reader sent.

// An STX/ETX reply: its own declared length. A frame longer than the
// capacity is drained, but never past its end. A line that does not begin
// with STX gives up its first byte only.
inline uint64_t stx_etx_frame_bound(const uint8_t* line, size_t size) {
  ByteCursor cursor(line, size);
  uint8_t stx = 0;
  uint32_t n = 0;
  if (!cursor.u8(stx) || stx != 0x02) return 1;
  if (!cursor.be32(n)) return 5;
  return 7 + uint64_t(n);
}

// A CCID reply: the 10-byte header, then the STX/ETX frame it carries.
inline uint64_t ccid_frame_bound(const Line& line) {
  constexpr size_t kHeader = 10;
  ByteCursor cursor(line.data(), line.size());
  uint8_t type = 0;
  if (!cursor.u8(type) || type != 0x80 || !cursor.skip(kHeader - 1)) return kHeader;
  return kHeader + stx_etx_frame_bound(cursor.here(), cursor.remaining());
}

// A DLE exchange: the three handshake bytes, then a reply whose raw form is
// at most every body byte doubled plus the closing DLE ETX, the body being
// sequence, status, length, the data the length declares and the check
// byte. Until the length byte is in, the shortest body is the bound.
inline uint64_t dle_frame_bound(const Line& line) {
  constexpr size_t kHandshake = 3;
  constexpr uint8_t kDle = 0x10;
  size_t body = 4;
  uint8_t field[3];
  size_t fields = 0;
  for (size_t at = kHandshake; at < line.size() && fields < 3; ++at) {
    if (line[at] == kDle) {
      if (at + 1 >= line.size() || line[at + 1] != kDle) break;
      ++at;
    }
    field[fields++] = line[at];
  }
  if (fields == 3) body += field[2];
  return kHandshake + 2 * body + 2;
}

// A reply in 32-byte reports: up to and including the first report not led
// by 0x82, and never more than the 66 that fit the collection area plus the
// one read and refused.
inline uint64_t report_frame_bound(const Line& line) {
  constexpr size_t kReport = 32;
  constexpr size_t kMostReports = 67;
  size_t reports = 1;
  while (reports < kMostReports && (reports - 1) * kReport < line.size() &&
         line[(reports - 1) * kReport] == 0x82)
    ++reports;
  return reports * kReport;
}
