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

// The card's side: blocks from the input, one per exchange.
struct Card {
  ByteCursor input;
  size_t room;
  size_t exchanges = 0;
  size_t blocks = 0;

  int16_t next(const uint8_t* block, size_t length, uint8_t* reply, size_t* got) {
    ++exchanges;
    check(length > 0 && block != nullptr, "empty block sent", long(length));
    uint8_t n = 0;
    if (!input.u8(n) || n > room || input.remaining() < n) return -2;
    input.take(reply, n);
    *got = n;
    ++blocks;
    return 0;
  }
};

void check_answer(int16_t result, const std::vector<uint8_t>& answer, size_t cap) {
  check(result == 0 || result == -1 || result == -2, "result", result);
  if (result != 0) return;
  check(answer.size() <= cap, "answer over the cap", long(answer.size()));
  std::unique_ptr<uint8_t[]> out(new uint8_t[cap ? cap : 1]);
  if (!answer.empty()) std::memcpy(out.get(), answer.data(), answer.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint8_t mode = data[0];
  const size_t cap = size_t(data[3] << 8 | data[4]);
  std::vector<uint8_t> command(data[2]);
  for (size_t i = 0; i < command.size(); ++i) command[i] = uint8_t(i * 13);
  Card card{ByteCursor(data + 5, size - 5), (mode & 1) ? t1::kMaxBlock : BlockChainer::kMaxBlock};
  auto raw = [&](const uint8_t* b, size_t n, uint8_t* reply, size_t* got) {
    return card.next(b, n, reply, got);
  };

  if (mode & 1) {
    uint8_t sequence = mode & 0x40;
    std::vector<uint8_t> answer;
    const int16_t result = t1::exchange(sequence, command.data(), command.size(), cap, raw, answer);
    // Each block asks for at most one more; RESYNCH and a silent card one.
    check(card.exchanges <= card.blocks + 1, "T=1 exchanges", long(card.exchanges));
    check(sequence == 0x00 || sequence == 0x40, "send sequence", sequence);
    check_answer(result, answer, cap);
    return 0;
  }

  uint8_t state = uint8_t(0x0A | (mode >> 7));
  BlockChainer chainer(state, {[&](const uint8_t* b, size_t n, uint8_t, uint8_t* reply,
                                   size_t* got) { return raw(b, n, reply, got); },
                               253});
  const int16_t result =
      chainer.run(command.data(), command.size(), {data[1], 7, (mode & 2) != 0, cap});
  // Each failure costs one exchange that may find no block, four at most.
  check(card.exchanges <= card.blocks + 4, "exchanges past the blocks", long(card.exchanges));
  check_answer(result, chainer.answer(), cap);
  return 0;
}
