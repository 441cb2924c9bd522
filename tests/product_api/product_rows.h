// Product API calls as wire-table rows (sim/wire_table.h). The row's call
// runs with an R42Device over the row's wire behind handle 80, where the
// core finds it, and with a fresh library directory, whose product trace
// the row checks: the messages in order, GBK as the library writes them.
//
//   Row("no_card", product(qm_read_m1(1, 0), {"无卡"}))
//       .sends("04 33 00 52").answer("03 07")
//       .gives(-2),
//
// Several outputs go to fixed offsets of the row's buffer (c.at(i)), so
// that .out(fields({...})) checks each output, its end and the bytes
// between.
#pragma once

#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "core_api/core_test_support.h"
#include "family_r42/idcard_support.h"
#include "family_r42/r42_device.h"
#include "sim/wire_table.h"

inline constexpr int32_t kProductHandle = 80;
// Where output i of a call with several goes.
inline constexpr size_t kFieldStride = 192;

template <typename Reader>
char* field_at(WireCall<Reader>& c, size_t i) {
  return c.text() + i * kFieldStride;
}

// The expected buffer: each piece at its output's offset, fill between.
inline std::vector<uint8_t> fields(std::initializer_list<std::string> pieces) {
  std::vector<uint8_t> image;
  size_t i = 0;
  for (const std::string& piece : pieces) {
    image.resize(i * kFieldStride, kWireFill);
    image.insert(image.end(), piece.begin(), piece.end());
    ++i;
  }
  return image;
}

// A text output as the row expects it: the text and its NUL.
inline std::string with_nul(const std::string& text) { return text + std::string(1, '\0'); }

// The product trace messages of the day, in order, without the time stamp
// and the source line.
inline std::vector<std::string> product_messages(const TraceDir& dir) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[40];
  std::strftime(name, sizeof name, "LogTrace_%Y-%m-%d.txt", &local);
  std::ifstream in(dir.root() + name, std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  static const std::regex line(
      R"(\[\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d\]  ([\s\S]*?)\n  \[product_trace\.cpp::89\]\n)");
  std::vector<std::string> out;
  for (std::sregex_iterator m(all.begin(), all.end(), line), end; m != end; ++m)
    out.push_back((*m)[1]);
  return out;
}

// `call` with the row's wire behind handle 80; the product trace must hold
// `messages` (UTF-8 here) and nothing else.
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
