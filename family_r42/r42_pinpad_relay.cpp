// The PIN pad behind the reader: the relay command and the pad operations
// built on it. Each pad operation reaches the relay through the device
// interface, so a class overriding SD_InstallKey sees every frame.
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "family_r42/r42_pinpad_frames.h"
#include "platform/os.h"

namespace {

// The pad's own waiting time, in seconds, that each operation hands on.
constexpr uint8_t kShortWait = 5;
constexpr uint8_t kInitWait = 10;
constexpr uint8_t kEntryWait = 20;
constexpr uint8_t kBarcodeWait = 2;

// Frame room for data: ESC, a letter and CR LF around it.
constexpr size_t kDataFrameRoom = kPinpadFrameMax - 4;

int16_t pad_call(ReaderDevice& self, int32_t icdev, uint32_t pause_ms, const PinpadFrame& frame,
                 uint8_t ctime, PinpadAnswer* answer) {
  if (frame.overflowed()) return -1;
  os_sleep(pause_ms);
  return self.SD_InstallKey(icdev, ctime, uint8_t(frame.size()), frame.data(), &answer->length,
                            answer->bytes);
}

// A command the pad acknowledges with 0xAA.
int16_t pad_command(ReaderDevice& self, int32_t icdev, const PinpadFrame& frame, uint8_t ctime) {
  PinpadAnswer answer;
  const int16_t result = pad_call(self, icdev, kPinpadPauseMs, frame, ctime, &answer);
  return result != 0 ? result : pinpad_done(answer);
}

// PIN entry that the reader refused with a status gives 162.
int16_t entry_failure(int16_t relay) { return relay == -2 ? kPinEntryRefused : relay; }

int16_t plain_pin(ReaderDevice& self, int32_t icdev, char* out, uint8_t flag, uint8_t ctime) {
  if (out == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t relay =
      pad_call(self, icdev, kPinpadPauseMs, pinpad_plain_pin_frame(flag), ctime, &answer);
  if (relay != 0) return entry_failure(relay);
  return pinpad_plain_pin(answer, out);
}

int16_t enciphered_pin(ReaderDevice& self, int32_t icdev, char* out, const PinpadFrame& frame,
                       uint8_t ctime, bool extended) {
  if (out == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t relay = pad_call(self, icdev, kPinpadPauseMs, frame, ctime, &answer);
  if (relay != 0) return entry_failure(relay);
  return pinpad_enciphered_pin(answer, extended, out);
}

// A calculation in the pad: no pause, the first `count` answer bytes as hex
// (all of them when `count` is 0).
int16_t pad_calculation(ReaderDevice& self, int32_t icdev, const PinpadFrame& frame,
                        size_t count, char* out) {
  if (out == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t result = pad_call(self, icdev, 0, frame, kShortWait, &answer);
  if (result != 0) return result;
  return pinpad_hex_answer(answer, count == 0 ? answer.length : count, out);
}

}  // namespace

int16_t R42Device::SD_InstallKey(int32_t, uint8_t ctime, uint8_t senlen,
                                 const unsigned char* source, uint8_t* reclen,
                                 unsigned char* rdata) {
  if ((source == nullptr && senlen > 0) || reclen == nullptr) return -1;
  R42Request request(r42_cmd::kPinpadRelay);
  request.u8(ctime).u8(senlen).bytes(source, senlen);
  int32_t count = 0;
  const int16_t result =
      counted_reply(request, reader_wait_timeout(ctime), rdata, kNarrowReplyMax, &count);
  if (result == 0) *reclen = uint8_t(count);
  return result;
}

int16_t R42Device::SD_IFD_GetVersion(int32_t icdev, char* version) {
  if (version == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t result =
      pad_call(*this, icdev, kPinpadPauseMs, pinpad_version_frame(), kShortWait, &answer);
  if (result != 0) return result;
  pinpad_answer_text(answer, version);
  return 0;
}

int16_t R42Device::SD_IFD_PlayVoice(int32_t icdev, uint8_t playmode) {
  return pad_command(*this, icdev, pinpad_voice_frame(playmode), kEntryWait);
}

int16_t R42Device::SD_IFD_Init(int32_t icdev) {
  return pad_command(*this, icdev, pinpad_init_frame(), kInitWait);
}

int16_t R42Device::SD_IFD_SetMainKey(int32_t icdev, uint8_t keyset, const unsigned char* oldkey,
                                     const unsigned char* newkey) {
  if (oldkey == nullptr || newkey == nullptr) return -1;
  return pad_command(*this, icdev, pinpad_main_key_frame(keyset, oldkey, newkey), kShortWait);
}

int16_t R42Device::SD_IFD_SetWorkKey(int32_t icdev, uint8_t keysetmain, uint8_t keysetwork,
                                     const unsigned char* enkeywork) {
  if (enkeywork == nullptr) return -1;
  return pad_command(*this, icdev, pinpad_work_key_frame(keysetmain, keysetwork, enkeywork),
                     kShortWait);
}

int16_t R42Device::SD_IFD_ActWorkKey(int32_t icdev, uint8_t keysetmain, uint8_t keysetwork) {
  return pad_command(*this, icdev, pinpad_activate_frame(keysetmain, keysetwork), kShortWait);
}

int16_t R42Device::SD_IFD_SetKeyLength(int32_t icdev, uint8_t keylength) {
  return pad_command(*this, icdev, pinpad_key_length_frame(keylength), kShortWait);
}

int16_t R42Device::SD_IFD_GetPIN(int32_t icdev, char* szPasswd) {
  return plain_pin(*this, icdev, szPasswd, kPinpadDefaultPrompt, kEntryWait);
}

int16_t R42Device::SD_IFD_GetPINPro(int32_t icdev, char* szPasswd, uint8_t yyflag,
                                    uint8_t timeout) {
  return plain_pin(*this, icdev, szPasswd, yyflag, timeout);
}

int16_t R42Device::SD_IFD_GetEnPIN(int32_t icdev, char* szPasswd) {
  return enciphered_pin(*this, icdev, szPasswd, pinpad_enciphered_pin_frame('F', '0', '1'),
                        kEntryWait, false);
}

int16_t R42Device::SD_IFD_GetEnPINPro(int32_t icdev, char* szPasswd, uint8_t yyflag,
                                      uint8_t modeflag, uint8_t timeout) {
  return enciphered_pin(*this, icdev, szPasswd,
                        pinpad_enciphered_pin_frame('F', yyflag, modeflag), timeout, true);
}

int16_t R42Device::SD_IFD_GetEnPINBlock(int32_t icdev, char* szPasswd, uint8_t yyflag,
                                        uint8_t modeflag, const unsigned char* cardno,
                                        uint8_t timeout) {
  if (cardno == nullptr) return -1;
  return enciphered_pin(
      *this, icdev, szPasswd,
      pinpad_enciphered_pin_frame('I', yyflag, modeflag, cardno, kPinpadCardNumberSize), timeout,
      true);
}

int16_t R42Device::SD_IFD_SelecetDes(int32_t icdev, uint8_t desmode) {
  return pad_command(*this, icdev, pinpad_select_des_frame(desmode), kShortWait);
}

int16_t R42Device::SD_IFD_LEDDisplay(int32_t icdev, uint8_t line, uint8_t row,
                                     const char* leddata, uint8_t timeout) {
  if (leddata == nullptr) return -1;
  const size_t length = strnlen(leddata, kPinpadDisplayColumns + 1);
  if (row + length > kPinpadDisplayColumns) return -1;
  return pad_command(*this, icdev, pinpad_display_frame(line, leddata, length), timeout);
}

int16_t R42Device::SD_IFD_DES(int32_t icdev, uint8_t mode, const char* srcdata, char* desdata) {
  PinpadFrame frame;
  if (!pinpad_des_frame(mode, srcdata, frame)) return -1;
  return pad_calculation(*this, icdev, frame, kPinpadBlockSize, desdata);
}

int16_t R42Device::SD_IFD_DesCaculate(int32_t icdev, uint8_t srclen,
                                      const unsigned char* srcdata, char* desdata,
                                      uint8_t flag) {
  if (flag > 1 || srclen > kDataFrameRoom || (srcdata == nullptr && srclen > 0)) return -1;
  return pad_calculation(*this, icdev, pinpad_data_frame(flag == 0 ? 'H' : 'E', srcdata, srclen),
                         0, desdata);
}

int16_t R42Device::SD_IFD_CreateMac(int32_t icdev, uint8_t srclen, const unsigned char* srcdata,
                                    char* macdata) {
  if (srclen > kDataFrameRoom || (srcdata == nullptr && srclen > 0)) return -1;
  return pad_calculation(*this, icdev, pinpad_data_frame('G', srcdata, srclen), kPinpadMacSize,
                         macdata);
}

int16_t R42Device::SD_IFD_Scan2DBarcodeStart(int32_t icdev, uint8_t) {
  return pad_command(*this, icdev, pinpad_barcode_frame(kPinpadBarcodeStart), kBarcodeWait);
}

int16_t R42Device::SD_IFD_Scan2DBarcodeGetData(int32_t icdev, int32_t* rlen,
                                               unsigned char* rdata) {
  const PinpadFrame frame = pinpad_barcode_frame(kPinpadBarcodeData);
  // Only the first fetch waits.
  uint32_t pause_ms = kPinpadBarcodePauseMs;
  return pinpad_collect_barcode(
      [&](PinpadAnswer& answer) {
        const int16_t result = pad_call(*this, icdev, pause_ms, frame, kBarcodeWait, &answer);
        pause_ms = 0;
        return result;
      },
      rlen, rdata);
}

int16_t R42Device::SD_IFD_Scan2DBarcodeExit(int32_t icdev) {
  const PinpadFrame frame = pinpad_barcode_frame(kPinpadBarcodeExit);
  for (int attempt = 0; attempt < kPinpadBarcodeExitTries; ++attempt) {
    PinpadAnswer answer;
    const int16_t result = pad_call(*this, icdev, kPinpadPauseMs, frame, kBarcodeWait, &answer);
    if (result != 0) return result;
    if (answer.length == 0 || answer.bytes[0] != kPinpadBusy) return pinpad_done(answer);
  }
  return -1;
}
