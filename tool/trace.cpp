#include "tool/trace.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/byte_helpers.h"
#include "platform/file_helpers.h"
#include "platform/mutex.h"
#include "platform/trace_file.h"
#include "tool/file_util.h"
#include "tool/time_ops.h"

namespace {

constexpr size_t kMaxLine = 4095;
constexpr size_t kMaxTag = 99;
constexpr int kMaxHexBytes = 2047;

struct TraceSettings {
  std::string file;  // the remembered file; empty: none
  std::string tag;
  int line = 0;
};

Mutex& trace_lock() {
  static Mutex lock;
  return lock;
}

// Only touched under trace_lock().
TraceSettings& settings() {
  static TraceSettings current;
  return current;
}

std::string line_prefix(const TraceSettings& s) {
  const TimeRecord t = local_time_now();
  char stamp[96];
  snprintf(stamp, sizeof stamp, "[%04d-%02d-%02d %02d:%02d:%02d:%03d]", t.year, t.month, t.day,
           t.hour, t.minute, t.second, t.millisecond);
  if (s.tag.empty()) return std::string(stamp) + "  ";
  return std::string(stamp) + " " + s.tag + " :" + std::to_string(s.line) + " ";
}

// Writes prefix + text to standard output and to `file` (null: the
// remembered file, used up), each with "\n" in one write.
void write_line(const char* file, const char* text) {
  MutexLock hold(trace_lock());
  TraceSettings& s = settings();
  std::string line = line_prefix(s) + text;
  line.resize(std::min(line.size(), kMaxLine));
  line += '\n';
  TraceFile(stdout).printf("%s", line.c_str());
  std::string target;
  if (file) {
    target = file;
  } else {
    target.swap(s.file);
  }
  TraceFile(target.c_str()).printf("%s", line.c_str());
}

}  // namespace

int trace_remember_file(const char* file, const char* tag, int line) {
  if (!file || std::strlen(file) > kMaxToolPath) return -1;
  MutexLock hold(trace_lock());
  TraceSettings& s = settings();
  if (tag) {
    s.tag.assign(tag, strnlen(tag, kMaxTag));
    s.line = line;
  }
  if (make_parent_folders(file) != 0) return -1;
  s.file = file;
  trim_trace_file(s.file, kTraceTrimThreshold);
  return 0;
}

void trace_formatted(const char* file, const char* format, va_list args) {
  // Room for the longest line; the rest of a longer text is cut.
  char text[kMaxLine + 1];
  if (vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  write_line(file, text);
}

void trace_hex(const char* file, const char* title, const uint8_t* data, int length) {
  const int count = std::min(length, kMaxHexBytes);
  std::string text = title;
  const size_t head = text.size();
  text.resize(head + 2 * size_t(count));
  bytes_to_hex(data, count, text.data() + head);
  write_line(file, text.c_str());
}

int trim_trace_file(const std::string& path, int64_t threshold) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return -1;
  if (st.st_size <= threshold) return 0;
  const std::optional<std::string> text = read_text_file(path.c_str());
  if (!text) return -1;
  // A last line without "\n" counts too.
  const int64_t lines = std::count(text->begin(), text->end(), '\n') +
                        (!text->empty() && text->back() != '\n' ? 1 : 0);
  size_t keep = 0;
  for (int64_t dropped = 0; dropped < lines / 5; ++dropped) keep = text->find('\n', keep) + 1;
  const auto* kept = reinterpret_cast<const uint8_t*>(text->data()) + keep;
  return replace_file(path.c_str(), kept, int(text->size() - keep)) ? 0 : -1;
}
