#include "core_api/custom_traces.h"

#include <algorithm>
#include <cstring>

#include "connection/reader_device.h"
#include "core_api/reader_families.h"

namespace {

constexpr bool before(TracePhase phase) { return phase == TracePhase::kBefore; }

// Byte length of an LCD text with its terminator, looked for no further
// than the handle's reader looks (`limit` bytes): a text without one there
// is refused by the reader, and its trace shows the bytes up to that bound.
// Two-byte units are read as byte pairs: the caller's buffer need not be
// aligned.
int64_t charset_text_length(size_t limit, uint8_t charset, const unsigned char* text) {
  const size_t unit = charset <= 4 ? 1 : charset <= 6 ? 2 : 0;
  if (unit == 0) return 0;
  size_t at = 0;
  for (; at + unit <= limit; at += unit) {
    if (text[at] == 0 && (unit == 1 || text[at + 1] == 0)) return int64_t(at + unit);
  }
  return int64_t(at);
}

void charset_text(CallTrace& t, int32_t icdev, uint8_t charset, const unsigned char* text) {
  static const char kLabel[] = "  parameter:[text[in]]";
  if (!text) {
    t.text(kLabel, nullptr);
    return;
  }
  t.bytes(kLabel, text, charset_text_length(lcd_text_read_limit(icdev), charset, text));
}

// At most 1024 bytes of an identity-card field copied for the caller,
// counted by the device's length query for that field.
void field_by_length(CallTrace& t, const char* label, int32_t idhandle, const unsigned char* field,
                     int32_t (ReaderDevice::*length_query)(int32_t)) {
  if (!field) {
    t.bytes(label, nullptr, 0);
    return;
  }
  ReaderDevice* device = device_for_handle(idhandle);
  const int32_t length = device ? (device->*length_query)(idhandle) : 0;
  t.bytes(label, field, std::min<int64_t>(length, 1024));
}

}  // namespace

void trace_password_by_zone(CallTrace& t, TracePhase phase, int32_t, int16_t zone,
                            const unsigned char* password) {
  if (!before(phase)) return;
  static const char kLabel[] = "  parameter:[password[in]]";
  t.bytes(kLabel, password, 2);
  const int64_t by_zone = zone == 0 ? 2 : zone == 11 ? 6 : zone == 12 ? 4 : -1;
  if (by_zone >= 0) t.bytes(kLabel, password, by_zone);
}

void trace_record_by_table(CallTrace& t, TracePhase phase, int32_t, uint8_t tablenumber, uint8_t,
                           uint8_t*, unsigned char* recorddata) {
  if (before(phase) || tablenumber > 1) return;
  t.bytes("  parameter:[recorddata[out]]", recorddata, tablenumber == 0 ? 64 : 4);
}

void trace_photo_by_type(CallTrace& t, TracePhase phase, int32_t, int32_t type, int32_t,
                         const unsigned char*, int32_t* photo_len, char* photo) {
  if (type < 0 || type > 2) return;
  if (before(phase)) {
    if (type == 0) {
      t.text("  parameter:[photo[in]]", photo);
    } else {
      t.number_at("  parameter:[photo_len[in]]", photo_len);
    }
    return;
  }
  if (type == 0) return;
  t.number_at("  parameter:[photo_len[out]]", photo_len);
  if (type == 1) {
    t.bytes("  parameter:[photo[out]]", photo, count_at(photo_len));
  } else {
    t.text("  parameter:[photo[out]]", photo);
  }
}

void trace_length_prefixed(CallTrace& t, TracePhase phase, int32_t, uint8_t,
                           unsigned char* config_data) {
  if (!before(phase)) {
    t.bytes("  parameter:[config_data[out]]", config_data,
            config_data ? config_data[0] + 1 : 0);
  }
}

void trace_length_prefixed(CallTrace& t, TracePhase phase, int32_t, uint8_t,
                           const unsigned char* config_data) {
  if (before(phase)) {
    t.bytes("  parameter:[config_data[in]]", config_data, config_data ? config_data[0] + 1 : 0);
  }
}

void trace_text_by_charset(CallTrace& t, TracePhase phase, int32_t icdev, uint8_t, uint8_t,
                           uint8_t, uint8_t charset, const unsigned char* text) {
  if (before(phase)) charset_text(t, icdev, charset, text);
}

void trace_text_by_charset(CallTrace& t, TracePhase phase, int32_t icdev, uint8_t, uint8_t,
                           uint8_t, uint8_t charset, const unsigned char* text,
                           const unsigned char*, int32_t) {
  if (before(phase)) charset_text(t, icdev, charset, text);
}

void trace_secret_up_to_6(CallTrace& t, TracePhase phase, int32_t, const char*,
                          const unsigned char* secret) {
  if (!before(phase)) return;
  t.bytes("  parameter:[secret[in]]", secret,
          secret ? static_cast<int64_t>(strnlen(reinterpret_cast<const char*>(secret), 6)) : 0);
}

void trace_data_by_flag(CallTrace& t, TracePhase phase, int32_t, int32_t, int32_t, int32_t flag,
                        const unsigned char* data, int32_t* data_size) {
  if (before(phase)) t.bytes("  parameter:[data[in]]", data, flag != 0 ? count_at(data_size) : 0);
}

void trace_photo_by_length(CallTrace& t, TracePhase phase, int32_t idhandle,
                           unsigned char* photo) {
  if (!before(phase)) {
    field_by_length(t, "  parameter:[photo[out]]", idhandle, photo,
                    &ReaderDevice::i_d_query_photo_len);
  }
}

void trace_finger_by_length(CallTrace& t, TracePhase phase, int32_t idhandle,
                            unsigned char* finger) {
  if (!before(phase)) {
    field_by_length(t, "  parameter:[finger[out]]", idhandle, finger,
                    &ReaderDevice::i_d_query_finger_len);
  }
}
