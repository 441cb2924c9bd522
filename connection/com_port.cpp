#include "connection/com_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>

#include "platform/deadline.h"

namespace {

speed_t speed_constant(int32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;  // not a constant: set through the kernel's BOTHER
  }
}

// Moves exactly `length` bytes with non-blocking `io`, waiting for `events`
// on the descriptor in between, all under one deadline. A time-out of 0 or
// less makes one attempt. End of file, an error or a hang-up fails at once:
// a vanished reader must not be polled until the time-out.
template <typename Io>
bool transfer(int fd, int32_t length, int32_t timeout_ms, short events, Io io) {
  const Deadline deadline(timeout_ms);
  int32_t done = 0;
  for (;;) {
    ssize_t n = io(done, size_t(length - done));
    if (n > 0) {
      done += int32_t(n);
      if (done == length) return true;
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int left = deadline.msLeft();
    if (left == 0) return false;
    pollfd p{fd, events, 0};
    int rc = poll(&p, 1, left);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
  }
}

}  // namespace

int open_raw_tty(const std::string& path, int32_t baud) {
  if (path.empty() || baud <= 0) return -1;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios tio{};
  if (tcgetattr(fd, &tio) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return -1;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
  // VMIN 1: with O_NONBLOCK an empty queue gives EAGAIN, so a read of 0
  // means a hang-up and never an empty queue.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  const speed_t constant = speed_constant(baud);
  const int lines = TIOCM_DTR | TIOCM_RTS;
  const bool set =
      (constant == B0 || (cfsetispeed(&tio, constant) == 0 && cfsetospeed(&tio, constant) == 0)) &&
      tcsetattr(fd, TCSANOW, &tio) == 0 &&
      (constant != B0 || com_port_set_custom_speed(fd, uint32_t(baud))) &&
      (ioctl(fd, TIOCMBIC, &lines) == 0 || errno == ENOTTY || errno == EINVAL);
  if (!set) {
    close_raw_tty(fd);
    return -1;
  }
  return fd;
}

void close_raw_tty(int fd) {
  if (fd < 0) return;
  // Without this a tty held open elsewhere stays exclusive and cannot be
  // opened again.
  ioctl(fd, TIOCNXCL);
  ::close(fd);  // also drops the flock
}

std::string ComPort::devicePath(const std::string& name) {
  if (name.size() > 3 && name.size() <= 6 && name.compare(0, 3, "COM") == 0 && name[3] != '0') {
    int n = 0;
    bool digits = true;
    for (size_t i = 3; i < name.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
        digits = false;
        break;
      }
      n = n * 10 + (name[i] - '0');
    }
    if (digits && n >= 1 && n <= 256) return "/dev/ttyS" + std::to_string(n - 1);
  }
  return name;
}

bool ComPort::parseBaud(const std::string& text, int32_t* baud) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) return false;
  }
  if (negative || value <= 0) return false;
  *baud = int32_t(value);
  return true;
}

// Direct mode writes only the open and close lines.
ComPort::ComPort(const ParamMap& params, bool* opened) : PortBase("ComPort:", DataLines::kNone) {
  mode_ = get_param(params, "mode");
  name_ = get_param(params, "name");
  baud_text_ = get_param(params, "baud");
  openAndReport(opened);
}

ComPort::~ComPort() { close(); }

std::string ComPort::traceText() const { return name_ + ":" + int_to_text(baud_); }

bool ComPort::openDevice() {
  open_ = false;
  baud_ = 0;
  // Queued mode is never selected by the system; only direct opens.
  if (mode_ != "direct") return false;
  int32_t baud = 0;
  // 0 would be B0, which hangs the line up.
  if (!parseBaud(baud_text_, &baud)) return false;
  baud_ = baud;
  std::string path = devicePath(name_);
  if (path.empty()) return false;

  fd_ = open_raw_tty(path, baud_);
  if (fd_ < 0) return false;
  open_ = true;
  return true;
}

void ComPort::closeDevice() {
  close_raw_tty(fd_);
  fd_ = -1;
  open_ = false;
}

bool ComPort::readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  const int fd = fd_;
  return transfer(fd, length, timeout_ms, POLLIN,
                  [&](int32_t at, size_t n) { return ::read(fd, buffer + at, n); });
}

bool ComPort::writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  const int fd = fd_;
  return transfer(fd, length, timeout_ms, POLLOUT,
                  [&](int32_t at, size_t n) { return ::write(fd, buffer + at, n); });
}

// Input only: a write returns once its bytes are queued, and the tail of
// the last exchange (its acknowledgement) may still be on its way out.
void ComPort::purge() {
  if (open_) tcflush(fd_, TCIFLUSH);
}

int32_t ComPort::available() { return 0; }

bool ComPort::isOpen() { return open_; }
