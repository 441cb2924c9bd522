// Field splitting and replacing on any texts. Outputs are sized to the
// longest possible result on the heap, so a write past them is caught.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int index = input.ConsumeIntegralInRange<int>(-2, 300);
  const std::string sep = input.ConsumeRandomLengthString(8);
  const std::string repl = input.ConsumeRandomLengthString(16);
  const std::string text = input.ConsumeRemainingBytesAsString();
  const size_t length = std::strlen(text.c_str());
  // A field is never longer than the text and has no NUL behind it.
  std::unique_ptr<char[]> field(new char[length + 1]());
  const int split = Tool_GetIndexOfStr(text.c_str(), sep.c_str(), index, field.get());
  if (split != (index < 0 ? -1 : 0)) std::abort();
  // Each occurrence of a non-empty find is at least one character.
  const size_t longest = length * (1 + std::strlen(repl.c_str())) + 1;
  std::unique_ptr<char[]> out(new char[longest]);
  const int replaced = Tool_StringReplace(text.c_str(), sep.c_str(), repl.c_str(), out.get());
  if (replaced == 0 ? std::strlen(out.get()) >= longest : replaced != -1) std::abort();
  return 0;
}
