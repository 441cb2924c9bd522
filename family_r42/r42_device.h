// The device class of reader family r42. Almost every operation is one
// command to the reader: a 16-bit big-endian code, a zero byte and the
// parameters go out in one buffer, the reply comes back in the same buffer
// with a 16-bit status word first. Operations that build on other operations
// of this class call them through the ReaderDevice interface so that an
// override in a derived class takes effect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "connection/device_info_area.h"
#include "connection/mifare_plus_ulc_slots.h"
#include "connection/port.h"
#include "connection/reader_device.h"
#include "connection/reader_waits.h"
#include "connection/transport_protocol.h"
#include "family_r42/idcard_text.h"
#include "family_r42/r42_commands.h"
#include "platform/byte_cursor.h"
#include "platform/byte_writer.h"
#include "platform/byte_helpers.h"
#include "platform/mifare_plus_ulc_flow.h"
#include "platform/pinpad_frames.h"
#include "platform/text_helpers.h"

// Request and reply share one buffer. Most commands use the default size,
// and the protocol is asked for at most that many reply bytes; commands
// with long replies (identity-card records, the module tunnel) make their
// request with a larger size.
inline constexpr size_t kR42BufferSize = 2048;
// The buffer of the commands with long requests or replies: the module
// tunnels, the fingerprint module and the SMS sender.
inline constexpr size_t kR42LongBufferSize = 8192;
// The largest buffer a request may ask for.
inline constexpr size_t kR42MaxBufferSize = 65536;
inline constexpr int32_t kR42DefaultTimeoutMs = 5000;
// PIN entry's result when the reader refused it with a status (besides the
// pad's own 161 and 163, platform/pinpad_frames.h).
inline constexpr int16_t kPinEntryRefused = 162;
// The most data a reply of the default size carries after its head.
inline constexpr size_t kR42ReplyDataMax = kR42BufferSize - r42_cmd::kReplyHead;

// One request under construction: the code, a zero byte, then the
// parameters through the ByteWriter appends. Appending past the buffer
// marks the request as overflowed; the exchange then refuses it before any
// I/O. A buffer larger than the default comes from the heap; when that
// fails, or the size is above kR42MaxBufferSize, the request is refused the
// same way.
class R42Request : public ByteWriter {
 public:
  explicit R42Request(uint16_t code, size_t capacity = kR42BufferSize);
  // A bulk request (screen images): `size` bytes from the heap, up to what
  // one frame of any framing can carry, whose reply may take
  // `reply_capacity` of them. A larger size, or a failed allocation,
  // refuses the request as above, before anything is copied.
  R42Request(uint16_t code, uint64_t size, size_t reply_capacity);

  // The most the reply may take: the buffer's size but for bulk requests.
  size_t reply_capacity() const { return reply_capacity_; }

 private:
  uint8_t inline_[kR42BufferSize];
  std::unique_ptr<uint8_t[]> heap_;
  size_t reply_capacity_ = kR42BufferSize;
};

class R42Device : public MifarePlusUlcDevice {
 public:
  // Keeps `port` and `protocol` without owning them. A null name gives an
  // empty name; a longer one is cut to 63 characters.
  R42Device(const char* profile_name, Port* port, TransportProtocol* protocol);
  ~R42Device() override;
  R42Device(const R42Device&) = delete;
  R42Device& operator=(const R42Device&) = delete;

  // One command: purge, send `request`, take the reply into the request's
  // buffer (at most its reply capacity). Returns 0, -1 (refused
  // request, failed exchange, reply shorter than 2 bytes or than
  // `min_reply`, reply over the buffer) or -2 (status
  // word not 0; kept as the last status). `min_reply` counts from the status
  // word on (the r42_cmd reply lengths). On 0, `payload` (when given)
  // covers the reply from byte 3 on. `received` (when given) gets the
  // protocol's own count once the request went out, so that a caller can
  // tell a missing reply (negative) from a short one.
  int16_t exchange(R42Request& request, int32_t timeout_ms, size_t min_reply,
                   ByteCursor* payload = nullptr, int32_t* received = nullptr);
  // A reply the reader sends on its own: nothing goes out and the port is
  // not purged, so a reply that came in before the call is the one taken
  // (a late reply to an earlier command is taken too). `area` only lends
  // its buffer and capacity; otherwise as exchange().
  int16_t receive(R42Request& area, int32_t timeout_ms, size_t min_reply,
                  ByteCursor* payload = nullptr);

