#include "core_api/call_frame.h"

#include <cinttypes>
#include <cstdio>

#include "core_api/reader_families.h"
#include "platform/settings.h"

// Defined together and in this order: unloading destroys the manager (and
// with it every open reader) before the lock its callers hold.
Mutex api_lock;
DeviceManager device_manager(reader_device_makers());

namespace {

constexpr size_t kMaxTracePath = 2047;

// The one writer of call-trace lines, at a level the caller read.
void line_at(int level, TraceFile& file, int kind, const char* text, const char* label,
             const char* suffix) {
  if (!trace_admits(level, kind)) return;
  file.writeLine(text ? text : "(null)", label, suffix);
}

void data_at(int level, TraceFile& file, int kind, const uint8_t* data, int length,
             const char* label, const char* suffix) {
  if (!trace_admits(level, kind)) return;
  if (!data) {
    file.writeLine("(null)", label, suffix);
    return;
  }
  file.writeHex(data, length < 0 ? 0 : length, label, suffix);
}

}  // namespace

bool trace_admits(int level, int kind) {
  if (level < 1 || level > 3) return false;
  return kind != kTraceParameter || level >= 2;
}

std::string BuildTraceLogPath() {
  // Checked before anything is made: a directory too long for the path
  // field skips this call's trace rather than writing somewhere cut short.
  if (library_directory().size() > kMaxTraceDirectory) return std::string();
  std::string path = trace_day_path("func");
  // The directory may have changed in between; the bound still holds.
  if (path.size() > kMaxTracePath) return std::string();
  return path;
}

void TraceLine(TraceFile& file, int kind, const char* text, const char* label,
               const char* suffix) {
  line_at(trace_level.load(std::memory_order_relaxed), file, kind, text, label, suffix);
}

void TraceData(TraceFile& file, int kind, const uint8_t* data, int length, const char* label,
               const char* suffix) {
  data_at(trace_level.load(std::memory_order_relaxed), file, kind, data, length, label, suffix);
}

int32_t handle_index(int32_t icdev) {
  const int64_t index = static_cast<int64_t>(icdev) - kFirstHandle;
  if (index < 0 || index >= DeviceManager::kEntryCount) return -1;
  return static_cast<int32_t>(index);
}

ReaderDevice* device_for_handle(int32_t icdev) {
  const int32_t index = handle_index(icdev);
  return index < 0 ? nullptr : device_manager.deviceAt(index);
}

CallTrace::CallTrace(const char* name)
    : level_(trace_level.load(std::memory_order_relaxed)),
      file_(level_ >= 1 ? BuildTraceLogPath().c_str() : nullptr) {
  line(kTraceFunction, "function:", name);
}

CallTrace::~CallTrace() = default;

void CallTrace::line(int kind, const char* label, const char* value) {
  // The level is read once per call, so a call's lines are all or nothing
  // of a kind even when another thread changes it meanwhile.
  if (file_.hasFile()) line_at(level_, file_, kind, value, label, "");
}

bool CallTrace::guard(const char* label, const void* p) {
  if (!p) line(kTraceParameter, label, nullptr);
  return p != nullptr;
}

void CallTrace::handle(const char* label, uint32_t value) { hex32(label, value); }

void CallTrace::number(const char* label, int64_t value) {
  if (!trace_admits(level_, kTraceParameter)) return;
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  line(kTraceParameter, label, text);
}

void CallTrace::hex32(const char* label, uint32_t value) {
  if (!trace_admits(level_, kTraceParameter)) return;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  line(kTraceParameter, label, text);
}

void CallTrace::text(const char* label, const char* value) {
  line(kTraceParameter, label, value);
}

void CallTrace::bytes(const char* label, const void* data, int64_t count) {
  this->data(kTraceParameter, label, data, count);
}

void CallTrace::char_at(const char* label, const uint8_t* p) {
  if (!trace_admits(level_, kTraceParameter) || !guard(label, p)) return;
  const char text[] = {'\'', static_cast<char>(*p), '\'', '\0'};
  line(kTraceParameter, label, text);
}

void CallTrace::result(int64_t value) {
  if (!trace_admits(level_, kTraceReturn)) return;
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, value);
  line(kTraceReturn, "  return:", text);
}

void CallTrace::result_hex32(uint32_t value) {
  if (!trace_admits(level_, kTraceReturn)) return;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  line(kTraceReturn, "  return:", text);
}

void CallTrace::result_text(const char* value) { line(kTraceReturn, "  return:", value); }

void CallTrace::result_bytes(const void* data, int64_t count) {
  this->data(kTraceReturn, "  return:", data, count);
}

void CallTrace::data(int kind, const char* label, const void* data, int64_t count) {
  if (!file_.hasFile()) return;
  const int length =
      count < 0 ? 0 : count > INT32_MAX / 2 ? INT32_MAX / 2 : static_cast<int>(count);
  data_at(level_, file_, kind, static_cast<const uint8_t*>(data), length, label, "");
}
