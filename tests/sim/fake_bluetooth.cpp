#include "fake_bluetooth.h"
#include "sim/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>

#include "pcscd_harness.h"

namespace {

constexpr int kStartMs = 5000;
constexpr const char* kSerialPortUuid = "00001101-0000-1000-8000-00805f9b34fb";

// Sleeps `ms`, or less when `stop_fd` fires: false then.
bool pause_unless(int stop_fd, int ms) {
  pollfd p{stop_fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, ms);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

std::string device_path(const std::string& address) {
  std::string path = "/org/bluez/hci0/dev_" + address;
  for (char& c : path) {
    if (c == ':') c = '_';
  }
  return path;
}

}  // namespace

// --- the fake org.bluez ---------------------------------------------------

FakeBluez::FakeBluez() : stop_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FakeBluez::~FakeBluez() {
  stop();
  if (stop_fd_ >= 0) ::close(stop_fd_);
}

void FakeBluez::setDevices(std::vector<Device> devices) {
  std::lock_guard<std::mutex> lock(mu_);
  devices_ = std::move(devices);
}

void FakeBluez::setReplyDelay(int ms) {
  std::lock_guard<std::mutex> lock(mu_);
  reply_delay_ms_ = ms;
}

bool FakeBluez::start(std::string* error, bool serve_bluez) {
  std::string ignored;
  if (!error) error = &ignored;
  stop();
  char dir_template[] = "/tmp/qm-bus-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) {
    *error = "no temporary directory for the bus";
    return false;
  }
  dir_ = dir_template;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    *error = "pipe failed";
    return false;
  }
  const std::string listen = "--address=unix:path=" + dir_ + "/bus";
  std::vector<std::string> args = {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                   listen, "--print-address=3"};
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = spawn_child(std::move(args), null_fd, null_fd, null_fd, pipe_fds[1]);
  ::close(pipe_fds[1]);
  if (null_fd >= 0) ::close(null_fd);
  if (pid < 0) {
    ::close(pipe_fds[0]);
    *error = "fork failed";
    return false;
  }
  daemon_ = pid;
  // The daemon prints its address once it listens.
  const Deadline deadline(kStartMs);
  std::string printed;
  char buffer[256];
  while (printed.find('\n') == std::string::npos) {
    pollfd p{pipe_fds[0], POLLIN, 0};
    const int left = deadline.msLeft();
    if (left == 0 || poll(&p, 1, left) <= 0) break;
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    printed.append(buffer, size_t(n));
  }
  ::close(pipe_fds[0]);
  const size_t end = printed.find('\n');
  if (end == std::string::npos) {
    *error = "dbus-daemon did not start within 5 s (is the dbus package installed?)";
    stop();
    return false;
  }
  address_ = printed.substr(0, end);
  if (!serve_bluez) return true;

  // The service's bus lives on its own thread from the first call on.
  std::mutex ready_mu;
  std::condition_variable ready_cv;
  int ready = 0;  // 1 serving, -1 failed
  uint64_t drained;
  while (::read(stop_fd_, &drained, sizeof drained) > 0) {
  }
  thread_ = std::thread([&, this] {
    sd_bus* bus = nullptr;
    bool ok = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address_.c_str()) >= 0 &&
              sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
              sd_bus_request_name(bus, "org.bluez", 0) >= 0 &&
              sd_bus_add_object(bus, nullptr, "/", &FakeBluez::onMessage, this) >= 0;
    if (!ok && bus) {
      sd_bus_flush_close_unref(bus);
      bus = nullptr;
    }
    bus_ = bus;
    {
      // Notified under the lock: start() returns, and the condition
      // variable on its stack ends, as soon as it sees the result.
      std::lock_guard<std::mutex> lock(ready_mu);
      ready = ok ? 1 : -1;
      ready_cv.notify_all();
    }
    if (ok) serve();
  });
  {
    std::unique_lock<std::mutex> lock(ready_mu);
    ready_cv.wait(lock, [&] { return ready != 0; });
  }
  if (ready < 0) {
    *error = "the fake org.bluez could not join the private bus";
    stop();
    return false;
  }
  return true;
}

