// The Tool_ entry points: argument checks, then the library's own code.
// Results are built whole before anything is copied out, so an output may
// be the same buffer as an input.
#include "tool.h"

#include <climits>
#include <cstdarg>
#include <cstring>
#include <optional>
#include <string>

#include "platform/byte_helpers.h"
#include "platform/text_helpers.h"
#include "tool/device_id.h"
#include "tool/file_util.h"
#include "tool/ini_values.h"
#include "tool/json_values.h"
#include "tool/text_ops.h"
#include "tool/time_ops.h"
#include "tool/trace.h"
#include "tool/xml_values.h"

namespace {

// `text` and its NUL into `out`; -1 for nothing.
int put_text(const std::optional<std::string>& text, char* out) {
  if (!text) return -1;
  std::memcpy(out, text->c_str(), text->size() + 1);
  return 0;
}

// The characters of `text` into `out`, no NUL; -1 for nothing.
int put_chars(const std::optional<std::string>& text, char* out) {
  if (!text) return -1;
  std::memcpy(out, text->data(), text->size());
  return 0;
}

// A caller's text of at most `limit` characters, or nothing; never reads
// more than limit + 1 characters.
std::optional<std::string_view> bounded(const char* text, size_t limit) {
  const size_t length = strnlen(text, limit + 1);
  if (length > limit) return std::nullopt;
  return std::string_view(text, length);
}

}  // namespace

QM_API int Tool_AsciiStrToHex(const char* text, int len, uint8_t* out) {
  if (!text || !out || len < 0) return -1;
  const std::vector<uint8_t> bytes = hex_text_bytes({text, strnlen(text, size_t(len))});
  if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
  return 0;
}

QM_API int Tool_CardNoHandle(const char* card, char* out) {
  if (!card || !out) return -1;
  const size_t length = strnlen(card, 20);
  if (length < 13 || length > 19) return -1;
  return put_text(mask_card(card, 6, 4), out);
}

QM_API int Tool_CardNoHandleNew(const char* card, int head, int tail, char* out) {
  if (!card || !out) return -1;
  const std::optional<std::string> masked = mask_card(card, head, tail);
  put_text(masked.value_or(card), out);
  return masked ? 0 : -1;
}

QM_API int Tool_DelayMs(int ms) {
  delay_ms(ms);
  return 0;
}

QM_API int Tool_DelayS(int seconds) {
  delay_ms(int64_t(seconds) * 1000);
  return 0;
}

QM_API int Tool_GetDeviceID(char* out, const char* bmpFile) {
  if (!out || !bmpFile) return -1;
  return MakeDeviceId("/sys/class/net", "qolbic.dll", out, bmpFile);
}

QM_API int Tool_GetIndexOfStr(const char* text, const char* sep, int index, char* out) {
  if (!text || !sep || !out || index < 0) return -1;
  put_chars(field_at(text, sep, index), out);
  return 0;
}

QM_API int Tool_GetIniString(const char* file, const char* section, const char* key, char* value) {
  if (!file || !section || !key || !value) return -1;
  return put_text(ini_get((program_folder() + file).c_str(), section, key), value);
}

QM_API int Tool_GetJsonString(const char* json, const char* path, char* value) {
  if (!json || !path || !value) return -1;
  const std::optional<std::string_view> text = bounded(json, kMaxJsonText);
  return text ? put_chars(json_get(*text, path), value) : -1;
}

QM_API int Tool_GetXOR(const uint8_t* data, int len, uint8_t* out) {
  if (!data || !out) return -1;
  *out = xor_checksum(data, len);
  return 0;
}

QM_API int Tool_GetXmlData(const char* xml, const char* path, char* value) {
  if (!xml || !path || !value) return -1;
  const std::optional<std::string_view> text = bounded(xml, kMaxXmlText);
  return text ? put_text(xml_get(*text, path), value) : -1;
}