  // A command whose parameters are single bytes and whose reply carries
  // nothing but the status.
  int16_t status_command(uint16_t code, std::initializer_list<uint8_t> params = {},
                         int32_t timeout_ms = kR42DefaultTimeoutMs);
  // The same with `length` bytes of the caller's after the single bytes: a
  // negative length, or a null `data` with a positive one, gives -1, and so
  // does data the request cannot hold, both before any I/O.
  int16_t data_command(uint16_t code, std::initializer_list<uint8_t> params, const void* data,
                       int64_t length, int32_t timeout_ms = kR42DefaultTimeoutMs);

  // --- reply shapes: one exchange, then one way of reading its reply ---
  // Each refuses a null output with -1 before any I/O, writes its outputs
  // only when it returns 0, and otherwise returns what exchange() returns.

  // `count` bytes from reply byte 3 (a shorter reply: -1).
  int16_t fixed_reply(R42Request& request, uint8_t* out, size_t count);
  // The same and a NUL at out[count].
  int16_t fixed_text_reply(R42Request& request, uint8_t* out, size_t count);
  // Reply bytes 3, 4, ... to one-byte outputs, in order; the reply must
  // carry one byte for each.
  int16_t byte_reply(R42Request& request, std::initializer_list<uint8_t*> outs);
  // Reply byte 3 itself as the result, 0-255 (a shorter reply: -1).
  int16_t byte_result(R42Request& request);
  // All reply data from byte 3 to `out` and its length to `*count`; data
  // longer than `room`: -1, nothing written.
  int16_t counted_reply(R42Request& request, int32_t timeout_ms, uint8_t* out, size_t room,
                        int32_t* count);
  // The same with a NUL after the data (room + 1 bytes at most); `count` may
  // be null.
  int16_t text_reply(R42Request& request, int32_t timeout_ms, uint8_t* out, size_t room,
                     int32_t* count = nullptr);
  // A module behind the reader answers inside the reply: its own status word
  // (BE16 at byte 3, 0 = success) and its data from byte 5. Checks in order:
  // the exchange (a reply shorter than 5 bytes: -1), the module status (not
  // 0: -1, the reader's word staying the last status), then `min_reply`.
  // `data` covers the reply from byte 5.
  int16_t module_reply(R42Request& request, size_t min_reply, ByteCursor* data);
  // A module reply whose data is a BE16 count at byte 5 and that many bytes
  // from byte 7; a count past the reply: -1, nothing written.
  int16_t module_counted_reply(R42Request& request, uint8_t* out, int32_t* count);
  // A BE16 count at byte 3 and that many bytes from byte 5 (a shorter reply
  // or a count past it: -1, nothing written).
  int16_t be16_counted_reply(R42Request& request, int32_t timeout_ms, uint8_t* out,
                             int32_t* count);

  // Results some command families give for reader status words. Each maps
  // the -2 of a non-success status and passes every other result on.
  struct StatusResult {
    uint16_t status;
    int16_t result;
  };
  // The result that `map` lists for last_status(); unlisted words stay -2.
  int16_t map_status(int16_t result, std::initializer_list<StatusResult> map) const;
  // For commands whose reply length counts before their status: a reply
  // shorter than `min_reply` gives -1 whatever it says; a status word gives
  // what `map` lists for it, -1 when unlisted. Else as exchange().
  int16_t length_first_exchange(R42Request& request, int32_t timeout_ms, size_t min_reply,
                                std::initializer_list<StatusResult> map, ByteCursor* payload);
  // The status word itself, as a signed 16-bit value: 0xFFFF reads as -1
  // and 0xFFFE as -2, which last_status() tells apart from our own.
  int16_t status_word_itself(int16_t result) const;
  // The status word negated, as 16 bits: 0x0001 reads -1, 0x0601 -1537.
  int16_t status_word_negated(int16_t result) const;
  // PIN entry on the reader: refused (0x0601) gives 162, cancelled (0x0602)
  // 161.
  static constexpr std::initializer_list<StatusResult> kPinEntryStatuses = {
      {r42_cmd::kStatusPinRefused, kPinEntryRefused},
      {r42_cmd::kStatusPinCancelled, kPinEntryCancelled}};
  int16_t pin_entry_result(int16_t result) const;
  // 1: the command reports only whether it succeeded.
  static int16_t status_flag_result(int16_t result) { return result == -2 ? 1 : result; }

  const char* profile_name() const { return profile_name_; }
  uint32_t last_status() const { return last_status_; }

