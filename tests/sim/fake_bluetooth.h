// Bluetooth for tests, without a radio.
//
// FakeBluez runs a private `dbus-daemon --session` (its own socket in a
// temporary directory; the machine's buses are never touched) and serves a
// fake org.bluez on it: the object "/" answers
// org.freedesktop.DBus.ObjectManager.GetManagedObjects with an adapter
// (org.bluez.Adapter1, which is not a device) and the scripted devices
// (org.bluez.Device1 with Address, Name and a few other properties). The
// library's real D-Bus lookup runs against it.
//
// FakeBluetoothBackend is the seam behind the port: the lookup is the real
// BlueZ one on the fake bus; sockets are SOCK_STREAM socketpairs, and a
// connect waits out its scripted delay (watching the cancel descriptor and
// the deadline, unless told otherwise), then succeeds or fails as scripted.
// On success the far end of the pair goes to the device-end handler (for
// example an R42SerialSim); otherwise it is closed.
//
// Thread safety: every public member may be called from any thread.
#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connection/bluetooth_backend.h"


class FakeBluez {
 public:
  struct Device {
    std::string address;
    std::string name;
    bool has_name = true;  // a device BlueZ knows without a name
  };

  FakeBluez();
  ~FakeBluez();
  FakeBluez(const FakeBluez&) = delete;
  FakeBluez& operator=(const FakeBluez&) = delete;

  // Starts the bus and (when `serve`) the fake org.bluez on it, within 5 s.
  // Without `serve` nobody owns org.bluez and every lookup fails.
  bool start(std::string* error, bool serve = true);
  void stop();

  // The bus address for clients ("unix:path=...").
  const std::string& address() const { return address_; }

  void setDevices(std::vector<Device> devices);
  // Holds each GetManagedObjects reply back this long.
  void setReplyDelay(int ms);
  size_t lookups() const { return lookups_.load(); }

 private:
  void serve();
  static int onMessage(sd_bus_message* message, void* self, sd_bus_error* error);
  int answer(sd_bus_message* message);

  std::string dir_;
  std::string address_;
  pid_t daemon_ = -1;
  sd_bus* bus_ = nullptr;
  int stop_fd_ = -1;
  std::thread thread_;
  std::atomic<size_t> lookups_{0};

  mutable std::mutex mu_;
  std::vector<Device> devices_;
  int reply_delay_ms_ = 0;
};

class FakeBluetoothBackend : public BluetoothBackend {
 public:
  struct Script {
    int delay_ms = 0;
    bool succeed = true;
    // Completes at its delay whatever the deadline or the cancel signal say,
    // as a connection the system finished just as the budget ran out.
    bool unstoppable = false;
    bool no_socket = false;  // makeSocket fails for this device
  };
  // Receives the far end of a connected pair (and owns it from then on).
  using DeviceEnd = std::function<void(const std::string& address, int fd)>;

  explicit FakeBluetoothBackend(std::string bus_address);
  ~FakeBluetoothBackend() override;

  // Script per address; an address without one connects at once.
  void script(const std::string& address, Script script);
  void setDeviceEnd(DeviceEnd handler);

  bool knownDevices(const Deadline& deadline, std::vector<BluetoothDevice>* devices) override;
  int makeSocket(const BluetoothDevice& device) override;
  bool connect(int fd, const BluetoothDevice& device, int cancel_fd,
               const Deadline& deadline) override;

  size_t socketsMade() const { return sockets_made_.load(); }
  size_t connectsStarted() const { return connects_started_.load(); }
  size_t connectsInProgress() const { return connects_in_progress_.load(); }
  size_t connectsCancelled() const { return connects_cancelled_.load(); }
  size_t connectsSucceeded() const { return connects_succeeded_.load(); }

 private:
  std::string bus_address_;
  std::atomic<size_t> sockets_made_{0};
  std::atomic<size_t> connects_started_{0};
  std::atomic<size_t> connects_in_progress_{0};
  std::atomic<size_t> connects_cancelled_{0};
  std::atomic<size_t> connects_succeeded_{0};

  mutable std::mutex mu_;
  std::map<std::string, Script> scripts_;
  std::map<int, int> peers_;  // our end -> far end, until connect decides
  DeviceEnd device_end_;
};
