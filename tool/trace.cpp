#include "tool/trace.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/byte_helpers.h"
#include "platform/file_helpers.h"
#include "platform/mutex.h"
#include "platform/posix.h"
#include "platform/trace_file.h"
#include "tool/file_util.h"
#include "tool/time_ops.h"

namespace {

constexpr size_t kMaxLine = 4095;
constexpr size_t kMaxTag = 99;
constexpr int kMaxHexBytes = 2047;
// A trim reads and copies the file in pieces of this size.
constexpr size_t kTrimChunk = 65536;

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
  if (path.empty()) return -1;
  const RegularFile file(path.c_str());
  if (!file.ok()) return -1;
  const uint64_t size = file.size();
  if (threshold >= 0 && size <= uint64_t(threshold)) return 0;
  // The oldest fifth goes, in whole lines: the kept tail starts with the
  // first line that begins at or after the cut. Only the bytes from the cut
  // on are read, so the file's size does not matter.
  std::vector<uint8_t> chunk(kTrimChunk);
  const auto piece = [&](uint64_t at) { return size_t(std::min<uint64_t>(kTrimChunk, size - at)); };
  uint64_t start = size / 5;
  if (start > 0) {
    // A hole holds no line end.
    uint64_t at = file.data_from(start - 1);
    start = size;
    for (; at < size; at = file.data_from(at + piece(at))) {
      if (!file.read_at(at, chunk.data(), piece(at))) return -1;
      if (const void* end = std::memchr(chunk.data(), '\n', piece(at))) {
        start = at + uint64_t(static_cast<const uint8_t*>(end) - chunk.data()) + 1;
        break;
      }
    }
  }
  const bool replaced = replace_file_by(path.c_str(), [&](int fd) {
    for (uint64_t at = start; at < size; at += piece(at)) {
      if (!file.read_at(at, chunk.data(), piece(at)) || !write_all(fd, chunk.data(), piece(at)))
        return false;
    }
    return true;
  });
  return replaced ? 0 : -1;
}
