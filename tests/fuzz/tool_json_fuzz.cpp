// JSON get and set on any text, path and value. Outputs are exactly the
// documented 4097 bytes on the heap, so a write past them is caught; a
// value that was set reads back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string path = input.ConsumeRandomLengthString(64);
  const std::string value = input.ConsumeRandomLengthString(256);
  const std::string json = input.ConsumeRemainingBytesAsString();
  std::unique_ptr<char[]> got(new char[4097]());
  const int get = Tool_GetJsonString(json.c_str(), path.c_str(), got.get());
  if (get != 0 && get != -1) std::abort();
  std::unique_ptr<char[]> out(new char[4097]);
  const int set = Tool_SetJsonString(json.c_str(), path.c_str(), value.c_str(), out.get());
  if (set == -1) return 0;
  if (set != 0 || std::strlen(out.get()) > 4096) std::abort();
  std::unique_ptr<char[]> back(new char[4097]());
  if (Tool_GetJsonString(out.get(), path.c_str(), back.get()) != 0 ||
      std::strncmp(back.get(), value.c_str(), 4097) != 0) {
    std::abort();
  }
  return 0;
}
