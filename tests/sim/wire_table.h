// Reader command tests as rows of a table, run in memory.
//
// A row is one call on a fresh device of a reader family (memory_readers.h)
// and everything that call must do on the wire and in its outputs:
//
//   using Row = WireRow<R42MemoryReader>;
//   using Call = WireCall<R42MemoryReader>;
//   const Row kRows[] = {
//       Row("beep_ten_ms", [](Call& c) { return c.d.beep(kIcdev, 10); })
//           .sends("01 01 00 00 64", 5100)
//           .gives(0),
//       Row("version_text", [](Call& c) { return c.d.getver(kIcdev, c.text()); })
//           .sends("0F 10 00", 2000)
//           .gives(0).text("R42 SIM 1.0"),
//       Row("clock_reply_one_byte_short", [](Call& c) { return c.d.gettime(kIcdev, c.bytes()); })
//           .sends("16 01 00").answer("00 00 00 07 E8 01 01 00 00")
//           .gives(-1),
//   };
//   WIRE_TABLE(R42Clock, R42MemoryReader, kRows);
//
// Each row becomes its own ctest case, Suite.Row/<row name>; rows may also
// come from a function returning a std::vector<Row>, for families of rows
// that differ only in data. A call that several rows share is named once:
// `int32_t getver(Call& c)`, or a function returning a Row::Call for its
// arguments, as in Row("read_one_chunk", read_eeprom(0, 192)).
//
// What a row says, in the order it reads:
//   Row(name, call)  name: letters, digits and '_'. call: a lambda over a
//                    WireCall (c.d is the device as the core sees it, a
//                    ReaderDevice; c.reader the whole in-memory reader)
//                    returning the call's result.
//   .profile(p)      the device's profile name (default: the reader's own).
//   .given(f)        f(State&) prepares the reader model before the call.
//   .sends(hex, ms)  the next request the call must send, as spaced hex
//                    ("05 00 00 ..."), bytes, or a braced list of both, and
//                    optionally its time-out. The call must send exactly the
//                    listed requests, in order: a row without sends()
//                    expects no I/O at all.
//   .capacity(n)     the reply capacity that request must ask for, when it
//                    is not the family's default (Reader::kCapacity).
//   .answer(hex)     the reply to that request instead of the model's (the
//                    model never sees the request): a status word, a short
//                    or odd reply. .fails() makes that exchange fail (-1),
//                    as a silent reader does.
//   .gives(r)        the expected result (required).
//   .out(hex)        the output buffer must start with these bytes,
//   .text(s)         or with this text and its NUL; every byte after them
//                    must be untouched. Without out() or text() the whole
//                    buffer must be untouched: a failed call writes nothing.
//   .status(w)       the device keeps w as the last status word.
//   .then(f)         f(const State&) checks the model after the call.
//
// For every row the runner also checks that each exchange asked for its
// reply capacity (Reader::kCapacity unless the row says another) and that
// the port was purged before each that sends (.sends("") only listens).
//
// The output buffer (c.bytes(), c.text()) holds kWireOutSize bytes, each
// kWireFill to begin with. For a call with several small outputs, write
// them into the buffer with c.print("%08X %08X", high, low) and expect the
// text.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "connection/reader_device.h"
#include "sim/memory_readers.h"
#include "sim/r42_reader_model.h"

inline constexpr size_t kWireOutSize = 8192;
inline constexpr uint8_t kWireFill = 0xCC;

// A wire image as rows write it: spaced hex, bytes, or a list of pieces.
struct WireBytes {
  WireBytes(const char* hex) : bytes(hx(hex)) {}
  WireBytes(const std::string& hex) : bytes(hx(hex)) {}
  WireBytes(std::vector<uint8_t> raw) : bytes(std::move(raw)) {}
  WireBytes(std::initializer_list<WireBytes> pieces) {
    for (const WireBytes& piece : pieces)
      bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
  }
  std::vector<uint8_t> bytes;
};

