#include "demo/serialport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "demo/serial_speed.h"

namespace {

constexpr int kModemPollMs = 100;  // CTS and RING have no descriptor event

struct Speed {
  uint32_t baud;
  speed_t constant;
};
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// B0 when the rate has no constant.
speed_t speed_constant(uint32_t baud) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) return s.constant;
  }
  return B0;
}

// The line settings in `tio`, or false when one of them is not valid.
bool build_line(const serialport::LineSettings& s, termios* tio) {
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (s.baud == 0 || s.data_bits < 5 || s.data_bits > 8 || (s.stop_bits != 1 && s.stop_bits != 2)) {
    return false;
  }
  tcflag_t parity = 0;
  switch (std::toupper(static_cast<unsigned char>(s.parity))) {
    case 'N': break;
    case 'E': parity = PARENB; break;
    case 'O': parity = PARENB | PARODD; break;
    case 'M': parity = PARENB | CMSPAR | PARODD; break;
    case 'S': parity = PARENB | CMSPAR; break;
    default: return false;
  }
  cfmakeraw(tio);
  tio->c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio->c_cflag |= kSizes[s.data_bits - 5] | parity | CLOCAL | CREAD;
  if (s.stop_bits == 2) tio->c_cflag |= CSTOPB;
  // Breaks and bad bytes come marked in the stream (PARMRK).
  tio->c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | ISTRIP | IXON | IXOFF | IXANY);
  tio->c_iflag |= PARMRK;
  if (parity != 0) tio->c_iflag |= INPCK;
  tio->c_cc[VMIN] = 1;
  tio->c_cc[VTIME] = 0;
  return true;
}

