// What the Bluetooth port needs from the system: the devices it knows, a
// socket per connection attempt, and a connect that can be called off.
// The BlueZ backend is the real one; tests put their own behind this seam.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/deadline.h"

struct BluetoothDevice {
  std::string address;  // "AA:BB:CC:DD:EE:FF", as the system reports it
  std::string name;
};

class BluetoothBackend {
 public:
  virtual ~BluetoothBackend() = default;

  // The devices the system knows (paired or remembered), in the system's
  // order. False when the list cannot be had by `deadline`.
  virtual bool knownDevices(const Deadline& deadline, std::vector<BluetoothDevice>* devices) = 0;
  // A new stream socket for one connection attempt to `device`, or -1. The
  // caller owns it.
  virtual int makeSocket(const BluetoothDevice& device) = 0;
  // Connects `fd` to the serial-port service of `device`. False on failure,
  // at `deadline`, or as soon as `cancel_fd` becomes readable. Never closes
  // `fd`. Called from several threads at once.
  virtual bool connect(int fd, const BluetoothDevice& device, int cancel_fd,
                       const Deadline& deadline) = 0;
};

// BlueZ: the devices from org.bluez's object list on the system bus, the
// RFCOMM channel from an SDP search for the serial-port service.
std::shared_ptr<BluetoothBackend> make_bluez_backend();

// The lookup of the BlueZ backend alone, on the bus at `bus_address` (the
// system bus when empty): every object with the org.bluez.Device1 interface
// that has both an Address and a Name, in the order the list gives them.
bool bluez_known_devices(const std::string& bus_address, const Deadline& deadline,
                         std::vector<BluetoothDevice>* devices);
