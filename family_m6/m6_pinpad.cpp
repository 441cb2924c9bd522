// The PIN pad behind the reader: the relay command pair and the pad
// operations built on it. Each pad operation reaches the relay through the
// device interface, so a class overriding SD_InstallKey sees every frame.
#include <cstring>

#include "connection/reader_waits.h"
#include "family_m6/m6_device.h"
#include "platform/os.h"
#include "platform/pinpad_frames.h"

namespace {

constexpr uint8_t kPadSend = 0xFB;
constexpr uint8_t kPadCollect = 0xFA;
// The reader takes the collection time in quarter seconds, in one byte.
constexpr uint8_t kCollectTimeMax = 0xFF / 4;
// [0xFB][count][frame] must fit one request of the framing.
constexpr size_t kPadFrameMax = 254;

// The pad's own waiting time, in seconds, that each operation hands on.
constexpr uint8_t kShortWait = 2;
constexpr uint8_t kInitWait = 10;
constexpr uint8_t kEntryWait = 20;

int16_t pad_call(ReaderDevice& self, int32_t icdev, uint32_t pause_ms, const PinpadFrame& frame,
                 uint8_t ctime, PinpadAnswer& answer) {
  if (frame.overflowed() || frame.size() > kPadFrameMax) return -1;
  os_sleep(pause_ms);
  return self.SD_InstallKey(icdev, ctime, uint8_t(frame.size()), frame.data(), &answer.length,
                            answer.bytes);
}

// A command whose answer is not looked at.
int16_t pad_command(ReaderDevice& self, int32_t icdev, const PinpadFrame& frame, uint8_t ctime) {
  PinpadAnswer answer;
  return pad_call(self, icdev, kPinpadPauseMs, frame, ctime, answer);
}

// PIN entry reports the reader's status byte where the relay gave -2.
int16_t entry_result(const M6Device& device, int16_t relay) {
  return relay == -2 ? int16_t(device.lastStatus()) : relay;
}

// An m6 reader's pad takes the prompt byte alone and has no cancel byte:
// its answer is the PIN text.
int16_t prompt_only_pin(M6Device& device, int32_t icdev, char* out, uint8_t flag,
                        uint8_t ctime) {
  if (out == nullptr) return -1;
  PinpadAnswer answer;
  const PinpadFrame frame = PinpadFrame().u8(pinpad_pin_prompt(flag));
  const int16_t relay =
      entry_result(device, pad_call(device, icdev, kPinpadPauseMs, frame, ctime, answer));
  if (relay != 0) return relay;
  pinpad_answer_text(answer, out);
  return 0;
}

int16_t enciphered_pin(M6Device& device, int32_t icdev, char* out, const PinpadFrame& frame,
                       uint8_t ctime) {
  if (out == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t relay =
      entry_result(device, pad_call(device, icdev, kPinpadPauseMs, frame, ctime, answer));
  if (relay != 0) return relay;
  return pinpad_enciphered_pin(answer, true, out);
}

// A calculation in the pad: no pause, the first `count` answer bytes as hex
// (all of them when `count` is 0).
int16_t pad_calculation(ReaderDevice& self, int32_t icdev, const PinpadFrame& frame,
                        size_t count, char* out) {
  if (out == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t result = pad_call(self, icdev, 0, frame, kShortWait, answer);
  if (result != 0) return result;
  return pinpad_hex_answer(answer, count == 0 ? answer.length : count, out);
}

}  // namespace

int16_t M6Device::SD_InstallKey(int32_t, uint8_t ctime, uint8_t senlen,
                                const unsigned char* source, uint8_t* reclen,
                                unsigned char* rdata) {
  if ((source == nullptr && senlen > 0) || reclen == nullptr || rdata == nullptr ||
      ctime > kCollectTimeMax)
    return -1;
  M6Request send(kPadSend);
  send.u8(senlen).bytes(source, senlen);
  const int16_t sent = exchange(send, kDefaultTimeoutMs, 0);
  if (sent != 0) return sent;
  M6Request collect(kPadCollect);
  collect.u8(uint8_t(ctime * 4));
  int32_t count = 0;
  const int16_t result =
      counted_reply(collect, reader_wait_timeout(ctime), rdata, kPinpadFrameMax, &count);
  if (result == 0) *reclen = uint8_t(count);
  return result;
}

int16_t M6Device::SD_IFD_GetVersion(int32_t icdev, char* version) {
  if (version == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t result =
      pad_call(*this, icdev, kPinpadPauseMs, pinpad_version_frame(), kShortWait, answer);
  if (result != 0) return result;
  pinpad_answer_text(answer, version);
  return 0;
}

int16_t M6Device::SD_IFD_PlayVoice(int32_t icdev, uint8_t playmode) {
  return pad_command(*this, icdev, pinpad_voice_frame(playmode), kEntryWait);
}

int16_t M6Device::SD_IFD_Init(int32_t icdev) {
  return pad_command(*this, icdev, pinpad_init_frame(), kInitWait);
}

int16_t M6Device::SD_IFD_SetMainKey(int32_t icdev, uint8_t keyset, const unsigned char* oldkey,
                                    const unsigned char* newkey) {
  if (oldkey == nullptr || newkey == nullptr) return -1;
  return pad_command(*this, icdev, pinpad_main_key_frame(keyset, oldkey, newkey), kShortWait);
}

int16_t M6Device::SD_IFD_SetWorkKey(int32_t icdev, uint8_t keysetmain, uint8_t keysetwork,
                                    const unsigned char* enkeywork) {
  if (enkeywork == nullptr) return -1;
  return pad_command(*this, icdev, pinpad_work_key_frame(keysetmain, keysetwork, enkeywork),
                     kShortWait);
}

int16_t M6Device::SD_IFD_ActWorkKey(int32_t icdev, uint8_t keysetmain, uint8_t keysetwork) {
  return pad_command(*this, icdev, pinpad_activate_frame(keysetmain, keysetwork), kShortWait);
}

int16_t M6Device::SD_IFD_SetKeyLength(int32_t icdev, uint8_t keylength) {
  return pad_command(*this, icdev, pinpad_key_length_frame(keylength), kShortWait);
}

int16_t M6Device::SD_IFD_GetPIN(int32_t icdev, char* szPasswd) {
  return prompt_only_pin(*this, icdev, szPasswd, kPinpadDefaultPrompt, kEntryWait);
}

int16_t M6Device::SD_IFD_GetPINPro(int32_t icdev, char* szPasswd, uint8_t yyflag,
                                   uint8_t timeout) {
  return prompt_only_pin(*this, icdev, szPasswd, yyflag, timeout);
}

int16_t M6Device::SD_IFD_GetEnPIN(int32_t icdev, char* szPasswd) {
  if (szPasswd == nullptr) return -1;
  PinpadAnswer answer;
  const int16_t relay = entry_result(
      *this, pad_call(*this, icdev, kPinpadPauseMs, pinpad_enciphered_pin_frame('F', '0', '1'),
                      kEntryWait, answer));
  if (relay != 0) return relay;
  return pinpad_hex_answer(answer, kPinpadBlockSize, szPasswd);
}

int16_t M6Device::SD_IFD_GetEnPINPro(int32_t icdev, char* szPasswd, uint8_t yyflag,
                                     uint8_t modeflag, uint8_t timeout) {
  return enciphered_pin(*this, icdev, szPasswd,
                        pinpad_enciphered_pin_frame('F', yyflag, modeflag), timeout);
}

int16_t M6Device::SD_IFD_GetEnPINBlock(int32_t icdev, char* szPasswd, uint8_t yyflag,
                                       uint8_t modeflag, const unsigned char* cardno,
                                       uint8_t timeout) {
  if (cardno == nullptr) return -1;
  return enciphered_pin(
      *this, icdev, szPasswd,
      pinpad_enciphered_pin_frame('I', yyflag, modeflag, cardno, kPinpadCardNumberSize),
      timeout);
}

int16_t M6Device::SD_IFD_SelecetDes(int32_t icdev, uint8_t desmode) {
  return pad_command(*this, icdev, pinpad_select_des_frame(desmode), kShortWait);
}

int16_t M6Device::SD_IFD_LEDDisplay(int32_t icdev, uint8_t line, uint8_t row,
                                    const char* leddata, uint8_t timeout) {
  if (leddata == nullptr || line > kPinpadModeMax) return -1;
  const size_t length = strnlen(leddata, kPinpadDisplayColumns + 1);
  if (row + length > kPinpadDisplayColumns) return -1;
  return pad_command(*this, icdev, pinpad_display_frame(line, leddata, length), timeout);
}

int16_t M6Device::SD_IFD_DES(int32_t icdev, uint8_t mode, const char* srcdata, char* desdata) {
  PinpadFrame frame;
  if (!pinpad_des_frame(mode, srcdata, frame)) return -1;
  return pad_calculation(*this, icdev, frame, kPinpadBlockSize, desdata);
}

int16_t M6Device::SD_IFD_DesCaculate(int32_t icdev, uint8_t srclen,
                                     const unsigned char* srcdata, char* desdata, uint8_t flag) {
  if (flag > 1 || (srcdata == nullptr && srclen > 0)) return -1;
  return pad_calculation(*this, icdev, pinpad_data_frame(flag == 0 ? 'H' : 'E', srcdata, srclen),
                         0, desdata);
}

int16_t M6Device::SD_IFD_CreateMac(int32_t icdev, uint8_t srclen, const unsigned char* srcdata,
                                   char* macdata) {
  if (srcdata == nullptr && srclen > 0) return -1;
  return pad_calculation(*this, icdev, pinpad_data_frame('G', srcdata, srclen), kPinpadMacSize,
                         macdata);
}

int16_t M6Device::SD_IFD_Scan2DBarcodeStart(int32_t icdev, uint8_t) {
  return pad_command(*this, icdev, pinpad_barcode_frame(kPinpadBarcodeStart), kShortWait);
}

int16_t M6Device::SD_IFD_Scan2DBarcodeGetData(int32_t icdev, int32_t* rlen,
                                              unsigned char* rdata) {
  const PinpadFrame frame = pinpad_barcode_frame(kPinpadBarcodeData);
  return pinpad_collect_barcode(
      [&](PinpadAnswer& answer) {
        return pad_call(*this, icdev, kPinpadBarcodePauseMs, frame, kShortWait, answer);
      },
      rlen, rdata);
}

int16_t M6Device::SD_IFD_Scan2DBarcodeExit(int32_t icdev) {
  const PinpadFrame frame = pinpad_barcode_frame(kPinpadBarcodeExit);
  int16_t result = -2;
  for (int attempt = 0; attempt < kPinpadBarcodeExitTries; ++attempt) {
    PinpadAnswer answer;
    result = pad_call(*this, icdev, kPinpadPauseMs, frame, kShortWait, answer);
    if (result != -2 || lastStatus() != kPinpadBusy) break;
  }
  return result;
}
