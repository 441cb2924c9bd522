// An r42 reader on a pseudo-terminal, opened through the core as an
// application opens a serial reader, for the core tests of reader
// operations.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "kx_core.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

inline constexpr int16_t kPort = 3;
inline constexpr int32_t kHandle = 83;
inline const std::string kIcdevLine = trace_lines::in("icdev", "0x00000053");

// A reader on a pseudo-terminal, opened through the core as an application
// opens a serial reader, closed again at the end.
struct SerialReader {
  R42ReaderModel model;
  std::unique_ptr<R42SerialSim> sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
  int32_t handle = -1;

  SerialReader() {
    if (!sim) return;
    sim->setHandler(model.handler());
    sim->start();
    kx_config_port_name(kPort, sim->slavePath().c_str());
    handle = kx_init(kPort, 115200);
  }
  ~SerialReader() {
    if (handle >= 0) kx_exit(handle);
    if (sim) sim->stop();
  }
  // Request payloads the line carried since the open.
  std::vector<std::vector<uint8_t>> requests() const {
    std::vector<std::vector<uint8_t>> all = sim->requests();
    return std::vector<std::vector<uint8_t>>(all.begin() + long(opened), all.end());
  }
  size_t opened = 0;
};

#define ASSERT_OPEN(reader)                              \
  ASSERT_TRUE((reader).sim) << "no pseudo-terminal";     \
  ASSERT_EQ((reader).handle, kHandle);                   \
  (reader).opened = (reader).sim->requestCount()
