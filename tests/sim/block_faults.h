// Faults planned for the blocks of a simulated card link, counted each way
// from the moment they are planned: plan(kToCard, 2, kLose) hits the second
// block sent to the card from then on.
#pragma once

#include <map>
#include <utility>

class BlockFaults {
 public:
  enum class Direction { kToCard, kFromCard };
  enum class Fault { kNone, kLose, kCorrupt };

  void plan(Direction direction, int nth, Fault fault) {
    planned_[{direction, count(direction) + nth}] = fault;
  }
  // Counts one more block that way and gives its fault.
  Fault next(Direction direction) {
    const auto it = planned_.find({direction, ++count(direction)});
    if (it == planned_.end()) return Fault::kNone;
    const Fault fault = it->second;
    planned_.erase(it);
    return fault;
  }

 private:
  int& count(Direction direction) { return direction == Direction::kToCard ? to_card_ : from_card_; }
  std::map<std::pair<Direction, int>, Fault> planned_;
  int to_card_ = 0;
  int from_card_ = 0;
};
