#include "platform/trace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstring>

#include "platform/byte_helpers.h"
#include "platform/posix.h"

namespace {

std::string line_head(const char* prefix, size_t count) {
  std::string line;
  line.reserve(64);
  line += "[time:";
  line += trace_time_stamp();
  line += ']';
  if (prefix) line += prefix;
  line += "[len:";
  line += std::to_string(count);
  line += ']';
  return line;
}

}  // namespace

TraceFile::TraceFile(const char* path, int open_flags) : stream_(nullptr), fd_(-1) {
  if (!path || !*path) return;
  // 0600: traces at the higher levels hold keys and PINs. An existing file
  // keeps its own mode.
  fd_ = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | open_flags, 0600);
}

TraceFile::TraceFile(FILE* stream) : stream_(stream), fd_(-1) {}

TraceFile::~TraceFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TraceFile::hasFile() const { return stream_ || fd_ >= 0; }

int TraceFile::writeWhole(const std::string& text) {
  if (!hasFile() || text.size() > size_t(INT_MAX)) return -1;
  if (stream_) {
    flockfile(stream_);
    const size_t put = fwrite(text.data(), 1, text.size(), stream_);
    const bool flushed = fflush(stream_) == 0;
    funlockfile(stream_);
    return put == text.size() && flushed ? int(put) : -1;
  }
  // One write(2) per line in append mode keeps lines of several writers on
  // the same file whole; a short write (a signal, a nearly full disk) is
  // continued.
  return write_all(fd_, text.data(), text.size()) ? int(text.size()) : -1;
}

int TraceFile::printf(const char* format, ...) {
  if (!hasFile() || !format) return -1;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  int result = -1;
  if (needed >= 0) {
    std::string text(size_t(needed) + 1, '\0');
    if (vsnprintf(text.data(), text.size(), format, again) == needed) {
      text.resize(size_t(needed));
      result = writeWhole(text);
    }
  }
  va_end(again);
  return result;
}

int TraceFile::writeLine(const char* text, const char* prefix, const char* suffix) {
  if (!text || !hasFile()) return -1;
  const size_t count = std::strlen(text);
  std::string line = line_head(prefix, count);
  line.append(text, count);
  if (suffix) line += suffix;
  line += '\n';
  return writeWhole(line);
}

int TraceFile::writeHex(const uint8_t* data, int length, const char* prefix, const char* suffix) {
  if (length < 0 || length > INT_MAX / 2 || (!data && length > 0) || !hasFile()) return -1;
  std::string line = line_head(prefix, size_t(length));
  const size_t head = line.size();
  line.resize(head + 2 * size_t(length));
  if (length > 0) bytes_to_hex(data, length, line.data() + head);
  if (suffix) line += suffix;
  line += '\n';
  return writeWhole(line);
}
