// What every port does the same way: the argument checks of read and write,
// the data trace lines, and the open, close and reopen sequences with their
// trace lines. A port supplies its device steps, its trace text, and whether
// a transfer may start at all (some ports refuse every call while closed,
// others leave that to the device).
//
// A port's destructor calls close() itself: by the time this base is
// destroyed the port's own device steps are gone.
#pragma once

#include <cstdint>
#include <string>

#include "connection/port.h"
#include "connection/port_trace.h"

class PortBase : public Port {
 public:
  // A port owns its device: never copied.
  PortBase(const PortBase&) = delete;
  PortBase& operator=(const PortBase&) = delete;

  // When open: the device closes and the " Is Closed!" line is written.
  void close() final;
  // After the port's mayTransfer: a negative length is false, 0 is true and
  // a null buffer false; only then the port's own transfer. One that
  // succeeded writes its data line.
  bool read(uint8_t* buffer, int32_t length, int32_t timeout_ms) final;
  bool write(const uint8_t* buffer, int32_t length, int32_t timeout_ms) final;
  bool reopen() final;

  std::string logFileName() const;

 protected:
  enum class DataLines { kWritten, kNone };
  enum class Direction { kIn, kOut };

  // The trace file is made here, before the port opens.
  PortBase(const char* prefix, DataLines data_lines);

  // The last step of a port's constructor, and of reopen: opens, reports the
  // result through `opened` (when not null) and the return value, and writes
  // the " Is Opened!" line.
  bool openAndReport(bool* opened);

  virtual bool openDevice() = 0;
  // Called only while open.
  virtual void closeDevice() = 0;
  // The text of the open and close lines.
  virtual std::string traceText() const = 0;
  // Checked first, before the lengths: false fails the call.
  virtual bool mayTransfer(Direction) { return true; }
  // `length` > 0 and `buffer` is not null.
  virtual bool readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) = 0;
  virtual bool writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) = 0;

 private:
  PortTrace trace_;
  DataLines data_lines_;
};
