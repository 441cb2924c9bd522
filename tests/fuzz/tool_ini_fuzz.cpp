// INI reading of any file content, section and key. The content goes to
// an in-memory file; the value output is 1024 bytes on the heap (values
// hold at most 1023 characters), so a write past it is caught.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tool/ini_values.h"

namespace {

int memory_file() {
  static const int fd = memfd_create("ini", MFD_CLOEXEC);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(32);
  const std::string key = input.ConsumeRandomLengthString(32);
  const std::string content = input.ConsumeRemainingBytesAsString();
  const int fd = memory_file();
  if (fd < 0 || ftruncate(fd, 0) != 0 ||
      pwrite(fd, content.data(), content.size(), 0) != ssize_t(content.size())) {
    std::abort();
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const auto value = ini_get(path.c_str(), section.c_str(), key.c_str());
  if (value && value->size() > kMaxIniValue) std::abort();
  return 0;
}
