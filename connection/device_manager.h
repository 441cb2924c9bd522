// Turns a port number and a baud rate into an open reader and keeps it in
// the handle table until it is closed.
//
// Callers hold the core's api_lock for every call: the manager takes no lock
// of its own (a second lock around a search that calls application hooks
// would invite deadlocks). The table is a fixed array of 500 entries, indexed
// by port number, never reallocated.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "connection/port.h"
#include "connection/port_provider.h"
#include "connection/transport_protocol.h"

class BluetoothBackend;
class HidBackend;
class ReaderDevice;

// The system stacks behind the USB and Bluetooth ports the manager builds.
// Null means the real ones (hidapi, BlueZ); tests put fakes here.
struct PortStacks {
  HidBackend* hid = nullptr;  // must outlive the ports built on it
  std::shared_ptr<BluetoothBackend> bluetooth;
  int32_t bluetooth_budget_ms = 0;  // with `bluetooth` only
};

// How the manager builds the device of a profile row: the row's name begins
// with `prefix` ("r42-", "m6-"), and `make` builds the device from that name,
// the port and the protocol (null when the row names no framing). The reader
// families live above this layer, so whoever owns a manager hands it these.
struct DeviceMaker {
  const char* prefix;
  std::unique_ptr<ReaderDevice> (*make)(const char* name, Port* port,
                                        TransportProtocol* protocol);
};

// One open reader: its port, framing and device, owned. Releasing deletes
// port, protocol and device in that order (protocol and device only borrow
// the port, and the port's destructor closes the line) and leaves the entry
// empty. The destructor releases; assigning over an entry releases what it
// held before taking the new reader.
class HandleEntry {
 public:
  HandleEntry();
  HandleEntry(Port* port, TransportProtocol* protocol, ReaderDevice* device);
  ~HandleEntry();
  HandleEntry(HandleEntry&& other) noexcept;
  HandleEntry& operator=(HandleEntry&& other) noexcept;

  void release();

  // In the order of release: the move assignment goes member by member.
  std::unique_ptr<Port> port;
  std::unique_ptr<TransportProtocol> protocol;
  std::unique_ptr<ReaderDevice> device;
};

// The provider is asked (query_port_provider, connection/port_provider.h)
// before every attempt; its transport goes back through the hooks it was
// created under.

class DeviceManager {
 public:
  static constexpr int32_t kEntryCount = 500;

  // `makers` chooses the device of each profile row by its name.
  explicit DeviceManager(std::span<const DeviceMaker> makers);
  virtual ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  // Name used by later opens of serial (0-99), Bluetooth (300-399) and
  // network (400-499) port numbers; "" removes it; null changes nothing.
  // The names live in the process-wide settings, under the port number
  // itself (port_name(port)).
  virtual void configPortName(int32_t port, const char* name);
  // Only the row called `name` (null or empty: openByPort). Entry index
  // (= port) or -1.
  virtual int32_t openByName(int32_t port, int32_t baud, const char* name);
  // The first row of the port's type that answers. Entry index (= port) or
  // -1.
  //
  // An entry that is already occupied is released first (port, protocol,
  // device) and the search then runs as usual, as a close followed by an
  // open would: the reader holds its device exclusively, so this is how it
  // is found again on its own port number. When that search fails the entry
  // stays empty. Otherwise only a successful open writes the entry, and
  // nothing built by a failed one survives.
  virtual int32_t openByPort(int32_t port, int32_t baud);
  // Releases the entry; an index outside 0-499 does nothing.
  virtual void close(int32_t index);
  // The entry's device, null when empty or the index is outside 0-499.
  virtual ReaderDevice* deviceAt(int32_t index);

  // Stores ready-made objects in an entry (releasing what was there); for
  // tests that put a fixture device behind a handle.
  void installForTest(int32_t index, Port* port, TransportProtocol* protocol,
                      ReaderDevice* device);
  // The stacks behind the ports of later opens; for tests that put fake
  // readers there.
  void setPortStacksForTest(const PortStacks& stacks) { stacks_ = stacks; }

 private:
  int32_t open(int32_t port, int32_t baud, const char* only_name);

  const std::vector<DeviceMaker> makers_;
  HandleEntry entry_[kEntryCount];
  PortStacks stacks_;
};
