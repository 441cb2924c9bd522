// Terminal and wallet settings kept by a reader with a payment module: one
// command each, whose result is the reader's status word.
#include <cctype>
#include <cstdio>

#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

// The byte after the zero byte: read a setting or write it.
constexpr uint8_t kGet = 0x00;
constexpr uint8_t kSet = 0x01;

constexpr size_t kWalletSecretSize = 3;
constexpr size_t kTradeKeySize = 8;
constexpr size_t kAuthenticationSize = 8;
// The balance travels as 32 bits but is shown as at most 8 digits.
constexpr uint32_t kBalanceMax = 99999999;
constexpr size_t kBalanceTextSize = 9;

// Record sizes by table; other tables carry no record.
constexpr size_t kRecordSizeTable0 = 64;
constexpr size_t kRecordSizeTable1 = 4;

// An amount as "%u" reads it: white space, an optional '+', then digits,
// anything after them ignored. A '-' sign or a digit run above 2^32 - 1,
// which "%u" would wrap into another amount, is refused.
bool parse_amount(const char* text, uint32_t* value) {
  if (text == nullptr) return false;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  if (*text == '+') ++text;
  if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  uint64_t amount = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    amount = amount * 10 + uint64_t(*text - '0');
    if (amount > UINT32_MAX) return false;
  }
  *value = uint32_t(amount);
  return true;
}

int16_t word_command(R42Device& device, R42Request& request) {
  return device.status_word_itself(
      device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly));
}

int16_t set_field(R42Device& device, uint16_t code, uint8_t length, const uint8_t* data) {
  if (data == nullptr && length > 0) return -1;
  R42Request request(code);
  request.u8(kSet).u8(length).bytes(data, length);
  return word_command(device, request);
}

int16_t get_field(R42Device& device, uint16_t code, uint8_t length, uint8_t* out) {
  R42Request request(code);
  request.u8(kGet).u8(length);
  return device.status_word_itself(device.fixed_text_reply(request, out, length));
}

}  // namespace

int16_t R42Device::flash_card(int32_t) {
  R42Request request(r42_cmd::kFlashCard);
  return word_command(*this, request);
}

int16_t R42Device::read_walletbalance(int32_t, char* walletvalue) {
  if (walletvalue == nullptr) return -1;
  R42Request request(r42_cmd::kWalletBalance);
  uint8_t raw[4];
  const int16_t result = fixed_reply(request, raw, sizeof raw);
  if (result != 0) return status_word_itself(result);
  uint32_t balance = 0;
  ByteCursor(raw, sizeof raw).be32(balance);
  if (balance > kBalanceMax) return -1;
  std::snprintf(walletvalue, kBalanceTextSize, "%u", balance);
  return 0;
}

int16_t R42Device::consume_wallet(int32_t, const char* walletvalue, const unsigned char* secret) {
  uint32_t amount = 0;
  uint8_t key[kWalletSecretSize];
  if (!parse_amount(walletvalue, &amount) ||
      hex_twin_input(reinterpret_cast<const char*>(secret), kWalletSecretSize, key) != 0)
    return -1;
  R42Request request(r42_cmd::kConsumeWallet);
  request.be32(amount).bytes(key, sizeof key);
  return word_command(*this, request);
}

int16_t R42Device::transfer_wallet(int32_t, const char* walletvalue) {
  uint32_t amount = 0;
  if (!parse_amount(walletvalue, &amount)) return -1;
  R42Request request(r42_cmd::kTransferWallet);
  request.be32(amount);
  return word_command(*this, request);
}

int16_t R42Device::authentication_key(int32_t, const unsigned char* data,
                                      const unsigned char* desdata) {
  if (data == nullptr || desdata == nullptr) return -1;
  R42Request request(r42_cmd::kAuthenticationKey);
  request.bytes(data, kAuthenticationSize).bytes(desdata, kAuthenticationSize);
  return word_command(*this, request);
}

int16_t R42Device::set_terminalnumber(int32_t, uint8_t length, const unsigned char* serieldata) {
  return set_field(*this, r42_cmd::kTerminalNumber, length, serieldata);
}

int16_t R42Device::get_terminalnumber(int32_t, uint8_t length, unsigned char* serieldata) {
  return get_field(*this, r42_cmd::kTerminalNumber, length, serieldata);
}

int16_t R42Device::set_trademerchantcode(int32_t, uint8_t length,
                                         const unsigned char* merchantcode) {
  return set_field(*this, r42_cmd::kMerchantCode, length, merchantcode);
}

int16_t R42Device::get_trademerchantcode(int32_t, uint8_t length, unsigned char* merchantcode) {
  return get_field(*this, r42_cmd::kMerchantCode, length, merchantcode);
}

int16_t R42Device::set_hardwareserialnumber(int32_t, uint8_t length,
                                            const unsigned char* hardwareserial) {
  return set_field(*this, r42_cmd::kHardwareSerial, length, hardwareserial);
}

int16_t R42Device::get_hardwareserialnumber(int32_t, uint8_t length,
                                            unsigned char* hardwareserial) {
  return get_field(*this, r42_cmd::kHardwareSerial, length, hardwareserial);
}

int16_t R42Device::set_transactiontype(int32_t, uint8_t typecode) {
  R42Request request(r42_cmd::kTransactionType);
  request.u8(kSet).u8(typecode);
  return word_command(*this, request);
}

int16_t R42Device::get_transactiontype(int32_t, uint8_t* typecode) {
  R42Request request(r42_cmd::kTransactionType);
  request.u8(kGet);
  return status_word_itself(byte_reply(request, {typecode}));
}

int16_t R42Device::set_tradesecretkey(int32_t, const unsigned char* secretkey) {
  if (secretkey == nullptr) return -1;
  R42Request request(r42_cmd::kTradeSecretKey);
  request.u8(kSet).bytes(secretkey, kTradeKeySize);
  return word_command(*this, request);
}

int16_t R42Device::get_tradesecretkey(int32_t, unsigned char* secretkey) {
  R42Request request(r42_cmd::kTradeSecretKey);
  request.u8(kGet);
  return status_word_itself(fixed_text_reply(request, secretkey, kTradeKeySize));
}

int16_t R42Device::reset_factory(int32_t) {
  R42Request request(r42_cmd::kResetFactory);
  return status_flag_result(exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly));
}

int16_t R42Device::get_signmessageparameters(int32_t, uint8_t length, unsigned char* parameters) {
  R42Request request(r42_cmd::kSignParameters);
  request.u8(length);
  return status_word_itself(fixed_text_reply(request, parameters, length));
}

int16_t R42Device::get_record(int32_t, uint8_t tablenumber, uint8_t recordnumber,
                              uint8_t* recordquantity, unsigned char* recorddata) {
  const size_t record_size = tablenumber == 0   ? kRecordSizeTable0
                             : tablenumber == 1 ? kRecordSizeTable1
                                                : 0;
  if (recordquantity == nullptr || (record_size > 0 && recorddata == nullptr)) return -1;
  R42Request request(r42_cmd::kGetRecord);
  request.u8(tablenumber).u8(recordnumber);
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + 1 + record_size, &reply);
  if (result != 0) return status_word_itself(result);
  reply.u8(*recordquantity);
  if (record_size > 0) {
    reply.take(recorddata, record_size);
    recorddata[record_size] = 0;
  }
  return 0;
}