  // --- object and exchange ---
  int32_t init(int32_t arg1, int32_t arg2) override;
  int32_t init_name(int32_t arg1, int32_t arg2, int32_t arg3) override;
  int16_t exit(int32_t icdev) override;
  int16_t getname(int32_t icdev, char* name) override;
  int16_t config(int32_t icdev, uint8_t mode, uint8_t baud) override;
  int16_t config_card(int32_t icdev, uint8_t cardtype) override;
  int16_t attrib(int32_t icdev, const uint8_t* pupi, uint8_t cid) override;
  int16_t GetLastResponseCode(int32_t icdev, int32_t* code) override;

  // --- reader basics ---
  // Writes at most 255 characters and a NUL (the probe's buffer is 256).
  int16_t getver(int32_t icdev, char* sver) override;
  int16_t update(int32_t icdev) override;
  int16_t reset(int32_t icdev, uint16_t msec) override;
  // Up to 6553: the command carries ten times the value in 16 bits.
  int16_t beep(int32_t icdev, uint16_t msec) override;
  int16_t srd_eeprom(int32_t icdev, int16_t offset, int16_t length, uint8_t* rec_buffer) override;
  int16_t swr_eeprom(int32_t icdev, int16_t offset, int16_t length,
                     const uint8_t* send_buffer) override;
  int16_t swr_alleeprom(int32_t icdev, int16_t offset, int16_t length,
                        const uint8_t* snd_buffer) override;
  int16_t srd_alleeprom(int32_t icdev, int16_t offset, int16_t length,
                        uint8_t* receive_buffer) override;
  int16_t srd_eepromhex(int32_t icdev, int16_t offset, int16_t length, char* rec_buffer) override;
  int16_t swr_eepromhex(int32_t icdev, int16_t offset, int16_t length,
                        const char* send_buffer) override;
  int16_t gettime(int32_t icdev, uint8_t* time) override;
  int16_t gettimehex(int32_t icdev, char* time) override;
  int16_t settime(int32_t icdev, const uint8_t* time) override;
  int16_t settimehex(int32_t icdev, const char* time) override;
  // Values above 255 do not fit the command's byte.
  int16_t light(int32_t icdev, uint16_t on_off) override;
  int16_t srd_eeprom_hex(int32_t icdev, int16_t offset, int16_t length, char* rec_buffer) override;
  int16_t swr_eeprom_hex(int32_t icdev, int16_t offset, int16_t length,
                         const char* send_buffer) override;
  int16_t gettime_hex(int32_t icdev, char* time) override;
  int16_t settime_hex(int32_t icdev, const char* time) override;
  int16_t testdevicecomm(int32_t icdev) override;
  int16_t setdevicetime(int32_t icdev, uint8_t year, uint8_t month, uint8_t date, uint8_t hour,
                        uint8_t minute, uint8_t second) override;
  int16_t getdevicetime(int32_t icdev, uint8_t* year, uint8_t* month, uint8_t* date,
                        uint8_t* hour, uint8_t* minute, uint8_t* second) override;
  int16_t posbeep(int32_t icdev, uint8_t beeptime) override;
  int16_t ctlbacklight(int32_t icdev, uint8_t open_flag) override;
  int16_t ctlled(int32_t icdev, uint8_t led, uint8_t open_flag) override;
  int16_t readdevsnr(int32_t icdev, char* snr) override;
  int16_t readreadersnr(int32_t icdev, char* snr) override;
  int16_t resetdevice(int32_t icdev) override;
  int16_t setdevicebaud(int32_t icdev, uint8_t baud) override;

