// Reader operations of the later slots through the core on a simulated r42
// reader behind a pseudo-terminal: the bytes on the line, the results and
// the trace, the identity card read step by step, a card serial's length
// written whole, slots the family leaves out, and a reader that goes away in
// the middle of a call.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "sim/card_field.h"
#include "sim/id_card_module.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using namespace trace_lines;

constexpr int16_t kPort = 3;
constexpr int32_t kHandle = 83;
const std::string kIcdevLine = in("icdev", "0x00000053");

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
  std::vector<Bytes> requests() const {
    std::vector<Bytes> all = sim->requests();
    return std::vector<Bytes>(all.begin() + long(opened), all.end());
  }
  size_t opened = 0;
};

#define ASSERT_OPEN(reader)                              \
  ASSERT_TRUE((reader).sim) << "no pseudo-terminal";     \
  ASSERT_EQ((reader).handle, kHandle);                   \
  (reader).opened = (reader).sim->requestCount()

TEST(CoreOpsR42, MemoriesByteForByteWithTheirTrace) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  set_trace_level(2);
  const uint8_t data[] = {0xAB, 0xCD};
  EXPECT_EQ(kx_WriteFlash(kHandle, 0x10, 2, data), 0);
  uint8_t back[4] = {};
  EXPECT_EQ(kx_ReadFlash(kHandle, 0x10, 3, back), 0);
  set_trace_level(0);
  EXPECT_EQ(Bytes(back, back + 3), hx("AB CD FF"));
  EXPECT_EQ(reader.requests(), (std::vector<Bytes>{hx("05 09 00 00 00 00 10 00 00 00 02 AB CD"),
                                                   hx("05 08 00 00 00 00 10 00 00 00 03")}));
  EXPECT_EQ(R42SerialSim::stxFrame(reader.requests()[1]),
            hx("02 00 00 00 0B 05 08 00 00 00 00 10 00 00 00 03 17 03"));
  const std::vector<std::string> expected = {
      "function:[len:13]kx_WriteFlash",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[offset[in]][len:2]16",
      "  parameter:[length[in]][len:1]2",
      "  parameter:[data_buffer[in]][len:2]ABCD",
      "  return:[len:1]0",
      "function:[len:12]kx_ReadFlash",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[offset[in]][len:2]16",
      "  parameter:[length[in]][len:1]3",
      "  parameter:[data_buffer[out]][len:3]ABCDFF",
      "  return:[len:1]0",
  };
  EXPECT_EQ(dir.lines(), expected);
}

// The payload of a frame written out by hand, which must itself be well
// formed: 02, length, payload, XOR, 03.
Bytes payload_of(const std::string& frame_text) {
  const Bytes frame = hx(frame_text);
  if (frame.size() < 7) {
    ADD_FAILURE() << "not a frame: " << frame_text;
    return {};
  }
  Bytes payload(frame.begin() + 5, frame.end() - 2);
  EXPECT_EQ(R42SerialSim::stxFrame(payload), frame) << "not a frame: " << frame_text;
  return payload;
}

// One question to the reader: the frame the library sends, the frame the
// reader answers with, the result, and the output lines of the trace.
struct QueryRow {
  std::string name;
  std::function<int16_t()> call;
  std::string request;
  std::string reply;
  int16_t result;
  Lines outputs;
};

TEST(CoreOpsR42, VersionAndCardStatusByteForByte) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  char sver[64] = {};
  const auto card_status = [] { return kx_card_status(kHandle); };
  const auto typeab_status = [] { return kx_typeab_card_status(kHandle); };
  const std::string contact = "02 00 00 00 04 03 00 00 00 05 03";
  const std::string typeab = "02 00 00 00 03 04 46 00 43 03";
  const std::vector<QueryRow> rows = {
      {"kx_getlongver", [&] { return kx_getlongver(kHandle, sver); },
       "02 00 00 00 03 0F 10 00 1E 03", "02 00 00 00 08 00 00 00 56 35 2E 31 32 44 03", 0,
       {out("sver", "V5.12")}},
      // A card in the contact slot, and any other status.
      {"kx_card_status", card_status, contact, "02 00 00 00 03 00 00 00 01 03", 0, {}},
      {"kx_card_status", card_status, contact, "02 00 00 00 03 6A 82 00 E9 03", 1, {}},
      // No card in the field, a type B card, and a success naming no card.
      {"kx_typeab_card_status", typeab_status, typeab, "02 00 00 00 03 03 07 00 05 03", 0, {}},
      {"kx_typeab_card_status", typeab_status, typeab, "02 00 00 00 03 00 02 00 03 03", 2, {}},
      {"kx_typeab_card_status", typeab_status, typeab, "02 00 00 00 03 00 00 00 01 03", -2, {}},
  };
  Lines expected;
  set_trace_level(2);
  for (const QueryRow& row : rows) {
    SCOPED_TRACE(row.name + " answered " + row.reply);
    const Bytes request = payload_of(row.request);
    ASSERT_GE(request.size(), 2u);
    reader.model.scriptReply(uint16_t(request[0] << 8 | request[1]), payload_of(row.reply));
    const size_t before = reader.requests().size();
    const uint64_t raw_before = reader.sim->rawBytesReceived();
    EXPECT_EQ(row.call(), row.result);
    // That one frame and nothing else on the line.
    EXPECT_EQ(reader.sim->rawBytesReceived() - raw_before, hx(row.request).size());
    const std::vector<Bytes> sent = reader.requests();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back(), request);
    expected.push_back(fn(row.name));
    expected.push_back(kIcdevLine);
    expected.insert(expected.end(), row.outputs.begin(), row.outputs.end());
    expected.push_back(ret(std::to_string(row.result)));
  }
  set_trace_level(0);
  EXPECT_STREQ(sver, "V5.12");
  EXPECT_EQ(dir.lines(), expected);
}

