// Simulated hardware behind a simulated reader of either family (card
// slots, a card field, a module): the reader model asks its attachments
// before its built-in answers. An attachment answers the requests it takes
// and gives nothing for the others; it runs under the model's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class SimAttachment {
 public:
  using Bytes = std::vector<uint8_t>;
  virtual ~SimAttachment() = default;
  virtual std::optional<Bytes> respond(const Bytes& request) = 0;
  // A reply it sends on its own, taken by an exchange that sends nothing.
  virtual std::optional<Bytes> unsolicited() { return std::nullopt; }
};

using SimAttachments = std::vector<std::shared_ptr<SimAttachment>>;

// The first attachment of type T in a model's state, or null.
template <typename T, typename State>
std::shared_ptr<T> attached(const State& state) {
  for (const auto& a : state.attachments)
    if (auto found = std::dynamic_pointer_cast<T>(a)) return found;
  return nullptr;
}
