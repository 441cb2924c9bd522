// A shared library loaded by name and unloaded on destruction.
//
// Names follow the Windows-style names callers use: a file part that ends in
// ".so" or contains ".so." is used as is; otherwise a trailing ".dll" (any
// case) is dropped and the file becomes "lib" + stem + ".so" in the same
// folder ("kx_pboc.dll" -> "libkx_pboc.so", "/opt/x/WltRS.dll" ->
// "/opt/x/libWltRS.so"). A bare name goes through dlopen's own search.
#pragma once

#include <memory>
#include <string>

class PosixDynamicLibrary;

class DynamicLibrary {
 public:
  // `loaded` (may be null) tells whether the library loaded. A null or
  // empty path never loads.
  DynamicLibrary(const char* path, bool* loaded);
  virtual ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The exported symbol, or null when absent or nothing was loaded.
  void* symbol(const char* name) const;

  // The file name dlopen is given for `path` (the rule above).
  static std::string mapName(const std::string& path);

 private:
  PosixDynamicLibrary* impl_;
};

// An outside library by the name its callers know it by ("kx_pboc"): first
// `directory` + name + ".dll" (the directory used as given, no separator
// added), then the bare name, which the loader's own search finds; both
// through the rule above, so "libkx_pboc.so". The path is built whole,
// never cut. Null when neither loads.
std::unique_ptr<DynamicLibrary> load_outside_library(const std::string& directory,
                                                     const char* name);
