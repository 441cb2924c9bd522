// An application transport that reaches a simulated r42 reader in memory:
// write() parses the STX frames the library sends and queues the model's
// framed replies, read() hands them back. The reader can be held by one open
// transport at a time, as a real one is; a partial frame is dropped after
// 50 ms without a new byte, as the serial simulator does.
//
//   MemoryTransportReader reader;
//   PortProvider provider = reader.provider();
//   CoreConfigure(KX_CFG_CALLBACKS, &provider);
//   kx_init(480, 115200);  // 560
#pragma once

#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "qm_transport.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

class MemoryTransportReader {
 public:
  R42ReaderModel model;
  // Runs inside every write, on the caller's thread (a re-entrant call).
  std::function<void()> on_write;

  // Hooks and parameter for CoreConfigure: the parameter is this reader.
  PortProvider provider() {
    PortProvider p{};
    p.create = &MemoryTransportReader::create;
    p.destroy = &MemoryTransportReader::destroy;
    p.parameter = this;
    return p;
  }

  int opens() {
    std::lock_guard<std::mutex> hold(mu_);
    return opens_;
  }
  int live() {
    std::lock_guard<std::mutex> hold(mu_);
    return live_;
  }

 private:
  struct Transport : ExternalTransport {
    MemoryTransportReader* reader = nullptr;
    std::vector<uint8_t> request;
    std::chrono::steady_clock::time_point last_byte;
    std::deque<uint8_t> reply;
  };

  static Transport* self(ExternalTransport* t) { return static_cast<Transport*>(t); }

  static int32_t create(const char* type, ExternalTransport** out) {
    if (std::strcmp(type, "vnet") != 0) return 0;
    auto* t = new Transport;
    t->ops = &kOps;
    *out = t;
    return 0;
  }
  static int32_t destroy(ExternalTransport* t) {
    delete self(t);
    return 0;
  }
  static int32_t open(ExternalTransport* t, const char*, void* parameter) {
    auto* reader = static_cast<MemoryTransportReader*>(parameter);
    std::lock_guard<std::mutex> hold(reader->mu_);
    if (reader->held_) return 0;
    reader->held_ = true;
    ++reader->opens_;
    ++reader->live_;
    self(t)->reader = reader;
    return 1;
  }
  static int32_t close(ExternalTransport* t) {
    MemoryTransportReader* reader = self(t)->reader;
    if (!reader) return 0;
    std::lock_guard<std::mutex> hold(reader->mu_);
    reader->held_ = false;
    --reader->live_;
    self(t)->reader = nullptr;
    return 0;
  }
  static bool read(ExternalTransport* t, uint8_t* buf, int32_t length, int32_t) {
    Transport* me = self(t);
    if (length <= 0 || me->reply.size() < static_cast<size_t>(length)) return false;
    for (int32_t i = 0; i < length; ++i) {
      buf[i] = me->reply.front();
      me->reply.pop_front();
    }
    return true;
  }
  static bool write(ExternalTransport* t, const uint8_t* buf, int32_t length, int32_t) {
    Transport* me = self(t);
    if (!me->reader) return false;
    if (me->reader->on_write) me->reader->on_write();
    const auto now = std::chrono::steady_clock::now();
    if (!me->request.empty() && now - me->last_byte > std::chrono::milliseconds(50)) {
      me->request.clear();
    }
    me->last_byte = now;
    me->request.insert(me->request.end(), buf, buf + length);
    parse(me);
    return true;
  }
  static void purge(ExternalTransport* t) { self(t)->reply.clear(); }
  static int32_t available(ExternalTransport* t) {
    return static_cast<int32_t>(self(t)->reply.size());
  }
  static void reserved(ExternalTransport*) {}

  // 02, length (u32 BE), payload, XOR of everything before, 03.
  static void parse(Transport* me) {
    std::vector<uint8_t>& in = me->request;
    while (!in.empty()) {
      if (in[0] != 0x02) {
        in.erase(in.begin());
        continue;
      }
      if (in.size() < 5) return;
      const uint32_t n = (uint32_t{in[1]} << 24) | (uint32_t{in[2]} << 16) |
                         (uint32_t{in[3]} << 8) | in[4];
      if (n > 4096) {
        in.erase(in.begin());
        continue;
      }
      if (in.size() < 7 + n) return;
      uint8_t x = 0;
      for (size_t i = 0; i < 5 + n; ++i) x ^= in[i];
      const bool good = in[5 + n] == x && in[6 + n] == 0x03;
      std::vector<uint8_t> payload(in.begin() + 5, in.begin() + 5 + n);
      in.erase(in.begin(), in.begin() + 7 + n);
      if (!good) continue;
      const std::vector<uint8_t> frame = R42SerialSim::stxFrame(me->reader->model.answer(payload));
      me->reply.insert(me->reply.end(), frame.begin(), frame.end());
    }
  }

  static inline const ExternalTransportOps kOps = {
      &MemoryTransportReader::reserved, &MemoryTransportReader::open,  &MemoryTransportReader::close,
      &MemoryTransportReader::read,     &MemoryTransportReader::write, &MemoryTransportReader::purge,
      &MemoryTransportReader::available,
  };

  std::mutex mu_;
  bool held_ = false;
  int opens_ = 0;
  int live_ = 0;
};
