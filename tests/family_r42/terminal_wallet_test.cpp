// Terminal and wallet settings: the status word as the result, amounts as
// "%u" reads them (less its wrapping), the shortest reply of each get, and
// records by table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/r42_sim_services.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42ServicesReader>;
using Call = WireCall<R42ServicesReader>;
using State = R42ServicesReader::State;
using Bytes = std::vector<uint8_t>;

const Bytes kRecord64 = [] {
  Bytes r(64);
  for (size_t i = 0; i < r.size(); ++i) r[i] = uint8_t(0x40 + i);
  return r;
}();

void balance(State& s, uint32_t value) { s.services.balance = value; }
void records(State& s) {
  s.services.records[0] = {Bytes(64, 0), kRecord64};
  s.services.records[1] = {hx("0A 0B 0C 0D")};
  s.services.records[2] = {hx("01"), hx("02"), hx("03")};
}

// [quantity][record][NUL] in the output.
Row::Call record(uint8_t table, uint8_t number) {
  return [=](Call& c) { return c.d.get_record(kIcdev, table, number, c.bytes(), c.bytes() + 1); };
}
Row::Call terminal_number(uint8_t length) {
  return [=](Call& c) { return c.d.get_terminalnumber(kIcdev, length, c.bytes()); };
}
Row::Call transfer(const char* amount) {
  return [=](Call& c) { return c.d.transfer_wallet(kIcdev, amount); };
}
Row::Call consume(const char* amount, const char* secret) {
  return [=](Call& c) {
    return c.d.consume_wallet(kIcdev, amount, reinterpret_cast<const unsigned char*>(secret));
  };
}

// Amounts "%u" reads, and those it would read wrongly or not at all.
std::vector<Row> amount_rows() {
  std::vector<Row> rows;
  const struct {
    const char* name;
    const char* text;
    const char* sent;
  } accepted[] = {{"zero", "0", "00 00 00 00"},
                  {"largest", "4294967295", "FF FF FF FF"},
                  {"leading_blank", " 5", "00 00 00 05"},
                  {"plus_sign", "+5", "00 00 00 05"},
                  {"text_after_the_digits", "12abc", "00 00 00 0C"},
                  {"leading_zeros", "0000000000004294967295", "FF FF FF FF"}};
  for (const auto& a : accepted)
    rows.push_back(Row(std::string("transfer_") + a.name, transfer(a.text))
                       .sends({"B0 03 00", a.sent}, 5000)
                       .gives(0));
  const struct {
    const char* name;
    const char* text;
  } refused[] = {{"above_32_bits", "4294967296"},
                 {"minus_one", "-1"},
                 {"minus_zero", "-0"},
                 {"empty", ""},
                 {"no_digits", "abc"},
                 {"sign_alone", "+"}};
  for (const auto& r : refused) {
    rows.push_back(Row(std::string("transfer_refused_") + r.name, transfer(r.text)).gives(-1));
    rows.push_back(
        Row(std::string("consume_refused_") + r.name, consume(r.text, "123456")).gives(-1));
  }
  rows.push_back(Row("transfer_without_text", transfer(nullptr)).gives(-1));
  return rows;
}

