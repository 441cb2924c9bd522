// Calls from several threads at once: one lock orders them, each call's
// trace lines stay together, configuration changes never tear, and a
// transport hook may call back into the library on the same thread.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "connection/port_provider.h"
#include "core_test_support.h"
#include "memory_transport.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

// Every call's lines form one block: a function line, parameter lines, and
// a return line (kx_config_port_name has none) before the next call starts.
void expect_contiguous(const std::vector<std::string>& lines) {
  bool open = false;
  std::string name;
  for (const std::string& line : lines) {
    if (line.rfind("function:", 0) == 0) {
      EXPECT_FALSE(open) << name << " interrupted by " << line;
      name = line;
      open = name.find("kx_config_port_name") == std::string::npos;
    } else if (line.rfind("  return:", 0) == 0) {
      EXPECT_TRUE(open) << "stray " << line;
      open = false;
    } else {
      EXPECT_EQ(line.rfind("  parameter:[", 0), 0u) << line;
    }
  }
  EXPECT_FALSE(open) << name;
}

TEST(CoreConcurrency, ThreadsShareTheLockAndKeepTheirLines) {
  TraceDir first_dir;
  TraceDir second_dir;
  CoreConfigure(KX_CFG_DIRECTORY, const_cast<char*>(first_dir.root().c_str()));

  R42ReaderModel model;
  auto sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
  ASSERT_TRUE(sim);
  sim->setHandler(model.handler());
  sim->start();
  kx_config_port_name(0, sim->slavePath().c_str());
  kx_config_port_name(1, "/nonexistent/core-concurrency-tty");
  MemoryTransportReader memory;
  PortProvider provider = memory.provider();
  CoreConfigure(KX_CFG_CALLBACKS, &provider);
  ASSERT_EQ(kx_init(0, 115200), 80);
  ASSERT_EQ(kx_init(400, 115200), 480);
  set_trace_level(2);

  std::atomic<int> failures{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      const int32_t handle = t % 2 == 0 ? 80 : 480;
      for (int i = 0; i < 40; ++i) {
        char version[256];
        uint8_t clock[7];
        int16_t r = 0;
        switch ((i + t) % 3) {
          case 0: r = kx_getver(handle, version); break;
          case 1: r = kx_beep(handle, 1); break;
          default: r = kx_gettime(handle, clock); break;
        }
        if (r != 0) ++failures;
      }
    });
  }
  std::thread configurer([&] {
    PortProvider none{};
    for (int i = 0; !stop; ++i) {
      const std::string& root = i % 2 ? second_dir.root() : first_dir.root();
      CoreConfigure(KX_CFG_DIRECTORY, const_cast<char*>(root.c_str()));
      CoreConfigure(KX_CFG_CALLBACKS, i % 2 ? &none : &provider);
      kx_config_port_name(1, "/nonexistent/core-concurrency-tty");
      std::this_thread::yield();
    }
  });
  std::thread opener([&] {
    while (!stop) {
      EXPECT_EQ(kx_init(1, 115200), -1);
      EXPECT_EQ(kx_exit(81), 0);
    }
  });
  for (auto& c : callers) c.join();
  stop = true;
  configurer.join();
  opener.join();
  set_trace_level(0);

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(kx_exit(80), 0);
  EXPECT_EQ(kx_exit(480), 0);
  set_port_provider(nullptr);
  const auto first = first_dir.lines();
  const auto second = second_dir.lines();
  EXPECT_GT(first.size() + second.size(), 160u * 3);
  expect_contiguous(first);
  expect_contiguous(second);
}

TEST(CoreConcurrency, TransportHookMayCallBackIn) {
  MemoryTransportReader memory;
  std::atomic<int> inner{0};
  memory.on_write = [&] {
    const uint8_t bytes[2] = {0xAB, 0xCD};
    char text[5];
    if (bytes_to_hex_text(bytes, text, 2) == 0 && std::string(text) == "ABCD") ++inner;
  };
  PortProvider provider = memory.provider();
  CoreConfigure(KX_CFG_CALLBACKS, &provider);
  ASSERT_EQ(kx_init(401, 115200), 481);
  const int during_open = inner.load();
  char version[256];
  EXPECT_EQ(kx_getver(481, version), 0);
  EXPECT_GT(inner.load(), during_open);
  EXPECT_EQ(kx_exit(481), 0);
  set_port_provider(nullptr);
}

}  // namespace
