// Shared by the core API tests: a private trace directory, the day's trace
// lines without their time stamps, and a recording device behind a handle.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core_api/generated/core_member_calls.h"
#include "core_api/reader_families.h"
#include "kx_core.h"
#include "platform/settings.h"

// Trace lines written by hand: the label, the count and the value as the
// trace shows them.
namespace trace_lines {

inline std::string line(const std::string& label, const std::string& text) {
  return label + "[len:" + std::to_string(text.size()) + "]" + text;
}
inline std::string fn(const std::string& name) { return line("function:", name); }
inline std::string in(const std::string& name, const std::string& text) {
  return line("  parameter:[" + name + "[in]]", text);
}
inline std::string out(const std::string& name, const std::string& text) {
  return line("  parameter:[" + name + "[out]]", text);
}
inline std::string hex_line(const std::string& label, const std::string& hex) {
  return label + "[len:" + std::to_string(hex.size() / 2) + "]" + hex;
}
inline std::string in_hex(const std::string& name, const std::string& hex) {
  return hex_line("  parameter:[" + name + "[in]]", hex);
}
inline std::string out_hex(const std::string& name, const std::string& hex) {
  return hex_line("  parameter:[" + name + "[out]]", hex);
}
inline std::string ret(const std::string& text) { return line("  return:", text); }
inline std::string repeat(const std::string& hex, size_t times) {
  std::string s;
  for (size_t i = 0; i < times; ++i) s += hex;
  return s;
}

}  // namespace trace_lines

// A fresh library directory for one test, with the trace level restored and
// the directory reset afterwards.
class TraceDir {
 public:
  TraceDir() {
    char pattern[] = "/tmp/kxcore_XXXXXX";
    const char* made = mkdtemp(pattern);
    root_ = std::string(made ? made : "/tmp") + "/";
    CoreConfigure(KX_CFG_DIRECTORY, root_.data());
  }
  ~TraceDir() {
    set_trace_level(0);
    char empty[] = "";
    CoreConfigure(KX_CFG_DIRECTORY, empty);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TraceDir(const TraceDir&) = delete;
  TraceDir& operator=(const TraceDir&) = delete;

  const std::string& root() const { return root_; }
  std::string logDir() const { return root_ + "kxrf32log"; }
  std::string dayFile(const char* word) const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y%m%d", &local);
    return logDir() + "/" + word + date + ".log";
  }
  bool exists(const char* word = "func") const { return std::filesystem::exists(dayFile(word)); }

  // The lines of the day's file with the time stamp checked and removed.
  std::vector<std::string> lines(const char* word = "func") const {
    static const std::regex stamp(R"(^\[time:\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]$)");
    constexpr size_t kStamp = 30;  // "[time:YYYY-MM-DD hh:mm:ss.mmm]"
    std::vector<std::string> out;
    std::ifstream in(dayFile(word));
    std::string line;
    while (std::getline(in, line)) {
      if (line.size() < kStamp || !std::regex_match(line.substr(0, kStamp), stamp)) {
        ADD_FAILURE() << "line without time stamp: " << line.substr(0, 200);
        continue;
      }
      out.push_back(line.substr(kStamp));
    }
    return out;
  }

 private:
  std::string root_;
};

// Puts a recording device behind handle `index` + 80 and empties the entry
// again afterwards.
class InstalledDevice {
 public:
  explicit InstalledDevice(int32_t index = 0) : index_(index), device_(new RecordingDevice) {
    device_manager.installForTest(index_, nullptr, nullptr, device_);
  }
  ~InstalledDevice() { device_manager.close(index_); }
  InstalledDevice(const InstalledDevice&) = delete;
  InstalledDevice& operator=(const InstalledDevice&) = delete;

  RecordingDevice& operator*() const { return *device_; }
  RecordingDevice* operator->() const { return device_; }
  int32_t handle() const { return index_ + 80; }

 private:
  int32_t index_;
  RecordingDevice* device_;
};

// One row of tests/core_api/kx_ops_250_696.txt: an operation as the
// operation tables give it.
struct TranscribedOp {
  int slot = 0;
  std::string name;
  std::string result;  // i16, i32, text, bytes, length or void
  std::string first;   // label of the first argument: icdev or idhandle
  std::vector<std::string> types;  // C types of the arguments after it
};

inline std::vector<TranscribedOp> transcribed_ops() {
  std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/tests/core_api/kx_ops_250_696.txt");
  std::vector<TranscribedOp> ops;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
      ADD_FAILURE() << "bad row: " << line;
      continue;
    }
    TranscribedOp op;
    std::istringstream head(line.substr(0, open));
    head >> op.slot >> op.name >> op.result >> op.first;
    std::istringstream types(line.substr(open + 1, close - open - 1));
    std::string type;
    while (std::getline(types, type, ',')) {
      type.erase(0, type.find_first_not_of(' '));
      if (!type.empty()) op.types.push_back(type);
    }
    ops.push_back(op);
  }
  return ops;
}
