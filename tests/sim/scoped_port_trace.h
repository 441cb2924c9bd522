// Port tracing switched on into a fresh folder of its own for one scope;
// text() gives what the ports wrote there.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/settings.h"
#include "platform/trace_file.h"

class ScopedPortTrace {
 public:
  ScopedPortTrace() {
    if (mkdtemp(dir_)) set_library_directory(folder());
    set_trace_level(3);
  }
  ~ScopedPortTrace() {
    set_trace_level(0);
    set_library_directory("");
    std::remove(log_path().c_str());
    rmdir((folder() + "kxrf32log").c_str());
    rmdir(dir_);
  }
  ScopedPortTrace(const ScopedPortTrace&) = delete;
  ScopedPortTrace& operator=(const ScopedPortTrace&) = delete;

  // The folder every trace path of this scope starts with.
  std::string folder() const { return std::string(dir_) + "/"; }

  std::string text() const {
    std::ifstream file(log_path());
    std::stringstream all;
    all << file.rdbuf();
    return all.str();
  }
  int lines() const {
    int count = 0;
    for (char c : text()) count += c == '\n';
    return count;
  }

 private:
  std::string log_path() const {
    if (path_.empty()) path_ = port_log_file_name();
    return path_;
  }

  char dir_[32] = "/tmp/port-trace-XXXXXX";
  mutable std::string path_;
};
