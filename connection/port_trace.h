// The port trace every port writes: one file for all ports, opened only
// from trace level 3 on (so its path, and the folder the path makes, are
// only asked for then), with each port's open and close lines under its
// own prefix.
#pragma once

#include <string>

#include "platform/settings.h"
#include "platform/trace_file.h"

class PortTrace : public TraceFile {
 public:
  explicit PortTrace(const char* prefix)
      : TraceFile(trace_level.load() >= 3 ? port_log_file_name().c_str() : nullptr),
        prefix_(prefix) {}

  void opened(const std::string& who) { writeLine(who.c_str(), prefix_, " Is Opened!"); }
  void closed(const std::string& who) { writeLine(who.c_str(), prefix_, " Is Closed!"); }

 private:
  const char* prefix_;
};
