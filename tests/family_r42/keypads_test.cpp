// Keypads behind the reader: the keypad modules' replies, the encrypting
// keypad's tunnel and inner commands, key presses, the reader's PIN keypad
// and the PIN pad's line.
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

constexpr int32_t kTunnel = 8192;

// Outputs with a count: the count as 4 text digits, then the data.
Row::Call key_type(int32_t number) {
  return [=](Call& c) {
    int32_t type = -7;
    const int16_t r = c.d.KeypadGetKeyType(kIcdev, number, 2, 3, &type);
    if (r == 0) c.print("%d", type);
    return r;
  };
}
Row::Call algorithm() {
  return [](Call& c) {
    int32_t n = -7;
    const int16_t r =
        c.d.KeypadAlgorithm(kIcdev, 1, 2, 3, 4, 5, hx("AA BB").data(), 2, c.bytes() + 1, &n);
    c.out[0] = uint8_t(n);
    return r;
  };
}
Row::Call pressed(int32_t time_ms) {
  return [=](Call& c) { return c.d.keypad_GetPressed(kIcdev, time_ms, c.bytes()); };
}
Row::Call random_bytes(int32_t length) {
  return [=](Call& c) { return c.d.keypad_GetRandomValue(kIcdev, length, c.bytes()); };
}
Row::Call pin_block(int32_t key_index, size_t data_size = 2) {
  return [=](Call& c) {
    int32_t n = -7;
    const Bytes data(data_size, 0xD5);
    return c.d.keypad_GetPinBlock(kIcdev, 3, key_index, data.data(), int32_t(data.size()),
                                  c.bytes(), &n);
  };
}
Row::Call reader_pin(uint8_t ctime) {
  return [=](Call& c) {
    uint8_t rlen = 0xEE;
    const int16_t r = c.d.pass_key_value2(kIcdev, ctime, &rlen, c.text() + 1);
    c.out[0] = rlen;
    return r;
  };
}
Row::Call pinpad(int32_t time_100ms, int32_t slen) {
  return [=](Call& c) {
    int32_t n = -7;
    const Bytes data(slen > 0 ? size_t(slen) : 0, 0x3C);
    const int16_t r = c.d.PinpadCommunication(kIcdev, time_100ms, slen, data.data(), &n,
                                              c.bytes() + 1);
    c.out[0] = uint8_t(n);
    return r;
  };
}

// Inner commands that hand the whole response on differ only in their code.
std::vector<Row> inner_data_rows() {
  using Op = int16_t (ReaderDevice::*)(int32_t, uint8_t, int32_t, const unsigned char*, int32_t,
                                       unsigned char*, int32_t*);
  const struct {
    const char* name;
    Op op;
    const char* code;
  } ops[] = {{"pin_block", &ReaderDevice::keypad_GetPinBlock, "0A"},
             {"encrypt_cbc", &ReaderDevice::keypad_GetEncryptDataOfCBC, "0C"},
             {"decrypt_cbc", &ReaderDevice::keypad_GetDecryptDataOfCBC, "0D"},
             {"encrypt_ecb", &ReaderDevice::keypad_GetEncryptDataOfECB, "0E"},
             {"decrypt_ecb", &ReaderDevice::keypad_GetDecryptDataOfECB, "0F"},
             {"mac_cbc", &ReaderDevice::keypad_GetMACDataOfCBC, "11"}};
  std::vector<Row> rows;
  for (const auto& op : ops) {
    const Op f = op.op;
    rows.push_back(Row(op.name,
                       [f](Call& c) {
                         int32_t n = -7;
                         const int16_t r =
                             (c.d.*f)(kIcdev, 3, 7, hx("31 32").data(), 2, c.bytes() + 1, &n);
                         c.out[0] = uint8_t(n);
                         return r;
                       })
                       .sends({"D0 01 00", op.code, "03 07 31 32"}, 5000).capacity(kTunnel)
                       .answer("00 00 00 51 52 53")
                       .gives(0).out("03 51 52 53"));
  }
  return rows;
}

