// Shared pieces of the device-manager tests: port names that are cleared
// afterwards and an r42 reader simulated on a pseudo-terminal, with the
// process probe (descriptor counts, the hang guards' stopwatch) at hand.
// Managers are built over the core's own device makers, so both reader
// families are found as in the library.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "connection/device_manager.h"
#include "connection/reader_device.h"
#include "core_api/reader_families.h"
#include "platform/settings.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"
#include "sim/process_probe.h"

// Port names are process-wide: every test names the serial ports it opens
// and leaves no name behind.
class PortNames {
 public:
  PortNames() = default;
  PortNames(const PortNames&) = delete;
  PortNames& operator=(const PortNames&) = delete;
  ~PortNames() {
    for (int port : ports_) set_port_name(port, "");
  }
  void set(DeviceManager& manager, int port, const std::string& name) {
    manager.configPortName(port, name.c_str());
    ports_.push_back(port);
  }

 private:
  std::vector<int> ports_;
};

// An r42 reader on a pseudo-terminal, answering from a reader model.
struct R42OnPty {
  explicit R42OnPty(const std::string& version = "R42 SIM 1.0")
      : sim(R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx)) {
    model.with([&](R42ReaderModel::State& state) { state.version = version; });
    if (sim) {
      sim->setHandler(model.handler());
      sim->start();
    }
  }
  ~R42OnPty() {
    if (sim) sim->stop();
  }
  std::string path() const { return sim ? sim->slavePath() : std::string("/nonexistent"); }

  R42ReaderModel model;
  std::unique_ptr<R42SerialSim> sim;
};

inline std::string device_name(ReaderDevice* device) {
  char name[64] = {};
  if (device == nullptr || device->getname(80, name) != 0) return "";
  return name;
}

inline std::string device_version(ReaderDevice* device) {
  char version[256] = {};
  if (device == nullptr || device->getver(80, version) != 0) return "";
  return version;
}
