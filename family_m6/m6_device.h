// The device class of reader family m6: one-byte command codes, a one-byte
// reader status at the head of every reply.
//
// The device manager makes one over an opened port and its framing, probes it
// with getver and, once it answered, calls init; the handle-table entry owns
// the port and the protocol, the device only borrows them. Operations run one
// at a time under the core's api_lock; the device keeps its state unlocked.
//
// Every command is one exchange: the request [code][payload] is built in an
// M6Request, exchange() purges the port, sends it and takes the reply
// [status][answer] into the same buffer; the reply shapes below read the
// answer through a bounds-checked cursor. Operations built from other
// operations call them through the ReaderDevice interface, so each step
// behaves as the slot it names. Each command area declares its slots in a
// .inc file included in the class body and keeps its fields in State.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "connection/device_info_area.h"
#include "connection/mifare_plus_ulc_slots.h"
#include "connection/port.h"
#include "connection/reader_device.h"
#include "connection/transport_protocol.h"
#include "family_m6/block_chainer.h"
#include "family_m6/t1_exchange.h"
#include "platform/byte_cursor.h"
#include "platform/byte_writer.h"
#include "platform/mifare_plus_ulc_flow.h"

// One request under construction: [code][payload]. The reply comes back in
// the same buffer, which always holds a whole reply. A payload that does
// not fit refuses the request before any I/O.
class M6Request : public ByteWriter {
 public:
  // The buffer every ordinary exchange uses; also the reply capacity.
  static constexpr size_t kBufferSize = 2048;

  // `capacity` above kBufferSize (a long exchange's request) comes from the
  // heap; beyond what a report frame carries, or when the allocation fails,
  // the request is refused.
  explicit M6Request(uint8_t code, size_t capacity = kBufferSize);

 private:
  uint8_t inline_[kBufferSize];
  std::unique_ptr<uint8_t[]> heap_;
};

class M6Device : public MifarePlusUlcDevice {
 public:
  // `name` is the profile row name (at most 63 characters are kept; null is
  // taken as ""). Port and protocol are borrowed, either may be null; then
  // every exchange fails without I/O.
  M6Device(const char* name, Port* port, TransportProtocol* protocol);
  ~M6Device() override;
  M6Device(const M6Device&) = delete;
  M6Device& operator=(const M6Device&) = delete;

  // Every m6 reply fits this.
  static constexpr int32_t kReplyCapacity = int32_t(M6Request::kBufferSize);
  static constexpr int32_t kDefaultTimeoutMs = 5000;
  // The version probe of the serial and USB rows gives up quickly, so that a
  // search over many rows stays short.
  static constexpr int32_t kProbeTimeoutMs = 200;

  // --- the exchange ---
  // One command over the entry's framing: purge, send `request`, take the
  // reply into its buffer. 0; -1 (request refused or over what one frame
  // carries, no port or protocol, failed exchange, empty reply, answer
  // shorter than `min_answer`); -2 (status not 0). The status byte of any
  // reply is kept as the last status. On 0, `answer` (when given) covers
  // the reply after the status byte.
  int16_t exchange(M6Request& request, int32_t timeout_ms, size_t min_answer,
                   ByteCursor* answer = nullptr);
  // The same over a report-frame protocol made over the port for this one
  // exchange (requests and replies longer than the entry's framing takes).
  int16_t long_exchange(M6Request& request, int32_t timeout_ms, size_t min_answer,
                        ByteCursor* answer = nullptr);
  // Sends the request and waits for no reply: 0, or -1 when it did not go.
  int16_t send_only(M6Request& request, int32_t timeout_ms);
  // Takes a reply without sending anything and without a purge, so a reply
  // already waiting is the one taken. `area` only lends its buffer;
  // otherwise as exchange(). `received` (when given) gets the protocol's
  // own count, so a caller can tell a missing reply (negative) from a bad one.
  int16_t receive(M6Request& area, int32_t timeout_ms, size_t min_answer,
                  ByteCursor* answer = nullptr, int32_t* received = nullptr);

  // --- reply shapes: one exchange, then one way of reading its answer ---
  // Each refuses a null output with -1 before any I/O, writes its outputs
  // only when it returns 0, and otherwise returns what exchange() returns.