void drain_event(int fd) {
  uint64_t count = 0;
  while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

void signal_event(int fd) {
  const uint64_t one = 1;
  while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace

ParmrkDecoder::Event ParmrkDecoder::feed(uint8_t b) {
  switch (marked_) {
    case 0:
      if (b == 0xFF) {
        marked_ = 1;
        return {};
      }
      return {Kind::kByte, b};
    case 1:
      if (b == 0x00) {
        marked_ = 2;
        return {};
      }
      // 0xFF 0xFF is a data byte 0xFF; anything else cannot follow a mark
      // and is taken as data.
      marked_ = 0;
      return {Kind::kByte, b};
    default:
      marked_ = 0;
      if (b == 0x00) return {Kind::kBreak, 0};
      return {Kind::kLineError, b};
  }
}

std::string serialport::ttyPath(int port) { return "/dev/ttyS" + std::to_string(port - 1); }

serialport::serialport(PathResolver resolver) : resolver_(std::move(resolver)) {
  shutdown_event_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  write_event_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

serialport::~serialport() {
  StopWatch();
  if (shutdown_event_ >= 0) close(shutdown_event_);
  if (write_event_ >= 0) close(write_event_);
}

bool serialport::OpenPort(SerialPortOwner* owner, int port, uint32_t baud, char parity,
                          int data_bits, int stop_bits, uint32_t event_mask,
                          size_t write_buffer_size) {
  if (port < 1 || port > 24 || owner == nullptr || write_buffer_size == 0) return false;
  if (shutdown_event_ < 0 || write_event_ < 0 || !resolver_) return false;
  StopWatch();

  {
    std::lock_guard<std::mutex> hold(mutex_);
    owner_ = owner;
    port_ = port;
    queued_ = {};
    write_capacity_ = write_buffer_size;
    timeouts_ = Timeouts{};
    event_mask_ = event_mask;
  }
  // The line is made ready without the lock: a failure is reported to the
  // owner, which may show it and take other calls meanwhile.
  const std::string path = resolver_(port);
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Exclusive, as the device is opened without sharing: TIOCEXCL keeps out
  // later opens, the lock a holder that opened it first.
  if (ioctl(fd, TIOCEXCL) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  const LineSettings settings{baud, parity, data_bits, stop_bits, 0};
  if (!openLine(fd, settings)) {
    ioctl(fd, TIOCNXCL);
    ::close(fd);
    return false;
  }
  tcflush(fd, TCIOFLUSH);
  std::lock_guard<std::mutex> hold(mutex_);
  settings_ = settings;
  fd_ = fd;
  return true;
}

// The settings onto the open line; a failing step is reported.
bool serialport::openLine(int fd, const LineSettings& settings) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    ReportFailure("GetCommState()");
    return false;
  }
  if (!build_line(settings, &tio)) {
    errno = EINVAL;
    ReportFailure("BuildCommDCB()");
    return false;
  }
  const speed_t constant = speed_constant(settings.baud);
  if (constant != B0 && (cfsetispeed(&tio, constant) != 0 || cfsetospeed(&tio, constant) != 0)) {
    ReportFailure("SetCommState()");
    return false;
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0 ||
      (constant == B0 && !set_custom_line_speed(fd, settings.baud))) {
    ReportFailure("SetCommState()");
    return false;
  }
  // RTS on; a line without modem lines (a pseudo-terminal) has none to set.
  int rts = TIOCM_RTS;
  if (ioctl(fd, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
    ReportFailure("SetCommState()");
    return false;
  }
  return true;
}

bool serialport::StartWatch() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (fd_ < 0) return false;
  if (watched_) {
    if (watcher_alive_) return true;
    if (watcher_.joinable()) watcher_.join();  // it has returned already
    return false;
  }
  drain_event(shutdown_event_);
  const int fd = fd_;
  // Purged here rather than in the thread, so no byte that arrives after
  // this call returns is lost.
  tcflush(fd, TCIOFLUSH);
  watched_ = true;
  watcher_alive_ = true;
  watcher_ = std::jthread([this, fd](std::stop_token stop) {
    watch(stop, fd);
    watcher_alive_ = false;
  });
  return true;
}

void serialport::StopWatch() {
  if (watcher_.joinable()) {
    watcher_.request_stop();
    signal_event(shutdown_event_);
    watcher_.join();
    drain_event(shutdown_event_);
  }
  std::lock_guard<std::mutex> hold(mutex_);
  closeLine();
}

void serialport::closeLine() {
  if (fd_ < 0) return;
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also drops the lock
  fd_ = -1;
  queued_.clear();
  watched_ = false;
}

bool serialport::QueueWrite(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr) return false;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (fd_ < 0 || (watched_ && !watcher_alive_)) return false;
    if (length > write_capacity_ - queued_.size()) return false;
    queued_.insert(queued_.end(), bytes, bytes + length);
  }
  signal_event(write_event_);
  return true;
}

serialport::LineSettings serialport::lineSettings() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return settings_;
}

uint32_t serialport::eventMask() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return event_mask_;
}

size_t serialport::writeBufferSize() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return write_capacity_;
}

serialport::Timeouts serialport::timeouts() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return timeouts_;
}

void serialport::ReportFailure(const char* step, std::stop_token stop) {
  const int error = errno;
  char text[512];
  std::snprintf(text, sizeof text, "WARNING:  %s Failed with the following error: \n%s\nPort: %d\n",
                step, std::strerror(error), port_);
  if (owner_) owner_->portFailure(text, stop);
}

