#pragma once

#include <string>

// A dlopen handle, closed on destruction; null when loading failed.
class PosixDynamicLibrary {
 public:
  explicit PosixDynamicLibrary(const std::string& file);
  ~PosixDynamicLibrary();
  PosixDynamicLibrary(const PosixDynamicLibrary&) = delete;
  PosixDynamicLibrary& operator=(const PosixDynamicLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  void* symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
};
