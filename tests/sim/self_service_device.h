// The self-service card device behind the simulated r42 reader: its front
// switch, which the host sets and reads back.
//
//   09 0C [mode]   sets the switch to mode (refuse_set, when given, is the
//                  reply's status instead, and nothing changes)
//   09 0D          [switch]
// A stuck switch acknowledges every setting and keeps its value. Other
// requests of the device are left to the model, or to scripted replies.
//
// Join a model as an attachment of its state (table rows).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/r42_reader_model.h"

class SelfServiceDevice : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;

  std::optional<Bytes> respond(const Bytes& request) override;

  uint8_t front_switch = 0;
  bool stuck = false;
  std::optional<uint16_t> refuse_set;
  std::vector<uint8_t> settings;  // every mode the host asked for, in order
};
