// What a built shared library exports, and the library loaded as an
// application loads it.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>

// The names `library` defines in its dynamic symbol table.
inline std::set<std::string> exported_names(const char* library) {
  std::set<std::string> names;
  const std::string command = std::string("nm -D --defined-only ") + library;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) != 3) continue;
    if (std::string(type) == "A") continue;  // version node
    std::string symbol = name;
    symbol = symbol.substr(0, symbol.find('@'));
    names.insert(symbol);
  }
  pclose(pipe);
  return names;
}

class Library {
 public:
  explicit Library(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool loaded() const { return handle_ != nullptr; }
  void* symbol(const std::string& name) const { return dlsym(handle_, name.c_str()); }
  template <typename F>
  F* function(const char* name) const {
    return reinterpret_cast<F*>(symbol(name));
  }

 private:
  void* handle_;
};