// "05 00 00" for failure messages; long images are shown whole.
inline std::string spaced_hex(const uint8_t* data, size_t size) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
    out += byte;
  }
  return out;
}
inline std::string spaced_hex(const std::vector<uint8_t>& data) {
  return spaced_hex(data.data(), data.size());
}

// Test data that differs from byte to byte: seed, seed + 7, seed + 14, ...
inline std::vector<uint8_t> wire_pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(seed + i * 7);
  return out;
}
// Bytes at..at+n-1 of `bytes`.
inline std::vector<uint8_t> wire_slice(const std::vector<uint8_t>& bytes, size_t at, size_t n) {
  return std::vector<uint8_t>(bytes.begin() + long(at), bytes.begin() + long(at + n));
}

// The output buffer starts with `bytes`, or with `text` and its NUL (when
// either is given), and every byte after them is still kWireFill.
inline void wire_check_output(const std::vector<uint8_t>& out, const std::vector<uint8_t>* bytes,
                              const std::string* text) {
  size_t written = 0;
  if (bytes) {
    written = bytes->size();
    EXPECT_EQ(spaced_hex(out.data(), written), spaced_hex(*bytes)) << "output bytes";
  } else if (text) {
    const size_t length = strnlen(reinterpret_cast<const char*>(out.data()), out.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), length), *text)
        << "output text";
    written = text->size() + 1;
  }
  for (size_t i = written; i < out.size(); ++i) {
    if (out[i] != kWireFill) {
      ADD_FAILURE() << "output byte " << i << " written ("
                    << (bytes || text ? "past the output" : "none expected") << ")";
      break;
    }
  }
}

template <typename Reader>
struct WireCall {
  ReaderDevice& d;
  Reader& reader;
  std::vector<uint8_t> out = std::vector<uint8_t>(kWireOutSize, kWireFill);

  uint8_t* bytes() { return out.data(); }
  char* text() { return reinterpret_cast<char*>(out.data()); }
  __attribute__((format(printf, 2, 3))) void print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text(), out.size(), format, args);
    va_end(args);
  }
};

template <typename Reader>
class WireRow {
 public:
  using State = typename Reader::State;
  using Call = std::function<int32_t(WireCall<Reader>&)>;

  WireRow(std::string name, Call call) : name_(std::move(name)), call_(std::move(call)) {}

  // Calls given a null where they need a buffer or text: each row,
  // "null_<name>", gives -1 with no I/O and nothing written.
  struct NamedCall {
    const char* name;
    Call call;
  };
  static std::vector<WireRow> null_rows(std::initializer_list<NamedCall> calls) {
    std::vector<WireRow> rows;
    for (const NamedCall& call : calls)
      rows.push_back(WireRow(std::string("null_") + call.name, call.call).gives(-1));
    return rows;
  }

  WireRow& profile(std::string name) {
    profile_ = std::move(name);
    return *this;
  }
  WireRow& given(std::function<void(State&)> prepare) {
    given_ = std::move(prepare);
    return *this;
  }
  WireRow& sends(WireBytes request, std::optional<int32_t> timeout_ms = std::nullopt) {
    exchanges_.push_back({std::move(request.bytes), timeout_ms, std::nullopt, Reply::kModel, {}});
    return *this;
  }
  WireRow& capacity(int32_t bytes) {
    last().capacity = bytes;
    return *this;
  }
  WireRow& answer(WireBytes reply) {
    last().reply = Reply::kScripted;
    last().reply_bytes = std::move(reply.bytes);
    return *this;
  }
  WireRow& fails() {
    last().reply = Reply::kFailure;
    return *this;
  }
  WireRow& gives(int32_t result) {
    result_ = result;
    return *this;
  }
  WireRow& out(WireBytes bytes) {
    output_ = Output::kBytes;
    out_bytes_ = std::move(bytes.bytes);
    return *this;
  }
  WireRow& text(std::string text) {
    output_ = Output::kText;
    out_text_ = std::move(text);
    return *this;
  }
  WireRow& status(uint32_t word) {
    status_ = word;
    return *this;
  }
  WireRow& then(std::function<void(const State&)> check) {
    then_ = std::move(check);
    return *this;
  }

