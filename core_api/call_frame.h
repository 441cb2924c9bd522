// The frame every traced core operation runs: one process-wide lock, the
// per-day call trace, the handle check and the dispatch to the device slot.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/mutex.h"
#include "platform/trace_file.h"

class ReaderDevice;

// Held for the whole of every core call. Re-entrant, so a core operation
// reached from inside another on the same thread (an application transport
// hook, a bridge callback) does not deadlock.
extern Mutex api_lock;

// Line kinds of the call trace; the trace level decides which are written.
enum TraceKind : int {
  kTraceFunction = 1,
  kTraceParameter = 2,
  kTraceReturn = 3,
};

// Whether `level` admits lines of `kind`: 1 function and return lines,
// 2 and 3 all lines, anything else none.
bool trace_admits(int level, int kind);

// Longest library directory for which the day's path still fits the
// 2047-character path field.
constexpr size_t kMaxTraceDirectory = 2021;

// The day's call trace path (directory made, failure ignored), or "" when
// the library directory is too long for it.
std::string BuildTraceLogPath();

// One line when the current trace level admits `kind`.
void TraceLine(TraceFile& file, int kind, const char* text, const char* label,
               const char* suffix);
void TraceData(TraceFile& file, int kind, const uint8_t* data, int length, const char* label,
               const char* suffix);

// A device handle is the handle-table index plus this.
constexpr int32_t kFirstHandle = 80;

// The table index of `icdev`, or -1 for a handle outside 80-579 (computed in
// 64 bits, so handles near INT32_MIN cannot wrap into range).
int32_t handle_index(int32_t icdev);

// The device behind `icdev`, or null for a handle out of range or an empty
// entry.
ReaderDevice* device_for_handle(int32_t icdev);

// The trace of one call: opens the day's file when tracing is on, writes
// lines in the value forms of the call trace, closes the file at the end.
// Labels are the complete line prefixes ("  parameter:[_Adr[in]]").
// Null texts, buffers and value pointers are written as "(null)" and never
// read; negative counts count 0 bytes.
class CallTrace {
 public:
  explicit CallTrace(const char* name);
  ~CallTrace();
  CallTrace(const CallTrace&) = delete;
  CallTrace& operator=(const CallTrace&) = delete;

  // Whether parameter lines, and return lines, are written at this level.
  bool parameters() const { return trace_admits(level_, kTraceParameter); }
  bool returns() const { return trace_admits(level_, kTraceReturn); }

  void handle(const char* label, uint32_t value);   // 0x%08X
  void number(const char* label, int64_t value);    // %d
  void hex32(const char* label, uint32_t value);    // 0x%08X
  void text(const char* label, const char* value);
  void bytes(const char* label, const void* data, int64_t count);

  // One value read through its pointer when the line is written: before
  // the call for an input, after it for an output.
  template <typename T>
  void number_at(const char* label, const T* p) {
    if (guard(label, p)) number(label, *p);
  }
  template <typename T>
  void hex32_at(const char* label, const T* p) {
    if (guard(label, p)) hex32(label, static_cast<uint32_t>(*p));
  }
  void char_at(const char* label, const uint8_t* p);  // '%c'

  // Return lines.
  void result(int64_t value);         // %d
  void result_hex32(uint32_t value);  // 0x%08X
  void result_text(const char* value);
  void result_bytes(const void* data, int64_t count);

 private:
  bool guard(const char* label, const void* p);
  void line(int kind, const char* label, const char* value);
  void data(int kind, const char* label, const void* data, int64_t count);

  int level_;
  TraceFile file_;
};

// Byte count of a buffer whose length is held by another argument of the
// same call, read when the line is written; 0 when that pointer is null.
template <typename T>
int64_t count_at(const T* p) {
  return p ? static_cast<int64_t>(*p) : 0;
}

// When a 16-bit member writes its output lines: after a result of 0, or,
// for members whose result is the byte count of their output, after any
// result of 0 or more.
enum class OutputsAfter { kSuccess, kAnyCount };

// The frame of a traced member. `first_label` labels the handle line
// ("  parameter:[icdev[in]]"). `inputs(trace)` and `outputs(trace, result)`
// write the parameter lines after the handle, `call(device)` runs the slot,
// `failure` is the result for a bad handle and `write_return(trace, result)`
// writes the return line. Nothing is formatted at a level that admits no
// line of the kind.
template <OutputsAfter when, typename R, typename Inputs, typename Call, typename Outputs,
          typename Return>
R traced_frame(const char* name, const char* first_label, int32_t icdev, R failure,
               Inputs&& inputs, Call&& call, Outputs&& outputs, Return&& write_return) {
  MutexLock hold(api_lock);
  CallTrace trace(name);
  if (trace.parameters()) {
    trace.handle(first_label, static_cast<uint32_t>(icdev));
    inputs(trace);
  }
  ReaderDevice* device = device_for_handle(icdev);
  const R result = device ? static_cast<R>(call(*device)) : failure;
  if constexpr (std::is_same_v<R, int16_t>) {
    const bool written = when == OutputsAfter::kSuccess ? result == 0 : result >= 0;
    if (written && trace.parameters()) outputs(trace, result);
  }
  if (trace.returns()) write_return(trace, result);
  return result;
}

// The members with a 16-bit result code.
template <OutputsAfter when = OutputsAfter::kSuccess, typename Inputs, typename Call,
          typename Outputs>
int16_t core_frame(const char* name, const char* first_label, int32_t icdev, Inputs&& inputs,
                   Call&& call, Outputs&& outputs) {
  return traced_frame<when, int16_t>(
      name, first_label, icdev, int16_t{-1}, inputs, call, outputs,
      [](CallTrace& t, int16_t result) { t.result(result); });
}

// The identity-card members whose result is not a code (a handle, a
// pointer into the device's card record, a length). They take nothing but
// the handle; a bad one gives `failure`. A returned pointer is read here,
// once, under the lock.
template <typename R, typename Call, typename Return>
R result_frame(const char* name, const char* first_label, int32_t icdev, R failure, Call&& call,
               Return&& write_return) {
  return traced_frame<OutputsAfter::kSuccess, R>(
      name, first_label, icdev, failure, [](CallTrace&) {}, call, [](CallTrace&, R) {},
      write_return);
}

// The member without a result: no return line.
template <typename Call>
void void_frame(const char* name, const char* first_label, int32_t icdev, Call&& call) {
  MutexLock hold(api_lock);
  CallTrace trace(name);
  if (trace.parameters()) trace.handle(first_label, static_cast<uint32_t>(icdev));
  if (ReaderDevice* device = device_for_handle(icdev)) call(*device);
}

// The untraced entries: lock, handle check, slot, nothing written.
template <typename Call>
int16_t untraced_call(int32_t icdev, Call&& call) {
  MutexLock hold(api_lock);
  ReaderDevice* device = device_for_handle(icdev);
  return device ? static_cast<int16_t>(call(*device)) : int16_t{-1};
}
