// The device class of reader family m6: one-byte command codes, a one-byte
// reader status at the head of every reply.
//
// The device manager makes one over an opened port and its framing, probes it
// with getver and, once it answered, calls init; the handle-table entry owns
// the port and the protocol, the device only borrows them. Operations run one
// at a time under the core's api_lock; the device keeps its state unlocked.
//
// Only the operations the open needs are built so far (name, version and
// serial); every other slot answers as the interface default does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/port.h"
#include "connection/reader_device.h"
#include "connection/transport_protocol.h"

class M6Device : public ReaderDevice {
 public:
  // `name` is the profile row name (at most 63 characters are kept; null is
  // taken as ""). Port and protocol are borrowed, either may be null.
  M6Device(const char* name, Port* port, TransportProtocol* protocol);
  ~M6Device() override;

  // Read version and serial into the device's own texts; always -1, which
  // the manager ignores.
  int32_t init(int32_t, int32_t) override;
  int32_t init_name(int32_t, int32_t, int32_t) override;
  // Two version characters and a NUL (3 bytes); 0, else -1 after one repeat.
  int16_t getver(int32_t icdev, char* version) override;
  // 32 serial characters and a NUL (33 bytes); 0, -1 or -2.
  int16_t readdevsnr(int32_t icdev, char* serial) override;
  // Contact-card status is not reported by this family: always 0.
  int16_t CpuCardStatus(int32_t icdev) override;

  const char* name() const { return name_; }
  const char* versionText() const { return state_.version_text; }
  const char* serialText() const { return state_.serial_text; }
  bool sp0() const { return state_.sp0_flag != 0; }
  uint32_t lastStatus() const { return state_.last_status; }
  uint8_t fwtClass() const { return state_.fwt_class; }

  // Every m6 reply fits this.
  static constexpr int32_t kReplyCapacity = 2048;
  static constexpr int32_t kDefaultTimeoutMs = 5000;
  // The version probe of the serial and USB rows gives up quickly, so that a
  // search over many rows stays short.
  static constexpr int32_t kProbeTimeoutMs = 200;

 private:
  // Purges the port and runs one command through the protocol. The reply
  // length, or -1 when nothing usable came back.
  int32_t exchange(uint8_t* buffer, int32_t send_length, int32_t timeout_ms);
  // A one-byte command answered by `length` characters after the status
  // byte: 0 with the characters and a NUL in `text` (length + 1 bytes), -1
  // (no or short reply; nothing written) or -2 (status, kept as the last
  // status).
  int16_t queryText(uint8_t command, int32_t timeout_ms, char* text, size_t length);
  int16_t versionProbe(char* version);
  int32_t readIdentity();

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
    struct MfpSession {
      uint32_t read_counter;
      uint32_t write_counter;
      uint8_t transaction_id[4];
      uint8_t session_enc_key[16];
      uint8_t session_mac_key[16];
    } mfp_session;
    uint32_t last_status;
    uint8_t fwt_class;
    uint8_t fwi;
  } state_;
};