  const std::string& name() const { return name_; }
  friend void PrintTo(const WireRow& row, std::ostream* os) { *os << row.name_; }

  void run() const {
    ASSERT_TRUE(result_.has_value()) << "the row gives no result";
    Reader reader(profile_ ? profile_->c_str() : Reader::kDefaultProfile);
    if (given_) reader.edit(given_);
    for (size_t i = 0; i < exchanges_.size(); ++i) {
      if (exchanges_[i].reply == Reply::kScripted)
        reader.wire.scriptReply(exchanges_[i].reply_bytes, int(i + 1));
      else if (exchanges_[i].reply == Reply::kFailure)
        reader.wire.scriptFailure(int(i + 1));
    }
    WireCall<Reader> call{reader.device, reader};
    EXPECT_EQ(call_(call), *result_) << "result";
    checkExchanges(reader);
    checkOutput(call.out);
    if (status_) {
      EXPECT_EQ(reader.lastStatus(), *status_) << "last status word";
    }
    if (then_) then_(reader.state());
  }

 private:
  enum class Reply { kModel, kScripted, kFailure };
  enum class Output { kUntouched, kBytes, kText };
  struct Exchange {
    std::vector<uint8_t> request;
    std::optional<int32_t> timeout_ms;
    std::optional<int32_t> capacity;
    Reply reply;
    std::vector<uint8_t> reply_bytes;
  };

  Exchange& last() {
    if (exchanges_.empty())
      throw std::logic_error("capacity(), answer() or fails() before any sends()");
    return exchanges_.back();
  }

  void checkExchanges(const Reader& reader) const {
    const auto& calls = reader.wire.calls;
    std::vector<std::string> sent, expected;
    for (const auto& c : calls) sent.push_back(spaced_hex(c.request));
    for (const auto& e : exchanges_) expected.push_back(spaced_hex(e.request));
    EXPECT_EQ(sent, expected) << "requests sent";
    int sending = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
      const int32_t capacity = i < exchanges_.size() && exchanges_[i].capacity
                                   ? *exchanges_[i].capacity
                                   : Reader::kCapacity;
      EXPECT_EQ(calls[i].capacity, capacity) << "reply capacity of exchange " << i + 1;
      // An exchange that only listens must not purge the reply it waits for.
      if (!calls[i].request.empty()) ++sending;
      EXPECT_EQ(calls[i].purges_before, sending) << "purge before exchange " << i + 1;
      if (i < exchanges_.size() && exchanges_[i].timeout_ms) {
        EXPECT_EQ(calls[i].timeout_ms, *exchanges_[i].timeout_ms)
            << "time-out of exchange " << i + 1;
      }
    }
    EXPECT_EQ(reader.port.purges, sending) << "purges without an exchange";
  }

  void checkOutput(const std::vector<uint8_t>& out) const {
    wire_check_output(out, output_ == Output::kBytes ? &out_bytes_ : nullptr,
                      output_ == Output::kText ? &out_text_ : nullptr);
  }

  std::string name_;
  Call call_;
  std::optional<std::string> profile_;
  std::function<void(State&)> given_;
  std::vector<Exchange> exchanges_;
  std::optional<int32_t> result_;
  Output output_ = Output::kUntouched;
  std::vector<uint8_t> out_bytes_;
  std::string out_text_;
  std::optional<uint32_t> status_;
  std::function<void(const State&)> then_;
};

template <typename Reader>
class WireTableTest : public ::testing::TestWithParam<WireRow<Reader>> {};

template <typename Reader>
std::string wire_row_name(const ::testing::TestParamInfo<WireRow<Reader>>& info) {
  return info.param.name();
}

