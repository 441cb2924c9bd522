#include "platform/dynamic_library.h"

#include <cctype>

#include "platform/posix_dynamic_library.h"

namespace {

bool ends_with_dll(const std::string& file) {
  static constexpr char kDll[] = ".dll";
  constexpr size_t n = sizeof(kDll) - 1;
  if (file.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(file[file.size() - n + i])) != kDll[i]) return false;
  }
  return true;
}

bool is_shared_object_name(const std::string& file) {
  return (file.size() >= 3 && file.compare(file.size() - 3, 3, ".so") == 0) ||
         file.find(".so.") != std::string::npos;
}

}  // namespace

std::string DynamicLibrary::mapName(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  if (is_shared_object_name(file)) return path;
  if (ends_with_dll(file)) file.resize(file.size() - 4);
  return folder + "lib" + file + ".so";
}

DynamicLibrary::DynamicLibrary(const char* path, bool* loaded)
    : impl_(new PosixDynamicLibrary(path && *path ? mapName(path) : std::string())) {
  if (loaded) *loaded = impl_->loaded();
}

DynamicLibrary::~DynamicLibrary() { delete impl_; }

void* DynamicLibrary::symbol(const char* name) const { return impl_->symbol(name); }

std::unique_ptr<DynamicLibrary> load_outside_library(const std::string& directory,
                                                     const char* name) {
  const std::string file = std::string(name) + ".dll";
  for (const std::string& path : {directory + file, file}) {
    bool loaded = false;
    auto library = std::make_unique<DynamicLibrary>(path.c_str(), &loaded);
    if (loaded) return library;
  }
  return nullptr;
}
