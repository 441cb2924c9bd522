// The frame every traced core operation runs: one process-wide lock, the
// per-day call trace, the handle check and the dispatch to the device slot.
#pragma once

#include <cstdint>
#include <string>

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
// Null texts and buffers are written as "(null)", negative counts as 0.
class CallTrace {
 public:
  explicit CallTrace(const char* name);
  ~CallTrace();
  CallTrace(const CallTrace&) = delete;
  CallTrace& operator=(const CallTrace&) = delete;

  // Whether parameter lines are written at this call's level.
  bool parameters() const { return trace_admits(level_, kTraceParameter); }

  void handle(const char* label, uint32_t value);   // 0x%08X
  void number(const char* label, int64_t value);    // %d
  void hex32(const char* label, uint32_t value);    // 0x%08X
  void text(const char* label, const char* value);
  void bytes(const char* label, const void* data, int64_t count);
  void result(int64_t value);

  // Outputs read through their pointers after the call (null: "(null)").
  void out_u8(const char* label, const uint8_t* p) { if (guard(label, p)) number(label, *p); }
  void out_u16(const char* label, const uint16_t* p) { if (guard(label, p)) number(label, *p); }
  void out_i32(const char* label, const int32_t* p) { if (guard(label, p)) number(label, *p); }
  void out_hex32(const char* label, const uint32_t* p) { if (guard(label, p)) hex32(label, *p); }
  void out_hex16(const char* label, const uint16_t* p) { if (guard(label, p)) hex32(label, *p); }

 private:
  bool guard(const char* label, const void* p);
  void line(int kind, const char* label, const char* value);

  int level_;
  TraceFile file_;
};

// Byte count of a buffer whose length is held by an output of the same
// call; 0 when that output is null.
template <typename T>
int64_t count_at(const T* p) {
  return p ? static_cast<int64_t>(*p) : 0;
}

// The frame of a traced member with a 16-bit result. `inputs` and `outputs`
// write the member's parameter lines (outputs only after a result whose low
// 16 bits are 0), `call` runs the device slot. Nothing is formatted for a
// level that admits no parameter lines.
template <typename Inputs, typename Call, typename Outputs>
int16_t core_frame(const char* name, int32_t icdev, Inputs&& inputs, Call&& call,
                   Outputs&& outputs) {
  MutexLock hold(api_lock);
  CallTrace trace(name);
  if (trace.parameters()) {
    trace.handle("  parameter:[icdev[in]]", static_cast<uint32_t>(icdev));
    inputs(trace);
  }
  ReaderDevice* device = device_for_handle(icdev);
  const int16_t result = device ? static_cast<int16_t>(call(*device)) : int16_t{-1};
  if (result == 0 && trace.parameters()) outputs(trace);
  trace.result(result);
  return result;
}

// The untraced entries: lock, handle check, slot, nothing written.
template <typename Call>
int16_t untraced_call(int32_t icdev, Call&& call) {
  MutexLock hold(api_lock);
  ReaderDevice* device = device_for_handle(icdev);
  return device ? static_cast<int16_t>(call(*device)) : int16_t{-1};
}
