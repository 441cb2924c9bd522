// Two modules of a simulated terminal reader. Join a model as attachments of
// its state or with attach(model).
//
// SdCardStore, the SD memory (any 32-bit address; unwritten bytes read 00):
//   05 10 [addr BE32][len BE32]         [len bytes]
//   05 11 [addr BE32][len BE32][data]   stores the data
// A chunk longer than 192 bytes, or a write whose data differs from its
// length, answers 6A 80; the chunk numbered `fail_chunk` (1 = the first
// request seen) answers 6F 00.
//
// Radio24Module, the 2.4 GHz card module behind the reader:
//   21 00 01 b    sets the module's baud code; 21 00 00 reads it: [b]
//   21 01 t [len BE16] 02 [n BE16] [data] [xor] 03
//                 checks the frame: len = n + 5, the request ends at the 03,
//                 the XOR of the data; a bad one answers 6A 80. The module
//                 answers the data with `answers[data]`, or 90 00 for a
//                 command it does not know; the reply is
//                 [frame length BE16][02][m BE16][answer][xor][03].
// `bad_xor` inverts the answer's check byte; `cut` drops that many bytes
// from the end of the reply.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/r42_reader_model.h"

class SdCardStore : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;

  void attach(R42ReaderModel& model);
  std::optional<Bytes> respond(const Bytes& request) override;

  std::map<uint32_t, uint8_t> bytes;
  int requests = 0;
  int fail_chunk = 0;
  // Address and length of each request, in order.
  std::vector<std::pair<uint32_t, uint32_t>> chunks;
};

class Radio24Module : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;

  void attach(R42ReaderModel& model);
  std::optional<Bytes> respond(const Bytes& request) override;

  uint8_t baud = 3;
  std::map<Bytes, Bytes> answers;
  std::vector<Bytes> commands;  // the data of each good frame
  bool bad_xor = false;
  size_t cut = 0;
};
