#include "scanner/serial_port.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "connection/com_port.h"
#include "platform/deadline.h"
#include "platform/thread_helpers.h"

bool ScannerSerialPort::open(const std::string& path, int32_t baud) {
  close();
  fd_ = open_raw_tty(path, baud);
  if (fd_ < 0) return false;
  // Bytes the line held before the open would be read ahead of the probe's
  // reply. Only here: a purge at close could drop a final StopScan.
  tcflush(fd_, TCIOFLUSH);
  error_ = false;
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ >= 0 && start_thread(watch_, [this] { watchLine(); })) return true;
  close();
  return false;
}

void ScannerSerialPort::close() {
  if (watch_.joinable()) {
    signal_event(stop_fd_);
    watch_.join();
  }
  if (stop_fd_ >= 0) ::close(stop_fd_);
  stop_fd_ = -1;
  std::lock_guard<std::mutex> lock(write_mutex_);
  close_raw_tty(fd_);
  fd_ = -1;
}

// Events 0: poll reports only a hang-up, an error or a closed descriptor.
void ScannerSerialPort::watchLine() {
  pollfd p[2] = {{fd_, 0, 0}, {stop_fd_, POLLIN, 0}};
  for (;;) {
    const int r = poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && (p[1].revents & POLLIN)) return;
    error_ = true;
    return;
  }
}

int32_t ScannerSerialPort::write(const uint8_t* data, int32_t length) {
  if (!data || length <= 0) return 0;
  std::lock_guard<std::mutex> lock(write_mutex_);
  if (fd_ < 0) return 0;
  int32_t done = 0;
  Deadline stall(kWriteStallMs);
  while (done < length) {
    const ssize_t n = ::write(fd_, data + done, size_t(length - done));
    if (n > 0) {
      done += int32_t(n);
      stall = Deadline(kWriteStallMs);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return 0;
    pollfd p{fd_, POLLOUT, 0};
    const int r = poll(&p, 1, stall.msLeft());
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return 0;
  }
  return length;
}
