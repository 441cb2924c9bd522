// Readers in memory: a device of one family over a RecordingProtocol that
// hands each request straight to the family's reader model on the caller's
// thread, behind a NullPort. No pseudo-terminal, no simulator thread; what
// needs a real descriptor (time-outs, hang-ups, framing) stays with the
// pseudo-terminal rigs.
//
//   R42MemoryReader reader;                // profile "r42-u"
//   reader.edit([](R42ReaderModel::State& s) { s.version = "V2"; });
//   reader.device.getver(80, text);        // answered by reader.model
//   reader.wire.calls                      // request, capacity, time-out, result
//   reader.wire.scriptFailure();           // the next exchange fails
//
// Both readers have the same shape, which the row runner (wire_table.h)
// relies on: Model, State, kDefaultProfile, kCapacity (the reply capacity
// every exchange of the family asks for), model, port, wire, device,
// edit(f), state() and lastStatus().
#pragma once

#include <optional>
#include <utility>

#include "family_m6/m6_device.h"
#include "family_r42/r42_device.h"
#include "sim/m6_reader_model.h"
#include "sim/r42_reader_model.h"
#include "sim/recording_protocol.h"

// The handle tests pass as icdev; devices hand it on without looking at it.
inline constexpr int32_t kIcdev = 80;

// The model's answer as the in-memory wire takes it.
inline std::optional<RecordingProtocol::Bytes> wire_answer(
    R42ReaderModel& model, const RecordingProtocol::Bytes& request) {
  return model.answer(request);
}
// Raw bytes scripted on the m6 model (pushRaw) stand for a frame that a
// framing would have to read; in memory there is none, so they fail the
// exchange, as silence does.
inline std::optional<RecordingProtocol::Bytes> wire_answer(
    M6ReaderModel& model, const RecordingProtocol::Bytes& command) {
  M6ReaderModel::Reply reply = model.answer(command);
  if (reply.kind != M6ReaderModel::Reply::Kind::kPayload) return std::nullopt;
  return std::move(reply.bytes);
}

template <typename ModelType, typename DeviceType>
struct MemoryReader {
  using Model = ModelType;
  using State = typename Model::State;

  explicit MemoryReader(const char* profile)
      : wire(&port,
             [this](const RecordingProtocol::Bytes& request) {
               return wire_answer(model, request);
             }),
        device(profile, &port, &wire) {}
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;

  template <typename F>
  void edit(F f) {
    model.with(std::move(f));
  }
  State state() const { return model.snapshot(); }

  Model model;
  NullPort port;
  RecordingProtocol wire;
  DeviceType device;
};

struct R42MemoryReader : MemoryReader<R42ReaderModel, R42Device> {
  static constexpr const char* kDefaultProfile = "r42-u";
  static constexpr int32_t kCapacity = 2048;
  explicit R42MemoryReader(const char* profile = kDefaultProfile) : MemoryReader(profile) {}
  // As the core hands it out.
  uint32_t lastStatus() {
    int32_t word = -1;
    static_cast<ReaderDevice&>(device).GetLastResponseCode(kIcdev, &word);
    return uint32_t(word);
  }
};

struct M6MemoryReader : MemoryReader<M6ReaderModel, M6Device> {
  static constexpr const char* kDefaultProfile = "m6-s9600";
  static constexpr int32_t kCapacity = 2048;
  explicit M6MemoryReader(const char* profile = kDefaultProfile) : MemoryReader(profile) {}
  uint32_t lastStatus() { return device.lastStatus(); }
};
