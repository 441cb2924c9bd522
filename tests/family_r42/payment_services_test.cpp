// The reader's cipher services composed on the host: ECB with padding and
// the MAC methods, checked against known vectors and OpenSSL; and the
// service commands whose replies decide a result of their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/evp_oracle.h"
#include "sim/r42_sim_services.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42ServicesReader>;
using Call = WireCall<R42ServicesReader>;
using Bytes = std::vector<uint8_t>;

const Bytes kKey1 = hx("01 23 45 67 89 AB CD EF FE DC BA 98 76 54 32 10 89 AB CD EF 01 23 45 67");
const Bytes kData20 = hx("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13");

struct Keyed : ::testing::Test {
  void SetUp() override {
    reader.services.with([](ServicesSim::State& s) { s.key_table[1] = kKey1; });
  }
  ReaderDevice& d = reader.device;
  R42ServicesReader reader;
  int calls() { return reader.services.snapshot().cipher_calls; }
};

struct MacVector {
  uint8_t method;
  const char* mac;
  int calls;
};
void PrintTo(const MacVector& v, std::ostream* os) { *os << "method " << int(v.method); }

struct PaymentServicesMac : Keyed, ::testing::WithParamInterface<MacVector> {};

TEST_P(PaymentServicesMac, KnownVector) {
  const MacVector& v = GetParam();
  char text[40];
  std::fill(std::begin(text), std::end(text), '#');
  int32_t rlen = -1;
  ASSERT_EQ(d.CreatMacDataECB(kIcdev, 1, v.method, 20, kData20.data(), &rlen,
                              reinterpret_cast<uint8_t*>(text)),
            0);
  EXPECT_EQ(std::string(text), v.mac);
  EXPECT_EQ(rlen, int32_t(std::string(v.mac).size()));
  EXPECT_EQ(text[rlen + 1], '#') << "nothing past the NUL";
  EXPECT_EQ(calls(), v.calls);
}

INSTANTIATE_TEST_SUITE_P(
    , PaymentServicesMac,
    ::testing::Values(MacVector{0, "C9688AA1", 2}, MacVector{1, "C9688AA1", 2},
                      MacVector{2, "EA5646DF9C465F0FEF3547BE0C2249D7", 2},
                      MacVector{3, "9BB6401751959FEC", 3}, MacVector{4, "B9E2787EDCC996AF", 5},
                      MacVector{5, "B9500AD3", 4}, MacVector{6, "DC054963B0BC282E", 5},
                      MacVector{7, "22E90791", 4}));

using PaymentServicesEcb = Keyed;

TEST_F(PaymentServicesEcb, KnownVectorsAndTheirInverse) {
  uint8_t out[64] = {};
  int32_t rlen = -1;
  ASSERT_EQ(d.CreatDesDataECB(kIcdev, 1, 0, 8, hx("00 11 22 33 44 55 66 77").data(), &rlen, out),
            0);
  EXPECT_EQ(Bytes(out, out + rlen), hx("41 15 3E D6 AC 30 65 4B 01 91 EB 44 92 0F FE 18"));
  EXPECT_EQ(calls(), 2) << "the data and a whole padding block";

  const Bytes cipher(out, out + 16);
  uint8_t plain[16];
  std::fill(std::begin(plain), std::end(plain), 0xCC);
  ASSERT_EQ(d.CreatDesDataECB(kIcdev, 1, 1, 16, cipher.data(), &rlen, plain), 0);
  EXPECT_EQ(Bytes(plain, plain + rlen), hx("00 11 22 33 44 55 66 77"));
  EXPECT_EQ(plain[8], 0xCC) << "the padding block stays out of the caller's buffer";

  ASSERT_EQ(d.CreatSm4DataECB(kIcdev, 1, 0, 20, kData20.data(), &rlen, out), 0);
  EXPECT_EQ(Bytes(out, out + rlen),
            hx("06 98 9C 61 3D A6 68 AD 2A 8D F7 82 E1 A8 F9 6A 05 5B F8 FB EC 2D 0C D9 91 22 "
               "BC C6 BC F3 BD F4"));
}

// Deciphering accepts only 0x80 followed by zeros at the end of the last
// block; the blocks are made with OpenSSL under key type 1.
TEST_F(PaymentServicesEcb, DecipherNeedsSoundPadding) {
  const auto sealed = [](const std::string& plain) { return evp_des_ecb(kKey1, hx(plain), true); };
  struct Case {
    const char* plain;
    int16_t result;
    int32_t rlen;
  } cases[] = {
      {"01 02 03 80 00 00 00 00", 0, 3},
      {"01 02 03 04 05 06 07 80", 0, 7},
      {"80 00 00 00 00 00 00 00", 0, 0},
      {"11 80 00 00 00 00 00 00 22 22 22 22 22 22 22 22", -1, 0},  // 0x80 in an earlier block
      {"01 02 80 00 00 00 00 01", -1, 0},                          // a byte after the 0x80
      {"01 02 03 04 05 06 07 08", -1, 0},                          // no 0x80
      {"00 00 00 00 00 00 00 00", -1, 0},
  };
  for (const Case& c : cases) {
    const Bytes cipher = sealed(c.plain);
    uint8_t out[16];
    int32_t rlen = -1;
    EXPECT_EQ(d.CreatDesDataECB(kIcdev, 1, 1, int32_t(cipher.size()), cipher.data(), &rlen, out),
              c.result)
        << c.plain;
    EXPECT_EQ(rlen, c.rlen) << c.plain;
  }
}

