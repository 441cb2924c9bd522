// The built libQM_Reader.so as an application sees it: it exports the names
// of the public core and product headers and nothing else, each resolves,
// and a reader opens and answers through the loaded entries.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "connection/generated/device_slot_info.h"
#include "core_test_support.h"
#include "kx_core.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

// One declaration of the public core header: result type, name and the
// parameters, each as its C type and name ("unsigned char *" spelt
// "unsigned char*").
struct Declaration {
  std::string result;
  std::vector<std::pair<std::string, std::string>> params;
};

std::string squeeze(std::string type) {
  type = std::regex_replace(type, std::regex(R"(\s*\*)"), "*");
  type = std::regex_replace(type, std::regex(R"(^\s+|\s+$)"), "");
  return type;
}

std::map<std::string, Declaration> header_declarations(const char* header = "kx_core.h") {
  std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/include/" + header);
  const std::regex declaration(R"(^QM_API ([^(]*[ *])([A-Za-z0-9_]+)\((.*)\);$)");
  const std::regex param(R"(^\s*(.*[\s*])([A-Za-z0-9_]+)\s*$)");
  std::map<std::string, Declaration> out;
  std::string line, text;
  while (std::getline(in, line)) {
    // A declaration may go on over further lines up to its ");".
    if (line.rfind("QM_API ", 0) == 0) text.clear();
    if (line.rfind("QM_API ", 0) != 0 && text.empty()) continue;
    text += (text.empty() ? "" : " ") + line;
    if (line.find(");") == std::string::npos) continue;
    std::smatch m;
    const std::string whole = std::move(text);
    text.clear();
    if (!std::regex_match(whole, m, declaration)) {
      ADD_FAILURE() << "unread declaration: " << whole;
      continue;
    }
    Declaration d;
    d.result = squeeze(m[1]);
    std::istringstream params(m[3].str());
    std::string p;
    while (std::getline(params, p, ',')) {
      std::smatch pm;
      if (std::regex_match(p, pm, param)) d.params.push_back({squeeze(pm[1]), pm[2]});
    }
    out[m[2]] = d;
  }
  return out;
}

std::set<std::string> header_names() {
  std::set<std::string> names;
  for (const auto& [name, declaration] : header_declarations()) names.insert(name);
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
  EXPECT_EQ(header.size(), 719u);
  std::set<std::string> core;
  for (const std::string& name : exported_names()) {
    if (name.rfind("qm_", 0) != 0) core.insert(name);
  }
  EXPECT_EQ(core, header);

  Library library;
  ASSERT_TRUE(library.loaded()) << dlerror();
  for (const std::string& name : header) EXPECT_NE(library.symbol(name), nullptr) << name;
}

// The product names listed by hand, those of the product header and the
// exported qm_ names are the same, and each resolves.
TEST(ProductExports, TheListedNamesAreDeclaredAndExported) {
  std::set<std::string> listed, declared, exported;
  std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/tests/product_api/qm_exports.txt");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("qm_", 0) == 0) listed.insert(line);
  EXPECT_EQ(listed.size(), 191u);
  for (const auto& [name, declaration] : header_declarations("qm_reader.h")) declared.insert(name);
  EXPECT_EQ(declared, listed);
  for (const std::string& name : exported_names())
    if (name.rfind("qm_", 0) == 0) exported.insert(name);
  EXPECT_EQ(exported, listed);
  Library library;
  ASSERT_TRUE(library.loaded()) << dlerror();
  for (const std::string& name : listed) EXPECT_NE(library.symbol(name), nullptr) << name;
}

// The operations written down from the operation tables against the slot
// table, the public header and the built library.
TEST(CoreExports, TranscribedOperationsAreDeclaredAndExported) {
  const std::vector<TranscribedOp> ops = transcribed_ops();
  ASSERT_EQ(ops.size(), 440u);
  const std::map<std::string, Declaration> header = header_declarations();
  const std::map<DeviceResultKind, std::string> kinds = {
      {DeviceResultKind::kI16, "i16"},           {DeviceResultKind::kI32, "i32"},
      {DeviceResultKind::kTextPointer, "text"},  {DeviceResultKind::kBytesPointer, "bytes"},
      {DeviceResultKind::kLength, "length"},     {DeviceResultKind::kVoid, "void"}};
  const std::map<std::string, std::string> c_results = {
      {"i16", "int16_t"}, {"i32", "int32_t"}, {"text", "char*"},
      {"bytes", "unsigned char*"}, {"length", "int32_t"}, {"void", "void"}};
  Library library;
  ASSERT_TRUE(library.loaded()) << dlerror();
  std::set<int> slots;
  for (const TranscribedOp& op : ops) {
    SCOPED_TRACE(op.name);
    EXPECT_TRUE(slots.insert(op.slot).second);
    ASSERT_TRUE(op.slot >= 250 && op.slot < kDeviceSlotCount);
    const DeviceSlotInfo& info = kDeviceSlots[op.slot];
    const bool bare = info.core == DeviceCoreKind::kTracedBare;
    EXPECT_TRUE(bare || info.core == DeviceCoreKind::kTraced);
    EXPECT_EQ(op.name, (bare ? "" : "kx_") + std::string(info.name));
    EXPECT_EQ(op.types.size() + 1, static_cast<size_t>(info.arg_count));
    ASSERT_TRUE(kinds.count(info.result));
    EXPECT_EQ(op.result, kinds.at(info.result));

    const auto declared = header.find(op.name);
    ASSERT_NE(declared, header.end());
    EXPECT_EQ(declared->second.result, c_results.at(op.result));
    ASSERT_EQ(declared->second.params.size(), op.types.size() + 1);
    EXPECT_EQ(declared->second.params[0].first, "int32_t");
    EXPECT_EQ(declared->second.params[0].second, op.first);
    for (size_t i = 0; i < op.types.size(); ++i) {
      EXPECT_EQ(declared->second.params[i + 1].first, op.types[i]) << "argument " << i + 1;
    }
    EXPECT_NE(library.symbol(op.name), nullptr);
  }
  EXPECT_EQ(slots.size(), 440u);
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
