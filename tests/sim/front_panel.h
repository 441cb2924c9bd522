// The front of a simulated terminal reader: a character LCD of 16 lines of
// 16 columns and a colour screen with its settings, one value per tag.
// Join a model as an attachment of its state or with attach(model).
//
//   08 00 l            clears line l
//   08 01 l c m T      writes T at line l, column c; a piece that would
//                      run past the line's end or a line past 15: 6A 80
//   08 0B 01 t         the setting of tag t: [t][length][value]; unknown 6A 88
//   08 0B 00 t L V     sets tag t to [L][V]
// Replies carry no data beyond what is listed.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/r42_reader_model.h"

class FrontPanelSim : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;
  static constexpr size_t kLines = 16;
  static constexpr size_t kColumns = 16;

  FrontPanelSim() { lines.fill(std::string(kColumns, ' ')); }

  void attach(R42ReaderModel& model);
  std::optional<Bytes> respond(const Bytes& request) override;

  std::array<std::string, kLines> lines;
  int lcd_writes = 0;
  std::map<uint8_t, Bytes> config;  // tag -> [length][value]
};