const std::vector<Row> kRows = [] {
  std::vector<Row> rows = amount_rows();
  const Row fixed[] = {
      // The status word is the result.
      Row("status_6A82", [](Call& c) { return c.d.flash_card(kIcdev); })
          .sends("B0 00 00").answer("6A 82 00")
          .gives(27266).status(0x6A82),
      Row("status_9401", consume("10", "123456"))
          .given([](State& s) { balance(s, 9); })
          .sends("B0 02 00 00 00 00 0A 12 34 56")
          .gives(-27647).status(0x9401)
          .then([](const State& s) { EXPECT_EQ(s.services.balance, 9u); }),
      Row("status_FFFF_reads_as_minus_one", [](Call& c) { return c.d.flash_card(kIcdev); })
          .sends("B0 00 00").answer("FF FF 00")
          .gives(-1).status(0xFFFF),
      Row("silent_reader", [](Call& c) { return c.d.flash_card(kIcdev); })
          .sends("B0 00 00").fails()
          .gives(-1),
      Row("consume", consume("10", "123456789"))
          .given([](State& s) { balance(s, 25); })
          .sends("B0 02 00 00 00 00 0A 12 34 56")
          .gives(0)
          .then([](const State& s) { EXPECT_EQ(s.services.balance, 15u); }),
      Row("consume_secret_of_5_refused", consume("10", "12345")).gives(-1),
      Row("consume_secret_not_hex_refused", consume("10", "12345G")).gives(-1),
      Row("consume_secret_missing_refused", consume("10", nullptr)).gives(-1),
      Row("authentication",
          [](Call& c) {
            return c.d.authentication_key(kIcdev, kRecord64.data(), kRecord64.data() + 8);
          })
          .sends({"B0 04 00", Bytes(kRecord64.begin(), kRecord64.begin() + 16)})
          .gives(0),
      // Factory reset: success or not.
      Row("reset_factory", [](Call& c) { return c.d.reset_factory(kIcdev); })
          .sends("B0 10 00")
          .gives(0),
      Row("reset_factory_status_0001", [](Call& c) { return c.d.reset_factory(kIcdev); })
          .sends("B0 10 00").answer("00 01 00")
          .gives(1),
      Row("reset_factory_silent", [](Call& c) { return c.d.reset_factory(kIcdev); })
          .sends("B0 10 00").fails()
          .gives(-1),
      // Balance: eight digits at the most.
      Row("balance", [](Call& c) { return c.d.read_walletbalance(kIcdev, c.text()); })
          .sends("B0 01 00").answer("00 00 00 05 F5 E0 FF EA")
          .gives(0).text("99999999"),
      Row("balance_zero", [](Call& c) { return c.d.read_walletbalance(kIcdev, c.text()); })
          .sends("B0 01 00")
          .gives(0).text("0"),
      Row("balance_of_nine_digits_refused",
          [](Call& c) { return c.d.read_walletbalance(kIcdev, c.text()); })
          .given([](State& s) { balance(s, 4000000000u); })
          .sends("B0 01 00")
          .gives(-1),
      Row("balance_reply_short", [](Call& c) { return c.d.read_walletbalance(kIcdev, c.text()); })
          .sends("B0 01 00").answer("00 00 00 05 F5 E0")
          .gives(-1),
      Row("balance_status", [](Call& c) { return c.d.read_walletbalance(kIcdev, c.text()); })
          .sends("B0 01 00").answer("FF FF 00")
          .gives(-1).status(0xFFFF),
      // Gets: the shortest reply each accepts, and one byte less.
      Row("transaction_type",
          [](Call& c) { return c.d.get_transactiontype(kIcdev, c.bytes()); })
          .given([](State& s) { s.services.transaction_type = 0x27; })
          .sends("B0 07 00 00")
          .gives(0).out("27"),
      Row("transaction_type_reply_short",
          [](Call& c) { return c.d.get_transactiontype(kIcdev, c.bytes()); })
          .sends("B0 07 00 00").answer("00 00 00")
          .gives(-1),
      Row("trade_key", [](Call& c) { return c.d.get_tradesecretkey(kIcdev, c.bytes()); })
          .sends("B0 08 00 00").answer("00 00 00 01 02 03 04 05 06 07 08 09")
          .gives(0).out("01 02 03 04 05 06 07 08 00"),
      Row("trade_key_reply_short",
          [](Call& c) { return c.d.get_tradesecretkey(kIcdev, c.bytes()); })
          .sends("B0 08 00 00").answer("00 00 00 01 02 03 04 05 06 07")
          .gives(-1),
      Row("trade_key_set", [](Call& c) { return c.d.set_tradesecretkey(kIcdev, kRecord64.data()); })
          .sends({"B0 08 00 01", Bytes(kRecord64.begin(), kRecord64.begin() + 8)})
          .gives(0),
      Row("terminal_number_set",
          [](Call& c) { return c.d.set_terminalnumber(kIcdev, 3, hx("54 31 32").data()); })
          .sends("B0 05 00 01 03 54 31 32")
          .gives(0)
          .then([](const State& s) { EXPECT_EQ(s.services.terminal_number, hx("54 31 32")); }),
      Row("terminal_number", terminal_number(5))
          .sends("B0 05 00 00 05").answer("00 00 00 54 45 52 4D 31")
          .gives(0).text("TERM1"),
      Row("terminal_number_reply_short", terminal_number(5))
          .given([](State& s) { s.services.terminal_number = hx("54 45 52 4D"); })
          .sends("B0 05 00 00 05")
          .gives(-1),
      Row("merchant_code", [](Call& c) { return c.d.get_trademerchantcode(kIcdev, 2, c.bytes()); })
          .given([](State& s) { s.services.merchant_code = hx("4D 43 58"); })
          .sends("B0 06 00 00 02")
          .gives(0).text("MC"),
      Row("merchant_code_set",
          [](Call& c) { return c.d.set_trademerchantcode(kIcdev, 0, nullptr); })
          .sends("B0 06 00 01 00")
          .gives(0),
      Row("hardware_serial",
          [](Call& c) { return c.d.get_hardwareserialnumber(kIcdev, 0, c.bytes()); })
          .sends("B0 09 00 00 00")
          .gives(0).text(""),
      Row("hardware_serial_set_without_data_refused",
          [](Call& c) { return c.d.set_hardwareserialnumber(kIcdev, 4, nullptr); })
          .gives(-1),
      Row("sign_parameters",
          [](Call& c) { return c.d.get_signmessageparameters(kIcdev, 4, c.bytes()); })
          .sends("B0 11 00 04")
          .gives(0).text("SIGN"),
      Row("transaction_type_set", [](Call& c) { return c.d.set_transactiontype(kIcdev, 9); })
          .sends("B0 07 00 01 09")
          .gives(0),
      // Records by table.
      Row("record_table_0", record(0, 1)).given(records)
          .sends("B0 12 00 00 01")
          .gives(0).out({"02", kRecord64, "00"}),
      Row("record_table_1", record(1, 0)).given(records)
          .sends("B0 12 00 01 00")
          .gives(0).out("01 0A 0B 0C 0D 00"),
      Row("record_table_2_quantity_only", record(2, 0)).given(records)
          .sends("B0 12 00 02 00")
          .gives(0).out("03"),
      Row("record_table_0_reply_short", record(0, 1))
          .sends("B0 12 00 00 01").answer({"00 00 00 02", Bytes(63, 1)})
          .gives(-1),
      Row("record_table_1_reply_short", record(1, 0))
          .sends("B0 12 00 01 00").answer("00 00 00 01 0A 0B 0C")
          .gives(-1),
      Row("record_without_quantity", record(2, 0))
          .sends("B0 12 00 02 00").answer("00 00 00")
          .gives(-1),
  };
  rows.insert(rows.end(), std::begin(fixed), std::end(fixed));
  return rows;
}();
WIRE_TABLE(TerminalWallet, R42ServicesReader, kRows);

}  // namespace