void FakeBluez::serve() {
  while (true) {
    int r;
    while ((r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (r < 0) break;
    uint64_t until = UINT64_MAX;
    sd_bus_get_timeout(bus_, &until);
    int timeout = -1;
    if (until != UINT64_MAX) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      const uint64_t now_us = uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000;
      timeout = until > now_us ? int((until - now_us + 999) / 1000) : 0;
    }
    pollfd fds[2] = {{sd_bus_get_fd(bus_), short(sd_bus_get_events(bus_)), 0},
                     {stop_fd_, POLLIN, 0}};
    r = poll(fds, 2, timeout);
    if (r < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) break;
  }
  sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
}

namespace {

// Appends one a{sv} property with a string value.
int add_string(sd_bus_message* m, const char* key, const std::string& value) {
  return sd_bus_message_append(m, "{sv}", key, "s", value.c_str());
}

}  // namespace

int FakeBluez::onMessage(sd_bus_message* message, void* self, sd_bus_error*) {
  return static_cast<FakeBluez*>(self)->answer(message);
}

int FakeBluez::answer(sd_bus_message* message) {
  if (!sd_bus_message_is_method_call(message, "org.freedesktop.DBus.ObjectManager",
                                     "GetManagedObjects")) {
    return 0;
  }
  ++lookups_;
  std::vector<Device> devices;
  int delay;
  {
    std::lock_guard<std::mutex> lock(mu_);
    devices = devices_;
    delay = reply_delay_ms_;
  }
  if (delay > 0 && !pause_unless(stop_fd_, delay)) return 1;

  sd_bus_message* reply = nullptr;
  int r = sd_bus_message_new_method_return(message, &reply);
  if (r < 0) return r;
  r = sd_bus_message_open_container(reply, 'a', "{oa{sa{sv}}}");
  // The adapter carries an address and a name too, but is no device.
  if (r >= 0) {
    r = sd_bus_message_append(reply, "{oa{sa{sv}}}", "/org/bluez/hci0", 1, "org.bluez.Adapter1",
                              2, "Address", "s", "00:1A:7D:DA:71:13", "Name", "s", "host");
  }
  for (const Device& device : devices) {
    if (r < 0) break;
    const std::string path = device_path(device.address);
    if ((r = sd_bus_message_open_container(reply, 'e', "oa{sa{sv}}")) < 0 ||
        (r = sd_bus_message_append(reply, "o", path.c_str())) < 0 ||
        (r = sd_bus_message_open_container(reply, 'a', "{sa{sv}}")) < 0 ||
        (r = sd_bus_message_append(reply, "{sa{sv}}", "org.freedesktop.DBus.Introspectable", 0)) < 0 ||
        (r = sd_bus_message_open_container(reply, 'e', "sa{sv}")) < 0 ||
        (r = sd_bus_message_append(reply, "s", "org.bluez.Device1")) < 0 ||
        (r = sd_bus_message_open_container(reply, 'a', "{sv}")) < 0 ||
        (r = sd_bus_message_append(reply, "{sv}", "Paired", "b", 1)) < 0 ||
        (r = add_string(reply, "Address", device.address)) < 0 ||
        (r = sd_bus_message_append(reply, "{sv}", "RSSI", "n", int16_t(-60))) < 0 ||
        (device.has_name && (r = add_string(reply, "Name", device.name)) < 0) ||
        (r = sd_bus_message_append(reply, "{sv}", "UUIDs", "as", 1, kSerialPortUuid)) < 0 ||
        (r = sd_bus_message_close_container(reply)) < 0 ||  // a{sv}
        (r = sd_bus_message_close_container(reply)) < 0 ||  // sa{sv}
        (r = sd_bus_message_append(reply, "{sa{sv}}", "org.freedesktop.DBus.Properties", 0)) < 0 ||
        (r = sd_bus_message_close_container(reply)) < 0 ||  // a{sa{sv}}
        (r = sd_bus_message_close_container(reply)) < 0) {  // the entry
      break;
    }
  }
  if (r >= 0) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r < 0 ? r : 1;
}

void FakeBluez::stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    (void)!::write(stop_fd_, &one, sizeof one);
    thread_.join();
  }
  if (daemon_ > 0) stop_child_process(daemon_, kStartMs);
  daemon_ = -1;
  if (!dir_.empty()) {
    unlink((dir_ + "/bus").c_str());
    rmdir(dir_.c_str());
    dir_.clear();
  }
  address_.clear();
}

// --- the connect seam -----------------------------------------------------

FakeBluetoothBackend::FakeBluetoothBackend(std::string bus_address)
    : bus_address_(std::move(bus_address)) {}

FakeBluetoothBackend::~FakeBluetoothBackend() {
  for (const auto& [mine, far] : peers_) ::close(far);
}

void FakeBluetoothBackend::script(const std::string& address, Script script) {
  std::lock_guard<std::mutex> lock(mu_);
  scripts_[address] = script;
}

void FakeBluetoothBackend::setDeviceEnd(DeviceEnd handler) {
  std::lock_guard<std::mutex> lock(mu_);
  device_end_ = std::move(handler);
}

bool FakeBluetoothBackend::knownDevices(const Deadline& deadline,
                                        std::vector<BluetoothDevice>* devices) {
  return bluez_known_devices(bus_address_, deadline, devices);
}

int FakeBluetoothBackend::makeSocket(const BluetoothDevice& device) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = scripts_.find(device.address);
  if (it != scripts_.end() && it->second.no_socket) return -1;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  // A number the port closed without connecting may come back: its old far
  // end is stale.
  const auto stale = peers_.find(pair[0]);
  if (stale != peers_.end()) {
    ::close(stale->second);
    peers_.erase(stale);
  }
  peers_[pair[0]] = pair[1];
  ++sockets_made_;
  return pair[0];
}

bool FakeBluetoothBackend::connect(int fd, const BluetoothDevice& device, int cancel_fd,
                                   const Deadline& deadline) {
  ++connects_started_;
  ++connects_in_progress_;
  Script script;
  int far = -1;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = scripts_.find(device.address);
    if (it != scripts_.end()) script = it->second;
    const auto peer = peers_.find(fd);
    if (peer != peers_.end()) {
      far = peer->second;
      peers_.erase(peer);
    }
  }
  bool cancelled = false;
  bool in_time = true;
  if (script.delay_ms > 0) {
    const Deadline done(script.delay_ms);
    const Deadline until =
        script.unstoppable ? done : Deadline::at(std::min(done.when(), deadline.when()));
    while (!cancelled && !until.expired()) {
      pollfd p{script.unstoppable ? -1 : cancel_fd, POLLIN, 0};
      cancelled = poll(&p, 1, until.msLeft()) > 0;
    }
    in_time = !cancelled && done.expired();
  }
  const bool ok = far >= 0 && script.succeed && in_time;
  if (cancelled) ++connects_cancelled_;
  if (ok) {
    ++connects_succeeded_;
    DeviceEnd handler;
    {
      std::lock_guard<std::mutex> lock(mu_);
      handler = device_end_;
    }
    if (handler) {
      handler(device.address, far);
    } else {
      ::close(far);
    }
  } else if (far >= 0) {
    ::close(far);
  }
  --connects_in_progress_;
  return ok;
}
