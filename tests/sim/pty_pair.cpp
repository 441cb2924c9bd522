#include "sim/pty_pair.h"

// <asm/termbits.h> (for TCGETS2) and <termios.h> define the same structures,
// so the pair is made with posix_openpt rather than openpty.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/deadline.h"

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    ::close(master_);
    master_ = -1;
    return;
  }
  slave_path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    ::close(master_);
    master_ = -1;
    return;
  }
  // The master side polls and reads without blocking.
  int flags = fcntl(master_, F_GETFL);
  fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  closeMaster();
  if (slave_ >= 0) ::close(slave_);
}

int PtyPair::releaseMaster() {
  int fd = master_;
  master_ = -1;
  return fd;
}

void PtyPair::closeMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool PtyPair::speeds(uint32_t* input_baud, uint32_t* output_baud) const {
  struct termios2 tio {};
  if (slave_ < 0 || ioctl(slave_, TCGETS2, &tio) != 0) return false;
  if (input_baud) *input_baud = tio.c_ispeed;
  if (output_baud) *output_baud = tio.c_ospeed;
  return true;
}

bool sim_write_all(int fd, const uint8_t* data, size_t n) {
  if (fd < 0) return false;
  struct stat st {};
  const bool socket = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
  size_t done = 0;
  while (done < n) {
    ssize_t w = socket ? ::send(fd, data + done, n - done, MSG_NOSIGNAL)
                       : ::write(fd, data + done, n - done);
    if (w > 0) {
      done += size_t(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool PtyPair::writeAll(const std::vector<uint8_t>& bytes) {
  return sim_write_all(master_, bytes.data(), bytes.size());
}

std::vector<uint8_t> PtyPair::readExact(size_t count, int timeout_ms) {
  std::vector<uint8_t> out;
  const Deadline deadline(timeout_ms);
  uint8_t chunk[4096];
  while (out.size() < count) {
    size_t want = count - out.size();
    ssize_t n = ::read(master_, chunk, want < sizeof chunk ? want : sizeof chunk);
    if (n > 0) {
      out.insert(out.end(), chunk, chunk + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) break;
    const int left = deadline.msLeft();
    if (left == 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, left) < 0 && errno != EINTR) break;
  }
  return out;
}

std::vector<uint8_t> PtyPair::drain(int quiet_ms) {
  std::vector<uint8_t> out;
  uint8_t chunk[4096];
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    int rc = poll(&p, 1, quiet_ms);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) break;
    ssize_t n = ::read(master_, chunk, sizeof chunk);
    if (n > 0) {
      out.insert(out.end(), chunk, chunk + n);
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    break;
  }
  return out;
}
