// Arbitrary card blocks fed to the two host engines, the ISO/IEC 14443-4
// block exchange and T=1, over an in-memory exchange.
//
// Input: [engine and switches][frame size][command length][answer cap,
// BE16] then the card's blocks, each [length][bytes]; when they run out the
// card stays silent (the reader reports no answer). Beyond no crash, leak or
// undefined behaviour: every exchange stays bounded (one per card block,
// plus the few a silent card costs), the result is one the engine may give,
// and a successful answer fits the cap: it is copied into a buffer of
// exactly the cap, so the sanitizers see any excess.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "family_m6/block_chainer.h"
#include "family_m6/t1_exchange.h"
#include "platform/byte_cursor.h"

namespace {

void check(bool ok, const char* what, long value) {
  if (ok) return;
  std::fprintf(stderr, "%s: %ld\n", what, value);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint8_t mode = data[0];
  const bool t1_engine = mode & 1;
  const size_t cap = size_t(data[3] << 8 | data[4]);
  std::vector<uint8_t> command(data[2]);
  for (size_t i = 0; i < command.size(); ++i) command[i] = uint8_t(i * 13);
  // The card's side: blocks from the input, one per exchange.
  ByteCursor input(data + 5, size - 5);
  const size_t room = t1_engine ? t1::kMaxBlock : BlockChainer::kMaxBlock;
  size_t exchanges = 0, blocks = 0;
  auto raw = [&](const uint8_t* b, size_t n, uint8_t* reply, size_t* got) -> int16_t {
    ++exchanges;
    check(n > 0 && b != nullptr, "empty block sent", long(n));
    uint8_t length = 0;
    if (!input.u8(length) || length > room || input.remaining() < length) return -2;
    input.take(reply, length);
    *got = length;
    ++blocks;
    return 0;
  };

  int16_t result = 0;
  std::vector<uint8_t> answer;
  if (t1_engine) {
    uint8_t sequence = mode & 0x40;
    result = t1::exchange(sequence, command.data(), command.size(), cap, raw, answer);
    // Each block asks for at most one more; RESYNCH and a silent card one.
    check(exchanges <= blocks + 1, "T=1 exchanges", long(exchanges));
    check(sequence == 0x00 || sequence == 0x40, "send sequence", sequence);
  } else {
    uint8_t state = uint8_t(0x0A | (mode >> 7));
    BlockChainer chainer(state, {[&](const uint8_t* b, size_t n, uint8_t, uint8_t* reply,
                                     size_t* got) { return raw(b, n, reply, got); },
                                 253});
    result = chainer.run(command.data(), command.size(), {data[1], 7, (mode & 2) != 0, cap});
    answer = chainer.answer();
    // Each failure costs one exchange that may find no block, four at most.
    check(exchanges <= blocks + 4, "exchanges past the blocks", long(exchanges));
  }
  check(result == 0 || result == -1 || result == -2, "result", result);
  if (result != 0) return 0;
  check(answer.size() <= cap, "answer over the cap", long(answer.size()));
  std::unique_ptr<uint8_t[]> out(new uint8_t[cap ? cap : 1]);
  if (!answer.empty()) std::memcpy(out.get(), answer.data(), answer.size());
  return 0;
}
