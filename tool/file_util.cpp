#include "tool/file_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_helpers.h"
#include "platform/os.h"

namespace {

bool is_folder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int make_parent_folders(const char* path) {
  if (!path || std::strlen(path) > kMaxToolPath) return -1;
  const std::string text = path;
  for (size_t slash = text.find('/'); slash != std::string::npos;
       slash = text.find('/', slash + 1)) {
    const std::string prefix = text.substr(0, slash + 1);
    if (prefix.size() < 2 || is_folder(prefix)) continue;
    // Another process may make it between the check and here: whether it
    // is a folder afterwards decides.
    if (!os_make_dir(prefix.c_str()) && !is_folder(prefix)) return -1;
  }
  return 0;
}

std::string program_folder() {
  std::vector<char> buffer(256);
  while (true) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "";
    if (size_t(n) < buffer.size()) {
      const std::string exe(buffer.data(), size_t(n));
      return exe.substr(0, exe.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> read_text_file(const char* path, int max_size) {
  uint8_t* data = nullptr;
  const int size = read_file(path, &data, max_size);
  if (size < 0) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(data), size_t(size));
  std::free(data);
  return text;
}

int write_text_file(const char* path, const std::string& text) {
  if (make_parent_folders(path) != 0 || text.size() > size_t(INT_MAX)) return -1;
  return replace_file(path, reinterpret_cast<const uint8_t*>(text.data()), int(text.size())) ? 0
                                                                                             : -1;
}
