// Processor cards through an m6 reader: type A activation and card frames,
// the host's block protocol on the wire, DESFire, contact cards with host
// T=1 and the follow-up, and the length checks of the long exchanges. Rows
// run over the in-memory reader with canned replies; the simulated cards
// serve what spans several exchanges.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "connection/hid_stx_protocol.h"
#include "connection/m6_port_helpers.h"
#include "family_m6/m6_device.h"
#include "sim/desfire_card.h"
#include "sim/iso14443_4_picc.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using State = M6ReaderModel::State;
using Bytes = std::vector<uint8_t>;

const Bytes kChallenge = hx("00 84 00 00 08");
const WireBytes kEight = "01 02 03 04 05 06 07 08";

// After a reset (ATS 02 00: the next I-block is numbered 0), the answer's
// 8-bit length and bytes into the output.
Row::Call command(const Bytes& apdu) {
  return [apdu](Call& c) {
    uint8_t ats[256], length = 0;
    const int16_t reset = c.d.pro_reset(kIcdev, &length, ats);
    return reset != 0 ? int32_t(reset)
                      : c.d.pro_commandlink(kIcdev, uint8_t(apdu.size()), apdu.data(), c.bytes(),
                                            c.bytes() + 1, 7, 64);
  };
}

const Row kTypeA[] = {
    Row("reset_keeps_the_ats_timing",
        [](Call& c) {
          const int16_t r = c.d.pro_reset(kIcdev, c.bytes(), c.bytes() + 1);
          return r != 0 ? r : 100 + c.reader.device.fwtClass();
        })
        .sends("85 50").answer("00 05 78 80 70 02")
        .gives(106).out("05 05 78 80 70 02"),
    Row("ats_over_255_bytes", [](Call& c) { return c.d.pro_reset(kIcdev, c.bytes(), c.bytes() + 1); })
        .sends("85 50").answer({"00", Bytes(256, 0x02)})
        .gives(-1),
    Row("sp0_reader_resets_with_p", [](Call& c) {
          c.d.init(0, 0);
          return c.d.pro_reset(kIcdev, c.bytes(), c.bytes() + 1);
        })
        .sends("80").sends("FC").sends("85 70").answer("00 02 00")
        .gives(0).out("02 02 00"),
    Row("long_reset_on_a_ub_reader", [](Call& c) {
          c.d.init(0, 0);
          return c.d.pro_resetInt(kIcdev, c.bytes(), c.bytes() + 1);
        })
        .given([](State& s) { s.version[0] = 'U', s.version[1] = 'B'; })
        .sends("80").sends("FC").sends("85 80").answer("00 02 00")
        .gives(0).out("02 02 00"),
    // The main road: the frame goes alone, the answer comes on a receive of
    // (7 + 20) x 250 ms.
    Row("challenge", command(kChallenge))
        .sends("85 50").answer("00 02 00")
        .sends("86 07 07 0A 00 00 84 00 00 08", 5000).capacity(0)
        .sends("", 6750).answer({"00 0C 0A 00", kEight, "90 00"})
        .gives(0).out({"0A", kEight, "90 00"}),
    Row("answer_over_255_bytes", command(kChallenge))
        .sends("85 50").answer("00 02 00")
        .sends("86 07 07 0A 00 00 84 00 00 08").capacity(0)
        .sends("").answer({"00 CA 1A 00", Bytes(200, 0x11)})
        .sends("86 07 02 AB 00").capacity(0)
        .sends("").answer({"00 3A 0B 00", Bytes(56, 0x22)})
        .gives(-1),
    Row("deselect", [](Call& c) { return c.d.pro_halt(kIcdev); })
        .sends("86 04 02 CA 00").capacity(0)
        .sends("", 6000).answer("00 02 CA 00")
        .gives(0),
    Row("second_receive_after_a_spoiled_reply",
        [](Call& c) { return c.d.pro_commandsource(kIcdev, 2, hx("0A 00").data(), c.bytes(),
                                                   c.bytes() + 1, 7); })
        .sends("86 07 02 0A 00").capacity(0)
        .sends("").fails()
        .sends("").answer("00 02 0A 00")
        .gives(0).out("02 0A 00"),
    Row("baud_to_card_and_reader", [](Call& c) { return c.d.mfdes_baud(kIcdev, 2, 3); })
        .sends("86 07 03 D0 11 0A").capacity(0)
        .sends("").answer("00 01 D0")
        .sends("FC 02").answer("00")
        .gives(0),
    Row("baud_empty_card_answer", [](Call& c) { return c.d.mfdes_baud(kIcdev, 0, 1); })
        .sends("86 07 03 D0 11 00").capacity(0)
        .sends("").answer("00 00")
        .gives(-1),
};
WIRE_TABLE(M6TypeA, M6MemoryReader, kTypeA);