// One parameterized suite named `suite` whose cases are the rows of `rows`
// (an array or a std::vector of WireRow<Reader>).
#define WIRE_TABLE(suite, Reader, rows)          \
  class suite : public WireTableTest<Reader> {}; \
  TEST_P(suite, Row) { GetParam().run(); }       \
  INSTANTIATE_TEST_SUITE_P(, suite, ::testing::ValuesIn(rows), wire_row_name<Reader>)

// Rows for a module that speaks a byte stream of its own (the scanner
// module), in WireRow's syntax: Row(name, call), .sends(hex), .answer(hex)
// or .fails() for that write, .gives(r), .out(hex) or .text(s). A fresh
// Reader per row records each write and answers it with the row's answer
// (none without one): no model, no purge, no capacity. The call must make
// exactly the listed writes. Reader: script(i, bytes) and failWrite(i) for
// the i-th write (0-based), sent() the writes made.
template <typename Reader>
struct StreamCall {
  Reader& reader;
  std::vector<uint8_t> out = std::vector<uint8_t>(kWireOutSize, kWireFill);

  uint8_t* bytes() { return out.data(); }
  char* text() { return reinterpret_cast<char*>(out.data()); }
};

template <typename Reader>
class StreamRow {
 public:
  using Call = std::function<int32_t(StreamCall<Reader>&)>;

  StreamRow(std::string name, Call call) : name_(std::move(name)), call_(std::move(call)) {}

  StreamRow& sends(WireBytes request) { writes_.push_back({request.bytes}); return *this; }
  StreamRow& answer(WireBytes reply) { last().reply = reply.bytes; return *this; }
  StreamRow& fails() { last().fails = true; return *this; }
  StreamRow& gives(int32_t result) { result_ = result; return *this; }
  StreamRow& out(WireBytes bytes) { out_bytes_ = bytes.bytes; return *this; }
  StreamRow& text(std::string text) { out_text_ = std::move(text); return *this; }

  const std::string& name() const { return name_; }
  friend void PrintTo(const StreamRow& row, std::ostream* os) { *os << row.name_; }

  void run() const {
    ASSERT_TRUE(result_.has_value()) << "the row gives no result";
    Reader reader;
    for (size_t i = 0; i < writes_.size(); ++i) {
      if (writes_[i].reply) reader.script(i, *writes_[i].reply);
      if (writes_[i].fails) reader.failWrite(i);
    }
    StreamCall<Reader> call{reader};
    EXPECT_EQ(call_(call), *result_) << "result";
    std::vector<std::string> sent, expected;
    for (const auto& bytes : reader.sent()) sent.push_back(spaced_hex(bytes));
    for (const auto& write : writes_) expected.push_back(spaced_hex(write.request));
    EXPECT_EQ(sent, expected) << "writes";
    wire_check_output(call.out, out_bytes_ ? &*out_bytes_ : nullptr,
                      out_text_ ? &*out_text_ : nullptr);
  }

 private:
  struct Write {
    std::vector<uint8_t> request;
    std::optional<std::vector<uint8_t>> reply = std::nullopt;
    bool fails = false;
  };
  Write& last() {
    if (writes_.empty()) throw std::logic_error("answer() or fails() before any sends()");
    return writes_.back();
  }

  std::string name_;
  Call call_;
  std::vector<Write> writes_;
  std::optional<int32_t> result_;
  std::optional<std::vector<uint8_t>> out_bytes_;
  std::optional<std::string> out_text_;
};

#define STREAM_TABLE(suite, Reader, rows)                                        \
  class suite : public ::testing::TestWithParam<StreamRow<Reader>> {};           \
  TEST_P(suite, Row) { GetParam().run(); }                                       \
  INSTANTIATE_TEST_SUITE_P(, suite, ::testing::ValuesIn(rows),                   \
                           [](const ::testing::TestParamInfo<StreamRow<Reader>>& \
                                  info) { return info.param.name(); })
