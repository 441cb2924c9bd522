// XML get and set on any text, path and value. The text buffer and the
// value output are exactly the documented 4097 bytes on the heap, so a
// write past them is caught.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string path = input.ConsumeRandomLengthString(64);
  const std::string value = input.ConsumeRandomLengthString(256);
  const std::string text = input.ConsumeRemainingBytesAsString();
  std::unique_ptr<char[]> got(new char[4097]());
  const int get = Tool_GetXmlData(text.c_str(), path.c_str(), got.get());
  if (get != 0 && get != -1) std::abort();
  std::unique_ptr<char[]> xml(new char[4097]());
  std::memcpy(xml.get(), text.c_str(), std::min<size_t>(std::strlen(text.c_str()), 4096));
  const std::string before = xml.get();
  const int set = Tool_SetXmlData(path.c_str(), value.c_str(), xml.get());
  if (set == -1 ? before != xml.get() : set != 0 || std::strlen(xml.get()) > 4096) std::abort();
  return 0;
}