// Card A read with the step API: the two reader commands on the line, the
// handle, the record's texts (GBK) and the photo length, as the caller and
// the trace see them.
TEST(CoreOpsR42, IdentityCardStepsOverTheLine) {
  TraceDir dir;
  IdCardModule module;
  SerialReader reader;
  ASSERT_OPEN(reader);
  module.attach(reader.model);
  const uint64_t raw_before = reader.sim->rawBytesReceived();
  set_trace_level(2);
  EXPECT_EQ(kx_find_i_d_2(kHandle), 0);
  EXPECT_EQ(kx_start_i_d(kHandle), kHandle);
  const int32_t id = kHandle;
  struct TextQuery {
    std::string name;
    char* (*query)(int32_t);
    std::string text;
  };
  const std::vector<TextQuery> queries = {
      {"kx_i_d_query_name", kx_i_d_query_name, "\xD5\xC5\xC8\xFD"},
      {"kx_i_d_query_sex", kx_i_d_query_sex, "\xC4\xD0"},
      {"kx_i_d_query_nation", kx_i_d_query_nation, "\xBA\xBA"},
      {"kx_i_d_query_birth", kx_i_d_query_birth, "19800101"},
      {"kx_i_d_query_address", kx_i_d_query_address,
       "\xB2\xE2\xCA\xD4\xCA\xA1\xD1\xF9\xC0\xFD\xCA\xD0\xCA\xBE\xB7\xB6\xC2\xB7"
       "8\xBA\xC5"},
      {"kx_i_d_query_id_number", kx_i_d_query_id_number, "110101198001011232"},
      {"kx_i_d_query_department", kx_i_d_query_department,
       "\xD1\xF9\xC0\xFD\xCA\xD0\xB9\xAB\xB0\xB2\xBE\xD6"},
      {"kx_i_d_query_expire_day", kx_i_d_query_expire_day, "2015010120350101"},
  };
  const std::string idhandle = in("idhandle", "0x00000053");
  Lines expected = {
      fn("kx_find_i_d_2"), kIcdevLine, ret("0"),
      fn("kx_start_i_d"), kIcdevLine, ret("0x00000053"),
  };
  for (const TextQuery& q : queries) {
    const char* text = q.query(id);
    ASSERT_NE(text, nullptr) << q.name;
    EXPECT_EQ(std::string(text), q.text) << q.name;
    expected.insert(expected.end(), {fn(q.name), idhandle, ret(q.text)});
  }
  EXPECT_EQ(kx_i_d_query_photo_len(id), 1024);
  kx_end_i_d(id);
  set_trace_level(0);
  expected.insert(expected.end(), {fn("kx_i_d_query_photo_len"), idhandle, ret("1024"),
                                   fn("kx_end_i_d"), idhandle});
  EXPECT_EQ(dir.lines(), expected);
  // The queries and the end read only what the start stored.
  EXPECT_EQ(reader.sim->rawBytesReceived() - raw_before, 20u);
  EXPECT_EQ(reader.requests(),
            (std::vector<Bytes>{payload_of("02 00 00 00 03 04 21 00 24 03"),
                                payload_of("02 00 00 00 03 04 20 00 25 03")}));
}

