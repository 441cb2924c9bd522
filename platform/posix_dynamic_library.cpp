#include "platform/posix_dynamic_library.h"

#include <dlfcn.h>

PosixDynamicLibrary::PosixDynamicLibrary(const std::string& file) {
  // An empty name would make dlopen hand back the main program.
  if (!file.empty()) handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

PosixDynamicLibrary::~PosixDynamicLibrary() {
  if (handle_) dlclose(handle_);
}

void* PosixDynamicLibrary::symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return dlsym(handle_, name);
}
