#include "product_api/product_trace.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os.h"
#include "platform/settings.h"
#include "platform/trace_file.h"

namespace {

// The message, and then the whole line, hold at most this many bytes.
constexpr size_t kTextMax = 4095;
// The source reference every line ends with.
constexpr int kSourceLine = 89;

const char* source_name() {
  const char* slash = std::strrchr(__FILE__, '/');
  return slash ? slash + 1 : __FILE__;
}

}  // namespace

void FacadeTrace(const char* message) {
  if (message == nullptr) return;
  // One reading of the clock names the file and stamps the line.
  int millis = 0;
  const tm now = os_local_time(&millis);
  const int year = now.tm_year + 1900, month = now.tm_mon + 1;
  char name[48];
  std::snprintf(name, sizeof name, "LogTrace_%4d-%02d-%02d.txt", year, month, now.tm_mday);
  char head[64];
  std::snprintf(head, sizeof head, "[%d-%02d-%02d_%02d:%02d:%02d]  ", year, month, now.tm_mday,
                now.tm_hour, now.tm_min, now.tm_sec);
  char tail[96];
  std::snprintf(tail, sizeof tail, "\n  [%s::%d]\n", source_name(), kSourceLine);
  std::string line = head;
  line.append(message, strnlen(message, kTextMax));
  line += tail;
  if (line.size() > kTextMax) line.resize(kTextMax);
  // Each line is written with one write(2), so lines of several threads
  // stay whole; the file is opened for each line and never followed.
  TraceFile file((library_directory() + name).c_str(), O_NOFOLLOW);
  file.printf("%s", line.c_str());
}