  // --- memories and device information ---
  int16_t ReadFlash(int32_t icdev, int32_t offset, int32_t length, uint8_t* data_buffer) override;
  int16_t WriteFlash(int32_t icdev, int32_t offset, int32_t length,
                     const uint8_t* data_buffer) override;
  int16_t ReadOutEeprom(int32_t icdev, int32_t offset, int32_t length,
                        uint8_t* data_buffer) override;
  int16_t WriteOutEeprom(int32_t icdev, int32_t offset, int32_t length,
                         const uint8_t* data_buffer) override;
  // Sectors 0-65535 (the command carries 16 bits).
  int16_t FlashErase(int32_t icdev, int32_t sector) override;
  int16_t MultiFlashErase(int32_t icdev, uint8_t type, int32_t sector) override;
  // Offset and length are unsigned 64-bit values given as two 32-bit halves.
  int16_t MultiFlashRead(int32_t icdev, uint8_t type, int32_t offset_h, int32_t offset_l,
                         int32_t length_h, int32_t length_l, uint8_t* data_buffer) override;
  int16_t MultiFlashWrite(int32_t icdev, uint8_t type, int32_t offset_h, int32_t offset_l,
                          int32_t length_h, int32_t length_l,
                          const uint8_t* data_buffer) override;
  int16_t MultiFlashGetSize(int32_t icdev, uint8_t type, int32_t* length_h,
                            int32_t* length_l) override;
  // Text fields of the device-information area: at most 32 characters and a
  // NUL out; texts over 32 characters are refused.
  int16_t GetDeviceUid(int32_t icdev, char* uid) override;
  int16_t SetDeviceUid(int32_t icdev, const char* uid) override;
  int16_t GetDeviceTradeNumber(int32_t icdev, char* number) override;
  int16_t SetDeviceTradeNumber(int32_t icdev, const char* number) override;
  int16_t GetDeviceTerminalNumber(int32_t icdev, char* number) override;
  int16_t SetDeviceTerminalNumber(int32_t icdev, const char* number) override;
  int16_t ReadDeviceCustomInfo(int32_t icdev, uint8_t* info) override;
  int16_t WriteDeviceCustomInfo(int32_t icdev, const uint8_t* info) override;
  int16_t ReadDeviceTypeName(int32_t icdev, char* name) override;
  int16_t WriteDeviceTypeName(int32_t icdev, const char* name) override;
  // Writes up to 4091 bytes: two hex digits per reply byte and a NUL.
  int16_t GetChipIdNumber(int32_t icdev, char* number) override;
  int16_t ReadEepromRaw(int32_t icdev, int16_t offset, int16_t length, uint8_t* buffer) override;
  int16_t WriteEepromRaw(int32_t icdev, int16_t offset, int16_t length,
                         const uint8_t* buffer) override;
  int16_t DeviceCommand0F01(int32_t icdev) override;
  // Writes up to 2046 bytes: the reply data and a NUL.
  int16_t DeviceQuery0F13(int32_t icdev, uint8_t* buffer) override;
  // Writes up to 2046 bytes: the reply data and a NUL.
  int16_t ReadDeviceCustomSerialNumber(int32_t icdev, uint8_t number, char* data) override;
  // Texts over 2044 characters do not fit one request.
  int16_t WriteDeviceCustomSerialNumber(int32_t icdev, uint8_t number, const char* data) override;
  // A sleeping Bluetooth reader misses the first requests: the wake-up is
  // repeated with longer time-outs while nothing at all comes back.
  int16_t WakeDevice(int32_t icdev) override;

#include "family_r42/sector_card_slots.inc"
#include "family_r42/idcard_slots.inc"
#include "family_r42/contact_cpu_slots.inc"
#include "family_r42/iso14443_slots.inc"
#include "family_r42/card_channel_slots.inc"
#include "family_r42/mifare_plus_ulc_slots.inc"
#include "family_r42/memory_card_slots.inc"
#include "family_r42/services_slots.inc"
#include "family_r42/at88sc_slots.inc"
#include "family_r42/self_service_rf_slots.inc"
#include "family_r42/link_modules_slots.inc"
#include "family_r42/display_voice_slots.inc"
#include "family_r42/pin_stripe_slots.inc"
#include "family_r42/terminal_modules_slots.inc"
 private:
  // The device-information fields, in the 4096-byte information area.
  DeviceInfoArea info_area();
  int16_t copy_reply_data(R42Request& request, int32_t timeout_ms, uint8_t* out, size_t room,
                          int32_t* count, bool terminate);
  // Sends the first `send_length` bytes of the request (none: only listens)
  // and reads the reply as exchange() describes.
  int16_t transfer(R42Request& request, int32_t send_length, int32_t timeout_ms,
                   size_t min_reply, ByteCursor* payload, int32_t* received);

 protected:
  // Field order and initial values follow the reader family's data model;
  // most areas belong to card and module operations of this family.
  char profile_name_[64];
  Port* port_;
  TransportProtocol* protocol_;
  uint8_t request_mode_ = 0;
  uint16_t tag_type_ = 0;
  uint8_t sak_ = 0;
  uint8_t restore_block_ = 0;
  uint8_t contact_slot_ = 0;
  uint8_t cpu_baud_selector_ = 0;
  uint8_t contact_voltage_ = 0;
  uint8_t cpu_protocol_by_slot_[64] = {};
  uint8_t cpu_etu_by_slot_[64];
  MfpSession mfp_session_ = {};
  IdCardText id_text_ = {};
  uint8_t id_photo_[4096] = {};
  uint32_t id_photo_length_ = 0;
  uint8_t id_finger_[4096] = {};
  uint32_t id_finger_length_ = 0;
  char id_validity_text_[2048] = {};
  uint32_t last_status_ = 0;
};
