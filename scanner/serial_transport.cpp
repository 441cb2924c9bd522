#include "scanner/serial_transport.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "connection/com_port.h"
#include "platform/os.h"
#include "platform/thread_helpers.h"
#include "scanner/environment.h"
#include "scanner/receive_ring.h"
#include "scanner/ring_reader.h"
#include "scanner/transport.h"

namespace {

constexpr uint8_t kProbe[] = {0x23, 0x10, 0x40};
constexpr uint8_t kProbeAnswer[] = {0x24, 0x10, 0x40};
constexpr size_t kProbeReply = 4;
constexpr size_t kReadChunk = 8192;
constexpr int kListAttempts = 5;
constexpr uint32_t kListRetryMs = 5;
constexpr int16_t kUsbListPort = -1;

}  // namespace

int32_t SerialTransport::openPort(int16_t port, uint32_t baud) {
  close();
  const ScannerEnvironment& env = scanner_environment();
  std::string path;
  if (const auto named = env.port_paths.find(port); named != env.port_paths.end()) {
    path = named->second;
  } else if (port >= 1 && port <= 256) {
    path = ComPort::devicePath("COM" + std::to_string(port));
  }
  if (path.empty() || baud == 0 || baud > uint32_t(INT32_MAX)) return -1;
  return openAndProbe(path, int32_t(baud));
}

int32_t SerialTransport::openFound(int16_t port) {
  close();
  std::vector<std::string> paths;
  UsbIds ids;
  int32_t listed = -1;
  for (int attempt = 0; attempt < kListAttempts && listed < 0; ++attempt) {
    if (attempt) os_sleep(kListRetryMs);
    if (port == kUsbListPort) {
      std::string path;
      listed = find_usb_scanner_port(&path, &ids);
      if (listed > 0) paths.assign(1, path);
    } else {
      listed = list_serial_ports(&paths);
    }
  }
  for (const std::string& path : paths) {
    // Known before the read thread starts, which checks presence with them.
    ids_ = port == kUsbListPort ? std::optional<UsbIds>(ids) : scanner_ids_of_port(path);
    if (openAndProbe(path, kDetectBaud) == 1) return 1;
  }
  return 0;
}

int32_t SerialTransport::openAndProbe(const std::string& path, int32_t baud) {
  ReceiveRing& ring = scanner_ring();
  ring.reset();
  if (!line_.open(path, baud)) return -1;
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0 || !start_thread(reader_, [this] { readLoop(); })) {
    close();
    return -1;
  }
  uint8_t reply[kProbeReply];
  if (line_.write(kProbe, sizeof kProbe) == sizeof kProbe &&
      read_reply(ring, reply, sizeof reply, kProbeFirstByteMs) == sizeof reply &&
      std::memcmp(reply, kProbeAnswer, sizeof kProbeAnswer) == 0)
    return 1;
  close();
  return 0;
}

void SerialTransport::close() {
  if (reader_.joinable()) {
    signal_event(stop_fd_);
    reader_.join();
  }
  if (stop_fd_ >= 0) ::close(stop_fd_);
  stop_fd_ = -1;
  line_.close();
  scanner_ring().reset();
  ids_.reset();
}

void SerialTransport::readLoop() {
  ReceiveRing& ring = scanner_ring();
  const int fd = line_.fd();
  bool reading = true;   // a line that hung up is polled no more
  bool reported = false;  // the device-gone marker goes out once
  uint8_t chunk[kReadChunk];
  for (;;) {
    pollfd p[2] = {{reading ? fd : -1, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int r = poll(p, 2, ids_ ? kPresenceCheckMs : -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (p[1].revents & POLLIN)) return;
    if (r == 0) {
      if (!reported && !usb_scanner_present(&*ids_)) {
        ring.push(kDeviceGoneMarker, sizeof kDeviceGoneMarker);
        reported = true;
      }
      continue;
    }
    if (!p[0].revents) continue;
    const ssize_t n = (p[0].revents & POLLIN) ? ::read(fd, chunk, sizeof chunk) : 0;
    if (n > 0) {
      ring.push(chunk, size_t(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      reading = false;
    }
  }
}
