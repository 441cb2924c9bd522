// The decoders of what an m6 reader's POS terminal, keypad and stripe
// reader answer, on any bytes: the input is taken as a terminal's answer
// and, whole, as a reader reply after its status byte. Every output lives
// on the heap at exactly the size the decoder documents, so the sanitizers
// see a write past it; beyond that a decoder must not accept more than the
// bytes it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "family_m6/m6_pos_frame.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void keys(ByteCursor data) {
  std::unique_ptr<char[]> text(new char[data.remaining() < 2 ? 1 : data.remaining() - 1]);
  uint8_t count = 0;
  if (read_pos_keys(data, &count, text.get()) == 0)
    check(size_t(count) + 2 <= data.remaining() && text[count] == '\0');
}

void clock(ByteCursor data) {
  std::unique_ptr<uint8_t[]> values(new uint8_t[kPosClockFields]);
  if (read_pos_clock(data, values.get()))
    for (size_t i = 0; i < kPosClockFields; ++i) check(values[i] <= 99);
}

void track(ByteCursor data) {
  std::vector<char> text(data.here(), data.here() + data.remaining());
  if (decode_stripe_track(text.data(), text.size()))
    for (char c : text) check(c >= '0' && c <= '?');
}

// Every track a parser accepts lies within the bytes it was given.
template <typename Parse>
void tracks(ByteCursor data, Parse parse) {
  StripeTracks found;
  if (!parse(data, found)) return;
  const uint8_t* end = data.here() + data.remaining();
  for (size_t i = 0; i < kStripeTracks; ++i)
    if (found.length[i] > 0)
      check(found.data[i] >= data.here() && found.data[i] + found.length[i] <= end);
}

void every_decoder(ByteCursor data) {
  pos_done(data);
  keys(data);
  clock(data);
  track(data);
  tracks(data, parse_stripe_lengths_first);
  tracks(data, read_pos_stripe);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  ByteCursor answer(nullptr, 0);
  if (read_pos_answer(input, size, answer)) {
    check(answer.remaining() + kPosFrameOverhead == size);
    every_decoder(answer);
  }
  every_decoder(ByteCursor(input, size));

  PosFrame frame;
  if (build_pos_frame(input, size, frame)) {
    check(size <= kPosFrameDataMax && frame.size == size + kPosFrameOverhead);
    uint8_t sum = 0;
    for (size_t i = 0; i < frame.size; ++i) sum ^= frame.bytes[i];
    check(sum == 0 && std::memcmp(frame.bytes + kPosFrameHead, input, size) == 0);
  } else {
    check(size > kPosFrameDataMax);
  }
  return 0;
}