// DESFire through the uncut block protocol: with RndA 02C307BCA6F13369, D1
// is 00 00 00 0B ..., whose byte 4 would read as a case-4 Lc.
TEST(M6TypeADesfire, SecondFrameGoesWhole) {
  auto card = std::make_shared<DesfireCard>(Bytes(8, 0), hx("10 20 30 40 50 60 70 80"));
  M6MemoryReader reader;
  reader.edit([&](State& s) {
    s.attachments.push_back(std::make_shared<M6PiccFront>(std::make_shared<Iso14443_4Picc>(card)));
  });
  ReaderDevice& d = reader.device;
  uint8_t ats[256], length = 0, rnd_b[8];
  ASSERT_EQ(d.pro_reset(kIcdev, &length, ats), 0);
  const Bytes key(8, 0), rnd_a = hx("02 C3 07 BC A6 F1 33 69");
  EXPECT_EQ(d.mfdes_auth(kIcdev, 0, 8, key.data(), rnd_a.data(), rnd_b), 0);
  ASSERT_EQ(card->log.size(), 2u);
  EXPECT_EQ(card->log[1].size(), 17u);
}

// --- contact cards ---

const Row kContact[] = {
    Row("slot_17_is_slot_5", [](Call& c) {
          c.d.setcpu(kIcdev, 17);
          return c.d.cpureset(kIcdev, c.bytes(), c.bytes() + 1);
        })
        .sends("83 11").answer("00")
        .sends("7E").answer("00 04 3B 02 14 50")
        .gives(0).out("04 3B 02 14 50"),
    // The ATR names T=1: the host frames the APDU as a T=1 block.
    Row("t1_card_gets_blocks", [](Call& c) {
          uint8_t atr[256], length = 0;
          c.d.cpureset(kIcdev, &length, atr);
          return c.d.cpuapdu(kIcdev, 5, kChallenge.data(), c.bytes(), c.bytes() + 1);
        })
        .sends("7E").answer("00 07 3B 80 81 31 FE 45 8B")
        .sends("7D 09 00 00 05 00 84 00 00 08 89", 60000)
        .answer({"00 0E 00 00 0A", kEight, "90 00 92"})
        .gives(0).out({"0A", kEight, "90 00"}),
    // A failure on the long form's T=1 road leaves no length behind.
    Row("t1_ext_failure_clears_the_length", [](Call& c) {
          uint8_t atr[256], length = 0;
          c.d.cpureset(kIcdev, &length, atr);
          int16_t rlen = 0x3333;
          const int16_t r = c.d.cpuapduEXT(kIcdev, 5, kChallenge.data(), &rlen, c.bytes());
          return rlen == 0 ? r : int32_t(rlen);
        })
        .sends("7E").answer("00 07 3B 80 81 31 FE 45 8B")
        .sends("F8 09 00 00 05 00 84 00 00 08 89", 60000).answer("01")
        .gives(-2),
    Row("check_reads_a_24c_byte_then_the_protocol", [](Call& c) { return c.d.Check_CPU(kIcdev); })
        .sends("B6 00 00 01").answer("00 55")
        .sends("7E").answer("00 07 3B 80 81 31 FE 45 8B")
        .gives(1),
    Row("command_reply_whole_status_not_kept",
        [](Call& c) { return c.d.command(kIcdev, 0x31, 1, hx("07").data(), c.bytes(), c.bytes() + 1); })
        .sends("31 07").answer("05 AA")
        .gives(0).out("02 05 AA").status(0),
    Row("command_reply_of_256_bytes",
        [](Call& c) { return c.d.command(kIcdev, 0x31, 0, nullptr, c.bytes(), c.bytes() + 1); })
        .sends("31").answer(Bytes(256, 0))
        .gives(-1),
};
WIRE_TABLE(M6Contact, M6MemoryReader, kContact);

