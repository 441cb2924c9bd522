// The transport seam of device tests.
//
// RecordingProtocol notes every exchange a device asks for (request,
// reply capacity, time-out, result) and either forwards it to a real framing
// (the pseudo-terminal rigs) or answers it in memory through an Answer
// function, on the caller's thread: no descriptor, no simulator thread.
// Either way a test can script the reply to the Nth exchange from now: given
// bytes (a short or odd reply, a status word) or a failed exchange (-1, as a
// silent reader gives). A scripted exchange reaches neither the framing nor
// the model. In memory, the answer to a request sent without waiting
// (capacity 0) stays on the line for the next exchange that only listens,
// until a request is sent again.
//
// NullPort is the port behind an in-memory transport: it carries no bytes,
// stays open and counts purges. (Devices refuse to work without a port.)
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "connection/port.h"
#include "connection/transport_protocol.h"

class NullPort : public Port {
 public:
  void close() override {}
  bool read(uint8_t*, int32_t, int32_t) override { return false; }
  bool write(const uint8_t*, int32_t, int32_t) override { return false; }
  void purge() override { ++purges; }
  int32_t available() override { return 0; }
  bool isOpen() override { return true; }
  bool reopen() override { return true; }

  int purges = 0;
};

class RecordingProtocol : public TransportProtocol {
 public:
  using Bytes = std::vector<uint8_t>;
  // The reply payload to one request payload; nullopt when none comes.
  using Answer = std::function<std::optional<Bytes>(const Bytes& request)>;

  struct Call {
    Bytes request;
    int32_t capacity;
    int32_t timeout_ms;
    int32_t result;
    int purges_before;  // purges of the NullPort before this exchange; -1 forwarded
  };

  // Forwards every exchange to `real` (not owned).
  RecordingProtocol(Port* port, TransportProtocol* real);
  // Answers every exchange in memory. A reply longer than the capacity the
  // device gave fails the exchange, as the framings refuse one.
  RecordingProtocol(NullPort* port, Answer answer);

  // The Nth exchange from now (1 = the next) gets `reply`, or fails.
  void scriptReply(Bytes reply, int nth = 1);
  void scriptFailure(int nth = 1);

  int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                     int32_t timeout_ms) override;

  std::vector<Call> calls;

 private:
  void script(std::optional<Bytes> reply, int nth);
  static int32_t deliver(const std::optional<Bytes>& reply, uint8_t* buffer, int32_t capacity);

  TransportProtocol* real_ = nullptr;
  NullPort* null_port_ = nullptr;
  Answer answer_;
  // Exchanges so far (tests may clear `calls`), and exchange index ->
  // scripted reply (nullopt: a failure).
  size_t exchanges_ = 0;
  std::map<size_t, std::optional<Bytes>> scripts_;
  std::optional<Bytes> held_;
};
