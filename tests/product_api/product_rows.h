// Product API calls as wire-table rows (sim/wire_table.h): the call runs
// with an R42Device over the row's wire behind handle 80 and with a fresh
// library directory, whose product trace must hold the row's messages (UTF-8
// here, GBK in the file) and nothing else. Output i of a call with several
// goes to field_at(c, i), so that .out(fields({...})) checks each output,
// its end and the bytes between.
#pragma once

#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "core_api/core_test_support.h"
#include "family_r42/idcard_support.h"
#include "family_r42/r42_device.h"
#include "sim/wire_table.h"

inline constexpr int32_t kProductHandle = 80;
inline constexpr size_t kFieldStride = 192;

template <typename Reader>
char* field_at(WireCall<Reader>& c, size_t i) {
  return c.text() + i * kFieldStride;
}

// The expected buffer: each piece at its output's offset, fill between.
inline std::vector<uint8_t> fields(const std::vector<std::string>& pieces) {
  std::vector<uint8_t> image;
  size_t i = 0;
  for (const std::string& piece : pieces) {
    image.resize(i++ * kFieldStride, kWireFill);
    image.insert(image.end(), piece.begin(), piece.end());
  }
  return image;
}

inline std::string with_nul(const std::string& text) { return text + std::string(1, '\0'); }

// The product trace file of the day in `dir`, and its messages in order
// (each line's time stamp and source checked and dropped).
inline std::string product_trace_file(const TraceDir& dir) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[40];
  std::strftime(name, sizeof name, "LogTrace_%Y-%m-%d.txt", &local);
  return dir.root() + name;
}
inline std::vector<std::string> product_messages(const TraceDir& dir) {
  std::ifstream in(product_trace_file(dir), std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  static const std::regex line(
      R"(\[\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d\]  ([\s\S]*?)\n  \[product_trace\.cpp::89\]\n)");
  std::vector<std::string> out;
  for (std::sregex_iterator m(all.begin(), all.end(), line), end; m != end; ++m)
    out.push_back((*m)[1]);
  return out;
}

template <typename Reader>
typename WireRow<Reader>::Call product(std::function<int32_t(WireCall<Reader>&)> call,
                                       std::vector<std::string> messages = {}) {
  return [call, messages](WireCall<Reader>& c) {
    TraceDir dir;
    device_manager.installForTest(kProductHandle - 80, nullptr, nullptr,
                                  new R42Device(Reader::kDefaultProfile, &c.reader.port,
                                                &c.reader.wire));
    const int32_t result = call(c);
    device_manager.close(kProductHandle - 80);
    std::vector<std::string> expected;
    for (const std::string& m : messages) expected.push_back(gbk(m));
    EXPECT_EQ(product_messages(dir), expected) << "product trace";
    return result;
  };
}