// --- lengths refused before any I/O ---

// A slot called with `n` bytes and outputs in `o` (a length, then data).
using Sized = int32_t (*)(ReaderDevice& d, int32_t n, const uint8_t* in, uint8_t* o);
int32_t* at32(uint8_t* o) { return reinterpret_cast<int32_t*>(o); }
#define SIZED(call) [](ReaderDevice& d, int32_t n, const uint8_t* in, uint8_t* o) { \
    (void)o;                                                                       \
    return int32_t(d.call);                                                        \
  }

// Each slot one past its most (cpy_cpuapduInt shares cpuapduInt's check), a
// negative length once (shared); an empty key would ask for the key instead.
std::vector<Row> limit_rows() {
  const struct {
    const char* name;
    int32_t most;
    Sized call;
  } limits[] = {
      {"frame_int", 2046, SIZED(pro_commandsource_int(kIcdev, n, in, at32(o), o + 4, 7))},
      {"radio", 2046, SIZED(op_2dot4_command(kIcdev, n, in, at32(o), o + 4, 7))},
      {"apdu_int", 2047, SIZED(cpuapduInt(kIcdev, n, in, at32(o), o + 4))},
      {"cpy_blocks_int", 2045, SIZED(cpy_procommandInt(kIcdev, n, in, at32(o), o + 4, 7))},
      {"gly_blocks", 2045, SIZED(GlyProCommand(kIcdev, n, in, at32(o), o + 4, 7))},
      {"radio_apdu", 2044, SIZED(op_2dot4Apdu(kIcdev, n, in, at32(o), o + 4))},
      {"apdu_ext", 254, SIZED(cpuapdusourceEXT(kIcdev, int16_t(n), in, nullptr, o))},
      {"link_ext", 65544, SIZED(pro_commandlinkEXT(kIcdev, n, in, at32(o), o + 4, 7, 64))},
      {"link_int", 65544, SIZED(pro_commandlinkInt(kIcdev, n, in, at32(o), o + 4, 7))},
      {"cpy_key", 254, SIZED(cpy_setkey(kIcdev, in, n))},
  };
  std::vector<Row> rows;
  auto row = [&](std::string name, Sized call, int32_t n) {
    rows.push_back(Row(std::move(name), [=](Call& c) {
                     const Bytes in(70000);
                     return call(c.d, n, in.data(), c.bytes());
                   }).gives(-1));
  };
  for (const auto& l : limits) row(std::string(l.name) + "_one_past", l.call, l.most + 1);
  row("link_int_negative", limits[8].call, -1);
  row("cpy_key_empty", limits[9].call, 0);
  return rows;
}
WIRE_TABLE(M6LongExchangeLimits, M6MemoryReader, limit_rows());

// --- report frames: one USB reader serving both framings ---

struct ReportCase {
  const char* name;
  std::vector<std::pair<uint8_t, WireBytes>> replies;  // by command code, in order
  std::function<int32_t(ReaderDevice&, uint8_t* out)> call;
  int32_t result;
  std::vector<WireBytes> commands;  // in order
  WireBytes out;                    // what the output starts with
};
const Bytes kLink = wire_pattern(300, 1);