QM_API int Tool_GetXmlDataFile(const char* file, const char* path, char* value) {
  if (!file || !path || !value) return -1;
  const std::optional<std::string> text = read_xml_file(file, false);
  // The text ends at a NUL, as a text in memory would.
  return text ? put_text(xml_get(text->c_str(), path), value) : -1;
}

QM_API int Tool_HexToAsciiStr(const uint8_t* data, int len, char* out) {
  if (!data || !out || len < 0 || len > INT_MAX / 2) return -1;
  hex_twin_output(data, size_t(len), out);
  return 0;
}

QM_API int Tool_SetIniString(const char* file, const char* section, const char* key,
                             const char* value) {
  if (!file || !section || !key || !value || strnlen(file, kMaxToolPath + 1) > kMaxToolPath) {
    return -1;
  }
  return ini_set(file, section, key, value);
}

QM_API int Tool_SetJsonString(const char* json, const char* path, const char* value, char* out) {
  if (!json || !path || !value || !out) return -1;
  const std::optional<std::string_view> text = bounded(json, kMaxJsonText);
  return text ? put_text(json_set(*text, path, value), out) : -1;
}

QM_API int Tool_SetXmlData(const char* path, const char* value, char* xml) {
  if (!path || !value || !xml) return -1;
  const std::optional<std::string_view> text = bounded(xml, kMaxXmlText);
  return text ? put_text(xml_set(*text, path, value), xml) : -1;
}

QM_API int Tool_SetXmlDataFile(const char* path, const char* value, const char* file) {
  if (!path || !value || !file) return -1;
  const std::optional<std::string> text = read_xml_file(file, true);
  // Rewriting a text cut at a NUL would lose what follows it.
  if (!text || text->find('\0') != std::string::npos) return -1;
  const std::optional<std::string> changed = xml_set(*text, path, value);
  return changed ? write_text_file(file, *changed) : -1;
}

QM_API int Tool_SetXmlHeader(const char* header, char* xml) {
  if (!header || !xml) return -1;
  const std::optional<std::string_view> text = bounded(header, kMaxXmlText);
  if (!text) return -1;
  std::memmove(xml, text->data(), text->size() + 1);
  return 0;
}

QM_API int Tool_SetXmlHeaderFile(const char* header, const char* file) {
  if (!header || !file) return -1;
  return write_text_file(file, header);
}

QM_API int Tool_StringReplace(const char* text, const char* find, const char* repl, char* out) {
  if (!text || !find || !repl || !out || !*text || !*find) return -1;
  return put_text(*repl ? replace_all(text, find, repl) : std::string(text), out);
}

QM_API int Tool_TimeGet(TimeRecord* out) {
  if (!out) return -1;
  *out = local_time_now();
  return 0;
}

QM_API int Tool_TimeGetDays(TimeRecord from, TimeRecord to, int* days) {
  if (!days) return -1;
  const std::optional<int> count = days_between(from, to);
  if (!count) return -1;
  *days = *count;
  return 0;
}

QM_API int Tool_Trace(const char* format, ...) {
  if (!format) return 0;
  va_list args;
  va_start(args, format);
  trace_formatted(nullptr, format, args);
  va_end(args);
  return 0;
}

QM_API int Tool_TraceF(const char* file, const char* format, ...) {
  if (!file || !format) return 0;
  va_list args;
  va_start(args, format);
  trace_formatted(file, format, args);
  va_end(args);
  return 0;
}

QM_API int Tool_TraceHex(const char* title, const uint8_t* data, int len) {
  if (title && data && len >= 0) trace_hex(nullptr, title, data, len);
  return 0;
}

QM_API int Tool_TraceHexF(const char* file, const char* title, const uint8_t* data, int len) {
  if (file && title && data && len >= 0) trace_hex(file, title, data, len);
  return 0;
}

QM_API int Tool_TraceSaveFile(const char* file) { return trace_remember_file(file, nullptr, 0); }

QM_API int Tool_TraceSaveFile_New(const char* file, const char* tag, int line) {
  if (!tag) return -1;
  return trace_remember_file(file, tag, line);
}
