// Trace lines that a member's table row cannot describe with a form and a
// count: lines written only under a condition of the call, or counted by a
// rule of their own. Each function is named after the custom tag of the rows
// it serves and writes only the lines of the arguments that tag governs; the
// generated member calls it where the first of those arguments stands, once
// before the device call (kBefore) and once after a traced result (kAfter),
// with the member's own arguments.
#pragma once

#include <cstdint>

#include "core_api/call_frame.h"

enum class TracePhase { kBefore, kAfter };

// kx_checkpass_102, kx_changepass_102: `password` as 2 bytes, then again by
// zone (0: 2 bytes, 11: 6, 12: 4, any other zone no second line).
void trace_password_by_zone(CallTrace& t, TracePhase phase, int32_t icdev, int16_t zone,
                            const unsigned char* password);

// kx_get_record: `recorddata` as 64 bytes for table 0, 4 for table 1, no
// line for another table.
void trace_record_by_table(CallTrace& t, TracePhase phase, int32_t icdev, uint8_t tablenumber,
                           uint8_t recordnumber, uint8_t* recordquantity,
                           unsigned char* recorddata);

// kx_ParsePhotoInfo: type 0 names a file (`photo` in as text); types 1 and
// 2 take a capacity in `photo_len` and give the BMP bytes or its base64
// text back; other types trace neither.
void trace_photo_by_type(CallTrace& t, TracePhase phase, int32_t icdev, int32_t type,
                         int32_t info_len, const unsigned char* info, int32_t* photo_len,
                         char* photo);

// The screen settings: `config_data` is a length byte and that many bytes,
// read after the call (get) or before it (set).
void trace_length_prefixed(CallTrace& t, TracePhase phase, int32_t icdev, uint8_t tag,
                           unsigned char* config_data);
void trace_length_prefixed(CallTrace& t, TracePhase phase, int32_t icdev, uint8_t tag,
                           const unsigned char* config_data);

// LCD text: charsets 0-4 are one byte a character, 5 and 6 two, each ended
// by a zero unit that the line includes; any other charset traces 0 bytes.
// The terminator is looked for no further than the handle's device reads
// (lcd_text_read_limit); with no device behind the handle nothing is read.
void trace_text_by_charset(CallTrace& t, TracePhase phase, int32_t icdev, uint8_t line,
                           uint8_t offset, uint8_t mode, uint8_t charset,
                           const unsigned char* text);
void trace_text_by_charset(CallTrace& t, TracePhase phase, int32_t icdev, uint8_t line,
                           uint8_t offset, uint8_t mode, uint8_t charset,
                           const unsigned char* text, const unsigned char* data,
                           int32_t data_len);

// kx_consume_wallet: `secret` up to its first NUL, at most 6 bytes.
void trace_secret_up_to_6(CallTrace& t, TracePhase phase, int32_t icdev,
                          const char* walletvalue, const unsigned char* secret);

// kx_DownloadFileData: `data` as *data_size bytes when a block is sent
// (flag not 0); with flag 0 nothing is sent and the line has 0 bytes.
void trace_data_by_flag(CallTrace& t, TracePhase phase, int32_t icdev, int32_t file_type,
                        int32_t file_size, int32_t flag, const unsigned char* data,
                        int32_t* data_size);

// kx_i_d_query_photo_2, kx_i_d_query_finger_2: the bytes the device copied,
// as many as its length query gives now, at most the 1024 the caller's
// buffer is promised to hold. The query runs only when the line is written.
void trace_photo_by_length(CallTrace& t, TracePhase phase, int32_t idhandle,
                           unsigned char* photo);
void trace_finger_by_length(CallTrace& t, TracePhase phase, int32_t idhandle,
                            unsigned char* finger);