TEST_F(PaymentServicesEcb, RefusalsAndAFailingBlock) {
  uint8_t out[64];
  int32_t rlen = -1;
  EXPECT_EQ(d.CreatDesDataECB(kIcdev, 1, 1, 12, kData20.data(), &rlen, out), -1);
  EXPECT_EQ(d.CreatDesDataECB(kIcdev, 1, 0, -1, kData20.data(), &rlen, out), -1);
  EXPECT_EQ(d.CreatMacDataECB(kIcdev, 1, 8, 20, kData20.data(), &rlen, out), -1);
  EXPECT_EQ(d.CreatMacDataECB(kIcdev, 1, 3, -1, kData20.data(), &rlen, out), -1);
  EXPECT_EQ(reader.wire.calls.size(), 0u) << "refused before any I/O";
  EXPECT_EQ(d.CreatDesDataECB(kIcdev, 1, 0, 0, nullptr, &rlen, out), 0);
  EXPECT_EQ(rlen, 0);
  EXPECT_EQ(d.CreatMacDataECB(kIcdev, 1, 3, 0, kData20.data(), &rlen, out), 0);
  EXPECT_EQ(rlen, 0);
  EXPECT_EQ(reader.wire.calls.size(), 0u) << "no data, no padding block";

  reader.model.failWithStatus(0xC004, 0x6A82, 2);
  EXPECT_EQ(d.CreatSm4DataECB(kIcdev, 1, 0, 40, Bytes(40, 7).data(), &rlen, out), -2);
  EXPECT_EQ(reader.wire.calls.size(), 2u) << "stops at the failing block";
  EXPECT_EQ(rlen, 0);
}

// A class that overrides the single-block service sees every block.
TEST(PaymentServicesOverride, CompositionsCallTheServiceThroughTheInterface) {
  struct Counting : R42Device {
    using R42Device::R42Device;
    int16_t CreatDesData(int32_t, uint8_t, uint8_t enmode, const unsigned char* in,
                         unsigned char* out) override {
      codes.push_back(enmode);
      std::copy(in, in + 8, out);
      return 0;
    }
    std::vector<uint8_t> codes;
  };
  NullPort port;
  Counting device("r42-u", &port, nullptr);
  uint8_t out[40];
  int32_t rlen = 0;
  ASSERT_EQ(device.CreatMacDataECB(kIcdev, 1, 6, 20, kData20.data(), &rlen, out), 0);
  EXPECT_EQ(device.codes, hx("10 10 10 21 30"));
}

// Service commands with results of their own, and replies too short.
const Row kServiceRows[] = {
    Row("enciphered_pin_typed",
        [](Call& c) {
          uint8_t rlen = 0xEE;
          const int16_t r = c.d.GetEnPass(kIcdev, 10, 3, hx("62 25 88").data(), &rlen, c.bytes());
          if (rlen != 8) ADD_FAILURE() << "rlen " << int(rlen);
          return r;
        })
        .sends("C0 03 00 0A 03 62 25 88", 15000)
        .gives(0).out("E1 E2 E3 E4 E5 E6 E7 E8"),
    Row("enciphered_pin_cancelled",
        [](Call& c) {
          uint8_t rlen = 0xEE;
          const int16_t r = c.d.GetEnPass(kIcdev, 0, 0, nullptr, &rlen, c.bytes());
          if (rlen != 0) ADD_FAILURE() << "rlen " << int(rlen);
          return r;
        })
        .sends("C0 03 00 00 00", 5000).answer("06 02 00")
        .gives(161).status(0x0602),
    Row("enciphered_pin_refused",
        [](Call& c) {
          uint8_t rlen = 0xEE;
          return c.d.GetEnPass(kIcdev, 0, 0, nullptr, &rlen, c.bytes());
        })
        .sends("C0 03 00 00 00").answer("06 01 00")
        .gives(162),
    Row("enciphered_pin_other_status",
        [](Call& c) {
          uint8_t rlen = 0xEE;
          return c.d.GetEnPass(kIcdev, 0, 0, nullptr, &rlen, c.bytes());
        })
        .sends("C0 03 00 00 00").answer("06 03 00")
        .gives(-2),
    Row("enciphered_pin_longer_than_its_count_byte",
        [](Call& c) {
          uint8_t rlen = 0xEE;
          return c.d.GetEnPass(kIcdev, 0, 0, nullptr, &rlen, c.bytes());
        })
        .sends("C0 03 00 00 00").answer({"00 00 00", Bytes(256, 0x31)})
        .gives(-1),
    Row("sm4_reply_one_byte_short",
        [](Call& c) { return c.d.CalculateSm4(kIcdev, 2, 0, 16, Bytes(16, 1).data(), c.bytes()); })
        .sends({"A3 07 00 02 00 00 10", Bytes(16, 1)}).answer({"00 00 00", Bytes(15, 0x44)})
        .gives(-1),
    Row("sm4_block",
        [](Call& c) { return c.d.CalculateSm4(kIcdev, 2, 0, 16, Bytes(16, 1).data(), c.bytes()); })
        .sends({"A3 07 00 02 00 00 10", Bytes(16, 1)}).answer({"00 00 00", Bytes(16, 0x44)})
        .gives(0).out(Bytes(16, 0x44)),
    Row("des_block_of_the_key_table",
        [](Call& c) { return c.d.CreatDesData(kIcdev, 1, 0x21, kData20.data(), c.bytes()); })
        .given([](R42ServicesReader::State& s) { s.services.key_table[1] = kKey1; })
        .sends({"C0 04 00 01 21", Bytes(kData20.begin(), kData20.begin() + 8)})
        .gives(0).out(evp_des_ecb(Bytes(kKey1.begin() + 8, kKey1.begin() + 16),
                                  Bytes(kData20.begin(), kData20.begin() + 8), false)),
};
WIRE_TABLE(PaymentServices, R42ServicesReader, kServiceRows);

}  // namespace
