// The built libQM_Reader.so as an application sees it: every name of the
// public core header resolves, nothing else but the product API is
// exported, and a reader opens and answers through the loaded entries.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "kx_core.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

std::set<std::string> header_names() {
  std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/include/kx_core.h");
  const std::regex declaration(R"(^QM_API [A-Za-z0-9_]+ \**([A-Za-z0-9_]+)\()");
  std::set<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, declaration)) names.insert(m[1]);
  }
  return names;
}

std::set<std::string> exported_names() {
  std::set<std::string> names;
  const std::string command = std::string("nm -D --defined-only ") + QM_READER_LIBRARY;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) != 3) continue;
    if (std::string(type) == "A") continue;  // version node
    std::string symbol = name;
    symbol = symbol.substr(0, symbol.find('@'));
    names.insert(symbol);
  }
  pclose(pipe);
  return names;
}

class Library {
 public:
  Library() : handle_(dlopen(QM_READER_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  void* symbol(const std::string& name) const { return dlsym(handle_, name.c_str()); }
  template <typename F>
  F* function(const char* name) const {
    return reinterpret_cast<F*>(symbol(name));
  }

 private:
  void* handle_;
};

TEST(CoreExports, ExactlyTheHeaderNames) {
  const std::set<std::string> header = header_names();
  EXPECT_EQ(header.size(), 271u);
  std::set<std::string> core;
  for (const std::string& name : exported_names()) {
    if (name.rfind("qm_", 0) != 0) core.insert(name);
  }
  EXPECT_EQ(core, header);

  Library library;
  ASSERT_TRUE(library.loaded()) << dlerror();
  for (const std::string& name : header) EXPECT_NE(library.symbol(name), nullptr) << name;
}

TEST(CoreExports, ReaderThroughLoadedEntries) {
  Library library;
  ASSERT_TRUE(library.loaded()) << dlerror();
  auto config_port_name = library.function<decltype(kx_config_port_name)>("kx_config_port_name");
  auto init = library.function<decltype(kx_init)>("kx_init");
  auto getver = library.function<decltype(kx_getver)>("kx_getver");
  auto beep = library.function<decltype(kx_beep)>("kx_beep");
  auto exit = library.function<decltype(kx_exit)>("kx_exit");
  ASSERT_TRUE(config_port_name && init && getver && beep && exit);

  R42ReaderModel model;
  auto sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
  ASSERT_TRUE(sim);
  sim->setHandler(model.handler());
  sim->start();
  config_port_name(3, sim->slavePath().c_str());
  ASSERT_EQ(init(3, 115200), 83);
  char version[256] = {};
  EXPECT_EQ(getver(83, version), 0);
  EXPECT_STREQ(version, "R42 SIM 1.0");
  EXPECT_EQ(beep(83, 10), 0);
  EXPECT_EQ(model.count(0x0101), 1u);
  EXPECT_EQ(exit(83), 0);
  EXPECT_EQ(getver(83, version), -1);
}

}  // namespace