// The serial's length goes to the caller's 32-bit value whole, whatever it
// held before, and the trace counts the serial's bytes by it.
TEST(CoreOpsR42, CardSerialLengthWrittenWhole) {
  struct Row {
    Bytes uid;
    int32_t length;
    std::string serial;
  };
  const std::vector<Row> rows = {
      {{0x11, 0x22, 0x33, 0x44}, 4, "44332211"},
      {{0x04, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}, 7, "04A1B2F6E5D4C3"},
  };
  TraceDir dir;
  CardField field;
  SerialReader reader;
  ASSERT_OPEN(reader);
  field.attach(reader.model);
  Lines expected;
  set_trace_level(2);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.serial);
    const int id = field.insert(MifareCard::classic1k(row.uid));
    int32_t length = int32_t(0xA5A5A5A5);
    uint8_t serial[16];
    std::memset(serial, 0xA5, sizeof serial);
    EXPECT_EQ(kx_card_n(kHandle, 0, &length, serial), 0);
    EXPECT_EQ(length, row.length);
    EXPECT_EQ(serial[row.length], 0xA5);
    field.remove(id);
    expected.insert(expected.end(), {fn("kx_card_n"), kIcdevLine, in("_Mode", "0"),
                                     out("SnrLen", std::to_string(row.length)),
                                     out_hex("_Snr", row.serial), ret("0")});
  }
  set_trace_level(0);
  EXPECT_EQ(dir.lines(), expected);
}

// Slots the r42 family leaves to the interface: the default answer of each
// kind, nothing on the line, outputs untouched, and a trace without output
// lines.
TEST(CoreOpsR42, SlotsTheFamilyLeavesOutStayOffTheLine) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  set_trace_level(2);
  uint8_t info[9] = {0xEE};
  uint8_t map[1024] = {};
  uint8_t cardnum = 0xEE;
  uint8_t atqb[64] = {};
  char serial[16] = "untouched";
  uint8_t response[64] = {0xEE};
  const uint8_t apdu[] = {0x00, 0x84, 0x00, 0x00, 0x08};
  const std::vector<std::function<int16_t()>> calls = {
      [&] { return kx_getrcinfo(kHandle, info); },
      [&] { return kx_dispmap_V7(kHandle, map); },
      [&] { return kx_mulrequest_b(kHandle, 0, 0, &cardnum, atqb); },
      [&] { return kx_card_n_number(kHandle, 0x52, serial); },
      [&] { return kx_checkcopy_m1(kHandle, 1); },
      [&] { return kx_rf_poweron(kHandle, 0, response); },
      [&] { return kx_rf_application(kHandle, 0, 5, apdu, response); },
  };
  for (const auto& call : calls) EXPECT_EQ(call(), -1);
  set_trace_level(0);
  EXPECT_TRUE(reader.requests().empty());
  EXPECT_EQ(info[0], 0xEE);
  EXPECT_EQ(cardnum, 0xEE);
  EXPECT_STREQ(serial, "untouched");
  EXPECT_EQ(response[0], 0xEE);
  size_t functions = 0;
  for (const std::string& line : dir.lines()) {
    EXPECT_EQ(line.find("[out]]"), std::string::npos) << line;
    if (line.rfind("function:", 0) == 0) ++functions;
  }
  EXPECT_EQ(functions, calls.size());
  EXPECT_EQ(dir.lines().back(), "  return:[len:2]-1");
}

// The reader hangs up between two chunks of one read: the call fails within
// the exchange's budget, traces no output, and later calls fail at once.
TEST(CoreOpsR42, ReaderGoneMidCallFailsWithinTheBudget) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  R42SerialSim::FaultPlan hang;
  hang.kind = R42SerialSim::Fault::kHangUp;
  hang.nth = 2;
  reader.sim->injectFault(hang);
  set_trace_level(2);
  std::vector<uint8_t> data(400, 0x11);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kx_ReadFlash(kHandle, 0, 400, data.data()), -1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(5000 + 1500));  // a hang guard
  EXPECT_EQ(reader.requests().size(), 2u);
  EXPECT_EQ(data[0], 0xFF);   // the first chunk arrived
  EXPECT_EQ(data[200], 0x11);  // the second did not
  char name[64];
  EXPECT_EQ(kx_ReadDeviceTypeName(kHandle, name), -1);
  set_trace_level(0);
  const std::vector<std::string> expected = {
      "function:[len:12]kx_ReadFlash",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[offset[in]][len:1]0",
      "  parameter:[length[in]][len:3]400",
      "  return:[len:2]-1",
      "function:[len:21]kx_ReadDeviceTypeName",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  return:[len:2]-1",
  };
  EXPECT_EQ(dir.lines(), expected);
}

}  // namespace
