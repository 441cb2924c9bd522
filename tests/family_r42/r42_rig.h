// An r42 device wired to a simulated reader over a pseudo-terminal: the real
// ComPort and framing, a recorder in between that notes what the device asks
// of the protocol, and the reader model answering on the far end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "connection/ccid_protocol.h"
#include "connection/com_port.h"
#include "connection/reader_device.h"
#include "connection/stx_etx_protocol.h"
#include "family_r42/r42_device.h"
#include "sim/memory_readers.h"
#include "sim/pty_pair.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

using Bytes = std::vector<uint8_t>;

struct R42Rig {
  explicit R42Rig(const char* name = "r42-u",
                  R42SerialSim::Framing framing = R42SerialSim::Framing::kStxEtx) {
    sim = R42SerialSim::withPty(framing);
    if (!sim) return;
    sim->setHandler(model.handler());
    sim->start();
    bool opened = false;
    port = std::make_unique<ComPort>(
        ParamMap{{"mode", "direct"}, {"name", sim->slavePath()}, {"baud", "115200"}}, &opened);
    if (!opened) return;
    if (framing == R42SerialSim::Framing::kCcid)
      framing_protocol = std::make_unique<CcidProtocol>(port.get());
    else
      framing_protocol = std::make_unique<StxEtxProtocol>(port.get());
    recorder = std::make_unique<RecordingProtocol>(port.get(), framing_protocol.get());
    r42 = std::make_unique<R42Device>(name, port.get(), recorder.get());
    device = r42.get();
    ready = true;
  }
  ~R42Rig() {
    if (sim) sim->stop();
  }

  // The requests the device sent, as the protocol saw them.
  std::vector<Bytes> requests() const {
    std::vector<Bytes> out;
    for (const auto& call : recorder->calls) out.push_back(call.request);
    return out;
  }
  const RecordingProtocol::Call& last() const { return recorder->calls.back(); }
  size_t sent() const { return recorder->calls.size(); }

  bool ready = false;
  R42ReaderModel model;
  std::unique_ptr<R42SerialSim> sim;
  std::unique_ptr<ComPort> port;
  std::unique_ptr<TransportProtocol> framing_protocol;
  std::unique_ptr<RecordingProtocol> recorder;
  std::unique_ptr<R42Device> r42;
  ReaderDevice* device = nullptr;
};

#define ASSERT_RIG(rig) ASSERT_TRUE((rig).ready) << "no pseudo-terminal or port"

// The far end played by hand, for exact wire images: the test reads the
// request frame off the master side and writes whatever bytes it likes.
struct HandRig {
  explicit HandRig(const char* name = "r42-u") {
    if (!pty.ok()) return;
    bool opened = false;
    port = std::make_unique<ComPort>(
        ParamMap{{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "115200"}}, &opened);
    if (!opened) return;
    framing = std::make_unique<StxEtxProtocol>(port.get());
    r42 = std::make_unique<R42Device>(name, port.get(), framing.get());
    device = r42.get();
    ready = true;
  }

  // Runs `call` while the far end takes `request_size` bytes and answers
  // `reply`; returns the bytes it took.
  template <typename F>
  Bytes play(size_t request_size, const Bytes& reply, F call) {
    Bytes seen;
    std::thread far_end([&] {
      seen = pty.readExact(request_size, 3000);
      pty.writeAll(reply);
    });
    call();
    far_end.join();
    return seen;
  }

  bool ready = false;
  PtyPair pty;
  std::unique_ptr<ComPort> port;
  std::unique_ptr<StxEtxProtocol> framing;
  std::unique_ptr<R42Device> r42;
  ReaderDevice* device = nullptr;
};