const std::vector<Row> kRows = [] {
  std::vector<Row> rows = inner_data_rows();
  const Row fixed[] = {
      // Keypad modules: the reply check, in its order.
      Row("open", [](Call& c) { return c.d.KeypadOpen(kIcdev, 1, c.text()); })
          .sends("40 00 00 0A 01 01", 5000).answer("00 00 00 00 00 56 31")
          .gives(0).text("V1"),
      Row("open_number_past_its_byte",
          [](Call& c) { return c.d.KeypadOpen(kIcdev, 256, c.text()); })
          .gives(-1),
      Row("reply_of_one_byte", key_type(1)).sends("40 00 00 0A 05 01 02 03").answer("00")
          .gives(-1),
      Row("reader_status", key_type(1)).sends("40 00 00 0A 05 01 02 03").answer("6A 82 00")
          .gives(-2).status(0x6A82),
      Row("reply_of_four_bytes", key_type(1)).sends("40 00 00 0A 05 01 02 03")
          .answer("00 00 00 00").gives(-1),
      Row("module_status", key_type(1)).sends("40 00 00 0A 05 01 02 03")
          .answer("00 00 00 00 01 09").gives(-1).status(0x0000),
      Row("reply_short_of_its_byte", key_type(1)).sends("40 00 00 0A 05 01 02 03")
          .answer("00 00 00 00 00").gives(-1),
      Row("key_type", key_type(1)).sends("40 00 00 0A 05 01 02 03")
          .answer("00 00 00 00 00 09").gives(0).text("9"),
      Row("key_type_index_negative", key_type(-1)).gives(-1),
      Row("algorithm", algorithm())
          .sends("40 00 00 0A 06 01 02 03 04 05 00 02 AA BB")
          .answer("00 00 00 00 00 00 03 C1 C2 C3")
          .gives(0).out("03 C1 C2 C3"),
      Row("algorithm_declares_past_the_reply", algorithm())
          .sends("40 00 00 0A 06 01 02 03 04 05 00 02 AA BB").answer("00 00 00 00 00 00 03 C1 C2")
          .gives(-1).out("F9"),
      Row("algorithm_without_its_count", algorithm())
          .sends("40 00 00 0A 06 01 02 03 04 05 00 02 AA BB").answer("00 00 00 00 00 00")
          .gives(-1).out("F9"),
      Row("load_key",
          [](Call& c) {
            Bytes ex = hx("E1");
            ex.resize(8, 0);
            int32_t ex_len = 1;
            const int16_t r = c.d.KeypadLoadKey(kIcdev, 1, 2, 3, 4, 5, hx("4B 31").data(), 2, 2,
                                                ex.data(), &ex_len);
            c.print("%d %02X%02X", ex_len, ex[0], ex[1]);
            return r;
          })
          .sends("40 00 00 0A 03 01 02 03 04 05 00 02 4B 31 02 00 01 E1")
          .answer("00 00 00 00 00 00 02 F1 F2")
          .gives(0).text("2 F1F2"),
      Row("load_key_extra_of_65536_refused",
          [](Call& c) {
            int32_t ex_len = 65536;
            return c.d.KeypadLoadKey(kIcdev, 1, 2, 3, 4, 5, nullptr, 0, 2, c.bytes(), &ex_len);
          })
          .gives(-1),
      Row("load_key_past_the_request_refused",
          [](Call& c) {
            int32_t ex_len = 0;
            const Bytes key(2040, 1);
            return c.d.KeypadLoadKey(kIcdev, 1, 2, 3, 4, 5, key.data(), 2040, 2, c.bytes(),
                                     &ex_len);
          })
          .gives(-1),
      Row("start_input",
          [](Call& c) {
            int32_t n = -7;
            const int16_t r = c.d.KeypadStartInput(kIcdev, 1, 2, 3, 4, hx("5A").data(), 1, 4, 12,
                                                   1, 0, 30, c.bytes() + 1, &n);
            c.out[0] = uint8_t(n);
            return r;
          })
          .sends("40 00 00 0A 07 01 02 03 04 00 01 5A 04 0C 01 00 1E", 5000)
          .answer("00 00 00 00 00 00 00")
          .gives(0).out("00"),
      Row("start_input_time_past_its_byte",
          [](Call& c) {
            int32_t n = 0;
            return c.d.KeypadStartInput(kIcdev, 1, 2, 3, 4, nullptr, 0, 4, 12, 1, 0, 300,
                                        c.bytes(), &n);
          })
          .gives(-1),
      Row("exit_and_get_input",
          [](Call& c) {
            int32_t n = -7;
            const int16_t r = c.d.KeypadExitAndGetInput(kIcdev, 1, 2, c.bytes() + 1, &n);
            c.out[0] = uint8_t(n);
            return r;
          })
          .sends("40 00 00 0A 09 01 02").answer("00 00 00 00 00 00 01 39")
          .gives(0).out("01 39"),
      Row("close", [](Call& c) { return c.d.KeypadClose(kIcdev, 7); })
          .sends("40 00 00 0A 02 07")
          .gives(0),
      Row("clear_key", [](Call& c) { return c.d.KeypadClearKey(kIcdev, 1, 2, 3); })
          .sends("40 00 00 0A 04 01 02 03")
          .gives(0),
      Row("key_value", [](Call& c) { return c.d.KeypadGetKeyValue(kIcdev, 1, c.bytes()); })
          .sends("40 00 00 0A 08 01").answer("00 00 00 00 00 35")
          .gives(0).out("35"),
      Row("set_key_value", [](Call& c) { return c.d.KeypadSetKeyValue(kIcdev, 1, 0x35); })
          .sends("40 00 00 0A 0A 01 35")
          .gives(0),
      // The encrypting keypad's tunnel.
      Row("tunnel_of_5000_bytes",
          [](Call& c) {
            int32_t n = -7;
            const int16_t r =
                c.d.keypad_io_control(kIcdev, 3, hx("0B 08").data(), 2, c.bytes(), &n);
            if (n != 5000) ADD_FAILURE() << "response_len " << n;
            return r;
          })
          .sends("D0 01 00 0B 08", 8000).capacity(kTunnel).answer({"00 00 00", Bytes(5000, 0x77)})
          .gives(0).out(Bytes(5000, 0x77)),
      Row("tunnel_request_past_its_buffer",
          [](Call& c) {
            int32_t n = 0;
            return c.d.keypad_io_control(kIcdev, 0, Bytes(8190).data(), 8190, c.bytes(), &n);
          })
          .gives(-1),
      Row("tunnel_request_negative",
          [](Call& c) {
            int32_t n = 0;
            return c.d.keypad_io_control(kIcdev, 0, hx("01").data(), -1, c.bytes(), &n);
          })
          .gives(-1),
      Row("inner_response_past_2048_refused", pin_block(1))
          .sends("D0 01 00 0A 03 01 D5 D5").capacity(kTunnel)
          .answer({"00 00 00", Bytes(5000, 0x77)})
          .gives(-1),
      Row("inner_response_of_2048", pin_block(1))
          .sends("D0 01 00 0A 03 01 D5 D5").capacity(kTunnel)
          .answer({"00 00 00", Bytes(2048, 0x77)})
          .gives(0).out(Bytes(2048, 0x77)),
      Row("inner_key_index_past_its_byte", pin_block(256)).gives(-1),
      Row("inner_request_past_the_tunnel", pin_block(1, 8187)).gives(-1),
      Row("inner_tunnel_status", pin_block(1))
          .sends("D0 01 00 0A 03 01 D5 D5").capacity(kTunnel).answer("6A 82 00")
          .gives(-2),
      Row("import_key",
          [](Call& c) {
            return c.d.keypad_ImportKey(kIcdev, c.bytes(), 1, 2, 3, 1, hx("11 22").data(), 2);
          })
          .sends("D0 01 00 01 01 02 03 01 11 22").capacity(kTunnel)
          .answer("00 00 00 C1 C2 C3 C4 C5 C6 C7 C8 C9")
          .gives(0).out("C1 C2 C3 C4 C5 C6 C7 C8"),
      Row("import_key_check_value_short",
          [](Call& c) {
            return c.d.keypad_ImportKey(kIcdev, c.bytes(), 1, 2, 3, 1, hx("11 22").data(), 2);
          })
          .sends("D0 01 00 01 01 02 03 01 11 22").capacity(kTunnel)
          .answer("00 00 00 C1 C2 C3 C4 C5 C6 C7")
          .gives(-1),
      Row("delete_every_key", [](Call& c) { return c.d.keypad_DeleteKey(kIcdev, -1); })
          .sends("D0 01 00 03 F0").capacity(kTunnel)
          .gives(0),
      Row("delete_key_5", [](Call& c) { return c.d.keypad_DeleteKey(kIcdev, 5); })
          .sends("D0 01 00 02 05").capacity(kTunnel)
          .gives(0),
      Row("delete_key_minus_2_refused", [](Call& c) { return c.d.keypad_DeleteKey(kIcdev, -2); })
          .gives(-1),
      Row("button_mark_FFFF", [](Call& c) { return c.d.keypad_SetButtonMark(kIcdev, 0xFFFF, 4); })
          .sends("D0 01 00 08 FF FF 04").capacity(kTunnel)
          .gives(0),
      Row("button_mark_1234", [](Call& c) { return c.d.keypad_SetButtonMark(kIcdev, 0x1234, 4); })
          .sends("D0 01 00 07 12 34 04").capacity(kTunnel)
          .gives(0),
      Row("button_mark_minus_one", [](Call& c) { return c.d.keypad_SetButtonMark(kIcdev, -1, 4); })
          .sends("D0 01 00 08 FF FF 04").capacity(kTunnel)
          .gives(0),
      Row("start", [](Call& c) { return c.d.keypad_Start(kIcdev, 0, 6, 1, 1); })
          .sends("D0 01 00 05 06 01 01").capacity(kTunnel)
          .gives(0),
      Row("start_with_mode", [](Call& c) { return c.d.keypad_Start(kIcdev, 2, 6, 1, 0); })
          .sends("D0 01 00 06 06 01 00").capacity(kTunnel)
          .gives(0),
      Row("start_length_past_its_byte",
          [](Call& c) { return c.d.keypad_Start(kIcdev, 0, 256, 1, 1); })
          .gives(-1),
      Row("end", [](Call& c) { return c.d.keypad_End(kIcdev); })
          .sends("D0 01 00 04").capacity(kTunnel)
          .gives(0),
      Row("random_8", random_bytes(8))
          .sends("D0 01 00 0B 08").capacity(kTunnel).answer("00 00 00 01 02 03 04 05 06 07 08 09")
          .gives(0).out("01 02 03 04 05 06 07 08"),
      Row("random_short", random_bytes(8))
          .sends("D0 01 00 0B 08").capacity(kTunnel).answer("00 00 00 01 02 03 04 05 06 07")
          .gives(-1),
      Row("random_256_refused", random_bytes(256)).gives(-1),
      Row("random_negative_refused", random_bytes(-1)).gives(-1),
      // Key presses: status words with and without a key.
      Row("pressed", pressed(1000))
          .sends("D0 01 00 09 03 E8", 6000).capacity(kTunnel).answer("00 00 00 35")
          .gives(0).out("35"),
      Row("pressed_more", pressed(65535))
          .sends("D0 01 00 09 FF FF", 70535).capacity(kTunnel).answer("FF 00 00 36")
          .gives(2).out("36"),
      Row("pressed_cancelled", pressed(0))
          .sends("D0 01 00 09 00 00", 5000).capacity(kTunnel).answer("FF 01 00 36")
          .gives(3),
      Row("pressed_nothing", pressed(1000))
          .sends("D0 01 00 09 03 E8").capacity(kTunnel).answer("D0 09 00 36")
          .gives(1),
      Row("pressed_other_status", pressed(1000))
          .sends("D0 01 00 09 03 E8").capacity(kTunnel).answer("6A 82")
          .gives(-2),
      Row("pressed_without_the_key", pressed(1000))
          .sends("D0 01 00 09 03 E8").capacity(kTunnel).answer("FF 00 00")
          .gives(-1),
      Row("pressed_time_past_16_bits", pressed(65536)).gives(-1),
      Row("pressed_time_negative", pressed(-1)).gives(-1),
      // The reader's PIN keypad: [count][text].
      Row("reader_pin", reader_pin(10))
          .sends("06 01 00 0A", 15000)
          .gives(0).text("\x04" "8642"),
      Row("reader_pin_refused", reader_pin(0)).sends("06 01 00 00").answer("06 01 00")
          .gives(162).out("EE"),
      Row("reader_pin_cancelled", reader_pin(0)).sends("06 01 00 00").answer("06 02 00")
          .gives(161).out("00 00"),
      Row("reader_pin_other_status", reader_pin(0)).sends("06 01 00 00").answer("06 03 00")
          .gives(-2).out("EE"),
      Row("reader_pin_past_its_count", reader_pin(0)).sends("06 01 00 00")
          .answer({"00 00 00", Bytes(256, 0x31)})
          .gives(-1).out("EE"),
      // The PIN pad's line.
      Row("pinpad_communication", pinpad(30, 2))
          .sends("22 02 00 00 1E 00 02 3C 3C", 8000).answer("00 00 00 AA")
          .gives(0).out("01 AA"),
      Row("pinpad_communication_longest_wait", pinpad(65535, 0))
          .sends("22 02 00 FF FF 00 00", 6558500).answer("00 00 00")
          .gives(0).out("00"),
      Row("pinpad_communication_time_past_16_bits", pinpad(65536, 0)).gives(-1).out("F9"),
      Row("pinpad_communication_length_negative", pinpad(0, -1)).gives(-1).out("F9"),
      Row("pinpad_communication_past_the_request", pinpad(0, 2042)).gives(-1).out("F9"),
      Row("pinpad_baud", [](Call& c) { return c.d.SetPinpadWithReaderBaudrate(kIcdev, 4); })
          .sends("22 00 00 01 04")
          .gives(0)
          .then([](const State& s) { EXPECT_EQ(s.services.pinpad_baud, 4); }),
      Row("pinpad_baud_read",
          [](Call& c) { return c.d.CheckPinpadWithReaderBaudrate(kIcdev, c.bytes()); })
          .sends("22 00 00 00")
          .gives(0).out("02"),
  };
  rows.insert(rows.end(), std::begin(fixed), std::end(fixed));
  return rows;
}();
WIRE_TABLE(KeypadsBehindReader, R42ServicesReader, kRows);

}  // namespace
