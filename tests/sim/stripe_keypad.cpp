#include "sim/stripe_keypad.h"

#include <chrono>
#include <thread>

#include "sim/sim_replies.h"

namespace {

using Bytes = StripeKeypadSim::Bytes;

constexpr uint16_t kMalformed = 0x6A80;
constexpr uint16_t kNotStarted = 0x0704;
constexpr uint16_t kNoSwipe = 0x0705;
constexpr uint16_t kTimedOut = 0x0701;
constexpr uint16_t kNoEntry = 0x0601;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Three [length][bytes] tracks and nothing after them.
bool well_formed_tracks(const Bytes& b, size_t at) {
  for (int i = 0; i < 3; ++i) {
    if (at >= b.size()) return false;
    at += 1 + b[at];
  }
  return at == b.size();
}

}  // namespace

Bytes StripeKeypadSim::tracks(const std::string& t1, const std::string& t2,
                              const std::string& t3) {
  Bytes out;
  for (const std::string* t : {&t1, &t2, &t3}) {
    out.push_back(uint8_t(t->size()));
    out.insert(out.end(), t->begin(), t->end());
  }
  return out;
}

void StripeKeypadSim::attach(R42ReaderModel& model) {
  for (uint16_t code : {0x0602, 0x0700, 0x0701, 0x0702, 0x0703, 0x0710, 0xC010, 0xC011,
                        0xC012})
    model.addCommand(code, [this](const Bytes& request) { return *respond(request); });
}

std::optional<Bytes> StripeKeypadSim::respond(const Bytes& request) {
  if (request.size() < 3) return std::nullopt;
  const uint16_t code = uint16_t(request[0] << 8 | request[1]);
  const size_t n = request.size() - 3;
  switch (code) {
    case 0x0700:
      if (n != 1) return sim_refused(kMalformed);
      if (swipes.empty()) return sim_refused(kTimedOut);
      {
        Bytes swipe = swipes.front();
        swipes.pop_front();
        return sim_ok(swipe);
      }
    case 0x0701:
      if (n == 0) {
        started = true;
        return sim_ok();
      }
      if (!well_formed_tracks(request, 4)) return sim_refused(kMalformed);
      written = Bytes(request.begin() + 4, request.end());
      return sim_ok();
    case 0x0702:
      started = false;
      return n == 0 ? sim_ok() : sim_refused(kMalformed);
    case 0x0703: {
      if (n != 0) return sim_refused(kMalformed);
      ++polls;
      if (!started) return sim_refused(kNotStarted);
      if (swipes.empty()) return sim_refused(kNoSwipe);
      Bytes swipe = swipes.front();
      swipes.pop_front();
      return sim_ok(swipe);
    }
    case 0x0710:
      if (n != 4) return sim_refused(kMalformed);
      settings.assign(request.begin() + 3, request.end());
      return sim_ok();
    case 0x0602: {
      if (n != 1) return sim_refused(kMalformed);
      if (entry_delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(entry_delay_ms));
      if (pins.empty()) return sim_refused(no_pin_status);
      const std::string pin = pins.front();
      pins.pop_front();
      return sim_ok(text(pin));
    }
    case 0xC010:
      if (n == 2 && request[4] == 0x01) {
        pad_card_number.clear();
      } else if (n >= 3 && request[4] == 0x00 && n == size_t(3 + request[5])) {
        pad_card_number.assign(request.begin() + 6, request.end());
      } else {
        return sim_refused(kMalformed);
      }
      pad_running = true;
      return sim_ok();
    case 0xC011:
      if (n != 0) return sim_refused(kMalformed);
      return pad_running ? sim_ok(text(pad_pin)) : sim_refused(kNoEntry);
    case 0xC012:
      pad_running = false;
      return n == 0 ? sim_ok() : sim_refused(kMalformed);
    default:
      return std::nullopt;
  }
}