  // A command of single-byte parameters whose answer is not read.
  int16_t status_command(uint8_t code, std::initializer_list<uint8_t> params = {},
                         int32_t timeout_ms = kDefaultTimeoutMs);
  // The same with `length` bytes of the caller's after the single bytes: a
  // negative length, a null `data` with a positive one, or more than the
  // request holds gives -1 before any I/O.
  int16_t data_command(uint8_t code, std::initializer_list<uint8_t> params, const void* data,
                       int64_t length, int32_t timeout_ms = kDefaultTimeoutMs);
  // `count` answer bytes to `out` (a shorter answer: -1).
  int16_t fixed_reply(M6Request& request, uint8_t* out, size_t count,
                      int32_t timeout_ms = kDefaultTimeoutMs);
  // Answer bytes 0, 1, ... to one-byte outputs, in order.
  int16_t byte_reply(M6Request& request, std::initializer_list<uint8_t*> outs);
  // The command's one answer byte as the result, 0-255.
  int16_t byte_result(M6Request& request);
  // The whole answer to `out` and its length to `*count`; an answer longer
  // than `room`: -1, nothing written.
  int16_t counted_reply(M6Request& request, int32_t timeout_ms, uint8_t* out, size_t room,
                        int32_t* count);
  // An answer [length][length bytes]: the bytes to `out`, the length to
  // `*length`; a length past the answer: -1, nothing written.
  int16_t length_reply(M6Request& request, int32_t timeout_ms, uint8_t* out, uint8_t* length);
  // Reads such an answer from the cursor of a finished exchange whose
  // result was `result`.
  static int16_t take_length_form(int16_t result, ByteCursor& answer, uint8_t* out,
                                  uint8_t* length);

  // --- object, version and serial ---
  // Read version and serial into the device's own texts; always -1, which
  // the manager ignores.
  int32_t init(int32_t, int32_t) override;
  int32_t init_name(int32_t, int32_t, int32_t) override;
  // The profile name and its NUL (at most 64 bytes).
  int16_t getname(int32_t icdev, char* name) override;
  int16_t config(int32_t icdev, uint8_t mode, uint8_t baud) override;
  // Two version characters and a NUL (3 bytes); 0, else -1 after one repeat.
  int16_t getver(int32_t icdev, char* version) override;
  // Sent without waiting for an answer.
  int16_t update(int32_t icdev) override;
  // 32 serial characters and a NUL (33 bytes); 0, -1 or -2.
  int16_t readdevsnr(int32_t icdev, char* serial) override;
  // Serial characters 16-31 and a NUL (17 bytes).
  int16_t readreadersnr(int32_t icdev, char* serial) override;
  int16_t resetdevice(int32_t icdev) override;
  int16_t GetLastResponseCode(int32_t icdev, int32_t* code) override;
  // Contact-card status is not reported by this family: always 0.
  int16_t CpuCardStatus(int32_t icdev) override;

#include "family_m6/sector_card_slots.inc"
#include "family_m6/memories_slots.inc"
#include "family_m6/peripherals_slots.inc"
#include "family_m6/memory_card_slots.inc"
#include "family_m6/typeb_tags_slots.inc"
#include "family_m6/card_presence_slots.inc"
#include "family_m6/pos_terminal_slots.inc"
#include "family_m6/pinpad_slots.inc"
#include "family_m6/lcd_text_slots.inc"
#include "family_m6/barcode_slots.inc"
#include "family_m6/typea_cpu_slots.inc"
#include "family_m6/contact_cpu_slots.inc"
#include "family_m6/long_exchanges_slots.inc"
#include "family_m6/mifare_plus_slots.inc"

 public:
  const char* name() const { return name_; }
  const char* versionText() const { return state_.version_text; }
  const char* serialText() const { return state_.serial_text; }
  bool sp0() const { return state_.sp0_flag != 0; }
  uint32_t lastStatus() const { return state_.last_status; }
  uint8_t fwtClass() const { return state_.fwt_class; }

 private:
  // Reads the reply of `n` bytes (a protocol's result) in the request's
  // buffer as exchange() describes.
  int16_t finish(M6Request& request, int32_t n, size_t min_answer, ByteCursor* answer);
  // Whether an exchange can start: a whole request, a port and a protocol.
  bool ready(const M6Request& request, size_t max_size) const;
  // A one-byte command answered by `length` characters: 0 with the
  // characters and a NUL in `text` (length + 1 bytes), else as exchange().
  int16_t queryText(uint8_t command, int32_t timeout_ms, char* text, size_t length);
  int16_t versionProbe(char* version);
  int32_t readIdentity();
  // Readers whose version text is U or L with a second character of B or
  // above know the newer card commands: the long activation, block
  // exchanges over report frames and the type B attribute as a card frame.
  bool newer_version() const;

  char name_[64];
  Port* port_;
  TransportProtocol* protocol_;
  // Everything after the protocol, in the family's record order; a new
  // device starts with all of it zero except the frame-waiting class.
  struct State {
    char version_text[256];
    char serial_text[256];
    uint8_t sp0_flag;
    uint8_t last_request_mode;
    uint16_t last_tag_type;
    uint8_t last_sak;
    uint8_t contact_slot;
    uint8_t slot_t1_flag[64];
    uint8_t slot_t1_ns[64];
    uint8_t tcl_block_state;
    uint8_t last_ats[256];
    uint32_t ats_length;
    MfpSession mfp_session;
    uint32_t last_status;
    uint8_t fwt_class;
    uint8_t fwi;
  } state_;
};