const ReportCase kReportCases[] = {
    {"frame_int_whole_request", {{0xD0, "00 0A 00 90 00"}},
     [](ReaderDevice& d, uint8_t* o) {
       const Bytes frame = hx("0A 00 00 84 00 00 08");
       return d.pro_commandsource_int(kIcdev, 7, frame.data(), at32(o), o + 4, 9);
     },
     0, {"D0 09 0A 00 00 84 00 00 08"}, "04 00 00 00 0A 00 90 00"},
    {"reader_block_state_kept_after_the_checks", {{0x86, "00"}, {0x86, "00 0B 90 00"}},
     [](ReaderDevice& d, uint8_t* o) {
       int32_t n = 0;
       EXPECT_EQ(d.GlyProCommand(kIcdev, 1, hx("01").data(), &n, o, 0), -1);
       d.GlyProCommand(kIcdev, 1, hx("02").data(), &n, o, 0);
       return d.GlyProCommand(kIcdev, 1, hx("03").data(), &n, o, 0);
     },
     0, {"86 07 00 01", "86 07 00 02", "86 07 0B 03"}, "0B 03"},
    {"radio_apdu_gives_the_channel_answer", {{0xDB, "00 01 02 90 00"}},
     [](ReaderDevice& d, uint8_t* o) {
       return d.op_2dot4Apdu(kIcdev, 2, hx("00 84").data(), at32(o), o + 4);
     },
     0, {"DB 05 A2 33 00 84"}, "04 00 00 00 01 02 90 00"},
    {"radio_reset_answer_over_255", {{0xDB, Bytes(257, 0)}},
     [](ReaderDevice& d, uint8_t* o) { return d.op_2dot4_reset(kIcdev, o, o + 1); },
     -1, {"DB 05 A2 31 00 00"}, ""},
    // No card reset since the device was made: the first block is number 0.
    {"link_on_a_ub_reader_frame_size_256",
     {{0x80, "00 55 42"}, {0xD0, "00 A0 00"}, {0xD0, "00 0B 00 90 00"}},
     [](ReaderDevice& d, uint8_t* o) {
       d.init(0, 0);
       return d.pro_commandlinkInt(kIcdev, 300, kLink.data(), at32(o), o + 4, 7);
     },
     0,
     {"80", "FC", {"D0 07 1A 00", wire_slice(kLink, 0, 252)},
      {"D0 07 0B 00", wire_slice(kLink, 252, 48)}},
     "02 00 00 00 90 00"},
};

class M6LongExchange : public ::testing::TestWithParam<ReportCase> {};

TEST_P(M6LongExchange, OverReportFrames) {
  M6OverUsb usb(M6Reader::Framing::kHidStx);
  ASSERT_TRUE(usb.opened);
  HidStxProtocol stx(&usb.port);
  M6Device device("m6-u", &usb.port, &stx);
  std::map<uint8_t, int> nth;
  for (const auto& [code, reply] : GetParam().replies)
    usb.reader.model().scriptReply(code, reply.bytes, ++nth[code]);
  std::vector<uint8_t> out(kWireOutSize, kWireFill);
  EXPECT_EQ(GetParam().call(device, out.data()), GetParam().result);
  std::vector<std::string> sent, expected;
  for (const Bytes& c : usb.reader.commands()) sent.push_back(spaced_hex(c));
  for (const WireBytes& c : GetParam().commands) expected.push_back(spaced_hex(c.bytes));
  EXPECT_EQ(sent, expected);
  wire_check_output(out, GetParam().result == 0 ? &GetParam().out.bytes : nullptr, nullptr);
}

INSTANTIATE_TEST_SUITE_P(, M6LongExchange, ::testing::ValuesIn(kReportCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
