// Whole-file reading and writing.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>

// A regular file open for reading at chosen offsets. The open never blocks
// (a FIFO cannot hold it) and anything but a regular file is refused.
class RegularFile {
 public:
  explicit RegularFile(const char* path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Its size when it was opened; 0 when not ok().
  uint64_t size() const { return size_; }
  // Exactly `count` bytes from `offset` on; false past the end, on an
  // error or when not ok().
  bool read_at(uint64_t offset, uint8_t* out, size_t count) const;
  // The first offset from `offset` on that may hold anything but zeros: a
  // hole of a sparse file is passed over. size() when nothing follows;
  // `offset` itself where the file system cannot tell.
  uint64_t data_from(uint64_t offset) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Reads a regular file of at most `max_size` bytes (INT_MAX at most) into a
// malloc'd buffer (*out_buffer, the caller frees it; non-null also for an
// empty file) and returns its size. -1 with *out_buffer null for anything
// else (missing, folder, FIFO - never blocks -, unreadable, too big).
int read_file(const char* path, uint8_t** out_buffer, int max_size = INT_MAX);

// Writes all bytes, flushes and closes; false on any failure, a negative
// length or null data with a positive length.
bool write_file(const char* path, const uint8_t* data, int length);

// Replaces the whole content of `path` without ever leaving it half
// written: the bytes go to a new temporary file beside it (O_EXCL), are
// synced and closed, then renamed over it. A symbolic link is followed and
// the file it names is replaced; hard links to the old file keep the old
// content. The file keeps its mode; a new one gets 0666 less the umask.
// False, with the target as it was and no temporary left, on any failure,
// for a target that is not a regular file, a negative length or null data
// with a positive length.
bool replace_file(const char* path, const uint8_t* data, int length);
// The same with the content written by `fill` into the descriptor of the
// temporary file; false from `fill` fails the replacement.
bool replace_file_by(const char* path, const std::function<bool(int fd)>& fill);
