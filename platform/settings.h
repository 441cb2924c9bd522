// Process-wide settings read by ports, devices and the core. Only the core's
// configuration entries write them. Texts are copied under a settings lock
// and read as snapshots, so a reader never sees a torn value.
#pragma once

#include <atomic>
#include <string>

// 0 (or less) off; 1-3 the core trace levels, 3 also the port trace.
// Read once at load from QM_READER_TRACE_LEVEL (decimal, else 0).
extern std::atomic<int> trace_level;
void set_trace_level(int level);  // for in-process tests and the core

// Prefix of the library's files and traces ("" by default; no separator is
// added after it).
std::string library_directory();
void set_library_directory(const std::string& directory);

// A name per port number 0-499 ("" when none is configured). Out-of-range
// ports read "" and are never written.
constexpr int kPortCount = 500;
std::string port_name(int port);
void set_port_name(int port, const std::string& name);
