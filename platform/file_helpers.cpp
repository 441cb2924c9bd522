#include "platform/file_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/posix.h"

namespace {

// Closes the descriptor when the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// The file a replacement goes to: `path` with its links followed. False for
// a link to nothing and for anything but a regular file; *old is zeroed for
// a file that does not exist yet.
bool replacement_target(const char* path, std::string* target, struct stat* old) {
  *old = {};
  if (char* real = realpath(path, nullptr)) {
    *target = real;
    std::free(real);
    return stat(target->c_str(), old) == 0 && S_ISREG(old->st_mode);
  }
  struct stat link {};
  if (errno != ENOENT || lstat(path, &link) == 0) return false;
  *target = path;
  return true;
}

}  // namespace

bool write_all(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += size_t(put);
  }
  return true;
}

RegularFile::RegularFile(const char* path) {
  if (!path) return;
  // Non-blocking so that a FIFO cannot hold the open; only regular files
  // pass the check below anyway.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  size_ = uint64_t(st.st_size);
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RegularFile::read_at(uint64_t offset, uint8_t* out, size_t count) const {
  if (fd_ < 0 || offset > size_ || count > size_ - offset) return false;
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, out + done, count - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += size_t(got);
  }
  return true;
}

uint64_t RegularFile::data_from(uint64_t offset) const {
  if (fd_ < 0 || offset >= size_) return size_;
  const off_t data = lseek(fd_, off_t(offset), SEEK_DATA);
  if (data < 0) return errno == ENXIO ? size_ : offset;
  return uint64_t(data) < size_ ? uint64_t(data) : size_;
}

int read_file(const char* path, uint8_t** out_buffer, int max_size) {
  if (!out_buffer) return -1;
  *out_buffer = nullptr;
  if (max_size < 0) return -1;
  const RegularFile file(path);
  if (!file.ok() || file.size() > uint64_t(max_size)) return -1;
  const size_t size = size_t(file.size());
  // One byte at least, so an empty file still hands back a buffer to free.
  auto* buffer = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (!buffer) return -1;
  if (!file.read_at(0, buffer, size)) {
    std::free(buffer);
    return -1;
  }
  *out_buffer = buffer;
  return int(size);
}

bool write_file(const char* path, const uint8_t* data, int length) {
  if (!path || length < 0 || (!data && length > 0)) return false;
  Descriptor file(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.get() < 0) return false;
  if (!write_all(file.get(), data, size_t(length))) return false;
  // A full disk may only show at the close.
  return file.close();
}

bool replace_file(const char* path, const uint8_t* data, int length) {
  if (length < 0 || (!data && length > 0)) return false;
  return replace_file_by(path, [&](int fd) { return write_all(fd, data, size_t(length)); });
}

bool replace_file_by(const char* path, const std::function<bool(int fd)>& fill) {
  if (!path || !*path) return false;
  std::string target;
  struct stat old {};
  if (!replacement_target(path, &target, &old)) return false;
  // The temporary lives in the target's folder so that the rename stays on
  // one file system and is atomic.
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = target.substr(folder.size(), 100);
  static std::atomic<unsigned> serial{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "." + name + "." + std::to_string(getpid()) + "." + std::to_string(serial++) +
           ".tmp";
    // 0666 less the umask, as an ordinary new file gets it.
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  Descriptor file(fd);
  const bool keeps_mode = old.st_mode == 0 || fchmod(fd, old.st_mode & 07777) == 0;
  const bool written = keeps_mode && fill(fd) && fsync(fd) == 0;
  const bool closed = file.close();
  if (written && closed && rename(temp.c_str(), target.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}
