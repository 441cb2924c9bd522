#include "connection/device_manager.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connection/adapter_port.h"
#include "connection/bluetooth_port.h"
#include "connection/ccid_protocol.h"
#include "connection/com_port.h"
#include "connection/dle_protocol.h"
#include "connection/hid_stx_protocol.h"
#include "connection/pcsc_port.h"
#include "connection/port_provider.h"
#include "connection/profile_table.h"
#include "connection/reader_device.h"
#include "connection/stx_etx_protocol.h"
#include "connection/usb_port.h"
#include "platform/settings.h"
#include "platform/text_helpers.h"

namespace {

// A "usb", "bluetooth" or "vnet" row is tried again while its port opens, so
// that a reader that answered wrongly (and stays held) lets the next attempt
// reach another one of the same kind. A transport that opens every time and
// never answers would otherwise repeat the row for ever.
constexpr int kMaxRowAttempts = 16;
constexpr int kPcscIndexCount = 32;
constexpr int kPcscSuffixCount = 3;
// The probe's version buffer; every device writes at most 255 characters and
// a NUL into it.
constexpr size_t kProbeBufferSize = 256;
// The status with which a sleeping "r42-db" reader answers its wake-up call.
constexpr int32_t kAwakeStatus = 0x10;

enum class PortType { kCom, kUsb, kPcsc, kBluetooth, kVnet };

bool port_type_of(int32_t port, PortType& type, const char*& text) {
  static const struct {
    PortType type;
    const char* text;
  } kTypes[] = {{PortType::kCom, "com"},
                {PortType::kUsb, "usb"},
                {PortType::kPcsc, "pcsc"},
                {PortType::kBluetooth, "bluetooth"},
                {PortType::kVnet, "vnet"}};
  if (port < 0 || port >= DeviceManager::kEntryCount) return false;
  type = kTypes[port / 100].type;
  text = kTypes[port / 100].text;
  return true;
}

bool has_name(int32_t port) {
  return (port >= 0 && port < 100) || (port >= 300 && port < DeviceManager::kEntryCount);
}

// Whether the NUL-terminated prefix (a profile field) starts the buffer.
bool buffer_starts_with(const uint8_t (&buffer)[kProbeBufferSize], const char* prefix) {
  size_t length = strnlen(prefix, kProbeBufferSize);
  return std::memcmp(buffer, prefix, length) == 0;
}

std::string format_int(const char* format, int value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The three forms of a PC/SC reader index: 3, 03 and 03 03.
std::string pcsc_suffix(int index, int form) {
  if (form == 0) return format_int("%d", index);
  const std::string two_digits = format_int("%02d", index);
  return form == 1 ? two_digits : two_digits + " " + two_digits;
}

std::unique_ptr<TransportProtocol> make_protocol(const char* family, Port* port) {
  if (std::strcmp(family, "m6s") == 0) return std::make_unique<DleProtocol>(port);
  if (std::strcmp(family, "m6u") == 0) return std::make_unique<HidStxProtocol>(port);
  if (std::strcmp(family, "r42") == 0) return std::make_unique<StxEtxProtocol>(port);
  if (std::strcmp(family, "pcscr42") == 0) return std::make_unique<CcidProtocol>(port);
  return nullptr;
}

// One search for a reader on one port number, over the rows that fit it.
class Search {
 public:
  Search(int32_t port, int32_t baud, const char* only_name, const PortStacks& stacks,
         std::span<const DeviceMaker> makers)
      : port_(port), baud_(baud), only_name_(only_name), stacks_(stacks), makers_(makers) {}
  ~Search() { releaseHeld(); }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  // True with the reader's objects in `found`, which the caller then owns.
  bool run(HandleEntry& found) {
    if (!port_type_of(port_, type_, type_text_)) return false;
    const std::string baud_text = format_int("%d", baud_);
    for (const ProfileRecord& row : kProfileTable) {
      if (std::strcmp(row.port_type, type_text_) != 0) continue;
      if (type_ == PortType::kCom && baud_text != row.params) continue;
      if (only_name_ != nullptr && std::strcmp(row.name, only_name_) != 0) continue;
      if (tryRow(row, found)) return true;
    }
    return false;
  }

 private:
  bool tryRow(const ProfileRecord& row, HandleEntry& found) {
    switch (type_) {
      case PortType::kCom:
        return tryOnce(row, found);
      case PortType::kPcsc:
        return tryIndexes(row, found);
      default:
        return tryRepeatedly(row, found);
    }
  }

  bool tryOnce(const ProfileRecord& row, HandleEntry& found) {
    HandleEntry attempt;
    bool opened = buildPort(row, "", attempt);
    if (opened && accept(row, attempt)) return succeed(attempt, found);
    return false;
  }

  // A refused reader stays held, so the next attempt of the same row
  // reaches another device of the same kind; the row ends with the first
  // port that does not open.
  bool tryRepeatedly(const ProfileRecord& row, HandleEntry& found) {
    for (int attempts = 0; attempts < kMaxRowAttempts; ++attempts) {
      HandleEntry attempt;
      bool opened = buildPort(row, "", attempt);
      if (!opened) {
        // The held readers go first, then this attempt's port.
        releaseHeld();
        return false;
      }
      if (accept(row, attempt)) return succeed(attempt, found);
      held_.push_back(std::move(attempt));
    }
    releaseHeld();
    return false;
  }

  bool tryIndexes(const ProfileRecord& row, HandleEntry& found) {
    for (int index = 0; index < kPcscIndexCount; ++index) {
      for (int form = 0; form < kPcscSuffixCount; ++form) {
        HandleEntry attempt;
        bool opened = buildPort(row, pcsc_suffix(index, form), attempt);
        bool last_form = form == kPcscSuffixCount - 1;
        if (!opened && !last_form) continue;
        if (opened && accept(row, attempt)) return succeed(attempt, found);
        held_.push_back(std::move(attempt));
        break;
      }
    }
    releaseHeld();
    return false;
  }

  bool succeed(HandleEntry& attempt, HandleEntry& found) {
    releaseHeld();
    // The device reads what it keeps about the reader; a reader that
    // answered the probe is taken whatever this gives.
    if (only_name_ != nullptr) {
      attempt.device->init_name(0, 0, 0);
    } else {
      attempt.device->init(0, 0);
    }
    found = std::move(attempt);
    return true;
  }

  // Front to back, in the order the readers were held.
  void releaseHeld() {
    for (HandleEntry& entry : held_) entry.release();
    held_.clear();
  }

  std::string configuredName() const { return has_name(port_) ? port_name(port_) : std::string(); }

  // Builds the attempt's port, through the application's transport when
  // the provider gives one. True when it opened.
  bool buildPort(const ProfileRecord& row, const std::string& suffix, HandleEntry& attempt) {
    ParamMap params;
    std::string adapter_name;
    const std::string configured = configuredName();
    switch (type_) {
      case PortType::kCom: {
        std::string name = configured.empty() ? format_int("COM%d", port_ + 1) : configured;
        params = {{"mode", "direct"}, {"name", name}, {"baud", row.params}};
        adapter_name = name + ":" + row.params;
        break;
      }
      case PortType::kUsb: {
        static const char* const kKeys[] = {"vid", "pid", "read_endpoint_name",
                                            "write_endpoint_name", "read_block_len",
                                            "write_block_len"};
        std::vector<std::string> pieces = split(row.params, ":");
        for (size_t i = 0; i < pieces.size() && i < std::size(kKeys); ++i) {
          params[kKeys[i]] = pieces[i];
        }
        adapter_name = row.params;
        break;
      }
      case PortType::kPcsc: {
        std::vector<std::string> pieces = split(row.params, ":");
        params["scope"] = pieces[0];
        params["name"] = (pieces.size() > 1 ? pieces[1] : std::string()) + " " + suffix;
        adapter_name = std::string(row.params) + " " + suffix;
        break;
      }
      case PortType::kBluetooth:
      case PortType::kVnet:
        adapter_name = configured.empty() ? std::string(row.params) : configured;
        params = {{"name", adapter_name}};
        break;
    }

    bool opened = false;
    ProvidedTransport provided = query_port_provider(type_text_);
    if (provided.transport != nullptr) {
      const ParamMap name_only = {{"name", adapter_name}};
      attempt.port = std::make_unique<AdapterPort>(provided, name_only, &opened);
      return opened;
    }
    switch (type_) {
      case PortType::kCom:
        attempt.port = std::make_unique<ComPort>(params, &opened);
        break;
      case PortType::kUsb:
        attempt.port = stacks_.hid ? std::make_unique<UsbPort>(params, &opened, *stacks_.hid)
                                   : std::make_unique<UsbPort>(params, &opened);
        break;
      case PortType::kPcsc:
        attempt.port = std::make_unique<PcscPort>(params, &opened);
        break;
      case PortType::kBluetooth:
        attempt.port = stacks_.bluetooth
                           ? std::make_unique<BluetoothPort>(params, &opened, stacks_.bluetooth,
                                                             stacks_.bluetooth_budget_ms)
                           : std::make_unique<BluetoothPort>(params, &opened);
        break;
      case PortType::kVnet:
        // Only an application transport reaches a network reader.
        break;
    }
    return opened;
  }

  bool accept(const ProfileRecord& row, HandleEntry& attempt) {
    attempt.protocol = make_protocol(row.family, attempt.port.get());
    attempt.device = makeDevice(row.name, attempt.port.get(), attempt.protocol.get());
    ReaderDevice* device = attempt.device.get();
    if (device == nullptr) return false;
    if (type_ == PortType::kBluetooth && starts_with(row.name, "r42-db") && !wake(device)) {
      return false;
    }
    uint8_t buffer[kProbeBufferSize] = {};
    if (device->getver(0, reinterpret_cast<char*>(buffer)) != 0) return false;
    if (row.expect_version[0] != '\0' && !buffer_starts_with(buffer, row.expect_version)) {
      return false;
    }
    if (row.expect_serial[0] != '\0') {
      if (device->readdevsnr(0, reinterpret_cast<char*>(buffer)) != 0) return false;
      if (!buffer_starts_with(buffer, row.expect_serial)) return false;
    }
    return true;
  }

  std::unique_ptr<ReaderDevice> makeDevice(const char* name, Port* port,
                                          TransportProtocol* protocol) const {
    for (const DeviceMaker& maker : makers_) {
      if (starts_with(name, maker.prefix)) return maker.make(name, port, protocol);
    }
    return nullptr;
  }

  // The wake-up call of a sleeping "r42-db" reader, made through the device
  // interface like the probe.
  static bool wake(ReaderDevice* device) {
    int16_t result = device->WakeDevice(0);
    if (result == 0) return true;
    if (result != -2) return false;
    int32_t code = 0;
    device->GetLastResponseCode(0, &code);
    return code == kAwakeStatus;
  }

  const int32_t port_;
  const int32_t baud_;
  const char* const only_name_;
  const PortStacks& stacks_;
  const std::span<const DeviceMaker> makers_;
  PortType type_ = PortType::kCom;
  const char* type_text_ = "";
  std::vector<HandleEntry> held_;
};

bool valid_index(int32_t index) { return index >= 0 && index < DeviceManager::kEntryCount; }

}  // namespace

HandleEntry::HandleEntry() = default;

HandleEntry::HandleEntry(Port* port, TransportProtocol* protocol, ReaderDevice* device)
    : port(port), protocol(protocol), device(device) {}

HandleEntry::~HandleEntry() { release(); }

HandleEntry::HandleEntry(HandleEntry&& other) noexcept = default;

// Each member deletes what it held as it takes the new one, in the order of
// release().
HandleEntry& HandleEntry::operator=(HandleEntry&& other) noexcept = default;

void HandleEntry::release() {
  port.reset();
  protocol.reset();
  device.reset();
}

DeviceManager::DeviceManager(std::span<const DeviceMaker> makers)
    : makers_(makers.begin(), makers.end()) {}

DeviceManager::~DeviceManager() {
  // First entry first, rather than the reverse order of the array's own
  // destruction.
  for (HandleEntry& entry : entry_) entry.release();
}

void DeviceManager::configPortName(int32_t port, const char* name) {
  if (name == nullptr || !has_name(port)) return;
  set_port_name(port, name);
}

int32_t DeviceManager::openByName(int32_t port, int32_t baud, const char* name) {
  if (name == nullptr || name[0] == '\0') return openByPort(port, baud);
  return open(port, baud, name);
}

int32_t DeviceManager::openByPort(int32_t port, int32_t baud) { return open(port, baud, nullptr); }

int32_t DeviceManager::open(int32_t port, int32_t baud, const char* name) {
  if (!valid_index(port)) return -1;
  // A reader opened on this port number holds its device exclusively: let
  // it go first, so that it can be found again.
  entry_[port].release();
  HandleEntry found;
  if (!Search(port, baud, name, stacks_, makers_).run(found)) return -1;
  // An application hook run during the search may have opened this port
  // number itself; that reader gives way rather than leak.
  entry_[port] = std::move(found);
  return port;
}

void DeviceManager::close(int32_t index) {
  if (valid_index(index)) entry_[index].release();
}

ReaderDevice* DeviceManager::deviceAt(int32_t index) {
  return valid_index(index) ? entry_[index].device.get() : nullptr;
}

void DeviceManager::installForTest(int32_t index, Port* port, TransportProtocol* protocol,
                                   ReaderDevice* device) {
  HandleEntry given(port, protocol, device);
  // Outside the table the objects are released with `given`.
  if (valid_index(index)) entry_[index] = std::move(given);
}