// The watcher: waits for shutdown, the line and queued bytes, in that order
// of precedence, until stopped or the line fails (reported once).
void serialport::watch(std::stop_token stop, int fd) {
  const uint32_t mask = eventMask();
  int lines = 0;
  const bool modem = (mask & (EV_CTS | EV_RING)) != 0 && ioctl(fd, TIOCMGET, &lines) == 0;
  ParmrkDecoder decoder;
  while (!stop.stop_requested()) {
    pollfd wait[3] = {{shutdown_event_, POLLIN, 0},
                      {fd, short((mask & EV_RXCHAR) ? POLLIN : 0), 0},
                      {write_event_, POLLIN, 0}};
    const int rc = poll(wait, 3, modem ? kModemPollMs : -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      ReportFailure("WaitCommEvent()", stop);
      return;
    }
    if (wait[0].revents != 0) return;
    if (modem) {
      int now = 0;
      if (ioctl(fd, TIOCMGET, &now) == 0) {
        const int changed = now ^ lines;
        lines = now;
        if ((mask & EV_CTS) && (changed & TIOCM_CTS) && !deliver(stop, kCommCts, 0)) return;
        if ((mask & EV_RING) && (changed & now & TIOCM_RI) && !deliver(stop, kCommRing, 0)) return;
      }
    }
    if (wait[1].revents & POLLIN) {
      if (!receive(stop, fd, decoder)) return;
    } else if (wait[1].revents != 0) {
      errno = EIO;  // hung up
      ReportFailure("ReadFile()", stop);
      return;
    }
    if (wait[2].revents != 0 && !send(stop, fd)) return;
  }
}

// Reads until the input queue is empty: the events seen, then one message
// per byte, then kCommDrained. False when the watcher is to end.
bool serialport::receive(std::stop_token stop, int fd, ParmrkDecoder& decoder) {
  const uint32_t mask = eventMask();
  const uint8_t event_char = lineSettings().event_char;
  for (;;) {
    uint8_t raw[256];
    const ssize_t n = read(fd, raw, sizeof raw);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // end of file: the line hung up
      ReportFailure("ReadFile()", stop);
      return false;
    }
    uint8_t data[sizeof raw];
    size_t count = 0;
    bool flag = false, brk = false, error = false;
    for (ssize_t i = 0; i < n; ++i) {
      const ParmrkDecoder::Event e = decoder.feed(raw[i]);
      if (e.kind == ParmrkDecoder::Kind::kBreak) brk = true;
      if (e.kind == ParmrkDecoder::Kind::kLineError) error = true;
      if (e.kind == ParmrkDecoder::Kind::kByte || e.kind == ParmrkDecoder::Kind::kLineError) {
        flag = flag || e.byte == event_char;
        data[count++] = e.byte;
      }
    }
    if ((mask & EV_RXFLAG) && flag && !deliver(stop, kCommRxFlag, 0)) return false;
    if ((mask & EV_BREAK) && brk && !deliver(stop, kCommBreak, 0)) return false;
    if ((mask & EV_ERR) && error && !deliver(stop, kCommLineError, 0)) return false;
    for (size_t i = 0; i < count; ++i) {
      if (!deliver(stop, kCommRxChar, data[i])) return false;
    }
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) == 0 && queued == 0) {
      return deliver(stop, kCommDrained, kInputDrained);
    }
  }
}

// Sends what is queued, waiting while the line's queue is full, within the
// write time-out. False when the watcher is to end.
bool serialport::send(std::stop_token stop, int fd) {
  drain_event(write_event_);
  std::vector<uint8_t> bytes;
  uint32_t budget_ms = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    bytes.swap(queued_);
    budget_ms = timeouts_.write_total_constant;
    tcflush(fd, TCIFLUSH);
  }
  if (bytes.empty()) return true;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget_ms);
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      ReportFailure("WriteFile()", stop);
      return false;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wait[2] = {{shutdown_event_, POLLIN, 0}, {fd, POLLOUT, 0}};
    if (poll(wait, 2, int(left.count())) < 0 && errno != EINTR) {
      ReportFailure("WriteFile()", stop);
      return false;
    }
    if (wait[0].revents != 0) return false;
    if (wait[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      errno = EIO;
      ReportFailure("WriteFile()", stop);
      return false;
    }
  }
  if (sent < bytes.size()) {
    std::fprintf(stderr, "WARNING: WriteFile() error.. Bytes Sent: %zu; Message Length: %zu\n",
                 sent, bytes.size());
  }
  return true;
}

bool serialport::deliver(std::stop_token stop, uint32_t message, uint32_t wparam) {
  if (stop.stop_requested()) return false;
  owner_->portMessage(message, wparam, port_, stop);
  return !stop.stop_requested();
}
