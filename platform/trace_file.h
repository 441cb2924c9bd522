// Append-only text log. Lines read
//   [time:YYYY-MM-DD hh:mm:ss.mmm]<prefix>[len:N]<payload><suffix>\n
// Each line is built whole and written with one write(2), so lines from
// several objects (and processes) on one file never interleave. A trace
// never changes a result: without a file every write returns -1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class TraceFile {
 public:
  // Owning form: opens `path` for append (created 0600), with `open_flags`
  // (O_NOFOLLOW, say) added to the open(2) flags. Null, empty or
  // unopenable: no file.
  explicit TraceFile(const char* path, int open_flags = 0);
  // Borrowing form: writes to `stream`, never closes it.
  explicit TraceFile(FILE* stream);
  virtual ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  bool hasFile() const;

  // Formatted text, written as one piece. Bytes written, or -1.
  int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A line whose count is strlen(text). Null prefix/suffix = empty; null
  // text: -1, nothing written.
  int writeLine(const char* text, const char* prefix, const char* suffix);
  // A line whose count is `length` and payload the bytes in upper-case hex.
  // Negative length or null data (with length > 0): -1, nothing written.
  int writeHex(const uint8_t* data, int length, const char* prefix, const char* suffix);

 private:
  int writeWhole(const std::string& text);

  // Borrowed when non-null; fd_ is then -1.
  FILE* stream_;
  int fd_;
};

// The stamp inside "[time:...]" for now: "YYYY-MM-DD hh:mm:ss.mmm", local
// time from one clock reading.
std::string trace_time_stamp();

// The day's trace path for `word` ("port" or "func"):
// library_directory + "kxrf32log/" + word + "YYYYMMDD" + ".log". Makes the
// folder (0700, no parents; result ignored) and returns the path.
std::string trace_day_path(const char* word);

// The port trace path (word "port"); every port's logFileName() returns it.
std::string port_log_file_name();
